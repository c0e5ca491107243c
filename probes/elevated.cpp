#include "elevated.h"

#include "winapi.h"

#include <cstdio>
#include <cstring>
#include <exception>

int RunElevated(const std::string& installerPath, std::optional<unsigned long>* exitCode) {
    if (exitCode)
        exitCode->reset();
    try {
        SHELLEXECUTEINFOA info;
        std::memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.hwnd = nullptr;
        info.lpVerb = "runas";
        info.lpFile = installerPath.c_str();
        info.lpParameters = nullptr;
        // The installer's own folder, made fresh for it and writable by administrators only:
        // the current folder of a program unpacked from a zip is one users can write, and an
        // installer looks for DLLs in its working folder.
        const std::string::size_type cut = installerPath.find_last_of("\\/");
        const std::string folder =
            cut == std::string::npos ? std::string() : installerPath.substr(0, cut);
        info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
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
