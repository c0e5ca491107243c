#pragma once

#include <string>
#include <vector>

// What the command line asks the configuration server to do.
struct ServerOptions {
    std::string documentFile; // the server configuration document (UTF-8)
    std::string filesDir;     // installer folder; empty: serve no files
    std::string documentPath = "/envcheck/config.json";
    std::string filesPrefix = "/files/"; // always starts and ends with '/'
    std::string address = "127.0.0.1";
    int port = 8080;         // 0: the system chooses
    std::string baseUrl;     // "http://host[:port]"; empty: the listening address
    bool checkOnly = false;  // --check
    bool fillSha256 = false; // --fill-sha256
    std::string outputFile;  // --output (with --fill-sha256)
    std::string exportDir;   // --export: write what would be served there and exit
    // --signed: DOCUMENT is an exported document (GBK) with DOCUMENT.minisig beside it,
    // both served byte for byte.
    bool signedDocument = false;
    std::vector<std::string> docKeyFiles; // --doc-key (repeatable): minisign .pub files
    // --behind-proxy [ADDR]: the proxies whose X-Real-IP is believed; empty: no proxy.
    std::vector<std::string> proxies;
    bool help = false;
};

// The text replaced by the base URL inside the document's strings when it is served.
inline const char kBasePlaceholder[] = "{{BASE}}";

// Parses the arguments (without the program name). On failure returns false with a message.
bool ParseOptions(const std::vector<std::string>& args, ServerOptions& options, std::string& error);

// Checks "http://host[:port]" without a path (a trailing slash is removed). Returns an empty
// text when valid, otherwise what is wrong.
std::string CheckBaseUrl(std::string& baseUrl);

std::string UsageText(const std::string& program);
