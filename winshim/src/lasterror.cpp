// The calling thread's last-error code, as kernel32 keeps it.
#include <winshim/windows.h>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD WINAPI GetLastError() {
    return lastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}
