// The key handles that the registry functions hand out: each is an open key path with the
// access it was opened with. The ten predefined roots are handles that always exist.
#pragma once

#include <winshim/windows.h>

#include <string>

namespace winshim::reg {

struct OpenKey {
    std::string path; // normalized full path, UTF-8
    REGSAM access = 0;
};

HKEY AddHandle(const OpenKey& key);
// A predefined root or a handle still open; false for anything else. HKEY_CURRENT_USER
// resolves to CurrentUserKeyPath() (machine_accounts.h).
bool ResolveHandle(HKEY handle, OpenKey* key);
// Frees an open handle; true for predefined roots (nothing to free) and open handles.
bool ReleaseHandle(HKEY handle);
// The access rights a requested mask grants (generic rights mapped, view flags dropped).
REGSAM EffectiveAccess(REGSAM requested);

} // namespace winshim::reg
