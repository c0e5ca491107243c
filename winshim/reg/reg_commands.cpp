#include "reg_commands.h"

#include "machine_accounts.h"
#include "machine_bits.h"
#include "reg_data.h"
#include "reg_roots.h"
#include "reg_store.h"
#include "reg_views.h"
#include "reg_write.h"

#include <winshim/windows.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

namespace quelda_reg {

using namespace winshim::reg;

namespace {

const char kDone[] = "The operation completed successfully.";
const int kExitWarnings = 2; // imported, but lines were skipped
const char kNotFound[] =
    "ERROR: The system was unable to find the specified registry key or value.";

// "HKLM\Software\X" -> "HKEY_LOCAL_MACHINE\Software\X"; false for anything that is not a
// key of this machine (unknown root, remote "\\computer\..." names, empty components).
bool KeyPath(const std::string& arg, std::string* path) {
    size_t slash = arg.find('\\');
    std::string root = RootNameFromShortOrFull(arg.substr(0, slash));
    if (root.empty())
        return false;
    // As reg.exe run by the program's user: HKCU is that user's hive.
    if (root == "HKEY_CURRENT_USER")
        root = winshim::CurrentUserKeyPath();
    return NormalizeKeyPath(root + (slash == std::string::npos ? "" : arg.substr(slash)), path);
}

// The key that path names in the view of /reg:32 or /reg:64; the 64-bit view is the
// native one, the 32-bit view is what a 32-bit program sees (reg_views.h).
std::string InView(const std::string& path, int view, bool machineIs64Bit) {
    return ViewPath(path, view == 32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY, machineIs64Bit);
}

// How a query shows a key at or below `key`: under the name the command line gave (`named`),
// as reg.exe shows a key of the 32-bit view without the WOW6432Node that holds it.
std::string Shown(const std::string& path, const std::string& key, const std::string& named) {
    if (key == named)
        return path;
    size_t at = std::string::npos;
    for (size_t levels = std::count(key.begin(), key.end(), '\\') + 1; levels > 0; --levels) {
        at = path.find('\\', at + 1);
        if (at == std::string::npos)
            return named;
    }
    return named + path.substr(at);
}

bool Confirm(const std::string& question, std::istream& in, std::ostream& out) {
    out << question << " (Yes/No)? " << std::flush;
    std::string answer;
    if (!std::getline(in, answer))
        return false;
    for (char& c : answer)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return answer == "y" || answer == "yes";
}

// The message for a failed registry call.
std::string RegistryError(long rc, const ParseError& parse) {
    switch (rc) {
    case ERROR_BADDB:
        return "ERROR: " + RegistryFilePath() + " line " + std::to_string(parse.line) + ": " +
               parse.message;
    case ERROR_ACCESS_DENIED:
        return "ERROR: Access is denied: " + RegistryFilePath();
    case ERROR_CANTREAD:
        return "ERROR: Cannot read " + RegistryFilePath();
    case ERROR_CANTWRITE:
        return "ERROR: Cannot write " + RegistryFilePath();
    case ERROR_FILE_NOT_FOUND:
        return kNotFound;
    default:
        return "ERROR: Registry error " + std::to_string(rc) + ".";
    }
}

int Fail(std::ostream& err, const std::string& message) {
    err << message << "\n";
    return 1;
}

int Finish(long rc, const ParseError& parse, std::ostream& out, std::ostream& err) {
    if (rc != ERROR_SUCCESS)
        return Fail(err, RegistryError(rc, parse));
    out << kDone << "\n";
    return 0;
}

// The prompts run before the change, outside the registry lock, so that a waiting prompt
// never blocks other writers.
int Add(const Args& args, const std::string& key, std::istream& in, std::ostream& out,
        std::ostream& err) {
    bool value = args.valueName || args.defaultValue;
    if (!value && (args.type || args.data || args.separator))
        return Fail(err, "ERROR: Invalid syntax: /t, /d and /s need /v or /ve.");
    RegValue v;
    v.name = args.valueName.value_or("");
    if (v.name.find_first_of("\r\n") != std::string::npos)
        return Fail(err, "ERROR: Invalid syntax: a value name cannot hold a line break.");
    v.type = REG_SZ;
    if (args.type && !TypeFromName(*args.type, &v.type))
        return Fail(err, "ERROR: Invalid type \"" + *args.type +
                             "\": use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, "
                             "REG_QWORD, REG_BINARY or REG_NONE.");
    if (args.separator && v.type != REG_MULTI_SZ)
        return Fail(err, "ERROR: Invalid syntax: /s is for REG_MULTI_SZ only.");
    std::string error;
    char separator = args.separator ? (*args.separator)[0] : '\0';
    if (!DataFromText(v.type, args.data.value_or(""), separator, &v.data, &error))
        return Fail(err, error);
    ParseError parse;
    if (!IsCreatablePath(key)) {
        bool exists = false;
        long rc = ReadRegistry(
            [&](const RegModel& model) -> long {
                exists = model.Exists(key);
                return ERROR_SUCCESS;
            },
            &parse);
        if (rc != ERROR_SUCCESS)
            return Fail(err, RegistryError(rc, parse));
        if (!exists)
            return Fail(err, "ERROR: Access is denied: HKEY_USERS holds only the loaded user "
                             "hives.");
    }
    if (value && !args.force) {
        bool exists = false;
        long rc = ReadRegistry(
            [&](const RegModel& model) -> long {
                const RegKey* k = model.Find(key);
                exists = k && k->FindValue(v.name);
                return ERROR_SUCCESS;
            },
            &parse);
        if (rc != ERROR_SUCCESS)
            return Fail(err, RegistryError(rc, parse));
        std::string shown = v.name.empty() ? std::string("(Default)") : v.name;
        if (exists && !Confirm("Value " + shown + " exists, overwrite", in, out)) {
            out << "The operation was canceled by the user.\n";
            return 1;
        }
    }
    long rc = ModifyRegistry(
        [&](RegModel& model, bool* changed) -> long {
            RegKey& k = model.Ensure(key, changed);
            if (value) {
                k.SetValue(v);
                *changed = true;
            }
            return ERROR_SUCCESS;
        },
        &parse);
    return Finish(rc, parse, out, err);
}

void PrintValue(const RegValue& v, std::ostream& out) {
    out << "    " << (v.name.empty() ? "(Default)" : v.name) << "    " << TypeName(v.type) << "    "
        << DisplayData(v) << "\n";
}

int Query(const Args& args, const std::string& key, const std::string& named, std::ostream& out,
          std::ostream& err) {
    auto shown = [&](const std::string& path) { return Shown(path, key, named); };
    ParseError parse;
    std::ostringstream text;
    long rc = ReadRegistry(
        [&](const RegModel& model) -> long {
            if (!model.Exists(key))
                return ERROR_FILE_NOT_FOUND;
            const RegKey* k = model.Find(key);
            const std::string keyShown = shown(k ? k->path : key);
            if (args.valueName || args.defaultValue) {
                const RegValue* v = k ? k->FindValue(args.valueName.value_or("")) : nullptr;
                if (!v)
                    return ERROR_FILE_NOT_FOUND;
                text << "\n" << keyShown << "\n";
                PrintValue(*v, text);
                text << "\n";
                return ERROR_SUCCESS;
            }
            if (args.recursive) {
                std::vector<const RegKey*> keys = model.TreeOrder(key);
                if (!k)
                    text << "\n" << keyShown << "\n";
                for (const RegKey* sub : keys) {
                    text << "\n" << shown(sub->path) << "\n";
                    for (const RegValue& v : sub->values)
                        PrintValue(v, text);
                }
                text << "\n";
                return ERROR_SUCCESS;
            }
            text << "\n" << keyShown << "\n";
            if (k)
                for (const RegValue& v : k->values)
                    PrintValue(v, text);
            text << "\n";
            for (const RegKey* sub : model.Children(key))
                text << shown(sub->path) << "\n";
            return ERROR_SUCCESS;
        },
        &parse);
    if (rc != ERROR_SUCCESS)
        return Fail(err, RegistryError(rc, parse));
    out << text.str();
    return 0;
}

int Delete(const Args& args, const std::string& key, std::istream& in, std::ostream& out,
           std::ostream& err) {
    bool wholeKey = !args.valueName && !args.defaultValue && !args.allValues;
    if (wholeKey && IsRootPath(key))
        return Fail(err, "ERROR: Invalid key name: a root key cannot be deleted.");
    std::string name = args.valueName.value_or("");
    // Present: the key, and the value when one is named.
    auto present = [&](const RegModel& model) {
        const RegKey* k = model.Find(key);
        return model.Exists(key) && (wholeKey || args.allValues || (k && k->FindValue(name)));
    };
    ParseError parse;
    if (!args.force) {
        bool found = false;
        long rc = ReadRegistry(
            [&](const RegModel& model) -> long {
                found = present(model);
                return ERROR_SUCCESS;
            },
            &parse);
        if (rc != ERROR_SUCCESS)
            return Fail(err, RegistryError(rc, parse));
        if (!found)
            return Fail(err, kNotFound);
        std::string question =
            wholeKey ? "Permanently delete the registry key " + key
            : args.allValues
                ? "Delete all values under the registry key " + key
                : "Delete the registry value " + (name.empty() ? std::string("(Default)") : name);
        if (!Confirm(question, in, out)) {
            out << "The operation was canceled by the user.\n";
            return 1;
        }
    }
    long rc = ModifyRegistry(
        [&](RegModel& model, bool* changed) -> long {
            if (!present(model))
                return ERROR_FILE_NOT_FOUND;
            RegKey* k = model.Find(key);
            if (wholeKey)
                model.DeleteTree(key);
            else if (args.allValues && k)
                k->values.clear();
            else if (k)
                k->DeleteValue(name);
            *changed = true;
            return ERROR_SUCCESS;
        },
        &parse);
    return Finish(rc, parse, out, err);
}

int Import(const std::string& file, int view, std::ostream& out, std::ostream& err) {
    std::ifstream stream(std::filesystem::u8path(file), std::ios::binary);
    if (!stream)
        return Fail(err, "ERROR: Cannot open the file " + file + ".");
    std::ostringstream bytes;
    bytes << stream.rdbuf();
    std::vector<RegOp> ops;
    std::vector<ParseError> warnings;
    ParseError error;
    if (!ParseImportText(bytes.str(), &ops, &error, &warnings))
        return Fail(err, "ERROR: " + file + " line " + std::to_string(error.line) + ": " +
                             error.message);
    ParseError parse;
    long rc = ModifyRegistry(
        [&](RegModel& model, bool* changed) -> long {
            const bool is64 = Is64BitMachine(model);
            for (RegOp& op : ops)
                op.key = InView(op.key, view, is64);
            ApplyRegOps(ops, &model);
            *changed = true;
            return ERROR_SUCCESS;
        },
        &parse);
    if (rc != ERROR_SUCCESS || warnings.empty())
        return Finish(rc, parse, out, err);
    // Like regedit, the rest of the file is imported; what was left out is named by line.
    for (const ParseError& w : warnings)
        err << "WARNING: " << file << " line " << w.line << ": " << w.message << "\n";
    out << "The file was imported with " << warnings.size()
        << (warnings.size() == 1 ? " warning.\n" : " warnings.\n");
    return kExitWarnings;
}

int Export(const Args& args, const std::string& key, const std::string& file, std::istream& in,
           std::ostream& out, std::ostream& err) {
    std::string text;
    ParseError parse;
    long rc = ReadRegistry(
        [&](const RegModel& model) -> long {
            if (!model.Exists(key))
                return ERROR_FILE_NOT_FOUND;
            text = SerializeSubtree(model, model.Find(key) ? model.Find(key)->path : key);
            return ERROR_SUCCESS;
        },
        &parse);
    if (rc != ERROR_SUCCESS)
        return Fail(err, RegistryError(rc, parse));
    std::filesystem::path path = std::filesystem::u8path(file);
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && !args.force &&
        !Confirm("File " + file + " already exists. Overwrite", in, out)) {
        out << "The operation was canceled by the user.\n";
        return 1;
    }
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream << text;
    stream.close();
    if (!stream)
        return Fail(err, "ERROR: Cannot write the file " + file + ".");
    out << kDone << "\n";
    return 0;
}

} // namespace

