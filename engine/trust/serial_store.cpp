#include "engine/trust/serial_store.h"

#include "probes/registry.h"

std::string SerialValueName(const std::string& keyId) {
    return "DocumentSerial-" + keyId;
}

bool ReadAcceptedSerial(const std::string& keyId, std::uint64_t& serial) {
    DWORD value = 0;
    if (RegGetDwordValue(HKEY_LOCAL_MACHINE, kSerialStoreKey, SerialValueName(keyId), value) != 1)
        return false;
    serial = value;
    return true;
}

int RaiseAcceptedSerial(const std::string& keyId, std::uint64_t serial) {
    std::uint64_t stored = 0;
    if (ReadAcceptedSerial(keyId, stored) && stored >= serial)
        return 0;
    if (serial > 0xFFFFFFFFu)
        return -1;
    const DWORD value = static_cast<DWORD>(serial);
    return RegSetDwordValue(HKEY_LOCAL_MACHINE, kSerialStoreKey, SerialValueName(keyId), &value) ==
                   1
               ? 1
               : -1;
}
