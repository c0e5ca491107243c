// The Authenticode reader over arbitrary bytes: the PE's security directory, the certificate
// table, the PKCS#7 parse and the digest over the spans around them. Must never crash or
// read out of bounds; any answer is fine.
#include "authenticode_verify.h"
#include "pe_authenticode.h"
#include "pe_source.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    winshim::MemorySource image(data, size);
    winshim::PeSignatureLayout layout;
    if (winshim::ReadSignatureLayout(image, layout) == winshim::PeLayoutResult::Ok) {
        std::vector<uint8_t> der, digest;
        winshim::ReadFirstPkcs7Certificate(image, layout, der);
        winshim::AuthenticodeDigest(image, layout, "SHA256", digest);
    }
    winshim::VerifyAuthenticode(image, true);
    return 0;
}
