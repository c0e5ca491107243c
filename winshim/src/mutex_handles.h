// The mutex handles' part of the generic handle functions (see mutex_api.cpp).
#pragma once

#include <winshim/windows.h>

namespace winshim {

// False when h is not a mutex handle; else the wait's result in `result`.
bool WaitMutexHandle(HANDLE h, DWORD timeoutMs, DWORD& result);
// False when h is not a mutex handle; else it is closed.
bool CloseMutexHandle(HANDLE h);

} // namespace winshim
