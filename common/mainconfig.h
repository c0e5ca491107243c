#pragma once

#include <QString>
#include <string>

// The start-up settings read from config.json in the current directory. The main window
// holds one; the check panel gets a copy.
struct MainConfig {
    QString topTitle;
    std::string ipPort;
    std::string url;
    int width = 960;
    int high = 720;
};
