#include "system_message.h"

#include "textconv.h"
#include "winapi.h"

std::string SystemMessageText(unsigned long code) {
    WCHAR buffer[1024];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(code), 0, buffer,
                                        sizeof buffer / sizeof buffer[0], nullptr);
    std::wstring text(buffer, length);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return WideToUtf8(text);
}
