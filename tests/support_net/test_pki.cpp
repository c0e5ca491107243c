#ifndef _WIN32
#include "test_pki.h"

#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;

namespace testnet {

namespace {
bool Run(const std::string& command, const fs::path& log, std::string& error) {
    const std::string line = command + " >>'" + log.string() + "' 2>&1";
    if (std::system(line.c_str()) == 0)
        return true;
    std::ifstream in(log);
    error =
        "openssl failed: " + command + "\n" + std::string(std::istreambuf_iterator<char>(in), {});
    return false;
}

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}
} // namespace

bool TestPki::Create(const fs::path& dir, std::string& error) {
    dir_ = dir;
    fs::create_directories(dir);
    return Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
               " -keyout " +
                   Quoted(dir / "ca.key") + " -out " + Quoted(ca()) +
                   " -days 30 -subj '/CN=Quelda Test CA'"
                   " -addext basicConstraints=critical,CA:TRUE"
                   " -addext keyUsage=critical,keyCertSign,cRLSign",
               dir / "openssl.log", error);
}

bool TestPki::Issue(const std::string& stem, const std::string& dnsName, bool selfSigned,
                    std::string& error) {
    const fs::path ext = dir_ / (stem + ".ext");
    std::ofstream(ext) << "subjectAltName=DNS:" << dnsName << "\nbasicConstraints=CA:FALSE\n"
                       << "keyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n";
    const fs::path csr = dir_ / (stem + ".csr");
    const fs::path log = dir_ / "openssl.log";
    if (!Run("openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " +
                 Quoted(key(stem)) + " -out " + Quoted(csr) + " -subj '/CN=" + dnsName + "'",
             log, error))
        return false;
    const std::string signer = selfSigned ? " -signkey " + Quoted(key(stem))
                                          : " -CA " + Quoted(ca()) + " -CAkey " +
                                                Quoted(dir_ / "ca.key") + " -CAcreateserial";
    return Run("openssl x509 -req -in " + Quoted(csr) + signer + " -out " +
                   Quoted(certificate(stem)) + " -days 30 -extfile " + Quoted(ext),
               log, error);
}

bool TestPki::IssueDated(const std::string& stem, const std::string& dnsName,
                         const std::string& notBefore, const std::string& notAfter,
                         std::string& error) {
    const fs::path db = dir_ / (stem + "-db");
    fs::create_directories(db);
    std::ofstream(db / "index.txt");
    std::ofstream(db / "serial") << "1000\n";
    const fs::path conf = db / "ca.cnf";
    std::ofstream(conf) << "[ca]\ndefault_ca = test\n[test]\ndatabase = "
                        << (db / "index.txt").string() << "\nnew_certs_dir = " << db.string()
                        << "\nserial = " << (db / "serial").string()
                        << "\ndefault_md = sha256\npolicy = any\nunique_subject = no\n"
                           "[any]\ncommonName = supplied\n";
    const fs::path ext = dir_ / (stem + ".ext");
    std::ofstream(ext) << "subjectAltName=DNS:" << dnsName << "\nbasicConstraints=CA:FALSE\n"
                       << "extendedKeyUsage=serverAuth\n";
    const fs::path csr = dir_ / (stem + ".csr");
    const fs::path log = dir_ / "openssl.log";
    return Run("openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " +
                   Quoted(key(stem)) + " -out " + Quoted(csr) + " -subj '/CN=" + dnsName + "'",
               log, error) &&
           Run("openssl ca -batch -notext -config " + Quoted(conf) + " -cert " + Quoted(ca()) +
                   " -keyfile " + Quoted(dir_ / "ca.key") + " -in " + Quoted(csr) + " -out " +
                   Quoted(certificate(stem)) + " -startdate " + notBefore + " -enddate " +
                   notAfter + " -extfile " + Quoted(ext),
               log, error);
}

} // namespace testnet
#endif