void PrintUsage(std::ostream& out) {
    out << "quelda-reg: the registry of the machine folder ($QUELDA_MACHINE), in the manner of "
           "reg.exe.\n\n"
           "  quelda-reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]\n"
           "  quelda-reg query KEY [/v NAME | /ve] [/s]\n"
           "  quelda-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
           "  quelda-reg import FILE\n"
           "  quelda-reg export KEY FILE [/y]\n"
           "Each takes /reg:32 or /reg:64: the registry view of 32-bit or of 64-bit programs\n"
           "on a 64-bit Windows (default /reg:64; a 32-bit Windows has one view).\n\n"
           "KEY starts with HKLM, HKCU, HKCR, HKU, HKCC or a full root name, e.g.\n"
           "HKLM\\SOFTWARE\\Vendor. TYPE: REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ (items\n"
           "separated by \\0 or SEP), REG_DWORD and REG_QWORD (decimal or 0x hex), REG_BINARY\n"
           "and REG_NONE (hex digits). A file to import is read as Windows reads it: UTF-16\n"
           "with a byte-order mark, otherwise in code page 936; lines that do not parse are\n"
           "skipped with a warning. Exit status 0 on success, 1 on failure, 2 when an import\n"
           "skipped lines.\n";
}

int RunCommand(const Args& args, std::istream& in, std::ostream& out, std::ostream& err) {
    if (args.help) {
        PrintUsage(out);
        return 0;
    }
    if (args.verb == "import")
        return Import(args.positional[0], args.view, out, err);
    std::string key;
    if (!KeyPath(args.positional[0], &key))
        return Fail(err, "ERROR: Invalid key name: " + args.positional[0]);
    const std::string named = key;
    if (args.view == 32)
        key = InView(key, args.view, Is64BitMachine());
    if (args.verb == "add")
        return Add(args, key, in, out, err);
    if (args.verb == "query")
        return Query(args, key, named, out, err);
    if (args.verb == "delete")
        return Delete(args, key, in, out, err);
    return Export(args, key, args.positional[1], in, out, err);
}

} // namespace quelda_reg
