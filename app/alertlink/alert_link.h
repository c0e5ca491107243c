#pragma once

#include <string>
#include <vector>

// The "alert:" link handler's rules, free of any system call.

// The argument part of a Windows command line: what follows the program name, which is
// either quoted (up to the next quote) or ends at the first blank.
std::wstring ArgumentsOf(const std::wstring& commandLine);

// The page to open for the argument part of the handler's command line. The part must be
// one link, quoted as a whole or not at all: "alert:" (any case) followed by an http:// or
// https:// address of printable ASCII without quotes. False for anything else.
bool PageOfAlertLink(const std::wstring& arguments, std::wstring& page);

// The page of the link in `commandLine` (the handler's own command line) when its host is
// one of `hosts` (the portal domain and the site list's hosts) or a sub-domain of one.
bool AllowedPageOf(const std::wstring& commandLine, const std::vector<std::string>& hosts,
                   std::wstring& page);

// One argument quoted so that the Windows command-line parser (CommandLineToArgvW, the C
// run-time's argv) gives back exactly `arg`.
std::wstring QuoteArgument(const std::wstring& arg);
