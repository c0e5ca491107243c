#pragma once

#include <string>

// UTF-8 <-> GBK (code page 936). Characters that cannot be converted and invalid input
// bytes are dropped; the conversion never fails.
std::string Utf8ToGbk(const std::string& utf8);
std::string GbkToUtf8(const std::string& gbk);
// A wide string of the Windows API (UTF-16 on Windows, UTF-32 elsewhere) to UTF-8.
std::string WideToUtf8(const std::wstring& wide);
