#include "machine_ansi.h"

#include <winshim/windows.h>

#include <boost/locale/encoding.hpp>

#include <cerrno>
#include <exception>
#include <sys/stat.h>

namespace winshim {

namespace {
std::string Between(const std::string& text, const char* to, const char* from) {
    try {
        return boost::locale::conv::between(text, to, from, boost::locale::conv::skip);
    } catch (const std::exception&) {
        return std::string(); // only an unsupported charset, which would fail every call
    }
}
} // namespace

std::string AnsiToUtf8Text(const std::string& gbk) {
    return Between(gbk, "UTF-8", "GBK");
}

std::string Utf8ToAnsiText(const std::string& utf8) {
    return Between(utf8, "GBK", "UTF-8");
}

std::string NativePathFromAnsi(const char* gbkPath) {
    return MapWindowsPath(AnsiToUtf8Text(gbkPath ? gbkPath : ""));
}

unsigned long WindowsErrorFromErrno(int err) {
    switch (err) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENOEXEC:
        return ERROR_BAD_FORMAT;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

unsigned long MissingPathError(const std::string& nativePath) {
    const size_t slash = nativePath.find_last_of('/');
    if (slash == std::string::npos)
        return ERROR_FILE_NOT_FOUND;
    const std::string folder = slash == 0 ? "/" : nativePath.substr(0, slash);
    struct stat st;
    if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return ERROR_FILE_NOT_FOUND;
    return ERROR_PATH_NOT_FOUND;
}

} // namespace winshim
