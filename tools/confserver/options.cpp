#include "options.h"

#include "net_address.h"
#include "option_args.h"

#include <regex>

namespace {

bool ParsePort(const std::string& text, int& port) {
    return ParseBoundedNumber(text, 5, 65535, port);
}

// "--behind-proxy ADDR" as "--behind-proxy=ADDR": the proxy's address is optional, and a next
// argument is it when it is an IP address (the document file is none).
std::vector<std::string> JoinProxyAddress(const std::vector<std::string>& args) {
    std::vector<std::string> joined;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--behind-proxy" && i + 1 < args.size() &&
            !CanonicalAddress(args[i + 1]).empty()) {
            joined.push_back(args[i] + "=" + args[i + 1]);
            ++i;
        } else {
            joined.push_back(args[i]);
        }
    }
    return joined;
}

} // namespace

std::string CheckBaseUrl(std::string& baseUrl) {
    while (baseUrl.size() > 7 && baseUrl.back() == '/')
        baseUrl.pop_back();
    // https: the exported folder served by a web server with TLS (nginx in front).
    static const std::regex form(R"(https?://([^/:\s]+)(:([0-9]{1,5}))?)");
    std::smatch m;
    if (!std::regex_match(baseUrl, m, form))
        return "must be http://HOST[:PORT] or https://HOST[:PORT] without a path";
    if (m[3].matched) {
        int port = 0;
        if (!ParsePort(m[3].str(), port) || port == 0)
            return "port must be a number from 1 to 65535";
    }
    return {};
}

bool ParseOptions(const std::vector<std::string>& rawArgs, ServerOptions& options,
                  std::string& error) {
    const std::vector<std::string> args = JoinProxyAddress(rawArgs);
    std::vector<std::string> positional;
    bool proxy = false;
    std::string proxyAddress;
    OptionArgs arg(args);
    while (arg.Next()) {
        const std::string& name = arg.Name();
        auto takeValue = [&](std::string& target) { return arg.TakeValue(target, error); };

        if (name == "-h" || name == "--help") {
            options.help = true;
        } else if (name == "--check") {
            options.checkOnly = true;
        } else if (name == "--fill-sha256") {
            options.fillSha256 = true;
        } else if (name == "--files") {
            if (!takeValue(options.filesDir))
                return false;
        } else if (name == "--path") {
            if (!takeValue(options.documentPath))
                return false;
        } else if (name == "--files-prefix") {
            if (!takeValue(options.filesPrefix))
                return false;
        } else if (name == "--address") {
            if (!takeValue(options.address))
                return false;
        } else if (name == "--port") {
            std::string text;
            if (!takeValue(text))
                return false;
            if (!ParsePort(text, options.port)) {
                error = "--port must be a number from 0 to 65535";
                return false;
            }
        } else if (name == "--base-url") {
            if (!takeValue(options.baseUrl))
                return false;
        } else if (name == "--export") {
            if (!takeValue(options.exportDir))
                return false;
        } else if (name == "--behind-proxy") {
            proxy = true;
            if (arg.Argument() != name && !takeValue(proxyAddress))
                return false;
        } else if (name == "--signed") {
            options.signedDocument = true;
        } else if (name == "--doc-key") {
            std::string file;
            if (!takeValue(file))
                return false;
            options.docKeyFiles.push_back(file);
        } else if (name == "--output") {
            if (!takeValue(options.outputFile))
                return false;
        } else if (name.size() > 1 && name[0] == '-') {
            error = "unknown option " + name;
            return false;
        } else {
            positional.push_back(arg.Argument());
        }
    }
    if (options.help)
        return true;
    if (proxy) {
        const std::string canonical = CanonicalAddress(proxyAddress);
        if (!proxyAddress.empty() && canonical.empty()) {
            error = "--behind-proxy: " + proxyAddress + " is no IP address";
            return false;
        }
        options.proxies = proxyAddress.empty() ? std::vector<std::string>{"127.0.0.1", "::1"}
                                               : std::vector<std::string>{canonical};
    }

    if (positional.size() != 1) {
        error = positional.empty() ? "the document file is missing"
                                   : "only one document file can be given";
        return false;
    }
    options.documentFile = positional[0];

    if (options.documentPath.empty() || options.documentPath[0] != '/') {
        error = "--path must start with /";
        return false;
    }
    if (options.filesPrefix.empty() || options.filesPrefix[0] != '/') {
        error = "--files-prefix must start with /";
        return false;
    }
    if (options.filesPrefix.back() != '/')
        options.filesPrefix += '/';
    if (options.filesPrefix == "/") {
        error = "--files-prefix must name a folder below /, such as /files/";
        return false;
    }
    if (options.documentPath.rfind(options.filesPrefix, 0) == 0) {
        error = "--path must not lie under --files-prefix";
        return false;
    }
    if (options.address.empty()) {
        error = "--address must not be empty";
        return false;
    }
    if (!options.baseUrl.empty()) {
        std::string problem = CheckBaseUrl(options.baseUrl);
        if (!problem.empty()) {
            error = "--base-url " + problem;
            return false;
        }
    }
    if (options.checkOnly && options.fillSha256) {
        error = "--check and --fill-sha256 cannot be combined";
        return false;
    }
    if (options.fillSha256 && options.filesDir.empty()) {
        error = "--fill-sha256 needs --files";
        return false;
    }
    if (!options.exportDir.empty() && (options.checkOnly || options.fillSha256)) {
        error = "--export cannot be combined with --check or --fill-sha256";
        return false;
    }
    if (!options.exportDir.empty() && options.baseUrl.empty()) {
        error = "--export needs --base-url (the address of the web server that serves it)";
        return false;
    }
    if (options.signedDocument &&
        (options.fillSha256 || !options.exportDir.empty() || !options.baseUrl.empty())) {
        error = "--signed serves an exported document as it is: no --fill-sha256, --export or "
                "--base-url";
        return false;
    }
    if (!options.docKeyFiles.empty() && !options.checkOnly && !options.signedDocument) {
        error = "--doc-key is used with --check or --signed";
        return false;
    }
    if (options.docKeyFiles.size() > 2) {
        error = "at most two --doc-key (the key in use and the next one)";
        return false;
    }
    if (!options.outputFile.empty() && !options.fillSha256) {
        error = "--output is only used with --fill-sha256";
        return false;
    }
    return true;
}

