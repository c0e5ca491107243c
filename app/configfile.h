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
// read. mainCfg.docKeys, optional, is read on its own first: an array of texts, or it is
// reported and left empty. Never throws.
bool ParseMainCfg(const nlohmann::json& doc, MainConfig& cfg, std::FILE* messages = stdout);
