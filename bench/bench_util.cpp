#include "bench_util.h"

#include "pe_fixture.h"
#include "probes/registry.h"
#include "temp_machine.h"

#include <ctime>
#include <utime.h>

namespace fs = std::filesystem;
using nlohmann::json;

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

json InstallDrivers(const TempMachine& machine, int count) {
    json drivers = json::array();
    const long long fileTime = 1697074200 + 30; // "2023-10-12 09:30" at UTC+8
    for (int i = 0; i < count; ++i) {
        const std::string name = "drv" + std::to_string(i) + ".dll";
        const std::string dir = "C:\\Program Files\\CA\\" + std::to_string(i);
        const std::string key = "SOFTWARE\\CA\\" + std::to_string(i);
        RegSetStrValue(RegRootKey("HKEY_LOCAL_MACHINE"), key, "InstallPath", dir);
        const fs::path file = machine.Native(dir + "\\" + name);
        WritePe(file, "1.2.3." + std::to_string(i));
        utimbuf t{static_cast<time_t>(fileTime), static_cast<time_t>(fileTime)};
        utime(file.c_str(), &t);
        drivers.push_back({{"path", "计算机\\HKEY_LOCAL_MACHINE\\" + key},
                           {"key", "InstallPath"},
                           {"fileName", name},
                           {"fileVersion", "1.2.3." + std::to_string(i)},
                           {"fileModifyDtm", "2023-10-12 09:30"},
                           {"url", "http://127.0.0.1:1/x"}});
    }
    return drivers;
}

json BenchDocument(const json& drivers) {
    json doc;
    doc["shanxi"] = {{"framework", {{"path", "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\N"}}},
                     {"tool",
                      {{"path", "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\T"},
                       {"key", "k"},
                       {"fileName", "t.config"},
                       {"fileVersion", "1"}}},
                     {"driver", drivers}};
    return doc;
}