std::string UsageText(const std::string& program) {
    return "usage: " + program + R"( [options] DOCUMENT.json

Serves the server configuration document DOCUMENT.json (UTF-8 on disk, GBK on the wire)
and the installer files of a folder.

  --address ADDR        listen address (default 127.0.0.1)
  --port N              listen port, 0 lets the system choose (default 8080)
  --path PATH           URL path of the document (default /envcheck/config.json)
  --files DIR           serve the files of DIR ...
  --files-prefix P      ... under the URL prefix P (default /files/)
  --base-url URL        http[s]://HOST[:PORT] put in place of {{BASE}} in the document's
                        strings (default: the address and port the server listens on)
  --check               validate the document and exit (0 valid, 2 invalid)
  --fill-sha256         write the sha256 and size of every installer served from DIR into
                        the document (in place, or into --output FILE) and exit
  --output FILE         with --fill-sha256: write the filled document there
  --export DIR          write what the server would serve into DIR as static files (the
                        GBK document at its path, the installers under their prefix), for
                        any web server to serve from there, and exit; needs --base-url
  --signed              DOCUMENT is a document as --export wrote it (GBK), signed by the
                        operator: served byte for byte, with DOCUMENT.minisig at the
                        document's path with .minisig appended
  --behind-proxy [ADDR] a proxy forwards the requests: the log names the client from the
                        X-Real-IP header of requests from ADDR (default 127.0.0.1 and ::1),
                        and ADDR is not held to the connections per address
  --doc-key KEY.pub     a minisign public key (repeatable, at most two). With --check:
                        DOCUMENT is the exported document; its signature DOCUMENT.minisig
                        is verified and whatever a signed document lacks is listed. With
                        --signed: the server starts only with a document that verifies
  -h, --help            this text

A document must be signed again after every change: --export it, then
  minisign -S -m DIR/envcheck/config.json -t "serial=N expires=YYYY-MM-DDTHH:MM:SSZ"
with a serial higher than the last one.

Exit status: 0 done, 1 run-time failure, 2 invalid document or command line.
)";
}
