#include "app/check_options.h"

#include "engine/region_table.h"

#include <map>

std::string CheckUsage() {
    return "usage: quelda-envcheck --check [--region " + RegionKeys("|") +
           "] [--report FILE|-]\n"
           "                       [--format json|text] [--upload]\n"
           "--upload sends the JSON report to the support server that the server document names\n"
           "and prints the report's code on standard output\n"
           "exit status: 0 all in order, 1 something needs repair, 2 server unreachable or its\n"
           "document unusable, 64 bad command line, 74 report not written, 75 upload failed\n"
           "       quelda-envcheck --repair [--region " +
           RegionKeys("|") +
           "] [--report FILE|-]\n"
           "                       [--format json|text] [--upload]\n"
           "repairs what the check finds as the repair button does (the IE settings, then the\n"
           "installers, started with their silentArgs), checks again and writes that report;\n"
           "one line per step on standard output (standard error when the report goes there)\n"
           "exit status: 0 all in order after the repair, 1 something still needs repair,\n"
           "2 server unreachable or its document unusable, 3 a restart of Windows is needed,\n"
           "4 an installer was cancelled or Windows Installer was busy, 64, 74, 75 as --check\n"
           "       quelda-envcheck --update [--region " +
           RegionKeys("|") +
           "]\n"
           "installs the release of this program that the signed server document offers\n"
           "exit status: 0 installed or nothing to install, 2 server unreachable or its\n"
           "document unusable, 3 installed, Windows must restart to finish it, 5 the release "
           "refused (download, size, sha256, version,\n"
           "publisher), 6 it could not be put in place (the old program is unchanged),\n"
           "64 bad command line\n";
}

bool WantsHeadlessCheck(const std::vector<std::string>& args) {
    for (const std::string& arg : args)
        if (arg == "--check" || arg == "--update" || arg == "--repair")
            return true;
    return false;
}

bool ParseCheckOptions(const std::vector<std::string>& args, CheckOptions& options,
                       std::string& error) {
    std::map<std::string, std::string> values;
    bool check = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (name == "--check") {
            check = true;
            continue;
        }
        if (name == "--update") {
            options.update = true;
            continue;
        }
        if (name == "--repair") {
            options.repair = true;
            continue;
        }
        if (name == "--upload") {
            options.upload = true;
            continue;
        }
        std::string value;
        const std::size_t eq = name.find('=');
        if (eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.erase(eq);
        }
        if (name != "--region" && name != "--report" && name != "--format") {
            error = "unknown argument: " + args[i];
            return false;
        }
        if (eq == std::string::npos) {
            if (i + 1 == args.size()) {
                error = name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (value.empty() || !values.emplace(name, value).second) {
            error = value.empty() ? name + " needs a value" : name + " given twice";
            return false;
        }
    }
    const int jobs = int(check) + int(options.update) + int(options.repair);
    if (jobs != 1) {
        error =
            jobs ? "only one of --check, --repair and --update can be given" : "--check missing";
        return false;
    }
    if (options.update &&
        (options.upload || values.count("--report") || values.count("--format"))) {
        error = "--update takes only --region";
        return false;
    }
    if (values.count("--region")) {
        const int region = RegionIndexOf(values["--region"]);
        if (region < 0) {
            error = "unknown region: " + values["--region"];
            return false;
        }
        options.regionIndex = region;
    }
    if (values.count("--report"))
        options.report = values["--report"];
    if (values.count("--format")) {
        options.format = values["--format"];
        if (options.format != "json" && options.format != "text") {
            error = "unknown format: " + options.format;
            return false;
        }
    } else {
        const std::string& r = options.report;
        const bool txt = r.size() >= 4 && (r.compare(r.size() - 4, 4, ".txt") == 0 ||
                                           r.compare(r.size() - 4, 4, ".TXT") == 0);
        options.format = txt ? "text" : "json";
    }
    return true;
}
