#pragma once

#include <string>

// Windows' own text for a system error code (an installer's exit code such as 1603), in the
// system's language, UTF-8, without its line end; empty when Windows has none.
std::string SystemMessageText(unsigned long code);
