#include "engine/trust/minisign.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr char kUntrustedPrefix[] = "untrusted comment: ";
constexpr char kTrustedPrefix[] = "trusted comment: ";
// minisign's own limit on a trusted comment.
constexpr std::size_t kMaxCommentBytes = 1024;

bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// Splits at LF, dropping one CR before each LF; a last line without LF counts.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// Standard base64 with padding, decoding to exactly `size` bytes.
bool DecodeExact(const std::string& text, unsigned char* out, std::size_t size) {
    if (!SodiumReady())
        return false;
    std::vector<unsigned char> bytes(size + 3);
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &length,
                          &end, sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    if (end != text.data() + text.size() || length != size)
        return false;
    std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size), out);
    return true;
}

} // namespace

std::string KeyIdText(const std::array<unsigned char, kMinisignKeyIdBytes>& keyId) {
    // minisign prints the id as a little-endian 64-bit number.
    std::string text;
    char digits[3];
    for (std::size_t i = keyId.size(); i-- > 0;) {
        std::snprintf(digits, sizeof digits, "%02X", keyId[i]);
        text += digits;
    }
    return text;
}

bool ParseMinisignPublicKey(const std::string& text, MinisignPublicKey& key, std::string& why) {
    std::vector<std::string> lines = Lines(text);
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    if (lines.size() == 2 && StartsWith(lines[0], kUntrustedPrefix))
        lines.erase(lines.begin());
    if (lines.size() != 1) {
        why = "not a minisign public key (one base64 line, or a .pub file)";
        return false;
    }
    unsigned char raw[2 + kMinisignKeyIdBytes + 32];
    if (!DecodeExact(lines[0], raw, sizeof raw)) {
        why = "not a minisign public key (the base64 line does not decode to 42 bytes)";
        return false;
    }
    if (raw[0] != 'E' || raw[1] != 'd') {
        why = "not an Ed25519 minisign public key";
        return false;
    }
    std::copy(raw + 2, raw + 2 + kMinisignKeyIdBytes, key.keyId.begin());
    std::copy(raw + 2 + kMinisignKeyIdBytes, raw + sizeof raw, key.key.begin());
    return true;
}

bool ParseMinisignSignature(const std::string& text, MinisignSignature& signature,
                            std::string& why) {
    std::vector<std::string> lines = Lines(text);
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    if (lines.size() != 4 || !StartsWith(lines[0], kUntrustedPrefix)) {
        why = "not a minisign signature file (four lines, the first an untrusted comment)";
        return false;
    }
    unsigned char raw[2 + kMinisignKeyIdBytes + 64];
    if (!DecodeExact(lines[1], raw, sizeof raw)) {
        why = "the signature line does not decode to 74 bytes";
        return false;
    }
    if (raw[0] == 'E' && raw[1] == 'D')
        signature.legacy = false;
    else if (raw[0] == 'E' && raw[1] == 'd')
        signature.legacy = true;
    else {
        why = "an unknown signature algorithm";
        return false;
    }
    if (!StartsWith(lines[2], kTrustedPrefix)) {
        why = "the third line is not a trusted comment";
        return false;
    }
    signature.trustedComment = lines[2].substr(sizeof kTrustedPrefix - 1);
    if (signature.trustedComment.size() > kMaxCommentBytes) {
        why = "the trusted comment is longer than " + std::to_string(kMaxCommentBytes) + " bytes";
        return false;
    }
    if (!DecodeExact(lines[3], signature.globalSignature.data(), 64)) {
        why = "the global signature line does not decode to 64 bytes";
        return false;
    }
    std::copy(raw + 2, raw + 2 + kMinisignKeyIdBytes, signature.keyId.begin());
    std::copy(raw + 2 + kMinisignKeyIdBytes, raw + sizeof raw, signature.signature.begin());
    return true;
}

MinisignCheck CheckMinisign(const MinisignPublicKey& key, const MinisignSignature& signature,
                            const std::string& message) {
    if (!SodiumReady())
        return MinisignCheck::Unavailable;
    if (signature.legacy)
        return MinisignCheck::Legacy;
    unsigned char hash[crypto_generichash_BYTES_MAX];
    static_assert(crypto_generichash_BYTES_MAX == 64, "BLAKE2b-512");
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size(), nullptr, 0);
    if (crypto_sign_verify_detached(signature.signature.data(), hash, sizeof hash,
                                    key.key.data()) != 0)
        return MinisignCheck::BadSignature;
    std::string signedComment(signature.signature.begin(), signature.signature.end());
    signedComment += signature.trustedComment;
    if (crypto_sign_verify_detached(signature.globalSignature.data(),
                                    reinterpret_cast<const unsigned char*>(signedComment.data()),
                                    signedComment.size(), key.key.data()) != 0)
        return MinisignCheck::BadComment;
    return MinisignCheck::Good;
}
