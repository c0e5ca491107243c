#pragma once

#include <string>
#include <vector>

// What the command line asks the support server to do.
struct SupportOptions {
    std::string address = "127.0.0.1";
    int port = 8090; // 0: the system chooses
    std::string dbFile = "support.sqlite";
    std::string tokenFile = "support-token.txt";
    int keepDays = 90;        // 0: keep every report
    bool behindProxy = false; // --behind-proxy
    bool help = false;
};

// Parses the arguments (without the program name). On failure returns false with a message.
bool ParseOptions(const std::vector<std::string>& args, SupportOptions& options,
                  std::string& error);

std::string UsageText(const std::string& program);
