// The accounts of the machine folder: who runs the program and who owns the desktop (the
// process of the shell window), as "accounts.ini" beside registry.reg says:
//
//   ; the elevating administrator runs the program, the bidder is logged on
//   program = S-1-5-21-1000-1000-1000-500 QUELDA-PC\Administrator
//   desktop = S-1-5-21-1000-1000-1000-1001 QUELDA-PC\bidder
//
// A SID, a space, and the account as DOMAIN\name (UTF-8). "desktop =" with nothing after it
// is a machine without a desktop (a service, a server core). Without the file there is one
// account, kDefaultSid, which runs the program and owns the desktop, and HKEY_CURRENT_USER
// is kept in registry.reg under its own name as before. When the file names the program's
// user, HKEY_CURRENT_USER is that user's hive, HKEY_USERS\<SID>, as on Windows; the hives
// of the accounts it names are always loaded.
#pragma once

#include <winshim/windows.h>

#include <string>
#include <vector>

namespace winshim {

inline constexpr char kDefaultSid[] = "S-1-5-21-1000-1000-1000-1001";
inline constexpr char kDefaultAccount[] = "QUELDA-PC\\user";

struct MachineAccount {
    std::string sid;     // "S-1-5-21-..."
    std::string account; // "DOMAIN\name", UTF-8
};

struct MachineAccounts {
    bool valid = true;         // false: the file exists but a line does not parse
    bool programNamed = false; // the file names the program's user
    MachineAccount program{kDefaultSid, kDefaultAccount};
    bool hasDesktop = true;
    MachineAccount desktop{kDefaultSid, kDefaultAccount};
};

// Read on every call, as the registry is: tests point each case at a fresh folder.
MachineAccounts ReadMachineAccounts();

// Where HKEY_CURRENT_USER lives in registry.reg: "HKEY_USERS\<SID>" when accounts.ini
// names the program's user, else "HKEY_CURRENT_USER".
std::string CurrentUserKeyPath();
// A normalized key path that is the hive of an account accounts.ini names.
bool IsLoadedHive(const std::string& path);

// The binary SID of "S-R-I-S1-...-Sn" (1 to 15 sub-authorities); empty when it is not one.
std::vector<BYTE> SidFromString(const std::string& text);
// The text form of a binary SID; empty when the bytes are not a SID of `size` bytes at most.
std::string SidToString(const BYTE* sid, std::size_t size);
std::size_t SidLength(const BYTE* sid); // 0 when it is not a SID

// For CloseHandle: closes a process handle of OpenProcess or a token handle; false when
// the handle is neither.
bool CloseAccountHandle(HANDLE handle);

} // namespace winshim
