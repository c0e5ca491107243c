#pragma once

#include <filesystem>
#include <string>

namespace testnet {

// A test certificate authority and server certificates it signs, made with the openssl
// command in a folder of the test's own: nothing of it is trusted anywhere unless a test
// names ca() in SSL_CERT_FILE.
class TestPki {
  public:
    // False with a message when openssl fails.
    bool Create(const std::filesystem::path& dir, std::string& error);
    // A key and a certificate for the DNS name `dnsName`, signed by the CA (or, with
    // `selfSigned`, by itself): <dir>/<stem>.pem and <stem>.key.
    bool Issue(const std::string& stem, const std::string& dnsName, bool selfSigned,
               std::string& error);
    // One signed by the CA and valid only from `notBefore` to `notAfter` ("20200101000000Z").
    bool IssueDated(const std::string& stem, const std::string& dnsName,
                    const std::string& notBefore, const std::string& notAfter, std::string& error);

    std::filesystem::path ca() const { return dir_ / "ca.pem"; }
    std::filesystem::path certificate(const std::string& stem) const {
        return dir_ / (stem + ".pem");
    }
    std::filesystem::path key(const std::string& stem) const { return dir_ / (stem + ".key"); }

  private:
    std::filesystem::path dir_;
};

} // namespace testnet
