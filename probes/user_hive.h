#pragma once

#include "winapi.h"

#include <string>

// Whose settings under HKEY_CURRENT_USER the tool reads and writes. The program runs
// elevated: when a standard user elevates with an administrator's name and password, the
// program runs as that administrator, and its HKEY_CURRENT_USER is the administrator's hive.
// The settings that matter are those of the user who owns the desktop (the process of the
// shell window): HKEY_USERS\<SID> of that user when it is not the program's.
enum class HiveOwner {
    ProgramUser,     // the desktop's user runs the program: HKEY_CURRENT_USER
    DesktopUser,     // another user owns the desktop: its hive under HKEY_USERS
    NoDesktop,       // no shell window (a service, nobody logged on): the program's user
    DesktopUnknown,  // the shell's process or its user cannot be read: the program's user
    HiveUnavailable, // another user owns the desktop but its hive does not open: no root
};

// The root to use in place of HKEY_CURRENT_USER, held open while the object lives.
class UserHive {
  public:
    UserHive() = default;
    ~UserHive();
    UserHive(UserHive&& other) noexcept;
    UserHive& operator=(UserHive&& other) noexcept;
    UserHive(const UserHive&) = delete;
    UserHive& operator=(const UserHive&) = delete;

    // HKEY_CURRENT_USER, the desktop user's hive, or nullptr (HiveUnavailable: every
    // registry call under it then fails).
    HKEY root() const { return root_; }
    // "HKEY_CURRENT_USER" or "HKEY_USERS\<SID>", for where a value was looked up.
    const std::string& rootName() const { return rootName_; }
    HiveOwner owner() const { return owner_; }
    // The account whose settings these are, "DOMAIN\name" (UTF-8); its SID when the name
    // cannot be looked up; empty when not even that is known or it was not asked for.
    const std::string& account() const { return account_; }
    // The Windows error behind DesktopUnknown and HiveUnavailable.
    unsigned long error() const { return error_; }
    // The program runs as LocalSystem (S-1-5-18): a service's, or a management agent's, whose
    // own settings are nobody's.
    bool programIsSystem() const { return programIsSystem_; }

  private:
    friend UserHive OpenUserHive(bool lookUpAccount);
    HKEY root_ = HKEY_CURRENT_USER;
    bool owned_ = false;
    std::string rootName_ = "HKEY_CURRENT_USER";
    HiveOwner owner_ = HiveOwner::ProgramUser;
    std::string account_;
    unsigned long error_ = 0;
    bool programIsSystem_ = false;
};

// Decides whose hive: the program's token user against the shell window's process's token
// user. Never fails; see HiveOwner for what it falls back to. The account's name is looked
// up only when asked for (a domain account's lookup may ask a domain controller).
UserHive OpenUserHive(bool lookUpAccount = false);

// The root key a registry path's root name stands for (RegRootKey), with HKEY_CURRENT_USER
// taken as the desktop user's hive; holds that hive open while it lives.
class RegRoot {
  public:
    explicit RegRoot(const std::string& rootName);
    HKEY key() const { return key_; }

  private:
    UserHive user_;
    HKEY key_ = nullptr;
};
