#pragma once

#include <string>

// Starts `browser` with the page of the "alert:" link in `commandLine` (the handler's own
// command line) as its one argument. No command interpreter is involved. Returns 0 when
// the browser started, 1 for a link that is refused, 2 when the browser could not start.
int OpenAlertLink(const std::wstring& commandLine, const std::wstring& browser);
