#include "app/configfile.h"

#include "engine/download/download_limits.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace {

using nlohmann::json;

// A number converted as the JSON library converts it (fraction truncated toward zero, a
// boolean as 0 or 1), refusing values that do not fit an int instead of overflowing.
int ToInt(const json& value) {
    constexpr auto kMin = std::numeric_limits<int>::min();
    constexpr auto kMax = std::numeric_limits<int>::max();
    bool fits = true;
    if (value.is_number_float()) {
        const double d = value.get<double>();
        fits = std::isfinite(d) && d > double(kMin) - 1.0 && d < double(kMax) + 1.0;
    } else if (value.is_number_unsigned()) {
        fits = value.get<std::uint64_t>() <= std::uint64_t(kMax);
    } else if (value.is_number_integer()) {
        const auto i = value.get<std::int64_t>();
        fits = i >= kMin && i <= kMax;
    }
    if (!fits) {
        throw std::out_of_range("number out of int range: " + value.dump());
    }
    return value.get<int>();
}

void PrintParseError(std::FILE* messages, const char* what) {
    std::fprintf(messages, "json parse error:%s", what);
    std::fflush(messages);
}

void ReadDocKeys(const json& mainCfg, MainConfig& cfg, std::FILE* messages) {
    cfg.docKeys.clear();
    auto it = mainCfg.find("docKeys");
    if (it == mainCfg.end())
        return;
    bool texts = it->is_array();
    if (texts)
        for (const json& key : *it)
            texts = texts && key.is_string();
    if (!texts) {
        PrintParseError(messages, "mainCfg.docKeys is not an array of texts");
        return;
    }
    for (const json& key : *it)
        cfg.docKeys.push_back(key.get<std::string>());
}

void ReadInstallerLimit(const json& mainCfg, MainConfig& cfg, std::FILE* messages) {
    cfg.installerLimitMB = 0;
    auto it = mainCfg.find("installerLimitMB");
    if (it == mainCfg.end())
        return;
    // Below 2^20 MB, so that the limit in bytes fits 64 bits with room to spare.
    if (!it->is_number_unsigned() || it->get<std::uint64_t>() == 0 ||
        it->get<std::uint64_t>() >= (std::uint64_t(1) << 20)) {
        PrintParseError(messages, "mainCfg.installerLimitMB is not a number of MB");
        return;
    }
    cfg.installerLimitMB = it->get<std::uint64_t>();
}

} // namespace

void ApplyDownloadSettings(const MainConfig& cfg) {
    DownloadLimits limits = CurrentDownloadLimits();
    if (cfg.installerLimitMB != 0)
        limits.installerMaxBytes = cfg.installerLimitMB << 20;
    SetDownloadLimits(limits);
}

bool ParseMainCfg(const json& doc, MainConfig& cfg, std::FILE* messages) {
    bool allRead = true;
    try {
        const json& mainCfg = doc.at("mainCfg");
        // Each step looks its member up; an absent one is reported and skipped.
        auto member = [&](const char* key) -> const json* {
            auto it = mainCfg.find(key);
            if (it == mainCfg.end()) {
                PrintParseError(messages,
                                ("key '" + std::string(key) + "' not found in mainCfg").c_str());
                allRead = false;
                return nullptr;
            }
            return &*it;
        };
        if (!mainCfg.is_object()) {
            throw std::invalid_argument("mainCfg is not an object");
        }
        // First, so that a fault in another member never leaves the document unchecked.
        ReadDocKeys(mainCfg, cfg, messages);
        ReadInstallerLimit(mainCfg, cfg, messages);
        if (const json* v = member("topTitle")) {
            cfg.topTitle = QString::fromStdString(v->get<std::string>());
        }
        if (const json* v = member("ipPort")) {
            cfg.ipPort = v->get<std::string>();
        }
        if (const json* v = member("url")) {
            cfg.url = v->get<std::string>();
        }
        if (const json* v = member("width")) {
            cfg.width = ToInt(*v);
        }
        if (const json* v = member("high")) {
            cfg.high = ToInt(*v);
        }
        return allRead;
    } catch (const std::exception& e) {
        PrintParseError(messages, e.what());
        return false;
    }
}

bool ReadConfig(MainConfig& cfg, std::FILE* messages) {
    try {
        const std::filesystem::path path = std::filesystem::current_path() / "config.json";
        std::ifstream in(path);
        if (!in.is_open()) {
            return false;
        }
        // Stream mode: one JSON value is read and whatever follows it is ignored.
        json doc;
        in >> doc;
        ParseMainCfg(doc, cfg, messages);
        return true;
    } catch (const std::exception& e) {
        std::fprintf(messages, "config read error : %s", e.what());
        std::fflush(messages);
        return false;
    }
}
