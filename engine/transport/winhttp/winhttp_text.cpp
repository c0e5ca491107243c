#include "engine/transport/winhttp/winhttp_text.h"

#include <windows.h>

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty())
        return std::wstring();
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string Utf8FromWide(const wchar_t* text, std::size_t length) {
    if (!text || length == 0)
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                      nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &narrow[0], n, nullptr,
                        nullptr);
    return narrow;
}

std::string Utf8FromWide(const std::wstring& text) {
    return Utf8FromWide(text.data(), text.size());
}
