// Authenticode verification of a PE image with OpenSSL, answering as WinVerifyTrust does
// with WINTRUST_ACTION_GENERIC_VERIFY_V2.
#pragma once

#include "pe_source.h"

#include <cstdint>
#include <string>
#include <vector>

namespace winshim {

struct AuthenticodeResult {
    long code = 0; // ERROR_SUCCESS or the HRESULT WinVerifyTrust gives
    // The signer's certificate and the chain found above it (DER, signer first); empty when
    // no signer could be read.
    std::vector<std::vector<uint8_t>> chain;
};

// Checks the image's first signature: the table's PKCS#7 SignedData of an
// SpcIndirectDataContent, the image's digest against the one it names, the signer's
// signature, the chain up to a root of `<machine>/trust/roots/*.pem` (intermediates from
// the signature), the code-signing usage and, with `revocation`, every certificate but the
// root against `<machine>/trust/crls/*.pem`. Codes, from the first fault found:
// TRUST_E_SUBJECT_FORM_UNKNOWN (not a PE image), TRUST_E_NOSIGNATURE (no usable signature),
// TRUST_E_BAD_DIGEST (the image changed), NTE_BAD_SIGNATURE (the signature does not verify),
// CERT_E_UNTRUSTEDROOT, CERT_E_CHAINING, CERT_E_EXPIRED, CERT_E_WRONG_USAGE, CERT_E_REVOKED,
// and CERT_E_REVOCATION_FAILURE when a certificate has no current CRL there.
AuthenticodeResult VerifyAuthenticode(const ByteSource& image, bool revocation);

// The folder of the machine's trusted roots and CRLs: <machine>/trust.
std::string TrustDir();

} // namespace winshim
