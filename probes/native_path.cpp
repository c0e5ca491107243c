#include "native_path.h"

#include "winapi.h"

#ifdef _WIN32
std::string ToNativePath(const std::string& windowsPathUtf8) {
    return windowsPathUtf8;
}
#else
std::string ToNativePath(const std::string& windowsPathUtf8) {
    return winshim::MapWindowsPath(windowsPathUtf8);
}
#endif
