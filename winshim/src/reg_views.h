// The two registry views of a 64-bit Windows as the 32-bit program sees them (WOW64, as
// Windows 7 and later redirect). The program's own view is the 32-bit one: without a view
// flag, or with KEY_WOW64_32KEY, HKLM\SOFTWARE\X is HKLM\SOFTWARE\WOW6432Node\X, and the
// class registrations CLSID, DirectShow, Interface, Media Type and MediaFoundation under
// HKCR, HKLM\SOFTWARE\Classes and the users' Software\Classes are in Wow6432Node below
// them. Keys that Windows shares between the views (SOFTWARE\Policies, App Paths, the rest
// of Classes, ...; the list in reg_views.cpp) are the same in both, and so is everything
// else, HKCU\Software included. KEY_WOW64_64KEY names the native key. A 32-bit Windows has
// one view and ignores the flags.
#pragma once

#include <winshim/windows.h>

#include <string>

namespace winshim::reg {

// The key that a normalized path names with the view flags of samDesired.
std::string ViewPath(const std::string& path, REGSAM samDesired, bool machineIs64Bit);
// The key that a normalized path names in the 32-bit view of a 64-bit Windows.
std::string Wow64Path(const std::string& path);

} // namespace winshim::reg
