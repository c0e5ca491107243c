#include "textconv.h"

#ifdef _WIN32
#include "winapi.h"
#else
#include <boost/locale/encoding.hpp>
#include <boost/locale/encoding_utf.hpp>
#endif

#include <cstdio>
#include <exception>

#ifdef _WIN32
namespace {
const UINT kGbkCodePage = 936;

// Converts one character at a time so that what code page 936 cannot represent is
// dropped instead of being replaced by a default character.
std::string WideToGbk(const std::wstring& wide) {
    std::string out;
    for (size_t i = 0; i < wide.size();) {
        int units = 1;
        if (wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size() &&
            wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF)
            units = 2;
        char buf[8];
        BOOL usedDefault = FALSE;
        int n = WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, wide.data() + i, units, buf,
                                    sizeof buf, nullptr, &usedDefault);
        if (n > 0 && !usedDefault)
            out.append(buf, n);
        i += units;
    }
    return out;
}

std::wstring Utf8ToWide(const std::string& utf8) {
    if (utf8.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], n);
    // Invalid UTF-8 turns into U+FFFD; it is dropped like any invalid input.
    std::wstring clean;
    for (wchar_t c : wide)
        if (c != 0xFFFD)
            clean.push_back(c);
    return clean;
}

} // namespace

std::string WideToUtf8(const std::wstring& wide) {
    if (wide.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), nullptr, 0, nullptr,
                                nullptr);
    if (n <= 0)
        return std::string();
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), &out[0], n, nullptr, nullptr);
    return out;
}

std::string Utf8ToGbk(const std::string& utf8) {
    return WideToGbk(Utf8ToWide(utf8));
}

std::string GbkToUtf8(const std::string& gbk) {
    std::wstring wide;
    for (size_t i = 0; i < gbk.size();) {
        unsigned char lead = static_cast<unsigned char>(gbk[i]);
        int len = (lead >= 0x81 && lead <= 0xFE && i + 1 < gbk.size()) ? 2 : 1;
        wchar_t w[2];
        int n = MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, gbk.data() + i, len, w, 2);
        if (n > 0) {
            wide.append(w, n);
            i += len;
        } else {
            i += 1; // an invalid byte is skipped; its follower is tried on its own
        }
    }
    return WideToUtf8(wide);
}

#else

namespace {
std::string Between(const std::string& text, const char* to, const char* from) {
    try {
        return boost::locale::conv::between(text, to, from, boost::locale::conv::skip);
    } catch (const std::exception& e) {
        // Only an unsupported charset gets here; the text cannot be converted at all.
        std::fputs(e.what(), stderr);
        std::fputs("\n", stderr);
        return std::string();
    }
}
} // namespace

std::string Utf8ToGbk(const std::string& utf8) {
    return Between(utf8, "GBK", "UTF-8");
}

std::string GbkToUtf8(const std::string& gbk) {
    return Between(gbk, "UTF-8", "GBK");
}

std::string WideToUtf8(const std::wstring& wide) {
    try {
        return boost::locale::conv::utf_to_utf<char>(wide, boost::locale::conv::skip);
    } catch (const std::exception&) {
        return std::string();
    }
}

#endif
