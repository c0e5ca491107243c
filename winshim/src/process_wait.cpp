// WaitForSingleObject, GetExitCodeProcess and CloseHandle for process, mutex, file and
// token handles.
#include "file_object.h"
#include "machine_accounts.h"
#include "mutex_handles.h"
#include "process_object.h"

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    DWORD mutexResult = WAIT_FAILED;
    if (winshim::WaitMutexHandle(hHandle, dwMilliseconds, mutexResult))
        return mutexResult;
    auto process = winshim::LookupHandle<winshim::ProcessObject>(hHandle);
    if (!process) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return process->Wait(dwMilliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    auto process = winshim::LookupHandle<winshim::ProcessObject>(hProcess);
    if (!process) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!lpExitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpExitCode = process->ExitCode();
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    // Search handles are closed with FindClose only, as on Windows.
    if (winshim::RemoveHandle<winshim::FileObject>(hObject) || winshim::CloseMutexHandle(hObject) ||
        winshim::CloseAccountHandle(hObject))
        return TRUE;
    if (!winshim::LookupHandle<winshim::ProcessObject>(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto process =
        std::dynamic_pointer_cast<winshim::ProcessObject>(winshim::RemoveAnyHandle(hObject));
    if (!process) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    winshim::ReapInBackground(std::move(process));
    return TRUE;
}
