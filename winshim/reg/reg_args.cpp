#include "reg_args.h"

#include <algorithm>
#include <cctype>

namespace quelda_reg {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

struct Switch {
    const char* name;
    bool takesValue;
};

// The switches each verb knows. An argument that is none of them is positional, so that
// Linux paths such as /tmp/x.reg are not taken for switches.
std::vector<Switch> SwitchesOf(const std::string& verb) {
    std::vector<Switch> common = {{"reg:32", false}, {"reg:64", false}, {"?", false}};
    std::vector<Switch> own;
    if (verb == "add")
        own = {{"v", true}, {"ve", false}, {"t", true}, {"s", true}, {"d", true}, {"f", false}};
    else if (verb == "query")
        own = {{"v", true}, {"ve", false}, {"s", false}};
    else if (verb == "delete")
        own = {{"v", true}, {"ve", false}, {"va", false}, {"f", false}};
    else if (verb == "export")
        own = {{"y", false}};
    own.insert(own.end(), common.begin(), common.end());
    return own;
}

size_t PositionalCount(const std::string& verb) {
    return verb == "export" ? 2 : 1;
}

} // namespace

bool ParseArgs(const std::vector<std::string>& argv, Args* args, std::string* error) {
    if (argv.empty()) {
        *error = "ERROR: Invalid syntax.";
        return false;
    }
    args->verb = Lower(argv[0]);
    if (args->verb == "/?" || args->verb == "-?") {
        args->help = true;
        return true;
    }
    if (args->verb != "add" && args->verb != "query" && args->verb != "delete" &&
        args->verb != "import" && args->verb != "export") {
        *error = "ERROR: Invalid syntax: unknown operation \"" + argv[0] + "\".";
        return false;
    }
    std::vector<Switch> switches = SwitchesOf(args->verb);
    std::vector<std::string> seen;
    for (size_t i = 1; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        const Switch* sw = nullptr;
        if (a.size() > 1 && (a[0] == '/' || a[0] == '-')) {
            std::string name = Lower(a.substr(1));
            for (const Switch& s : switches)
                if (name == s.name)
                    sw = &s;
        }
        if (!sw) {
            args->positional.push_back(a);
            continue;
        }
        std::string name = sw->name;
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
            *error = "ERROR: Invalid syntax: " + a + " given twice.";
            return false;
        }
        seen.push_back(name);
        std::string value;
        if (sw->takesValue) {
            if (i + 1 >= argv.size()) {
                *error = "ERROR: Invalid syntax: " + a + " needs a value.";
                return false;
            }
            value = argv[++i];
        }
        if (name == "?")
            args->help = true;
        else if (name == "v")
            args->valueName = value;
        else if (name == "ve")
            args->defaultValue = true;
        else if (name == "va")
            args->allValues = true;
        else if (name == "t")
            args->type = value;
        else if (name == "d")
            args->data = value;
        else if (name == "s" && args->verb == "add")
            args->separator = value;
        else if (name == "s")
            args->recursive = true;
        else if (name == "f" || name == "y")
            args->force = true;
        else if (name == "reg:32" || name == "reg:64")
            args->view = name == "reg:32" ? 32 : 64;
    }
    if (args->help)
        return true;
    if (std::count(seen.begin(), seen.end(), "reg:32") &&
        std::count(seen.begin(), seen.end(), "reg:64")) {
        *error = "ERROR: Invalid syntax: /reg:32 and /reg:64 exclude each other.";
        return false;
    }
    if (args->positional.size() != PositionalCount(args->verb)) {
        *error = "ERROR: Invalid syntax.";
        return false;
    }
    int which =
        (args->valueName ? 1 : 0) + (args->defaultValue ? 1 : 0) + (args->allValues ? 1 : 0);
    if (which > 1) {
        *error = "ERROR: Invalid syntax: /v, /ve and /va exclude each other.";
        return false;
    }
    if (args->separator && args->separator->size() != 1) {
        *error = "ERROR: Invalid syntax: the separator of /s must be one character.";
        return false;
    }
    return true;
}

} // namespace quelda_reg
