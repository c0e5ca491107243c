// Reading the registry editor's export format: "Windows Registry Editor Version 5.00" or
// "REGEDIT4", in UTF-8 (with or without BOM) or UTF-16 with BOM. The text becomes a list of
// operations in file order, so that the same parse serves loading a registry file (applied
// to an empty registry) and importing one (applied to the current registry, deletions
// included).
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

bool ParseRegText(const std::string& bytes, std::vector<RegOp>* ops, ParseError* error);
void ApplyRegOps(const std::vector<RegOp>& ops, RegModel* model);
// Parses and applies to an empty registry.
bool LoadRegText(const std::string& bytes, RegModel* model, ParseError* error);

} // namespace winshim::reg
