#pragma once

#include <string>

// Report codes: 8 characters of Crockford's base32 (40 random bits), read over the phone.

// A new code from the system's random source; empty when that source fails.
std::string NewReportCode();

// The code as typed or read: any case, with or without dashes and spaces, O for 0 and I or L
// for 1. Returns the 8 canonical characters, or an empty text when it is no code.
std::string NormalizeReportCode(const std::string& typed);

// "K7QF3MZP" as "K7QF-3MZP".
std::string DisplayReportCode(const std::string& code);
