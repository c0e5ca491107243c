#pragma once

#include <string>

// A machine-wide folder whose files steer every user (such as the site list that a machine
// policy names) must be one that only administrators can change. By default a standard user
// may create folders under C:\ProgramData, and one who made ours first would own it.

// Makes `windowsFolder` (a Windows path, UTF-8; its parent must be a real folder) a folder
// that only administrators can change, creating it when missing. On Windows: owned by
// Administrators, with a protected ACL (nothing inherited) that gives SYSTEM and
// Administrators full control and Users and Authenticated Users read and execute only. A
// missing folder is created with that security descriptor in the same call. An existing
// one owned by Administrators, SYSTEM or TrustedInstaller gets the ACL again; one owned by
// anyone else (who may keep a handle open with the rights it had, as Windows checks access
// only when a handle is opened; this account too when the program is elevated: its
// unelevated processes made it) is renamed aside ("<name>.untrusted-<n>") and the name
// created anew, until this call created it. Elsewhere the stand-in has no ACLs: the folder
// gets mode 0755, one whose owner attribute names another account (see the stand-in's
// TrustedOwner) is moved aside alike, and one owned by another user id is refused. A link or a file
// in the folder's place is removed first. 1 done, -1 the folder could not be created, -2 it could
// not be secured (then nothing in it may be trusted). Parents are not secured: call it for each
// level.
int MakeAdminOnlyFolder(const std::string& windowsFolder);

// Whether a folder or file (no link) is owned as MakeAdminOnlyFolder requires, so that what
// it holds can be trusted. Elsewhere: owned by this user id, writable by no one else, and no
// other account named as its owner.
bool AdminOwned(const std::string& windowsPath);

// Makes a new, empty folder "<parent>\run-<stamp>-<n>" with the protection above in the
// same call (never one that existed before), for one installer; its Windows path goes to
// `madeFolder`. `parent` must be such a folder already. 1 done, -1 not.
inline constexpr char kFreshFolderPrefix[] = "run-";
int MakeFreshAdminFolder(const std::string& windowsParent, std::string& madeFolder);

// Gives a file that this program just created in such a folder the same protection (mode
// 0644 elsewhere). 1 done, -1 not.
int MakeAdminOnlyFile(const std::string& windowsFile);
