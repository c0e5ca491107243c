// The parts of a PE image that its Authenticode signature is about: the certificate table
// (the security directory, data directory 4, whose "address" is a file offset) and the
// digest of the image without its checksum, that directory entry and the table itself.
#pragma once

#include "pe_source.h"

#include <cstdint>
#include <string>
#include <vector>

namespace winshim {

struct PeSignatureLayout {
    uint64_t checksumOffset = 0;      // the optional header's CheckSum (4 bytes)
    uint64_t securityEntryOffset = 0; // data directory 4 (8 bytes)
    uint64_t tableOffset = 0;         // the certificate table; 0 when the image is unsigned
    uint64_t tableSize = 0;
};

enum class PeLayoutResult { Ok, NotPe, Malformed };

// Finds the layout. An image whose table does not lie after the headers and end at the end
// of the file is Malformed (as Windows refuses data after the table).
PeLayoutResult ReadSignatureLayout(const ByteSource& image, PeSignatureLayout& layout);

// The first WIN_CERTIFICATE of the table when it is a PKCS#7 SignedData (revision 2.0,
// type 2): its bCertificate bytes. False when there is none or it is out of bounds.
bool ReadFirstPkcs7Certificate(const ByteSource& image, const PeSignatureLayout& layout,
                               std::vector<uint8_t>& der);

// The Authenticode digest with the OpenSSL digest `digestName` ("SHA256", "SHA1", ...):
// every byte before the table but the checksum and the directory entry. False when a read
// fails or the digest is unknown.
bool AuthenticodeDigest(const ByteSource& image, const PeSignatureLayout& layout,
                        const std::string& digestName, std::vector<uint8_t>& digest);

} // namespace winshim
