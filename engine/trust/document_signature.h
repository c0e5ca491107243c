#pragma once

// Whether a server document may be used: its minisign signature by one of the trusted keys,
// over the bytes as served, with a trusted comment that names a serial and an expiry.

#include "engine/trust/minisign.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class SignatureOutcome {
    Accepted,
    NoSignature,          // nothing at the signature's URL (404 or 410)
    SignatureRefused,     // the signature's URL answered with another status
    SignatureUnreachable, // no whole answer for the signature (network, TLS, time-out)
    SignatureTooLarge,    // the answer is larger than any signature file
    NoUsableKey,          // keys were configured, but none of them parses
    Malformed,            // the signature file is not one
    UnknownKey,           // signed by a key that is not trusted here
    Legacy,               // minisign's legacy form
    BadSignature,         // the document is not what was signed
    BadComment,           // the trusted comment is not what was signed
    CommentInvalid,       // a word of the trusted comment is malformed
    NoSerial,
    NoExpiry,
    ClockWrong, // this computer's clock is more than a day before the signing time
    Expired,
    Rollback,        // a lower serial than this computer has accepted under any trusted key
    Unavailable,     // the signature check itself could not run
    FloorUnreadable, // the serial floor kept on this computer cannot be read or parsed
    FloorNotKept,    // the document verified, but its serial could not be kept as the floor
};

struct SignatureVerdict {
    SignatureOutcome outcome = SignatureOutcome::Malformed;
    std::string keyId; // of the signature, where it could be read
    std::uint64_t serial = 0;
    long long expires = 0;
    std::optional<long long> signedAt;
    long long now = 0;
    std::uint64_t acceptedSerial = 0; // with Rollback: the highest serial accepted before
    // Malformed and CommentInvalid: what is wrong; SignatureUnreachable: the transport's
    // words; FloorUnreadable: why the floor cannot be read.
    std::string detail;
    // SignatureRefused: the HTTP status. SignatureUnreachable: what failed in the words of
    // the row's record.
    int httpStatus = 0;
    std::string fetchWords;
    // The trusted comment's serial and expiry were read (serial, expires, signedAt hold them).
    bool termsRead = false;
};

// The rollback floor: the highest serial this computer has accepted under any trusted key
// (false: none yet). `keyId` is the key of the signature being checked.
using AcceptedSerialLookup = std::function<bool(const std::string& keyId, std::uint64_t& serial)>;

// A clock this far before the signing time is wrong rather than early.
inline constexpr long long kClockSlackSeconds = 24 * 60 * 60;

// Checks `signatureFile` over `document` against `keys` at the time `now` (Unix seconds).
// `accepted`, when given, is asked for the serial floor.
SignatureVerdict VerifyDocumentSignature(const std::string& document,
                                         const std::string& signatureFile,
                                         const std::vector<MinisignPublicKey>& keys, long long now,
                                         const AcceptedSerialLookup& accepted = nullptr);

// What the verdict means, in Chinese for the network row's record: in plain words, with what
// to do; the key id, serial and expiry are in the log and the report's facts.
std::string SignatureRecordText(const SignatureVerdict& verdict);
// The same in English, for the diagnostic log and the operator's command line.
std::string SignatureLogText(const SignatureVerdict& verdict);
