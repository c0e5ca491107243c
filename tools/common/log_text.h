#pragma once

#include <cstddef>
#include <string>

// Text from a request (a URL path, a client address) made safe for a one-line log: control
// characters, backslashes and spaces as %XX, and bytes from 0x80 up as well when
// `escapeNonAscii`; at most `maxBytes` bytes of the input are shown (0: all).
std::string PrintableForLog(const std::string& text, std::size_t maxBytes, bool escapeNonAscii);
