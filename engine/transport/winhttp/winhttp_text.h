#pragma once

// UTF-8 and UTF-16 for the WinHTTP transport: WinHTTP speaks wide strings only.

#include <string>

std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const wchar_t* text, std::size_t length);
std::string Utf8FromWide(const std::wstring& text);
