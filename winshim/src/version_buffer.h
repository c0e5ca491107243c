// The buffer that GetFileVersionInfoA fills and VerQueryValueW reads.
//
// It starts with the VS_VERSIONINFO block as the resource holds it, as on Windows. Text
// values in the block are UTF-16, but WCHAR is 32 bits here, so a trailer after the block
// holds each text value converted to WCHAR, and VerQueryValueW hands those out:
//   [block][pad to 4]["QWSV"][total size][count][count x {value offset, copy offset,
//   characters}][the WCHAR copies]
// All offsets are from the buffer's start; all numbers little-endian 32-bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace winshim {

std::vector<uint8_t> BuildVersionBuffer(const std::vector<uint8_t>& block);

// Copies a built buffer into a caller's buffer of `capacity` bytes. If it does not fit,
// the block is cut short (its wLength lowered) and the text copies left out, so that what
// is written is still a consistent buffer. False when not even that fits.
bool CopyVersionBuffer(const std::vector<uint8_t>& buffer, uint8_t* out, size_t capacity);

// The size of a buffer made by the two functions above, from its own header.
size_t VersionBufferSize(const uint8_t* buffer);

// Looks up a sub-block such as L"\\", L"\\VarFileInfo\\Translation" or
// L"\\StringFileInfo\\040904B0\\FileVersion" (keys compared case-insensitively). On success
// sets the value's offset in the buffer and its length: bytes for binary values, WCHARs
// including the terminator for text. The root value must be a VS_FIXEDFILEINFO with its
// signature. isText, when given, tells which kind of length it is.
bool QueryVersionBuffer(const uint8_t* buffer, size_t size, const std::wstring& subBlock,
                        size_t& valueOffset, unsigned& valueLength, bool* isText = nullptr);

} // namespace winshim
