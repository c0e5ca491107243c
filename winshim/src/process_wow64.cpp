// GetCurrentProcess and IsWow64Process. Every program over this stand-in is the 32-bit
// Windows program, so a process runs under WOW64 exactly when the machine is 64-bit.
#include "machine_bits.h"
#include "process_object.h"

#include <winshim/windows.h>

HANDLE WINAPI GetCurrentProcess() {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); // the pseudo handle
}

BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process) {
    if (hProcess != GetCurrentProcess() &&
        !winshim::LookupHandle<winshim::ProcessObject>(hProcess)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!Wow64Process) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    *Wow64Process = winshim::reg::Is64BitMachine() ? TRUE : FALSE;
    return TRUE;
}
