// Where the Windows loader may find DLLs that a program loads after its start.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Call first thing in main(). DLLs loaded from then on (by name, by Qt, by the system on our
// behalf) come from System32 only, never from the program's folder or the current one.
// The DLLs of the import table are resolved by the loader before main() and are not
// covered: where the exe sits in a folder users can write, a DLL planted beside it that is
// not one of the system's KnownDLLs loads before this runs.
inline void RestrictDllSearch() {
    // Windows 8 and later, and Windows 7 with KB2533623; looked up, not imported, so that
    // the program still starts on a Windows 7 without it.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    constexpr DWORD kSearchSystem32 = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32
    if (const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll")) {
        const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
        if (setDefault)
            setDefault(kSearchSystem32);
    }
    // Takes the current folder out of the search path (also where the call above is missing).
    SetDllDirectoryW(L"");
}
#else
inline void RestrictDllSearch() {}
#endif
