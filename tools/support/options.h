#pragma once

#include <string>
#include <vector>

// What the command line asks the support server to do.
struct SupportOptions {
    enum class Command { Serve, AddStaff, RemoveStaff, ListStaff };

    std::string address = "127.0.0.1";
    int port = 8090; // 0: the system chooses
    std::string dbFile = "support.sqlite";
    std::string tokenFile = "support-token.txt";
    int keepDays = 90; // 0: keep every report
    int maxDbMiB = 2048;
    // --behind-proxy [ADDR]: the proxies whose X-Real-IP is believed; empty: no proxy.
    std::vector<std::string> proxies;
    Command command = Command::Serve;
    std::string staffName; // --add-staff, --remove-staff
    bool help = false;
};

// Parses the arguments (without the program name). On failure returns false with a message.
bool ParseOptions(const std::vector<std::string>& args, SupportOptions& options,
                  std::string& error);

std::string UsageText(const std::string& program);
