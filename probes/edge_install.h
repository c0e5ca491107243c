#pragma once

#include <string>

// Microsoft Edge as Windows finds it: the default value of its App Paths key names the
// program, which must exist; its version comes from the file's version resource.
struct EdgeInstall {
    bool found = false;
    std::string path;    // the program (UTF-8, a Windows path); empty when not registered
    std::string version; // a.b.c.d; empty when the file has no version resource
};

extern const char kEdgeAppPathsKey[]; // under HKEY_LOCAL_MACHINE, shared by both views

EdgeInstall ReadEdgeInstall();
