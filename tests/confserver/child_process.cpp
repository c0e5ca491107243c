#include "child_process.h"
#include "file_bytes.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path TempName(const char* tag) {
    static int counter = 0;
    return fs::temp_directory_path() /
           ("confserver-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + tag);
}

pid_t Spawn(const std::vector<std::string>& argv, int outFd, const fs::path& errFile) {
    pid_t pid = fork();
    if (pid == 0) {
        int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(outFd, 1);
        dup2(err, 2);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// True when the child has ended (and was reaped); code is its exit code, -1 after a signal.
bool WaitExit(pid_t pid, std::chrono::milliseconds timeout, int& code) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return true;
        }
        if (done < 0 || std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

fs::path BinDir() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

ProcessResult RunProcess(const std::vector<std::string>& argv) {
    fs::path out = TempName(".out"), err = TempName(".err");
    int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = Spawn(argv, outFd, err);
    close(outFd);
    ProcessResult result;
    if (!WaitExit(pid, std::chrono::seconds(60), result.exitCode)) {
        kill(pid, SIGKILL);
        WaitExit(pid, std::chrono::seconds(5), result.exitCode);
        result.exitCode = -1;
    }
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    fs::remove(out);
    fs::remove(err);
    return result;
}

Child::Child(const std::vector<std::string>& argv) : errFile_(TempName(".err")) {
    int fds[2];
    if (pipe(fds) != 0)
        return;
    pid_ = Spawn(argv, fds[1], errFile_);
    close(fds[1]);
    outFd_ = fds[0];
}

Child::~Child() {
    int code = 0;
    if (pid_ > 0 && !WaitExit(pid_, std::chrono::milliseconds(0), code)) {
        kill(pid_, SIGKILL);
        WaitExit(pid_, std::chrono::seconds(5), code);
    }
    if (outFd_ >= 0)
        close(outFd_);
    std::error_code ec;
    fs::remove(errFile_, ec);
}

bool Child::ReadLine(std::string& line, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || outFd_ < 0)
            return false;
        pollfd p{outFd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char buf[4096];
        ssize_t n = read(outFd_, buf, sizeof buf);
        if (n <= 0)
            return false;
        pending_.append(buf, static_cast<size_t>(n));
    }
}

void Child::Signal(int sig) {
    if (pid_ > 0)
        kill(pid_, sig);
}

int Child::Wait(std::chrono::milliseconds timeout) {
    int code = -1;
    if (pid_ > 0 && WaitExit(pid_, timeout, code))
        pid_ = -1;
    return code;
}

std::string Child::Err() const {
    return ReadFile(errFile_);
}

int StartedPort(Child& child) {
    std::string line;
    if (!child.ReadLine(line, std::chrono::seconds(10)))
        return -1;
    std::smatch m;
    static const std::regex form(R"(listening on http://127\.0\.0\.1:(\d+))");
    return std::regex_match(line, m, form) ? std::stoi(m[1].str()) : -1;
}
