// Text conversions of the registry: the "A" functions speak GBK, the registry file UTF-8,
// and Windows stores string data as UTF-16LE. Conversions never fail: invalid input is
// dropped, as Windows' own ANSI conversion does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winshim::reg {

using Bytes = std::vector<uint8_t>;

std::string AnsiToUtf8(const std::string& gbk);
std::string Utf8ToAnsi(const std::string& utf8);

// Code page 936 bytes -> UTF-8 as MultiByteToWideChar(936, 0, ...) decodes them: nothing is
// dropped. 0x80 is the euro sign and 0xFF U+F8F5; a lead byte (0x81-0xFE) followed by a byte
// from 0x40 up forms one character, '?' when the pair has none. A lead byte followed by a
// byte below 0x40 (or by nothing) is '?' alone, and that byte is read as itself, so a
// quote, a comma or a backslash after a stray lead byte stays what it is.
std::string Cp936ToUtf8(const std::string& bytes);

// UTF-8 text -> UTF-16LE bytes (no terminator added).
Bytes Utf8ToUtf16Le(const std::string& utf8);
// UTF-16LE bytes -> UTF-8. An odd trailing byte and unpaired surrogates are dropped.
std::string Utf16LeToUtf8(const Bytes& utf16);
// As above, but false when the bytes are not exactly valid UTF-16LE.
bool Utf16LeToUtf8Strict(const Bytes& utf16, std::string* utf8);

bool IsValidUtf8(const std::string& text);

// Upper-cases every character (simple one-to-one mapping, as Windows compares key and
// value names), so that two names are equal case-insensitively when their folds are equal.
std::string FoldCase(const std::string& utf8);
bool EqualNoCase(const std::string& a, const std::string& b);

} // namespace winshim::reg
