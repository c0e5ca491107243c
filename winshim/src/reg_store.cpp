#include "reg_store.h"

#include "reg_write.h"

#include <winshim/windows.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace winshim::reg {

namespace {

std::shared_mutex g_threads; // between the threads of this process

// The last registry read, reused while the file holds the same bytes. Comparing the bytes
// rather than size and time stamps also catches a rewrite within the file system's clock tick.
struct Cache {
    std::mutex mutex;
    std::string path;
    std::string text;
    std::shared_ptr<const RegModel> model;
} g_cache;

std::atomic<long long> g_lockWaitMs{10000};

// The lock file whose last wait timed out. Until its lock is seen free again, calls try it
// once and fail at once, so that a store locked by another process costs one wait in all
// rather than one per call.
struct StuckLock {
    std::mutex mutex;
    std::string path;

    bool Is(const std::string& lockPath) {
        std::lock_guard<std::mutex> guard(mutex);
        return path == lockPath;
    }
    void Set(const std::string& lockPath, bool stuck) {
        std::lock_guard<std::mutex> guard(mutex);
        if (stuck)
            path = lockPath;
        else if (path == lockPath)
            path.clear();
    }
} g_stuck;

// flock on the lock file beside the registry, waiting at most g_lockWaitMs for another
// process to release it (not at all while the file is stuck, see StuckLock); released when
// the object goes.
class FileLock {
  public:
    FileLock(const std::string& path, bool exclusive, bool create) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
        if (fd_ < 0)
            fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        const bool stuck = g_stuck.Is(path);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(g_lockWaitMs.load());
        for (;;) {
            if (::flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) {
                locked_ = true;
                if (stuck)
                    g_stuck.Set(path, false);
                return;
            }
            if (errno == EINTR)
                continue;
            if (errno != EWOULDBLOCK) {
                error_ = errno;
                return;
            }
            if (stuck || std::chrono::steady_clock::now() >= deadline) {
                timedOut_ = true;
                g_stuck.Set(path, true);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~FileLock() {
        if (fd_ >= 0)
            ::close(fd_); // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool locked() const { return locked_; }
    // Another process held the lock for longer than the wait.
    bool timedOut() const { return timedOut_; }
    int error() const { return error_; }

  private:
    int fd_ = -1;
    bool locked_ = false;
    bool timedOut_ = false;
    int error_ = 0;
};

long WriteError(int err) {
    return (err == EACCES || err == EPERM || err == EROFS) ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
}

bool ReadAll(int fd, std::string* out) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out->append(buf, static_cast<size_t>(n));
    }
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Says on stderr, once for each content of the file, that the registry does not parse: every
// registry call then fails with ERROR_BADDB, which callers see only as "not found".
void NoteBrokenFile(const std::string& path, const std::string& text, const ParseError& error) {
    static std::mutex mutex;
    static std::string said;
    std::lock_guard<std::mutex> guard(mutex);
    if (said == path + '\0' + text)
        return;
    said = path + '\0' + text;
    std::fprintf(stderr,
                 "winshim: the registry %s does not parse (line %d: %s); it is not read and "
                 "not written until it is repaired\n",
                 path.c_str(), error.line, error.message.c_str());
}

// The current registry, from the cache when the file has not changed. Call under a lock.
long Load(const std::string& path, std::shared_ptr<const RegModel>* model, ParseError* error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            return ERROR_CANTREAD;
        *model = std::make_shared<const RegModel>();
        return ERROR_SUCCESS;
    }
    std::string text;
    bool ok = ReadAll(fd, &text);
    ::close(fd);
    if (!ok)
        return ERROR_CANTREAD;
    {
        std::lock_guard<std::mutex> guard(g_cache.mutex);
        if (g_cache.model && g_cache.path == path && g_cache.text == text) {
            *model = g_cache.model;
            return ERROR_SUCCESS;
        }
    }
    auto parsed = std::make_shared<RegModel>();
    ParseError local;
    ParseError* err = error ? error : &local;
    if (!LoadRegText(text, parsed.get(), err)) {
        NoteBrokenFile(path, text, *err);
        return ERROR_BADDB;
    }
    std::lock_guard<std::mutex> guard(g_cache.mutex);
    g_cache.path = path;
    g_cache.text = std::move(text);
    g_cache.model = parsed;
    *model = parsed;
    return ERROR_SUCCESS;
}

// Writes text to a temporary file beside path, flushes it and renames it over path.
long Replace(const std::string& path, const std::string& text) {
    std::string dir = std::filesystem::u8path(path).parent_path().u8string();
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return WriteError(errno);
    struct stat old;
    mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return WriteError(err);
    }
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd); // makes the rename itself durable
        ::close(dirFd);
    }
    return ERROR_SUCCESS;
}

} // namespace

void SetLockWait(std::chrono::milliseconds wait) {
    g_lockWaitMs = wait.count();
}

std::string RegistryFilePath() {
    return (std::filesystem::u8path(winshim::MachineDir()) / "registry.reg").u8string();
}

long ReadRegistry(const std::function<long(const RegModel&)>& read, ParseError* error) {
    std::string path = RegistryFilePath();
    std::shared_lock<std::shared_mutex> threads(g_threads);
    // Without a lock file (a missing or read-only folder) the read still sees a whole file,
    // since every write replaces the file by a rename.
    FileLock processes(path + ".lock", false, false);
    if (processes.timedOut())
        return ERROR_LOCK_VIOLATION;
    std::shared_ptr<const RegModel> model;
    long rc = Load(path, &model, error);
    if (rc != ERROR_SUCCESS)
        return rc;
    try {
        return read(*model);
    } catch (const std::exception&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

long ModifyRegistry(const std::function<long(RegModel&, bool* changed)>& change,
                    ParseError* error) {
    std::string path = RegistryFilePath();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::u8path(path).parent_path(), ec);
    std::unique_lock<std::shared_mutex> threads(g_threads);
    FileLock processes(path + ".lock", true, true);
    if (processes.timedOut())
        return ERROR_LOCK_VIOLATION;
    if (!processes.locked())
        return WriteError(processes.error());
    std::shared_ptr<const RegModel> current;
    long rc = Load(path, &current, error);
    if (rc != ERROR_SUCCESS)
        return rc;
    try {
        auto next = std::make_shared<RegModel>(*current);
        bool changed = false;
        rc = change(*next, &changed);
        if (rc != ERROR_SUCCESS || !changed)
            return rc;
        std::string text = SerializeRegistry(*next);
        // Never replace a readable file by one that would not read back the same.
        RegModel check;
        if (!LoadRegText(text, &check, nullptr) || !check.SameContent(*next))
            return ERROR_CANTWRITE;
        rc = Replace(path, text);
        if (rc != ERROR_SUCCESS)
            return rc;
        std::lock_guard<std::mutex> guard(g_cache.mutex);
        g_cache.path = path;
        g_cache.text = std::move(text);
        g_cache.model = next;
        return ERROR_SUCCESS;
    } catch (const std::exception&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace winshim::reg
