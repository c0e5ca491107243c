#include "access.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <openssl/evp.h>
#include <sys/random.h>
#include <unistd.h>

std::string RandomHex(size_t bytes) {
    std::string raw(bytes, '\0');
    size_t got = 0;
    while (got < bytes) {
        ssize_t n = getrandom(&raw[got], bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        got += static_cast<size_t>(n);
    }
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : raw) {
        hex += kHex[c >> 4];
        hex += kHex[c & 15];
    }
    return hex;
}

bool LoadOrCreateToken(const std::string& file, std::string& token, bool& created,
                       std::string& error) {
    created = false;
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        token = RandomHex(24);
        const std::string line = token + "\n";
        bool ok = !token.empty() &&
                  write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        ok = fsync(fd) == 0 && ok;
        close(fd);
        if (!ok) {
            unlink(file.c_str());
            error = file + ": the token could not be written";
            return false;
        }
        created = true;
        return true;
    }
    if (errno != EEXIST) {
        error = file + ": " + std::strerror(errno);
        return false;
    }
    std::ifstream in(file);
    if (!in || !std::getline(in, token)) {
        error = file + ": cannot be read";
        return false;
    }
    while (!token.empty() && (token.back() == '\r' || token.back() == ' ' || token.back() == '\t'))
        token.pop_back();
    if (token.size() < kMinTokenLength) {
        error = file + ": the token on its first line must have at least " +
                std::to_string(kMinTokenLength) + " characters";
        return false;
    }
    return true;
}

bool SameSecret(const std::string& a, const std::string& b) {
    volatile unsigned char diff = a.size() == b.size() ? 0 : 1;
    const size_t n = std::max(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = i < a.size() ? a[i] : 0;
        const unsigned char y = i < b.size() ? b[i] : 0;
        diff = diff | static_cast<unsigned char>(x ^ y);
    }
    return diff == 0;
}

std::string NewStaffToken() {
    return RandomHex(24);
}

std::string TokenHash(const std::string& token) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(token.data(), token.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        return {};
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

bool ValidStaffName(const std::string& name) {
    if (name.empty() || name.size() > 32)
        return false;
    for (unsigned char c : name)
        if (!std::isalnum(c) && c != '.' && c != '_' && c != '-')
            return false;
    return true;
}

std::string Sessions::Create(const std::string& staff) {
    std::string id = RandomHex(32);
    if (id.empty())
        return id;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = Clock::now();
    for (auto it = sessions_.begin(); it != sessions_.end();)
        it = it->second.expiry <= now ? sessions_.erase(it) : std::next(it);
    sessions_[id] = {staff, now + lifetime_};
    return id;
}

bool Sessions::Valid(const std::string& id, std::string& staff) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sessions_.find(id);
    if (it == sessions_.end() || it->second.expiry <= Clock::now())
        return false;
    staff = it->second.staff;
    return true;
}

void Sessions::End(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(id);
}
