#pragma once

#include <filesystem>
#include <string>

// The install directory named by a registry value (bytes in the local code page): the
// value itself when it is an existing directory, else its parent (the value may name a
// file inside the directory). A status query that fails other than for a missing path
// throws std::filesystem::filesystem_error.
std::filesystem::path InstallDirFromRegistryValue(const std::string& localValue);

// A path as text in the local code page, as the Windows ANSI functions take it.
std::string LocalPathText(const std::filesystem::path& p);
// A path as UTF-8 text, for the diagnostic log.
std::string LogPathText(const std::filesystem::path& p);

// Where installers are saved and started from: C:\ProgramData\Quelda\downloads\<region>,
// each level made a folder that only administrators can change (see admin_folder.h), so
// that no user can put a DLL beside an installer that runs elevated. Throws
// std::runtime_error when a level cannot be made so; nothing is downloaded then.
extern const char kQueldaDataFolder[]; // C:\ProgramData\Quelda, the site list's folder too
extern const char kDownloadsFolder[];  // C:\ProgramData\Quelda\downloads
std::filesystem::path RegionDir(const std::string& regionName);

// A new, empty folder "<region folder>\run-<stamp>-<n>" for one installer, made with its
// protection in the same call, so that nothing made before can sit beside the installer;
// the folders of earlier runs with nothing written in the last minutes are removed first
// (one whose installer still holds a file stays until a later run). Throws std::runtime_error when
// it cannot be made.
std::filesystem::path FreshRunDir(const std::string& regionName);
// Removes the run folder of an installer that has ended, with everything in it.
void RemoveRunDir(const std::filesystem::path& installer);

// The library whose presence spoils the CA environment; the CA installs delete it.
std::filesystem::path SkfDllPath();

// Removes the SKF library when present. False when it exists but could not be removed
// (then `error` says why).
bool RemoveSkfDll(std::string& error);

// "<seconds since 1970>.exe", the name a CA installer is saved under.
std::string TimeNamedInstaller();
