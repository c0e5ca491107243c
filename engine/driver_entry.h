#pragma once

#include <nlohmann/json.hpp>
#include <string>

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

// Whether the component must be (re)installed: its registry path does not split, its
// location cannot be read, its file has no version or time, or either differs from the
// entry. `stripQuotes` drops the first and last character of a location holding a quote.
// A failing status query of the location throws std::filesystem::filesystem_error.
bool DriverNeedsInstall(const DriverEntry& entry, bool stripQuotes);
