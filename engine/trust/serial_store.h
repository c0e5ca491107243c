#pragma once

// The highest document serial this computer has accepted, per signing key, under
// HKEY_LOCAL_MACHINE\SOFTWARE\Quelda (written elevated; a user cannot lower it), as the
// REG_DWORD "DocumentSerial-<key id>".

#include <cstdint>
#include <string>

inline constexpr char kSerialStoreKey[] = "SOFTWARE\\Quelda";

std::string SerialValueName(const std::string& keyId);

// True with the stored serial; false when none is stored (or it cannot be read).
bool ReadAcceptedSerial(const std::string& keyId, std::uint64_t& serial);

// Raises the stored serial to `serial`; a lower one is never written. 1 when written, 0 when
// the stored one is not lower, -1 when it could not be written.
int RaiseAcceptedSerial(const std::string& keyId, std::uint64_t serial);
