#pragma once

// minisign's public keys and signatures, and their check with libsodium. A signature file
// holds an untrusted comment, the signature of the file, a trusted comment and a second
// ("global") signature over the first signature followed by the trusted comment, so that the
// trusted comment cannot be changed either. Only the current form ("ED": Ed25519 over the
// file's BLAKE2b-512 hash, what minisign 0.10 and later write) is accepted; the legacy form
// ("Ed": Ed25519 over the whole file) is refused by name.

#include <array>
#include <cstdint>
#include <string>

inline constexpr std::size_t kMinisignKeyIdBytes = 8;

struct MinisignPublicKey {
    std::array<unsigned char, kMinisignKeyIdBytes> keyId{};
    std::array<unsigned char, 32> key{};
};

struct MinisignSignature {
    bool legacy = false; // "Ed": the file itself was signed, not its hash
    std::array<unsigned char, kMinisignKeyIdBytes> keyId{};
    std::array<unsigned char, 64> signature{};
    std::string trustedComment; // without the "trusted comment: " prefix
    std::array<unsigned char, 64> globalSignature{};
};

// The key id as minisign prints it (16 upper-case hex digits).
std::string KeyIdText(const std::array<unsigned char, kMinisignKeyIdBytes>& keyId);

// A public key from the base64 line of a .pub file, or from the whole file (its untrusted
// comment line is skipped). False, with `why`, for anything else.
bool ParseMinisignPublicKey(const std::string& text, MinisignPublicKey& key, std::string& why);

// The four lines of a .minisig file (LF or CRLF line ends). False, with `why`, for a file
// that is not one.
bool ParseMinisignSignature(const std::string& text, MinisignSignature& signature,
                            std::string& why);

enum class MinisignCheck {
    Good,
    Legacy,       // the legacy form, not accepted
    BadSignature, // the signature over the file does not match it
    BadComment,   // the global signature does not match signature + trusted comment
    Unavailable,  // libsodium could not be initialised
};

// Checks `signature` over `message` with `key` (the caller has matched the key ids).
MinisignCheck CheckMinisign(const MinisignPublicKey& key, const MinisignSignature& signature,
                            const std::string& message);
