#include "download.h"

#include "server_address.h"

#include <QCryptographicHash>
#include <QFile>
#include <QString>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <exception>
#include <fstream>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define QUELDA_GETPID _getpid
#else
#include <unistd.h>
#define QUELDA_GETPID getpid
#endif

namespace fs = std::filesystem;

namespace {
fs::path TemporaryBeside(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    fs::path temp = target;
    temp += "." + std::to_string(QUELDA_GETPID()) + "-" + std::to_string(++counter) + ".part";
    return temp;
}

bool SameHex(std::string a, std::string b) {
    auto lower = [](std::string& s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    };
    lower(a);
    lower(b);
    return a == b;
}

void Discard(const fs::path& temp) {
    std::error_code ec;
    fs::remove(temp, ec);
}
} // namespace

std::string Sha256OfFile(const fs::path& file) {
#ifdef _WIN32
    QFile in(QString::fromStdWString(file.wstring()));
#else
    QFile in(QString::fromStdString(file.u8string()));
#endif
    if (!in.open(QIODevice::ReadOnly))
        return std::string();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&in))
        return std::string();
    return hash.result().toHex().toStdString();
}

FetchResult FetchInstaller(const std::string& host, const std::string& path, const fs::path& target,
                           const std::string& expectedSha256, std::exception_ptr* folderError) {
    ServerAddress address;
    if (!ParseServerAddress(host, address))
        return FetchResult::RequestFailed;

    const fs::path temp = TemporaryBeside(target);
    // The client hands over the body in small pieces; a large file buffer saves most of
    // the write calls.
    std::vector<char> fileBuffer(1 << 20);
    std::ofstream out;
    out.rdbuf()->pubsetbuf(fileBuffer.data(), static_cast<std::streamsize>(fileBuffer.size()));
    bool opened = false;
    bool openFailed = false;
    bool writeFailed = false;
    std::uint64_t received = 0;
    std::exception_ptr error;

    httplib::Client client(address.host, address.port);
    auto result = client.Get(
        path,
        [&](const httplib::Response& response) {
            if (response.status != 200)
                return false;
            try {
                fs::create_directories(target.parent_path());
            } catch (...) {
                error = std::current_exception();
                return false;
            }
            out.open(temp, std::ios::binary | std::ios::trunc);
            if (!out) {
                openFailed = true;
                return false;
            }
            opened = true;
            return true;
        },
        [&](const char* data, std::size_t length) {
            out.write(data, static_cast<std::streamsize>(length));
            if (!out) {
                writeFailed = true;
                return false;
            }
            received += length;
            return true;
        });
    if (opened) {
        out.close();
        if (out.fail())
            writeFailed = true;
    }

    if (error) {
        Discard(temp);
        if (!folderError)
            std::rethrow_exception(error);
        *folderError = error;
        return FetchResult::FolderFailed;
    }
    if (openFailed)
        return FetchResult::OpenFailed;
    if (writeFailed) {
        Discard(temp);
        return FetchResult::WriteFailed;
    }
    if (!result || result->status != 200 || received == 0) {
        Discard(temp);
        return FetchResult::RequestFailed;
    }
    if (!expectedSha256.empty() && !SameHex(Sha256OfFile(temp), expectedSha256)) {
        Discard(temp);
        return FetchResult::ChecksumMismatch;
    }
    std::error_code ec;
    fs::rename(temp, target, ec);
    if (ec) {
        Discard(temp);
        return FetchResult::WriteFailed;
    }
    return FetchResult::Saved;
}
