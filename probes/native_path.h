#pragma once

#include <string>

// Turns a Windows path ("C:\Program Files\x", as the program and the registry name them)
// into a path this process can open: the identity on Windows, the machine folder's
// drive_x/... elsewhere. UTF-8 in, UTF-8 out.
std::string ToNativePath(const std::string& windowsPathUtf8);
