// A growing little-endian byte buffer with alignment and back-patching.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pewriter {

class ByteWriter {
  public:
    void U8(uint8_t v) { bytes_.push_back(v); }
    void U16(uint16_t v) {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void U64(uint64_t v) {
        U32(static_cast<uint32_t>(v));
        U32(static_cast<uint32_t>(v >> 32));
    }
    void Bytes(const std::vector<uint8_t>& b) { bytes_.insert(bytes_.end(), b.begin(), b.end()); }
    void Zeros(size_t n) { bytes_.resize(bytes_.size() + n, 0); }
    void Align(size_t a) { Zeros((a - bytes_.size() % a) % a); }
    void PadTo(size_t offset) {
        if (bytes_.size() < offset)
            Zeros(offset - bytes_.size());
    }
    void PatchU16(size_t at, uint16_t v) {
        bytes_[at] = static_cast<uint8_t>(v);
        bytes_[at + 1] = static_cast<uint8_t>(v >> 8);
    }
    void PatchU32(size_t at, uint32_t v) {
        PatchU16(at, static_cast<uint16_t>(v));
        PatchU16(at + 2, static_cast<uint16_t>(v >> 16));
    }
    size_t Size() const { return bytes_.size(); }
    std::vector<uint8_t> Take() { return std::move(bytes_); }
    std::vector<uint8_t>& Data() { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

} // namespace pewriter
