#include "options.h"

#include "access.h"
#include "net_address.h"
#include "option_args.h"

namespace {

bool ParseNumber(const std::string& text, int max, int& value) {
    return ParseBoundedNumber(text, 7, max, value);
}

bool SetCommand(SupportOptions& options, SupportOptions::Command command, std::string& error) {
    if (options.command != SupportOptions::Command::Serve) {
        error = "--add-staff, --remove-staff and --list-staff go one at a time";
        return false;
    }
    options.command = command;
    return true;
}

// "--behind-proxy ADDR" as "--behind-proxy=ADDR": the proxy's address is optional, and a next
// argument that is no option is it (this program takes no other plain arguments).
std::vector<std::string> JoinProxyAddress(const std::vector<std::string>& args) {
    std::vector<std::string> joined;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--behind-proxy" && i + 1 < args.size() && args[i + 1].rfind("-", 0) != 0) {
            joined.push_back(args[i] + "=" + args[i + 1]);
            ++i;
        } else {
            joined.push_back(args[i]);
        }
    }
    return joined;
}

} // namespace

bool ParseOptions(const std::vector<std::string>& rawArgs, SupportOptions& options,
                  std::string& error) {
    const std::vector<std::string> args = JoinProxyAddress(rawArgs);
    OptionArgs arg(args);
    bool proxy = false;
    std::string proxyAddress;
    while (arg.Next()) {
        const std::string& name = arg.Name();
        auto takeValue = [&](std::string& target) { return arg.TakeValue(target, error); };
        std::string text;
        if (name == "-h" || name == "--help") {
            options.help = true;
        } else if (name == "--behind-proxy") {
            proxy = true;
            if (arg.Argument() != name && !takeValue(proxyAddress))
                return false;
        } else if (name == "--address") {
            if (!takeValue(options.address))
                return false;
        } else if (name == "--db") {
            if (!takeValue(options.dbFile))
                return false;
        } else if (name == "--token-file") {
            if (!takeValue(options.tokenFile))
                return false;
        } else if (name == "--port") {
            if (!takeValue(text))
                return false;
            if (!ParseNumber(text, 65535, options.port)) {
                error = "--port must be a number from 0 to 65535";
                return false;
            }
        } else if (name == "--keep-days") {
            if (!takeValue(text))
                return false;
            if (!ParseNumber(text, 36500, options.keepDays)) {
                error = "--keep-days must be a number from 0 to 36500";
                return false;
            }
        } else if (name == "--max-db-mb") {
            if (!takeValue(text))
                return false;
            if (!ParseNumber(text, 1048576, options.maxDbMiB) || options.maxDbMiB < 1) {
                error = "--max-db-mb must be a number from 1 to 1048576";
                return false;
            }
        } else if (name == "--add-staff" || name == "--remove-staff") {
            if (!SetCommand(options,
                            name == "--add-staff" ? SupportOptions::Command::AddStaff
                                                  : SupportOptions::Command::RemoveStaff,
                            error) ||
                !takeValue(options.staffName))
                return false;
            if (!ValidStaffName(options.staffName)) {
                error = name + ": a name is 1 to 32 letters, digits, '.', '_' or '-'";
                return false;
            }
        } else if (name == "--list-staff") {
            if (!SetCommand(options, SupportOptions::Command::ListStaff, error))
                return false;
        } else {
            error = name.size() > 1 && name[0] == '-' ? "unknown option " + name
                                                      : "unexpected argument " + name;
            return false;
        }
    }
    if (options.help)
        return true;
    if (proxy) {
        if (proxyAddress.empty()) {
            options.proxies = {"127.0.0.1", "::1"};
        } else {
            const std::string canonical = CanonicalAddress(proxyAddress);
            if (canonical.empty()) {
                error = "--behind-proxy: " + proxyAddress + " is no IP address";
                return false;
            }
            options.proxies = {canonical};
        }
    }
    if (options.address.empty() || options.dbFile.empty() || options.tokenFile.empty()) {
        error = "--address, --db and --token-file must not be empty";
        return false;
    }
    return true;
}

std::string UsageText(const std::string& program) {
    return "usage: " + program + R"( [options]
       )" + program +
           R"( --db FILE --add-staff NAME | --remove-staff NAME | --list-staff

Receives the check reports that the environment check tool uploads, stores them in an
SQLite file, and serves the support staff's pages under /support/.

  --address ADDR        listen address (default 127.0.0.1)
  --port N              listen port, 0 lets the system choose (default 8090)
  --db FILE             the SQLite database (default support.sqlite), created mode 0600
  --token-file FILE     the token of the account "admin"; created with a new random token
                        (mode 0600) when missing (default support-token.txt)
  --keep-days N         delete reports older than N days, at start and hourly; 0 keeps
                        every report (default 90)
  --max-db-mb N         past N MiB of data new uploads are refused with 507 (default 2048);
                        one /24 or /64 may hold max(N/256, free/8) MiB of it
  --behind-proxy [ADDR] a proxy forwards the requests: take the client's address from the
                        X-Real-IP header of requests from ADDR (default 127.0.0.1 and ::1)
  --add-staff NAME      make an account and print its new token (once; only its SHA-256 is
                        kept), then exit
  --remove-staff NAME   remove an account; its sessions end at their next request
  --list-staff          list the accounts
  -h, --help            this text

Exit status: 0 done, 1 run-time failure, 2 invalid command line.
)";
}
