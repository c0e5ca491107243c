// Whether the machine folder is a 64-bit Windows: as on Windows, its registry says so in
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment, PROCESSOR_ARCHITECTURE
// ("AMD64" or "ARM64"; "x86" or no value is a 32-bit Windows).
#pragma once

#include "reg_model.h"

namespace winshim::reg {

bool Is64BitMachine(const RegModel& model);
// Reads the registry file; a registry that cannot be read counts as a 32-bit machine.
bool Is64BitMachine();

} // namespace winshim::reg
