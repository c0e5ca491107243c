#include "elevated.h"

#include "winapi.h"

#include <cstdio>
#include <cstring>
#include <exception>

ElevatedStart InstallerStart(const std::string& installerPath) {
    ElevatedStart start;
    start.program = installerPath;
    // The installer's own folder, made fresh for it and writable by administrators only:
    // the current folder of a program unpacked from a zip is one users can write, and an
    // installer looks for DLLs in its working folder.
    const std::string::size_type cut = installerPath.find_last_of("\\/");
    if (cut != std::string::npos)
        start.directory = installerPath.substr(0, cut);
    return start;
}

std::string SystemProgram(const std::string& fileName) {
#ifdef _WIN32
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    return std::string(folder, length) + "\\" + fileName;
#else
    return "C:\\Windows\\System32\\" + fileName; // the machine folder's
#endif
}

int RunElevated(const std::string& installerPath, std::optional<unsigned long>* exitCode) {
    return RunElevated(InstallerStart(installerPath), exitCode);
}

int RunElevated(const ElevatedStart& start, std::optional<unsigned long>* exitCode) {
    if (exitCode)
        exitCode->reset();
    try {
        SHELLEXECUTEINFOA info;
        std::memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.hwnd = nullptr;
        info.lpVerb = "runas";
        info.lpFile = start.program.c_str();
        info.lpParameters = start.parameters.empty() ? nullptr : start.parameters.c_str();
        info.lpDirectory = start.directory.empty() ? nullptr : start.directory.c_str();
        info.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExA(&info))
            return -2;

        std::fputs("Program started successfully with admin privileges.\n", stdout);
        std::fflush(stdout);

        if (info.hProcess != nullptr) {
            WaitForSingleObject(info.hProcess, INFINITE);
            DWORD code = 0;
            // Any exit code counts as ran; a caller that asks gets it.
            if (GetExitCodeProcess(info.hProcess, &code) && exitCode)
                *exitCode = static_cast<unsigned long>(code);
            CloseHandle(info.hProcess);
        }
        return 1;
    } catch (const std::exception& e) {
        std::fputs(e.what(), stderr);
        std::fputs("\n", stderr);
        return -1;
    }
}
