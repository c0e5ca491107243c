// Reading the registry editor's export format: "Windows Registry Editor Version 5.00" or
// "REGEDIT4". The text becomes a list of operations in file order, so that the same parse
// serves loading a registry file (applied to an empty registry) and importing one (applied
// to the current registry, deletions included).
//
// The machine's own registry file is read strictly: UTF-16 with BOM as written now, UTF-8
// with or without BOM as written before (REGEDIT4 lines in code page 936), and any fault
// fails the whole file. An imported file is read as Windows reads it: UTF-16 with a BOM,
// otherwise code page 936 whatever its header (a UTF-8 BOM is accepted too); a line that
// does not parse is skipped with a warning, and string data given as hex in a code page
// file is converted from the code page.
#pragma once

#include "reg_model.h"

#include <string>
#include <vector>

namespace winshim::reg {

struct ParseError {
    int line = 0; // 1-based line of the file
    std::string message;
};

enum class RegOpKind { CreateKey, DeleteKey, SetValue, DeleteValue };

struct RegOp {
    RegOpKind kind = RegOpKind::CreateKey;
    std::string key; // normalized path
    RegValue value;  // SetValue: the value; DeleteValue: its name
};

// The machine's registry file: false on the first fault.
bool ParseRegText(const std::string& bytes, std::vector<RegOp>* ops, ParseError* error);
// A file to import: false only when it is not a registry file at all; every skipped line
// adds a warning.
bool ParseImportText(const std::string& bytes, std::vector<RegOp>* ops, ParseError* error,
                     std::vector<ParseError>* warnings);
void ApplyRegOps(const std::vector<RegOp>& ops, RegModel* model);
// Parses and applies to an empty registry.
bool LoadRegText(const std::string& bytes, RegModel* model, ParseError* error);

} // namespace winshim::reg
