#include "app/console_text.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <io.h>

#include <algorithm>
#include <vector>

namespace {

// The console behind the stream, or null when the stream is not one.
HANDLE ConsoleOf(std::FILE* stream) {
    const int fd = _fileno(stream);
    if (fd < 0)
        return nullptr;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode))
        return nullptr;
    return handle;
}

bool WriteConsoleText(HANDLE console, const std::string& utf8) {
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (length <= 0)
        return false;
    std::vector<wchar_t> wide(static_cast<size_t>(length));
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    // In pieces: older consoles refuse large writes. A piece never ends inside a pair.
    constexpr size_t kPiece = 4096;
    for (size_t at = 0; at < wide.size();) {
        size_t n = std::min(kPiece, wide.size() - at);
        if (n > 1 && at + n < wide.size() && wide[at + n - 1] >= 0xD800 &&
            wide[at + n - 1] <= 0xDBFF)
            --n;
        DWORD written = 0;
        if (!WriteConsoleW(console, wide.data() + at, static_cast<DWORD>(n), &written, nullptr) ||
            written == 0)
            return false;
        at += written;
    }
    return true;
}

} // namespace

bool WriteStreamText(std::FILE* stream, const std::string& utf8) {
    if (utf8.empty())
        return true;
    if (HANDLE console = ConsoleOf(stream)) {
        std::fflush(stream); // what the C runtime holds goes first
        return WriteConsoleText(console, utf8);
    }
    const bool written = std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size();
    return std::fflush(stream) == 0 && written;
}

#else

bool WriteStreamText(std::FILE* stream, const std::string& utf8) {
    const bool written = std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size();
    return std::fflush(stream) == 0 && written;
}

#endif
