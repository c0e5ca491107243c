// Writing the registry editor's export format ("Windows Registry Editor Version 5.00") as
// regedit saves it: UTF-16LE with a byte-order mark and CRLF line ends, which Windows and
// Wine read back unchanged (a file without the mark they read in the ANSI code page). String values
// that are plain one-line text are written quoted; anything else (no terminator, embedded NULs,
// line breaks) as hex(1) bytes, so that reading the text back gives exactly the same data.
#pragma once

#include "reg_model.h"

#include <string>

namespace winshim::reg {

std::string SerializeRegistry(const RegModel& model);
// Only the key at path and its subkeys; the key line is written even for a root without
// values.
std::string SerializeSubtree(const RegModel& model, const std::string& path);

// One value line ("name"=data) in UTF-8 without line end, wrapped as regedit wraps hex
// data (with "\n" between the pieces).
std::string ValueLine(const RegValue& value);

} // namespace winshim::reg
