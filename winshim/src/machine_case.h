// Windows file names are case-insensitive; the machine folder's are not. A path below the
// machine folder is resolved one component at a time, as Windows would find it.
#pragma once

#include <string>

namespace winshim {

// base (taken as it is) + rest ("/a/b/c"): each component of rest that does not exist as
// written is replaced by the entry of its folder that differs only in ASCII case. Among
// several such entries the first in byte order is taken, and a note on stderr says which.
// Components past the first one that matches nothing are kept as written.
std::string ResolveCase(const std::string& base, const std::string& rest);

} // namespace winshim
