#pragma once

#include <string>

// Starts `browser` with `page` as its one argument. No command interpreter is involved.
// Returns 0 when the browser started, 2 when it could not start.
int StartBrowser(const std::wstring& browser, const std::wstring& page);
