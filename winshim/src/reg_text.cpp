#include "reg_text.h"

#include <boost/locale/encoding.hpp>
#include <boost/locale/encoding_utf.hpp>

#include <clocale>
#include <cwctype>
#include <iconv.h>
#include <locale.h>
#include <memory>

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

namespace {

// One two-byte character of an iconv charset -> UTF-8; empty when it has none.
class PairDecoder {
  public:
    explicit PairDecoder(const char* charset) : cd_(iconv_open("UTF-8", charset)) {}
    ~PairDecoder() {
        if (cd_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd_);
    }
    PairDecoder(const PairDecoder&) = delete;
    PairDecoder& operator=(const PairDecoder&) = delete;

    std::string Decode(unsigned char lead, unsigned char trail) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            return std::string();
        char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        char out[8];
        char* inp = in;
        char* outp = out;
        size_t inLeft = 2, outLeft = sizeof out;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd_, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1) || inLeft != 0)
            return std::string();
        return std::string(out, static_cast<size_t>(outp - out));
    }

  private:
    iconv_t cd_;
};

bool IsPrivateUse(const std::string& utf8) {
    // U+E000..U+F8FF: EE 80 80 .. EF A3 BF
    if (utf8.size() != 3)
        return false;
    const auto b0 = static_cast<unsigned char>(utf8[0]);
    const auto b1 = static_cast<unsigned char>(utf8[1]);
    return b0 == 0xEE || (b0 == 0xEF && b1 <= 0xA3);
}

} // namespace

std::string Cp936ToUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    // GBK holds the code page's characters; the user-defined areas, which the code page
    // maps to private use, only GB 18030 has.
    std::unique_ptr<PairDecoder> gbk, gb18030;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c == 0x80) {
            out += "\xE2\x82\xAC";
        } else if (c == 0xFF) {
            out += "\xEF\xA3\xB5";
        } else if (i + 1 < bytes.size() && static_cast<unsigned char>(bytes[i + 1]) >= 0x40) {
            const auto trail = static_cast<unsigned char>(bytes[++i]);
            if (!gbk)
                gbk = std::make_unique<PairDecoder>("GBK");
            std::string ch = gbk->Decode(c, trail);
            if (ch.empty()) {
                if (!gb18030)
                    gb18030 = std::make_unique<PairDecoder>("GB18030");
                ch = gb18030->Decode(c, trail);
                if (!IsPrivateUse(ch))
                    ch = "?";
            }
            out += ch;
        } else {
            out.push_back('?');
        }
    }
    return out;
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
