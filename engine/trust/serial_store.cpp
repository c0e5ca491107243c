#include "engine/trust/serial_store.h"

#include "probes/registry.h"

namespace {

// One value of the store into `floor`: false when it cannot be read.
bool ReadValue(const std::string& name, SerialFloor& floor, bool& found, std::uint64_t& serial) {
    DWORD value = 0;
    long error = 0;
    const int rc = RegReadDwordExact(HKEY_LOCAL_MACHINE, kSerialStoreKey, name, value, error);
    found = rc == 1;
    serial = value;
    if (rc >= 0)
        return true;
    floor.state = rc == -1 ? FloorState::Garbled : FloorState::Unreadable;
    floor.value = name;
    floor.error = error;
    return false;
}

} // namespace

std::string SerialValueName(const std::string& keyId) {
    return std::string(kSerialFloorValue) + "-" + keyId;
}

SerialFloor ReadSerialFloor(const std::vector<std::string>& keyIds) {
    SerialFloor floor;
    bool found = false;
    std::uint64_t serial = 0;
    if (!ReadValue(kSerialFloorValue, floor, found, serial))
        return floor;
    if (found) {
        floor.state = FloorState::Found;
        floor.serial = serial;
        floor.stored = true;
        return floor;
    }
    for (const std::string& keyId : keyIds) {
        if (!ReadValue(SerialValueName(keyId), floor, found, serial))
            return floor;
        if (found && (floor.state == FloorState::None || serial > floor.serial)) {
            floor.state = FloorState::Found;
            floor.serial = serial;
        }
    }
    return floor;
}

int RaiseSerialFloor(const SerialFloor& floor, std::uint64_t serial) {
    if (floor.stored && floor.serial >= serial)
        return 0;
    if (serial > 0xFFFFFFFFu)
        return -1;
    const DWORD value = static_cast<DWORD>(serial);
    return RegSetDwordValue(HKEY_LOCAL_MACHINE, kSerialStoreKey, kSerialFloorValue, &value) == 1
               ? 1
               : -1;
}
