#include "reg_text.h"

#include <boost/locale/encoding.hpp>
#include <boost/locale/encoding_utf.hpp>

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace winshim::reg {

namespace conv = boost::locale::conv;

std::string AnsiToUtf8(const std::string& gbk) {
    try {
        return conv::between(gbk, "UTF-8", "GBK", conv::skip);
    } catch (const std::exception&) {
        return std::string();
    }
}

std::string Utf8ToAnsi(const std::string& utf8) {
    try {
        return conv::between(utf8, "GBK", "UTF-8", conv::skip);
    } catch (const std::exception&) {
        return std::string();
    }
}

Bytes Utf8ToUtf16Le(const std::string& utf8) {
    std::u16string units = conv::utf_to_utf<char16_t>(utf8, conv::skip);
    Bytes out;
    out.reserve(units.size() * 2);
    for (char16_t u : units) {
        out.push_back(static_cast<uint8_t>(u & 0xFF));
        out.push_back(static_cast<uint8_t>(u >> 8));
    }
    return out;
}

namespace {
std::u16string Units(const Bytes& utf16) {
    std::u16string units;
    units.reserve(utf16.size() / 2);
    for (size_t i = 0; i + 1 < utf16.size(); i += 2)
        units.push_back(static_cast<char16_t>(utf16[i] | (utf16[i + 1] << 8)));
    return units;
}

// Drops unpaired surrogates so that the library conversion sees only valid sequences.
std::u16string Paired(const std::u16string& in) {
    std::u16string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        char16_t u = in[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
                out.push_back(u);
                out.push_back(in[++i]);
            }
        } else if (u < 0xDC00 || u > 0xDFFF) {
            out.push_back(u);
        }
    }
    return out;
}
} // namespace

std::string Utf16LeToUtf8(const Bytes& utf16) {
    return conv::utf_to_utf<char>(Paired(Units(utf16)), conv::skip);
}

bool Utf16LeToUtf8Strict(const Bytes& utf16, std::string* utf8) {
    if (utf16.size() % 2 != 0)
        return false;
    std::u16string units = Units(utf16);
    if (Paired(units) != units)
        return false;
    try {
        *utf8 = conv::utf_to_utf<char>(units, conv::stop);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool IsValidUtf8(const std::string& text) {
    try {
        conv::utf_to_utf<char32_t>(text, conv::stop);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

namespace {
locale_t Utf8Locale() {
    static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return loc;
}

char32_t Upper(char32_t c) {
    if (c < 0x80)
        return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
    locale_t loc = Utf8Locale();
    if (loc == static_cast<locale_t>(0))
        return c;
    wint_t up = towupper_l(static_cast<wint_t>(c), loc);
    return (up > 0 && up < 0x110000) ? static_cast<char32_t>(up) : c;
}
} // namespace

std::string FoldCase(const std::string& utf8) {
    bool ascii = true;
    for (unsigned char c : utf8)
        if (c >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) {
        std::string out = utf8;
        for (char& c : out)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        return out;
    }
    std::u32string wide = conv::utf_to_utf<char32_t>(utf8, conv::skip);
    for (char32_t& c : wide)
        c = Upper(c);
    return conv::utf_to_utf<char>(wide, conv::skip);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return FoldCase(a) == FoldCase(b);
}

} // namespace winshim::reg
