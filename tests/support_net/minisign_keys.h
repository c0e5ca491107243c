#pragma once

#include <filesystem>
#include <string>

namespace testnet {

// A minisign key pair made by Debian's `minisign -G` (no password) in a folder of its own,
// and signatures made with it by `minisign -S`, as an operator makes them.
class MinisignKeys {
  public:
    // Generates the pair in `dir` (created when missing) under `name`.
    MinisignKeys(const std::filesystem::path& dir, const std::string& name);

    const std::filesystem::path& publicFile() const { return public_; }
    const std::filesystem::path& secretFile() const { return secret_; }
    // The base64 line of the .pub file, as mainCfg.docKeys takes it.
    std::string PublicLine() const;
    // The key id as minisign prints it.
    std::string KeyId() const;

    // The .minisig text of `bytes` with the trusted comment; `legacy`: minisign -l.
    std::string Sign(const std::string& bytes, const std::string& trustedComment,
                     bool legacy = false) const;
    // Signs a file in place (FILE.minisig beside it), as docs/operators.md tells operators to.
    void SignFile(const std::filesystem::path& file, const std::string& trustedComment) const;

  private:
    std::filesystem::path dir_;
    std::filesystem::path public_;
    std::filesystem::path secret_;
};

// "YYYY-MM-DDTHH:MM:SSZ" of now plus `seconds`.
std::string UtcFromNow(long long seconds);

} // namespace testnet
