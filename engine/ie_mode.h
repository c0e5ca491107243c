#pragma once

#include "engine/report/check_report.h"

#include "probes/edge_install.h"
#include "probes/edge_policy.h"
#include "probes/iemode_decision.h"
#include "probes/iemode_site_list.h"
#include "probes/windows_edition.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// The hosts Edge must open in IE mode: the portal domain, then the region's `ieSites`.
// A member that is not an array of at most kMaxSiteHosts valid hosts is ignored as a whole;
// `problem` then says why (empty otherwise).
std::vector<std::string> RequiredSiteHosts(const nlohmann::json& doc, const std::string& region,
                                           std::string& problem);

// What Edge's IE mode looks like on this machine for these hosts.
struct IEModeReading {
    WindowsEdition windows;
    bool ieRetired = false;
    EdgeInstall edge;
    IEModePolicy policy;
    bool listRead = false;
    // The list is there but its folder or file is not owned by Administrators (or SYSTEM).
    bool listUntrusted = false;
    SiteList list;
    std::vector<std::string> hosts;
    IEModeState state = IEModeState::NotNeeded;
};

IEModeReading ReadIEMode(const std::vector<std::string>& hosts);

// The report's account of the system, and the facts the IE row adds where IE is retired.
SystemFacts SystemFactsOf(const IEModeReading& reading);
std::vector<CheckFact> IEModeFacts(const IEModeReading& reading);

// "build=22631 edition=Professional bits=64 ieRetired=1 edge=120.0.2210.91 ieMode=PolicyOff"
std::string IEModeLogText(const IEModeReading& reading);
