#pragma once

// The rollback floor: the highest document serial this computer has accepted under any of
// the keys the program trusts, under HKEY_LOCAL_MACHINE\SOFTWARE\Quelda (written elevated; a
// user cannot lower it) as the REG_DWORD "DocumentSerial". Earlier versions kept one
// REG_DWORD "DocumentSerial-<key id>" per key; while "DocumentSerial" does not exist, the
// highest of those of the trusted keys is the floor, and the first accepted document writes
// "DocumentSerial". A value that cannot be read is never taken as no floor.

#include <cstdint>
#include <string>
#include <vector>

inline constexpr char kSerialStoreKey[] = "SOFTWARE\\Quelda";
inline constexpr char kSerialFloorValue[] = "DocumentSerial";

// The per-key value of earlier versions.
std::string SerialValueName(const std::string& keyId);

enum class FloorState {
    None,       // nothing accepted yet
    Found,      // `serial` is the floor
    Unreadable, // the registry did not answer for `value`
    Garbled,    // `value` exists but is not a REG_DWORD
};

struct SerialFloor {
    FloorState state = FloorState::None;
    std::uint64_t serial = 0;
    // DocumentSerial itself holds the floor (false: none yet, or one of the per-key values).
    bool stored = false;
    std::string value; // with Unreadable and Garbled: the value name
    long error = 0;    // with Unreadable: the Windows error
};

// The floor for the trusted keys `keyIds` (key id texts).
SerialFloor ReadSerialFloor(const std::vector<std::string>& keyIds);

// Raises DocumentSerial to `serial` after a document was accepted under `floor` (as read
// before); a lower one is never written. 1 when written, 0 when the stored one is not lower,
// -1 when it could not be written.
int RaiseSerialFloor(const SerialFloor& floor, std::uint64_t serial);

// The floor's registry value as an administrator names it, and the command that resets it
// (inline: the document check that names them is shared with the servers, which link no
// registry code).
inline std::string SerialFloorPathText() {
    return std::string("HKEY_LOCAL_MACHINE\\") + kSerialStoreKey + "\\" + kSerialFloorValue;
}
inline std::string SerialFloorResetCommand() {
    // The program is 32-bit: on a 64-bit Windows its values are in the 32-bit view.
    return std::string("reg add \"HKLM\\") + kSerialStoreKey + "\" /v " + kSerialFloorValue +
           " /t REG_DWORD /d 0 /f /reg:32";
}
