// The installer download step against `curl -o` on the same 1 GiB body, from the project's
// test server, from nginx (sendfile on) serving the body as a file, and from nginx over
// TLS (a test CA made by openssl, trusted through SSL_CERT_FILE by the step and --cacert by
// curl): throughput of each, their ratio, and the peak memory of the download step.
// The two clients alternate for a few rounds; the best round of each counts, which evens
// out page-cache write-back and other load on the machine.
#include "bench_util.h"
#include "engine/download/download.h"
#include "nginx_server.h"
#include "test_pki.h"
#include "test_server.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Runs the rounds against one server; false when a download failed.
// `origin` is "http(s)://host:port"; `curlOptions` what curl needs beside it.
bool Measure(const char* name, const std::string& origin, std::uint64_t size, int rounds,
             const fs::path& dir, const std::string& curlOptions = std::string()) {
    const double mib = static_cast<double>(size) / (1 << 20);
    const std::string url = origin + "/big.exe";
    const std::string command =
        "curl -s " + curlOptions + " -o '" + (dir / "curl.exe").string() + "' " + url;
    double bestStep = 1e9;
    double bestCurl = 1e9;
    bool ok = true;
    long rssBefore = 0;
    long rssPeak = 0;
    for (int round = 0; round < rounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        const int curlStatus = std::system(command.c_str());
        const double curlSeconds = SecondsSince(start);
        std::error_code ec;
        ok = ok && curlStatus == 0 && fs::file_size(dir / "curl.exe", ec) == size;
        fs::remove(dir / "curl.exe", ec);
        sync();

        ResetPeakRss();
        rssBefore = PeakRssKiB();
        start = std::chrono::steady_clock::now();
        const FetchResult result = FetchInstaller(url, dir / "tool.exe", std::string());
        const double stepSeconds = SecondsSince(start);
        rssPeak = std::max(rssPeak, PeakRssKiB());
        ok = ok && result == FetchResult::Saved && fs::file_size(dir / "tool.exe", ec) == size;
        fs::remove(dir / "tool.exe", ec);
        sync();

        std::printf("%s round %d: download step %.1f MiB/s, curl -o %.1f MiB/s\n", name, round + 1,
                    mib / stepSeconds, mib / curlSeconds);
        bestStep = std::min(bestStep, stepSeconds);
        bestCurl = std::min(bestCurl, curlSeconds);
    }
    std::printf("%s: body %.0f MiB, best of %d rounds\n", name, mib, rounds);
    std::printf("  download step        %.1f MiB/s (%.2f s)\n", mib / bestStep, bestStep);
    std::printf("  curl -o              %.1f MiB/s (%.2f s)\n", mib / bestCurl, bestCurl);
    std::printf("  ratio (step / curl)  %.2f\n", bestCurl / bestStep);
    const long growth = rssPeak - rssBefore;
    std::printf("  peak RSS             %ld KiB before, %ld KiB during the step (+%ld KiB, %s)\n",
                rssBefore, rssPeak, growth, growth < 64 * 1024 ? "below 64 MiB" : "64 MiB OR MORE");
    std::printf("  %s\n", ok ? "both complete" : "A DOWNLOAD FAILED");
    return ok;
}

// The generated body as a file, for the web server.
bool WriteBody(const fs::path& file, std::uint64_t size) {
    std::ofstream out(file, std::ios::binary);
    std::string chunk(1 << 20, '\0');
    for (std::uint64_t done = 0; done < size && out;) {
        const std::uint64_t n = std::min<std::uint64_t>(chunk.size(), size - done);
        for (std::uint64_t i = 0; i < n; ++i)
            chunk[i] = testnet::TestServer::GeneratedByte(done + i);
        out.write(chunk.data(), static_cast<std::streamsize>(n));
        done += n;
    }
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::uint64_t size = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024ull) << 20;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const fs::path dir = fs::temp_directory_path() / ("quelda-bench-" + std::to_string(getpid()));
    fs::create_directories(dir / "site");
    bool ok = true;
    {
        testnet::TestServer server;
        server.ServeGenerated("/big.exe", size);
        ok = Measure("test server", "http://" + server.ipPort(), size, rounds, dir) && ok;
    }
    {
        testnet::NginxServer nginx;
        std::string error;
        if (!WriteBody(dir / "site" / "big.exe", size) ||
            !nginx.Start(dir / "site", dir / "nginx", testnet::NginxServer::FreePort(), error)) {
            std::printf("nginx: %s\n",
                        error.empty() ? "the body could not be written" : error.c_str());
            ok = false;
        } else {
            ok = Measure("nginx", "http://" + nginx.ipPort(), size, rounds, dir) && ok;
        }
    }
    {
        testnet::TestPki pki;
        testnet::NginxServer nginx;
        std::string error;
        const bool made =
            pki.Create(dir / "pki", error) && pki.Issue("localhost", "localhost", false, error);
        const testnet::NginxTls tls{pki.certificate("localhost"), pki.key("localhost")};
        if (!made || !fs::exists(dir / "site" / "big.exe") ||
            !nginx.Start(dir / "site", dir / "nginx-tls", testnet::NginxServer::FreePort(), error,
                         &tls)) {
            std::printf("nginx over TLS: %s\n", error.empty() ? "no body" : error.c_str());
            ok = false;
        } else {
            setenv("SSL_CERT_FILE", pki.ca().c_str(), 1);
            ok = Measure("nginx over TLS", "https://localhost:" + std::to_string(nginx.port()),
                         size, rounds, dir, "--cacert '" + pki.ca().string() + "'") &&
                 ok;
            unsetenv("SSL_CERT_FILE");
        }
    }
    fs::remove_all(dir);
    return ok ? 0 : 1;
}
