#pragma once

#include <optional>
#include <string>

// Starts the installer (path in the local code page) with administrator rights and waits
// for it to end: 1 ran (whatever its exit code), -2 not started, -1 exception. With
// `exitCode`, the installer's exit code goes there when it is known (reset otherwise).
int RunElevated(const std::string& installerPath, std::optional<unsigned long>* exitCode = nullptr);

// What RunElevated starts: a program (local code page) with its command line's parameters,
// in a working folder. An installer: itself, no parameters, its own folder.
struct ElevatedStart {
    std::string program;
    std::string parameters;
    std::string directory;
};
ElevatedStart InstallerStart(const std::string& installerPath);
int RunElevated(const ElevatedStart& start, std::optional<unsigned long>* exitCode = nullptr);

// A program of Windows' own system folder by its full path (GetSystemDirectory), so that no
// file of the same name in a folder searched first is started instead (msiexec.exe:
// C:\Windows\System32\msiexec.exe). Empty when the folder cannot be told.
std::string SystemProgram(const std::string& fileName);
