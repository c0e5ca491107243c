// Named mutexes over the machine folder: a mutex is a file under <machine>/mutexes, owned by
// the handle that holds the file's flock (see windows.h).
#include "machine_handles.h"

#include <winshim/windows.h>

#include <boost/locale/encoding_utf.hpp>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace winshim {

namespace {

class MutexObject : public HandleObject {
  public:
    explicit MutexObject(int fd) : fd_(fd) {}
    ~MutexObject() override { close(fd_); } // closing the file drops its flock
    MutexObject(const MutexObject&) = delete;
    MutexObject& operator=(const MutexObject&) = delete;

    // Ownership without waiting; an owning handle takes it again (counted).
    bool TryOwn() {
        if (owned_ > 0 || flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            ++owned_;
            return true;
        }
        return false;
    }

    bool Wait(DWORD timeoutMs) {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!TryOwn()) {
            if (timeoutMs != INFINITE && Clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    bool Release() {
        if (owned_ == 0)
            return false;
        if (--owned_ == 0)
            flock(fd_, LOCK_UN);
        return true;
    }

  private:
    int fd_;
    int owned_ = 0;
};

// "Global\name" -> "Global/name", "Local\name" and "name" -> "Local/name"; empty when the
// name is not one Windows takes for a mutex.
std::string MutexFile(LPCWSTR name) {
    if (!name || !*name)
        return std::string();
    std::string text;
    try {
        text = boost::locale::conv::utf_to_utf<char>(std::wstring(name));
    } catch (const std::exception&) {
        return std::string();
    }
    std::string space = "Local";
    for (const char* prefix : {"Global", "Local"}) {
        const std::string withSlash = std::string(prefix) + "\\";
        if (text.compare(0, withSlash.size(), withSlash) == 0) {
            space = prefix;
            text.erase(0, withSlash.size());
            break;
        }
    }
    if (text.empty() || text == "." || text == ".." ||
        text.find_first_of("\\/") != std::string::npos)
        return std::string();
    return space + "/" + text;
}

std::string MutexFolder() {
    return MachineDir() + "/mutexes";
}

} // namespace

bool WaitMutexHandle(HANDLE h, DWORD timeoutMs, DWORD& result) {
    auto mutex = LookupHandle<MutexObject>(h);
    if (!mutex)
        return false;
    result = mutex->Wait(timeoutMs) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    return true;
}

bool CloseMutexHandle(HANDLE h) {
    return RemoveHandle<MutexObject>(h);
}

} // namespace winshim

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCWSTR lpName) {
    using namespace winshim;
    const std::string file = MutexFile(lpName);
    if (file.empty()) {
        SetLastError(lpName ? ERROR_INVALID_NAME : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string folder = MutexFolder();
    const std::string space = file.substr(0, file.find('/'));
    for (const std::string& dir : {MachineDir(), folder, folder + "/" + space})
        if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
    const std::string path = folder + "/" + file;
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_CREAT | O_EXCL, 0666);
    const bool existed = fd < 0 && errno == EEXIST;
    if (existed)
        fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    auto mutex = std::make_shared<MutexObject>(fd);
    // An owner elsewhere keeps it: the handle is returned without ownership, as on Windows.
    if (bInitialOwner)
        mutex->TryOwn();
    HANDLE h = AddHandle(mutex);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

HANDLE WINAPI OpenMutexW(DWORD, BOOL, LPCWSTR lpName) {
    using namespace winshim;
    const std::string file = MutexFile(lpName);
    if (file.empty()) {
        SetLastError(lpName ? ERROR_INVALID_NAME : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const int fd = open((MutexFolder() + "/" + file).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND
                                                         : ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return AddHandle(std::make_shared<MutexObject>(fd));
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
    auto mutex = winshim::LookupHandle<winshim::MutexObject>(hMutex);
    if (!mutex) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!mutex->Release()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}
