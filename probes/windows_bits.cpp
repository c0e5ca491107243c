#include "windows_bits.h"

#include "winapi.h"

bool WindowsIs64Bit() {
#ifdef _WIN64
    return true; // a 64-bit build runs only on a 64-bit Windows
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}
