#pragma once

#include <string>

// An HTTP Date header in its preferred form ("Sun, 06 Nov 1994 08:49:37 GMT") as seconds
// since 1970-01-01 UTC; false for anything else.
bool ParseHttpDate(const std::string& text, long long& unixSeconds);
