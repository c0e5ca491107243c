// version.dll's three functions over the PE files of the machine folder.
#include "machine_ansi.h"
#include "pe_source.h"
#include "pe_version_resource.h"
#include "version_buffer.h"

#include <winshim/windows.h>

namespace {

// The buffer GetFileVersionInfoA hands out for a file; 0 or the Windows error code.
unsigned long LoadVersionBuffer(LPCSTR path, std::vector<uint8_t>& buffer) {
    if (!path)
        return ERROR_INVALID_PARAMETER;
    winshim::FileSource file;
    if (const unsigned long error = file.Open(winshim::NativePathFromAnsi(path)))
        return error;
    std::vector<uint8_t> block;
    if (const unsigned long error = winshim::ReadVersionResource(file, block))
        return error;
    buffer = winshim::BuildVersionBuffer(block);
    return ERROR_SUCCESS;
}

} // namespace

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
    if (lpdwHandle)
        *lpdwHandle = 0;
    std::vector<uint8_t> buffer;
    if (const unsigned long error = LoadVersionBuffer(lptstrFilename, buffer)) {
        SetLastError(error);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(buffer.size());
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD /*dwHandle*/, DWORD dwLen,
                                LPVOID lpData) {
    if (!lpData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<uint8_t> buffer;
    if (const unsigned long error = LoadVersionBuffer(lptstrFilename, buffer)) {
        SetLastError(error);
        return FALSE;
    }
    if (!winshim::CopyVersionBuffer(buffer, static_cast<uint8_t*>(lpData), dwLen)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
    if (!pBlock || !lpSubBlock || !lplpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* buffer = static_cast<const uint8_t*>(pBlock);
    size_t offset = 0;
    unsigned length = 0;
    if (!winshim::QueryVersionBuffer(buffer, winshim::VersionBufferSize(buffer), lpSubBlock, offset,
                                     length)) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    *lplpBuffer = const_cast<uint8_t*>(buffer + offset);
    if (puLen)
        *puLen = length;
    return TRUE;
}
