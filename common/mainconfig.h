#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

// The start-up settings read from config.json in the current directory. The main window
// holds one; the check panel gets a copy.
struct MainConfig {
    QString topTitle;
    std::string ipPort;
    std::string url;
    int width = 960;
    int high = 720;
    // mainCfg.docKeys: the minisign public keys (base64 lines) the server document must be
    // signed with; empty: the document is used unsigned. Keys built into the program win.
    std::vector<std::string> docKeys;
    // mainCfg.installerLimitMB: the largest installer (MB) whose entry names no `size`;
    // 0 keeps the program's default.
    std::uint64_t installerLimitMB = 0;
};
