// Value types and data as reg.exe's command line writes and shows them.
#pragma once

#include "reg_model.h"

#include <cstdint>
#include <string>

namespace quelda_reg {

// "REG_SZ" for 1; "REG_0x<hex>" for a type without a name.
std::string TypeName(uint32_t type);
// The types that add accepts (any case); false for others.
bool TypeFromName(const std::string& name, uint32_t* type);
// The stored data for /d text of a type: strings as UTF-16LE with terminator, REG_MULTI_SZ
// split at separator (or the two characters "\0" when separator is 0), numbers in decimal
// or 0x hex, REG_BINARY and REG_NONE as a string of hex digits. false with a message when the
// text does not fit the type.
bool DataFromText(uint32_t type, const std::string& text, char separator, winshim::reg::Bytes* data,
                  std::string* error);
// The data as query prints it.
std::string DisplayData(const winshim::reg::RegValue& value);

} // namespace quelda_reg
