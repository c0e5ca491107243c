// The "A" functions' side of the machine: their strings are GBK (code page 936), the
// file names here are UTF-8.
#pragma once

#include <string>

namespace winshim {

// GBK <-> UTF-8; bytes or characters that cannot be converted are dropped.
std::string AnsiToUtf8Text(const std::string& gbk);
std::string Utf8ToAnsiText(const std::string& utf8);

// A GBK Windows path as the "A" functions receive it -> the native UTF-8 path.
std::string NativePathFromAnsi(const char* gbkPath);

// errno of a failed file operation -> the Windows error code.
unsigned long WindowsErrorFromErrno(int err);

// The error for a path that does not exist: ERROR_PATH_NOT_FOUND when its folder is
// missing too, else ERROR_FILE_NOT_FOUND.
unsigned long MissingPathError(const std::string& nativePath);

} // namespace winshim
