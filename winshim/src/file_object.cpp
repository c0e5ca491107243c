// CreateFileA and ReadFile for reading existing files, and the files that hold their path.
#include "file_object.h"

#include "machine_ansi.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace winshim {

namespace {
std::mutex& HeldMutex() {
    static std::mutex mutex;
    return mutex;
}
std::vector<std::weak_ptr<FileObject>>& Held() {
    static std::vector<std::weak_ptr<FileObject>> held;
    return held;
}

void HoldPath(const std::shared_ptr<FileObject>& file) {
    std::lock_guard<std::mutex> lock(HeldMutex());
    auto& held = Held();
    held.erase(std::remove_if(held.begin(), held.end(), [](const auto& w) { return w.expired(); }),
               held.end());
    held.push_back(file);
}
} // namespace

FileObject::FileObject(int fd, std::string nativePath, bool holdsPath)
    : fd_(fd), nativePath_(std::move(nativePath)), holdsPath_(holdsPath) {}

FileObject::~FileObject() {
    ::close(fd_);
}

std::shared_ptr<FileObject> FileHoldingPath(const std::string& nativePath) {
    std::lock_guard<std::mutex> lock(HeldMutex());
    for (const auto& weak : Held())
        if (auto file = weak.lock(); file && file->nativePath() == nativePath)
            return file;
    return nullptr;
}

} // namespace winshim

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/,
                          DWORD dwCreationDisposition, DWORD /*dwFlagsAndAttributes*/,
                          HANDLE /*hTemplateFile*/) {
    using namespace winshim;
    if (!lpFileName || !*lpFileName || dwDesiredAccess != GENERIC_READ ||
        dwCreationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::string path = NativePathFromAnsi(lpFileName);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(errno == ENOENT ? MissingPathError(path) : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const bool holds = (dwShareMode & (FILE_SHARE_WRITE | FILE_SHARE_DELETE)) == 0;
    std::shared_ptr<FileObject> file;
    try {
        file = std::make_shared<FileObject>(fd, path, holds);
    } catch (const std::exception&) {
        ::close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    try {
        if (holds)
            HoldPath(file);
        HANDLE h = AddHandle(std::move(file));
        SetLastError(ERROR_SUCCESS);
        return h;
    } catch (const std::exception&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, void* /*lpOverlapped*/) {
    auto file = winshim::LookupHandle<winshim::FileObject>(hFile);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    ssize_t n;
    do
        n = ::read(file->fd(), lpBuffer, nNumberOfBytesToRead);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = static_cast<DWORD>(n);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
