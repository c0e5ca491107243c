#include "minisign_keys.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testnet {

namespace {

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

void Run(const std::string& command) {
    if (std::system((command + " </dev/null >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

MinisignKeys::MinisignKeys(const fs::path& dir, const std::string& name)
    : dir_(dir), public_(dir / (name + ".pub")), secret_(dir / (name + ".key")) {
    fs::create_directories(dir);
    Run("minisign -G -W -f -p " + Quoted(public_.string()) + " -s " + Quoted(secret_.string()));
}

std::string MinisignKeys::PublicLine() const {
    std::istringstream lines(ReadAll(public_));
    std::string line;
    std::getline(lines, line); // untrusted comment
    std::getline(lines, line);
    return line;
}

std::string MinisignKeys::KeyId() const {
    std::istringstream lines(ReadAll(public_));
    std::string line;
    std::getline(lines, line);
    // minisign's comment drops the id's leading zeros; the tool names all 16 digits.
    std::string id = line.substr(line.rfind(' ') + 1);
    if (id.size() < 16)
        id.insert(0, 16 - id.size(), '0');
    return id;
}

std::string MinisignKeys::Sign(const std::string& bytes, const std::string& trustedComment,
                               bool legacy) const {
    const fs::path file = dir_ / "to-sign";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    fs::remove(dir_ / "to-sign.minisig");
    Run(std::string("minisign -S") + (legacy ? " -l" : "") + " -s " + Quoted(secret_.string()) +
        " -m " + Quoted(file.string()) + " -t " + Quoted(trustedComment));
    return ReadAll(dir_ / "to-sign.minisig");
}

void MinisignKeys::SignFile(const fs::path& file, const std::string& trustedComment) const {
    Run("minisign -S -s " + Quoted(secret_.string()) + " -m " + Quoted(file.string()) + " -t " +
        Quoted(trustedComment));
}

std::string UtcFromNow(long long seconds) {
    const std::time_t when = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() +
                                                                  std::chrono::seconds(seconds));
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &when);
#else
    gmtime_r(&when, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

} // namespace testnet
