#include "pe_authenticode.h"
#include "pe_format.h"

#include <openssl/evp.h>

#include <memory>

namespace winshim {

namespace {

constexpr uint32_t kSecurityDirectory = 4;
constexpr uint16_t kCertificateRevision2 = 0x0200;
constexpr uint16_t kCertificateTypePkcs7 = 0x0002;
constexpr uint32_t kWinCertificateHeader = 8;

struct MdContextFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

} // namespace

PeLayoutResult ReadSignatureLayout(const ByteSource& image, PeSignatureLayout& layout) {
    layout = PeSignatureLayout();
    uint8_t dos[64];
    if (!image.Read(0, sizeof dos, dos) || U16(dos) != kDosMagic)
        return PeLayoutResult::NotPe;
    const uint64_t peOffset = U32(dos + 0x3C);
    uint8_t coff[24];
    if (!image.Read(peOffset, sizeof coff, coff) || U32(coff) != kPeSignature)
        return PeLayoutResult::NotPe;
    const uint64_t optionalSize = U16(coff + 20);
    const uint64_t optionalOffset = peOffset + sizeof coff;
    uint8_t magic[2];
    if (optionalSize < 2 || !image.Read(optionalOffset, 2, magic))
        return PeLayoutResult::NotPe;
    uint64_t countField, directories;
    if (U16(magic) == kPe32Magic) {
        countField = 92;
        directories = 96;
    } else if (U16(magic) == kPe32PlusMagic) {
        countField = 108;
        directories = 112;
    } else {
        return PeLayoutResult::NotPe;
    }
    const uint64_t entry = directories + 8 * kSecurityDirectory;
    uint8_t count[4], security[8], headersSize[4];
    if (optionalSize < entry + 8 || !image.Read(optionalOffset + countField, 4, count) ||
        !image.Read(optionalOffset + 60, 4, headersSize))
        return PeLayoutResult::Malformed;
    layout.checksumOffset = optionalOffset + 64;
    layout.securityEntryOffset = optionalOffset + entry;
    if (U32(count) <= kSecurityDirectory)
        return PeLayoutResult::Ok; // no such directory: unsigned
    if (!image.Read(layout.securityEntryOffset, sizeof security, security))
        return PeLayoutResult::Malformed;
    layout.tableOffset = U32(security);
    layout.tableSize = U32(security + 4);
    if (layout.tableOffset == 0 && layout.tableSize == 0)
        return PeLayoutResult::Ok;
    const uint64_t headersEnd =
        std::max<uint64_t>(U32(headersSize), layout.securityEntryOffset + sizeof security);
    if (layout.tableOffset < headersEnd || layout.tableSize < kWinCertificateHeader ||
        layout.tableOffset + layout.tableSize != image.Size())
        return PeLayoutResult::Malformed;
    return PeLayoutResult::Ok;
}

bool ReadFirstPkcs7Certificate(const ByteSource& image, const PeSignatureLayout& layout,
                               std::vector<uint8_t>& der) {
    der.clear();
    uint8_t header[kWinCertificateHeader];
    if (layout.tableOffset == 0 || !image.Read(layout.tableOffset, sizeof header, header))
        return false;
    const uint64_t length = U32(header);
    if (U16(header + 4) != kCertificateRevision2 || U16(header + 6) != kCertificateTypePkcs7 ||
        length <= kWinCertificateHeader || length > layout.tableSize)
        return false;
    der.resize(length - kWinCertificateHeader);
    return image.Read(layout.tableOffset + kWinCertificateHeader, der.size(), der.data());
}

bool AuthenticodeDigest(const ByteSource& image, const PeSignatureLayout& layout,
                        const std::string& digestName, std::vector<uint8_t>& digest) {
    const EVP_MD* md = EVP_get_digestbyname(digestName.c_str());
    std::unique_ptr<EVP_MD_CTX, MdContextFree> ctx(EVP_MD_CTX_new());
    if (!md || !ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
        return false;
    const uint64_t end = layout.tableOffset ? layout.tableOffset : image.Size();
    if (layout.checksumOffset + 4 > layout.securityEntryOffset ||
        layout.securityEntryOffset + 8 > end)
        return false;
    // The three spans around the checksum and the directory entry, in pieces.
    const uint64_t spans[3][2] = {{0, layout.checksumOffset},
                                  {layout.checksumOffset + 4, layout.securityEntryOffset},
                                  {layout.securityEntryOffset + 8, end}};
    std::vector<uint8_t> buffer(1 << 16);
    for (const auto& span : spans) {
        for (uint64_t at = span[0]; at < span[1];) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), span[1] - at));
            if (!image.Read(at, n, buffer.data()) ||
                EVP_DigestUpdate(ctx.get(), buffer.data(), n) != 1)
                return false;
            at += n;
        }
    }
    unsigned int size = 0;
    digest.resize(EVP_MAX_MD_SIZE);
    if (EVP_DigestFinal_ex(ctx.get(), digest.data(), &size) != 1)
        return false;
    digest.resize(size);
    return true;
}

} // namespace winshim
