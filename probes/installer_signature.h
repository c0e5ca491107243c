#pragma once

#include <string>

class HeldFile;

// What an installer's Authenticode signature says about who made it.
enum class SignerVerdict {
    Accepted,       // a valid signature of a trusted chain, by the expected signer
    Unsigned,       // no signature at all
    BadSignature,   // a signature that does not match the file (changed after signing)
    UntrustedChain, // a signature whose certificate is not trusted here (unknown root,
                    // expired, revoked, not for code signing, distrusted)
    WrongSigner,    // a valid signature by someone else
    NotChecked,     // the check could not run (file not held, system function missing)
};

struct SignerCheck {
    SignerVerdict verdict = SignerVerdict::NotChecked;
    // WinVerifyTrust's answer (0 or an HRESULT, as unsigned for the log).
    unsigned long trustCode = 0;
    // Whether revocation could not be checked (offline); the signature still counts.
    bool revocationUnchecked = false;
    // The signer's simple display name (UTF-8), when a signature names one.
    std::string signer;
};

// Checks the held file's Authenticode signature with WinVerifyTrust
// (WINTRUST_ACTION_GENERIC_VERIFY_V2, revocation of the whole chain, no UI), reading the
// file through the held handle, and then compares the signer certificate's simple display
// name with `expectedSigner` (UTF-8, exactly; a name with a NUL inside is never the expected
// one, and `signer` shows its NUL as "\0"). Revocation that cannot be checked
// (CERT_E_REVOCATION_FAILURE, CRYPT_E_REVOCATION_OFFLINE, CRYPT_E_NO_REVOCATION_CHECK) is
// reported in `revocationUnchecked` and does not refuse the file.
SignerCheck CheckInstallerSigner(const HeldFile& file, const std::string& expectedSigner);
