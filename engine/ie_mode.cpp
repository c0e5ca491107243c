#include "engine/ie_mode.h"

#include "engine/region.h"

#include "common/text/host_syntax.h"

#include "probes/ie_settings.h"

namespace {

const char* StateName(IEModeState state) {
    switch (state) {
    case IEModeState::NotNeeded:
        return "NotNeeded";
    case IEModeState::EdgeMissing:
        return "EdgeMissing";
    case IEModeState::OrganisationList:
        return "OrganisationList";
    case IEModeState::PolicyOff:
        return "PolicyOff";
    case IEModeState::SiteListIncomplete:
        return "SiteListIncomplete";
    case IEModeState::Ready:
        return "Ready";
    }
    return "";
}

CheckFact IEModeFact(const std::string& where, const std::string& statement, bool ok) {
    CheckFact fact;
    fact.name = "ieMode";
    fact.where = where;
    fact.note = statement;
    fact.ok = ok;
    return fact;
}

} // namespace

std::vector<std::string> RequiredSiteHosts(const nlohmann::json& doc, const std::string& region,
                                           std::string& problem) {
    std::vector<std::string> hosts = {kPortalDomain};
    problem.clear();
    const nlohmann::json& sites = Member(Member(doc, region), "ieSites");
    if (sites.is_null())
        return hosts;
    if (!sites.is_array()) {
        problem = "not an array";
        return hosts;
    }
    if (sites.size() > kMaxSiteHosts) {
        problem = "more than " + std::to_string(kMaxSiteHosts) + " hosts";
        return hosts;
    }
    std::vector<std::string> listed;
    for (std::size_t i = 0; i < sites.size(); ++i) {
        const std::string where = "[" + std::to_string(i) + "]";
        if (!sites[i].is_string()) {
            problem = where + " is not text";
            return hosts;
        }
        const std::string& host = sites[i].get_ref<const std::string&>();
        if (const std::string why = SiteHostProblem(host); !why.empty()) {
            problem = where + " " + why;
            return hosts;
        }
        listed.push_back(host);
    }
    for (const std::string& host : listed)
        if (!HostListed(hosts, host))
            hosts.push_back(host);
    return hosts;
}

IEModeReading ReadIEMode(const std::vector<std::string>& hosts) {
    IEModeReading reading;
    reading.hosts = hosts;
    reading.windows = ReadWindowsEdition();
    reading.ieRetired = IERetired(reading.windows);
    reading.edge = ReadEdgeInstall();
    reading.policy = ReadIEModePolicy();
    // A list in a folder or file that someone else owns may say anything: not read.
    const bool present = ReadSiteList(kSiteListPath, reading.list);
    reading.listUntrusted = present && !SiteListTrusted(kSiteListPath);
    reading.listRead = present && !reading.listUntrusted;
    reading.state = DecideIEMode(reading.ieRetired, reading.edge.found, reading.policy,
                                 reading.listRead && SiteListHolds(reading.list, hosts));
    return reading;
}

SystemFacts SystemFactsOf(const IEModeReading& reading) {
    SystemFacts system;
    system.build = reading.windows.build;
    system.edition = reading.windows.edition;
    system.bits = reading.windows.bits;
    system.ieRetired = reading.ieRetired;
    if (reading.edge.found)
        system.edge = reading.edge.version;
    return system;
}

std::vector<CheckFact> IEModeFacts(const IEModeReading& reading) {
    std::vector<CheckFact> facts;
    if (!reading.ieRetired)
        return facts;
    const std::string appPaths = std::string("HKEY_LOCAL_MACHINE\\") + kEdgeAppPathsKey;
    if (!reading.edge.found) {
        facts.push_back(IEModeFact(reading.edge.path.empty() ? appPaths : reading.edge.path,
                                   "未找到 Microsoft Edge", false));
        return facts;
    }
    CheckFact edge;
    edge.name = "edge";
    edge.where = reading.edge.path;
    edge.found = reading.edge.version;
    edge.ok = true;
    facts.push_back(edge);

    const std::string policyKey = std::string("HKEY_LOCAL_MACHINE\\") + kEdgePolicyKey;
    switch (reading.state) {
    case IEModeState::OrganisationList:
        facts.push_back(IEModeFact(reading.policy.organisationWhere,
                                   "组织的站点列表 " + reading.policy.organisationList +
                                       " 决定 Edge 的 IE 模式，本工具未读取该列表",
                                   true));
        break;
    case IEModeState::PolicyOff:
        facts.push_back(IEModeFact(policyKey, "Edge 的 IE 模式未为交易平台开启", false));
        break;
    case IEModeState::SiteListIncomplete: {
        std::string missing;
        for (const std::string& host : reading.hosts)
            if (!reading.listRead || !SiteListHolds(reading.list, {host}))
                missing += (missing.empty() ? "" : ", ") + host;
        facts.push_back(IEModeFact(kSiteListPath,
                                   reading.listRead ? "Edge 的 IE 模式站点列表缺少 " + missing
                                   : reading.listUntrusted
                                       ? std::string("Edge 的 IE 模式站点列表或其文件夹不归管理员"
                                                     "所有，不予采用")
                                       : std::string("Edge 的 IE 模式站点列表不存在或无法读取"),
                                   false));
        break;
    }
    default:
        facts.push_back(IEModeFact(kSiteListPath, "Edge 的 IE 模式已为交易平台开启", true));
        break;
    }
    return facts;
}

std::string IEModeLogText(const IEModeReading& reading) {
    return "build=" + std::to_string(reading.windows.build) +
           " edition=" + reading.windows.edition + " bits=" + std::to_string(reading.windows.bits) +
           " ieRetired=" + (reading.ieRetired ? "1" : "0") +
           " edge=" + (reading.edge.found ? reading.edge.version : std::string("none")) +
           " ieMode=" + StateName(reading.state);
}
