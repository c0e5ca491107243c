// A started child process behind a process handle.
#pragma once

#include "machine_handles.h"

#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>

namespace winshim {

// The environment variable that names a child's exit code file (see windows.h).
inline constexpr char kExitCodeFileVariable[] = "WINSHIM_EXIT_CODE_FILE";

class ProcessObject : public HandleObject {
  public:
    // `exitCodeFile`: where the child may leave its Windows exit code (removed with the
    // object); empty for none.
    ProcessObject(pid_t pid, std::string exitCodeFile);
    ~ProcessObject() override;

    // Waits up to timeoutMs (INFINITE: no limit) for the process to end; true if it has.
    bool Wait(DWORD timeoutMs);
    // STILL_ACTIVE while running, then the exit code: the one the child wrote to its exit
    // code file, else its exit status (a signal death: 128 + signal number, as shells report
    // it).
    DWORD ExitCode();

  private:
    bool Reap(); // collects the status if the child has ended; true once it has
    void WaitReadable(int timeoutMs);

    pid_t pid_;
    std::string exitCodeFile_;
    int pidfd_ = -1;
    std::mutex mutex_;
    bool ended_ = false;
    DWORD exitCode_ = STILL_ACTIVE;
};

// Collects the child's status in the background once nobody holds a handle to it, so that
// it does not stay behind as a zombie.
void ReapInBackground(std::shared_ptr<ProcessObject> process);

} // namespace winshim
