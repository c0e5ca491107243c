#include "sha256.h"

#include <openssl/evp.h>

#include <fstream>
#include <memory>
#include <vector>

bool Sha256OfFile(const std::filesystem::path& file, std::string& hex, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot open " + file.string();
        return false;
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
        error = "SHA-256 is not available";
        return false;
    }
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        std::streamsize got = in.gcount();
        if (got > 0 && EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<size_t>(got)) != 1) {
            error = "hashing " + file.string() + " failed";
            return false;
        }
    }
    if (in.bad()) {
        error = "cannot read " + file.string();
        return false;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) {
        error = "hashing " + file.string() + " failed";
        return false;
    }
    static const char kHex[] = "0123456789abcdef";
    hex.clear();
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0xF];
    }
    return true;
}
