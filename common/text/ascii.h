#pragma once

// ASCII text helpers for protocol text: header names, host names, hex digits, switches. Only
// the letters A-Z and a-z change case and only ASCII white space is trimmed, whatever the
// locale; every other byte (UTF-8, GBK) is left as it is. Header-only, plain C++: every layer
// may use it, the probes and the servers included.

#include <cstddef>
#include <string>
#include <string_view>

namespace ascii {

constexpr char ToLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string Lower(std::string text) {
    for (char& c : text)
        c = ToLower(c);
    return text;
}

// Equal when the bytes are, but for the case of ASCII letters.
constexpr bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ToLower(a[i]) != ToLower(b[i]))
            return false;
    return true;
}

// Space, tab, line feed, vertical tab, form feed and carriage return.
constexpr bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// `text` without the ASCII white space at either end.
inline std::string Trim(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsSpace(text[begin]))
        ++begin;
    while (end > begin && IsSpace(text[end - 1]))
        --end;
    return std::string(text.substr(begin, end - begin));
}

} // namespace ascii
