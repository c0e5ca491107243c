#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

// The folder of the running test binary; the project's programs are built beside it.
std::filesystem::path BinDir();

struct ProcessResult {
    int exitCode = -1; // -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// Runs a program to its end and collects its output.
ProcessResult RunProcess(const std::vector<std::string>& argv);

// A child process whose standard output is read line by line while it runs.
class Child {
  public:
    explicit Child(const std::vector<std::string>& argv);
    ~Child(); // kills the child if it still runs
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line of standard output, or false at the end of output or after the timeout.
    bool ReadLine(std::string& line, std::chrono::milliseconds timeout);
    void Signal(int sig);
    pid_t Pid() const { return pid_; }
    // Waits for the end; the exit code, or -1 when it did not exit normally (or timed out).
    int Wait(std::chrono::milliseconds timeout);
    // Everything written to standard error so far.
    std::string Err() const;

  private:
    pid_t pid_ = -1;
    int outFd_ = -1;
    std::string pending_;
    std::filesystem::path errFile_;
};

// The port a server started as a child reports in its first line, "listening on
// http://127.0.0.1:PORT"; -1 when no such line comes within 10 seconds.
int StartedPort(Child& child);
