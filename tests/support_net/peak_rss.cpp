#include "peak_rss.h"

#include <fstream>
#include <string>
#include <sys/resource.h>

long PeakRssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void ResetPeakRss() {
    std::ofstream("/proc/self/clear_refs") << "5";
}
