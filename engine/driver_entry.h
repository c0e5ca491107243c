#pragma once

#include "probes/file_probes.h"
#include "probes/registry.h"

#include <exception>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// The members of a driver entry that say where a CA component is and what it should be.
struct DriverEntry {
    std::string path;
    std::string key;
    std::string fileName;
    std::string fileVersion;
    std::string fileModifyDtm;
};

// Reads the five members as text; a missing member or one of another type throws.
DriverEntry ReadDriverEntry(const nlohmann::json& entry);

// What state an installed CA component is in, as far as its entry can tell.
enum class DriverState {
    Matches,        // version and last-write time are the entry's
    NoRegistryPath, // `path` is not a display-form registry path
    NotInstalled,   // the install location cannot be read from the registry
    NoFile,         // the component's file is missing or has no version information
    Differs,        // version or last-write time differs from the entry's
    Unreadable,     // a member is missing or not text, or the location could not be looked at
};

// What the look at one driver entry found, step by step; a step that was not reached keeps
// its initial value. The state is decided by the first step that fails.
struct DriverFindings {
    DriverState state = DriverState::Unreadable;
    bool entryRead = false; // the five members were read as text
    DriverEntry entry;
    int splitCode = 0;         // SplitRegPath of `path`
    bool locationRead = false; // the registry value was read
    int readCode = 0;          // of the registry read, once `path` split
    RegView view = RegView::Single;
    std::string location; // the value in the local code page, unquoted where asked to
    bool dirKnown = false;
    std::filesystem::path dir; // the install folder the location names
    int fileCode = 0;          // GetFileVersionTime: -1 no file, -2 no version information
    __time64_t fileTime = 0;
    std::string version;
    FileMinute minute;           // the file's last write, UTC
    __time64_t expectedTime = 0; // ParseDateTime of fileModifyDtm, once the file was read
    std::string error;           // Unreadable: what failed
    std::exception_ptr exception;
};

// Looks at one component. `stripQuotes` drops the first and last character of a location
// holding a quote. Never throws: what would have is kept in `exception`.
DriverFindings ExamineDriverEntry(const DriverEntry& entry, bool stripQuotes);
DriverFindings ExamineDriverEntry(const nlohmann::json& item, bool stripQuotes);

// What a look at a region's driver list found: every entry, also those after the first one
// that is not in order, and whether the SKF library is present.
struct DriverListFindings {
    bool listRead = false; // the region's `driver` member is a list (or absent)
    std::vector<DriverFindings> entries;
    bool skfPresent = false;
    std::string skfError; // why the library's presence could not be told
};

DriverListFindings ExamineDriverList(const nlohmann::json& region, bool stripQuotes);

// Whether the component must be (re)installed: any state but Matches. A failing status query
// of the location throws std::filesystem::filesystem_error.
bool DriverNeedsInstall(const DriverEntry& entry, bool stripQuotes);
