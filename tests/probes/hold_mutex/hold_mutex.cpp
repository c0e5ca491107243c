// quelda-hold-mutex NAME MILLISECONDS READY-FILE: owns the named mutex for that long, as
// Windows Installer owns "Global\_MSIExecute" while it installs, and writes READY-FILE once
// it does. Built for Windows and over winshim, so that the tests hold the mutex from
// another process on both.
#include "probes/winapi.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 4)
        return 64;
    const std::string name = argv[1];
    const std::wstring wideName(name.begin(), name.end()); // an ASCII name
    HANDLE mutex = CreateMutexW(nullptr, TRUE, wideName.c_str());
    if (!mutex)
        return 1;
    // An existing mutex is not owned by its new handle: wait for it.
    if (GetLastError() == ERROR_ALREADY_EXISTS &&
        WaitForSingleObject(mutex, INFINITE) == WAIT_FAILED)
        return 2;
    std::ofstream(argv[3]) << "ready\n";
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(argv[2])));
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}
