#include "process_object.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace winshim {

namespace {
// The code the child left in its exit code file; none when the file holds no decimal
// number of 32 bits.
bool ReadExitCodeFile(const std::string& file, DWORD& code) {
    if (file.empty())
        return false;
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && (text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long value = std::stoull(text);
    if (value > 0xFFFFFFFFull)
        return false;
    code = static_cast<DWORD>(value);
    return true;
}
} // namespace

ProcessObject::ProcessObject(pid_t pid, std::string exitCodeFile)
    : pid_(pid), exitCodeFile_(std::move(exitCodeFile)) {
    // A pidfd turns readable when the process ends, so waits wake at once; without one
    // (old kernels) waits poll.
#ifdef SYS_pidfd_open
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#endif
}

ProcessObject::~ProcessObject() {
    if (pidfd_ >= 0)
        close(pidfd_);
    if (!exitCodeFile_.empty())
        unlink(exitCodeFile_.c_str());
}

bool ProcessObject::Reap() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_)
        return true;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid_, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        return false;
    ended_ = true;
    if (r < 0)
        exitCode_ = 1; // reaped elsewhere; the real status is lost
    else if (WIFEXITED(status)) {
        if (!ReadExitCodeFile(exitCodeFile_, exitCode_))
            exitCode_ = static_cast<DWORD>(WEXITSTATUS(status));
    } else if (WIFSIGNALED(status))
        exitCode_ = 128 + static_cast<DWORD>(WTERMSIG(status));
    else
        exitCode_ = 1;
    return true;
}

void ProcessObject::WaitReadable(int timeoutMs) {
    if (pidfd_ >= 0) {
        pollfd p{pidfd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) >= 0 || errno == EINTR)
            return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 10)));
}

bool ProcessObject::Wait(DWORD timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (Reap())
            return true;
        int slice = 1000;
        if (timeoutMs != INFINITE) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0)
                return false;
            slice = static_cast<int>(std::min<long long>(left, slice));
        }
        WaitReadable(slice);
    }
}

DWORD ProcessObject::ExitCode() {
    Reap();
    std::lock_guard<std::mutex> lock(mutex_);
    return exitCode_;
}

void ReapInBackground(std::shared_ptr<ProcessObject> process) {
    if (process->Wait(0))
        return;
    try {
        std::thread([process] { process->Wait(INFINITE); }).detach();
    } catch (const std::exception&) {
        // No thread to spare: the child stays a zombie until this process ends.
    }
}

} // namespace winshim
