#include "held_file.h"

#include "winapi.h"

#include <algorithm>

HeldFile::~HeldFile() {
    Close();
}

bool HeldFile::Open(const std::string& ansiPath) {
    Close();
    HANDLE h = CreateFileA(ansiPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    handle_ = h;
    path_ = ansiPath;
    return true;
}

bool HeldFile::Read(char* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    if (!handle_)
        return false;
    DWORD n = 0;
    const auto want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!ReadFile(static_cast<HANDLE>(handle_), buffer, want, &n, nullptr))
        return false;
    got = n;
    return true;
}

void HeldFile::Close() {
    if (handle_)
        CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    path_.clear();
}
