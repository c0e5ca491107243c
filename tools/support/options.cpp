#include "options.h"

#include "option_args.h"

namespace {

bool ParseNumber(const std::string& text, int max, int& value) {
    return ParseBoundedNumber(text, 6, max, value);
}

} // namespace

bool ParseOptions(const std::vector<std::string>& args, SupportOptions& options,
                  std::string& error) {
    OptionArgs arg(args);
    while (arg.Next()) {
        const std::string& name = arg.Name();
        auto takeValue = [&](std::string& target) { return arg.TakeValue(target, error); };
        std::string text;
        if (name == "-h" || name == "--help") {
            options.help = true;
        } else if (name == "--behind-proxy") {
            options.behindProxy = true;
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
        } else {
            error = name.size() > 1 && name[0] == '-' ? "unknown option " + name
                                                      : "unexpected argument " + name;
            return false;
        }
    }
    if (options.help)
        return true;
    if (options.address.empty() || options.dbFile.empty() || options.tokenFile.empty()) {
        error = "--address, --db and --token-file must not be empty";
        return false;
    }
    return true;
}

std::string UsageText(const std::string& program) {
    return "usage: " + program + R"( [options]

Receives the check reports that the environment check tool uploads, stores them in an
SQLite file, and serves the support staff's pages under /support/.

  --address ADDR        listen address (default 127.0.0.1)
  --port N              listen port, 0 lets the system choose (default 8090)
  --db FILE             the SQLite database (default support.sqlite)
  --token-file FILE     the staff's access token; created with a new random token
                        (mode 0600) when missing (default support-token.txt)
  --keep-days N         delete reports older than N days, at start and hourly; 0 keeps
                        every report (default 90)
  --behind-proxy        a proxy on this machine forwards the requests: take the client's
                        address from its X-Real-IP header
  -h, --help            this text

Exit status: 0 done, 1 run-time failure, 2 invalid command line.
)";
}
