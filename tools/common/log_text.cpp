#include "log_text.h"

std::string PrintableForLog(const std::string& text, std::size_t maxBytes, bool escapeNonAscii) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : maxBytes ? text.substr(0, maxBytes) : text) {
        if (c < 0x20 || c == 0x7F || (escapeNonAscii && c > 0x7F) || c == '\\' || c == ' ') {
            out += "%";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}
