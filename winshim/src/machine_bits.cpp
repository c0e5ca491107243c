#include "machine_bits.h"

#include "reg_store.h"

#include <winshim/windows.h>

namespace winshim::reg {

namespace {
const char kEnvironmentKey[] =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
} // namespace

bool Is64BitMachine(const RegModel& model) {
    const RegKey* key = model.Find(kEnvironmentKey);
    const RegValue* value = key ? key->FindValue("PROCESSOR_ARCHITECTURE") : nullptr;
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ))
        return false;
    std::string arch = Utf16LeToUtf8(value->data);
    while (!arch.empty() && arch.back() == '\0')
        arch.pop_back();
    return EqualNoCase(arch, "AMD64") || EqualNoCase(arch, "ARM64");
}

bool Is64BitMachine() {
    bool is64 = false;
    ReadRegistry([&](const RegModel& model) -> long {
        is64 = Is64BitMachine(model);
        return ERROR_SUCCESS;
    });
    return is64;
}

} // namespace winshim::reg
