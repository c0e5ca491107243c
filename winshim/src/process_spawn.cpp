// ShellExecuteExA: starts the file as a child process. There is no elevation here; "runas"
// runs the file like "open" does.
#include "file_object.h"
#include "machine_ansi.h"
#include "process_object.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace winshim {

namespace {

constexpr DWORD kErrorNoAssociation = 1155;
constexpr uintptr_t kSeErrPathNotFound = 3;
constexpr uintptr_t kSeErrNoAssociation = 31;
constexpr uintptr_t kShellSuccess = 42; // any value above 32 means success
constexpr int kHeldFd = 3;              // a held file's descriptor in the child

BOOL Fail(SHELLEXECUTEINFOA* info, DWORD error, uintptr_t shellError) {
    info->hInstApp = reinterpret_cast<HINSTANCE>(shellError);
    SetLastError(error);
    return FALSE;
}

bool KnownVerb(const char* verb) {
    return !verb || !*verb || std::strcmp(verb, "open") == 0 || std::strcmp(verb, "runas") == 0;
}

// Splits a parameter string at blanks; double quotes group blanks into one argument.
std::vector<std::string> SplitParameters(const std::string& text) {
    std::vector<std::string> args;
    std::string current;
    bool inQuotes = false, pending = false;
    for (char c : text) {
        if (c == '"') {
            inQuotes = !inQuotes;
            pending = true;
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (pending)
                args.push_back(current);
            current.clear();
            pending = false;
        } else {
            current.push_back(c);
            pending = true;
        }
    }
    if (pending)
        args.push_back(current);
    return args;
}

// The Windows error for a file that exists but could not be started.
DWORD StartError(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
    case EAGAIN:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_BAD_FORMAT; // ENOEXEC, a missing interpreter (ENOENT), ...
    }
}

class SpawnSetup {
  public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attr_);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attr_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // A fresh child: default signal handling and mask, and no descriptors of ours beyond
    // the standard three (Windows' shell passes no handles either) and, when a held file
    // is started, that file as descriptor 3.
    void Prepare(const std::string& directory, int heldFd) {
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        posix_spawnattr_setsigmask(&attr_, &none);
        posix_spawnattr_setsigdefault(&attr_, &all);
        posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        if (heldFd >= 0) {
            // dup2 onto itself clears close-on-exec, as a script's interpreter needs.
            posix_spawn_file_actions_adddup2(&actions_, heldFd, kHeldFd);
            posix_spawn_file_actions_addclosefrom_np(&actions_, kHeldFd + 1);
        } else {
            posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
        }
        if (!directory.empty())
            posix_spawn_file_actions_addchdir_np(&actions_, directory.c_str());
    }

    // posix_spawn reports a failed exec as its result, before returning.
    int Spawn(pid_t& pid, const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::string>& env) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        // ETXTBSY: a child forked elsewhere in this process at the moment the file was
        // still open for writing holds it briefly; it goes away on that child's exec.
        int err = ETXTBSY;
        for (int attempt = 0; attempt < 50 && err == ETXTBSY; ++attempt) {
            if (attempt > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            err = posix_spawn(&pid, program.c_str(), &actions_, &attr_, argv.data(), envp.data());
        }
        return err;
    }

  private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attr_;
};

// An empty file for the child's Windows exit code (see windows.h); empty when none could
// be made, and the child then ends with its exit status alone.
std::string NewExitCodeFile() {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/winshim-exit-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0)
        return std::string();
    close(fd);
    return path;
}

// This process's environment with the child's exit code file in place of any of ours.
std::vector<std::string> ChildEnvironment(const std::string& exitCodeFile) {
    const std::string key = std::string(kExitCodeFileVariable) + "=";
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, key.c_str(), key.size()) != 0)
            env.emplace_back(*e);
    if (!exitCodeFile.empty())
        env.push_back(key + exitCodeFile);
    return env;
}

} // namespace

} // namespace winshim

BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA* pExecInfo) {
    using namespace winshim;
    if (!pExecInfo || pExecInfo->cbSize != sizeof(SHELLEXECUTEINFOA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SHELLEXECUTEINFOA* info = pExecInfo;
    info->hProcess = nullptr;
    if (!KnownVerb(info->lpVerb))
        return Fail(info, kErrorNoAssociation, kSeErrNoAssociation);
    if (!info->lpFile || !*info->lpFile)
        return Fail(info, ERROR_FILE_NOT_FOUND, SE_ERR_FNF);

    const std::string file = NativePathFromAnsi(info->lpFile);
    std::string directory;
    if (info->lpDirectory && *info->lpDirectory) {
        directory = NativePathFromAnsi(info->lpDirectory);
        struct stat dst;
        if (stat(directory.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode))
            return Fail(info, ERROR_PATH_NOT_FOUND, kSeErrPathNotFound);
    }
    // A relative file name is looked up from the working folder the child gets.
    const std::string target =
        (!directory.empty() && !file.empty() && file[0] != '/') ? directory + "/" + file : file;

    // A file held open by this process is started from its handle (see file_object.h).
    const std::shared_ptr<FileObject> held = FileHoldingPath(target);
    struct stat st;
    if ((held ? fstat(held->fd(), &st) : stat(target.c_str(), &st)) != 0) {
        const DWORD error = errno == ENOENT ? MissingPathError(target) : ERROR_PATH_NOT_FOUND;
        return Fail(info, error, error == ERROR_PATH_NOT_FOUND ? kSeErrPathNotFound : SE_ERR_FNF);
    }
    if (S_ISDIR(st.st_mode))
        return Fail(info, ERROR_ACCESS_DENIED, SE_ERR_ACCESSDENIED);
    if (!S_ISREG(st.st_mode))
        return Fail(info, ERROR_BAD_FORMAT, ERROR_BAD_FORMAT);
    // Windows needs no run bit; an installer saved by a download has none.
    if (!(st.st_mode & S_IXUSR)) {
        const mode_t mode = (st.st_mode & 07777) | S_IXUSR;
        if ((held ? fchmod(held->fd(), mode) : chmod(target.c_str(), mode)) != 0)
            return Fail(info, ERROR_ACCESS_DENIED, SE_ERR_ACCESSDENIED);
    }

    std::vector<std::string> args{target};
    if (info->lpParameters)
        for (std::string& a : SplitParameters(AnsiToUtf8Text(info->lpParameters)))
            args.push_back(std::move(a));

    SpawnSetup setup;
    setup.Prepare(directory, held ? held->fd() : -1);
    const std::string program = held ? "/proc/self/fd/" + std::to_string(kHeldFd) : target;
    pid_t pid = 0;
    const std::string exitCodeFile = NewExitCodeFile();
    if (const int err = setup.Spawn(pid, program, args, ChildEnvironment(exitCodeFile))) {
        if (!exitCodeFile.empty())
            unlink(exitCodeFile.c_str());
        const DWORD error = StartError(err);
        return Fail(info, error,
                    error == ERROR_ACCESS_DENIED ? SE_ERR_ACCESSDENIED : ERROR_BAD_FORMAT);
    }

    std::shared_ptr<ProcessObject> process;
    try {
        process = std::make_shared<ProcessObject>(pid, exitCodeFile);
        if (info->fMask & SEE_MASK_NOCLOSEPROCESS)
            info->hProcess = AddHandle(process);
        else
            ReapInBackground(process);
    } catch (const std::exception&) {
        // Out of memory after the start: the child runs on, unwatched, as when no handle
        // was asked for.
        if (!process && !exitCodeFile.empty())
            unlink(exitCodeFile.c_str());
    }
    info->hInstApp = reinterpret_cast<HINSTANCE>(kShellSuccess);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
