// The fields of PE files and their version resources: little-endian integers read from
// bytes already fetched, and the values that mark a PE image's headers.
#pragma once

#include <cstdint>

namespace winshim {

constexpr uint16_t kDosMagic = 0x5A4D;    // "MZ"
constexpr uint32_t kPeSignature = 0x4550; // "PE\0\0"
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;

inline uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t U32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

} // namespace winshim
