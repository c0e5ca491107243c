#pragma once

#include "common/mainconfig.h"

#include <cstdio>
#include <nlohmann/json_fwd.hpp>

// Reads config.json from the current working directory into cfg. False when the file is
// absent (nothing printed, cfg untouched) or does not parse ("config read error : %s" on
// `messages`, standard output by default). Never throws.
bool ReadConfig(MainConfig& cfg, std::FILE* messages = stdout);

// Copies mainCfg.topTitle, ipPort, url, width and high into cfg, in that order. A member of
// the wrong type, or a root or mainCfg that is not an object, prints "json parse error:%s"
// and stops: that member and the later ones keep their values. An absent member is reported
// the same way but skipped, so the members after it are still read. True when all five were
// read. mainCfg.docKeys and mainCfg.installerLimitMB, optional, are read on their own first:
// one of the wrong kind is reported and left empty (0). Never throws.
bool ParseMainCfg(const nlohmann::json& doc, MainConfig& cfg, std::FILE* messages = stdout);

// Gives the downloads what config.json says of them (mainCfg.installerLimitMB).
void ApplyDownloadSettings(const MainConfig& cfg);
