#pragma once

#include <string>

// Edge's IE mode policies, under SOFTWARE\Policies\Microsoft\Edge (HKLM, else the hive of the
// desktop's user, user_hive.h: a machine policy wins over the user's), and the site lists an
// organisation may have named.
struct IEModePolicy {
    bool levelSet = false;
    unsigned long level = 0;   // InternetExplorerIntegrationLevel
    std::string siteList;      // InternetExplorerIntegrationSiteList; empty when not set
    std::string siteListWhere; // the value's full registry path when set
    // A site list named by someone else: Edge's site list other than ours, Edge's cloud
    // site list, or IE's Enterprise Mode SiteList. Its value and registry path.
    std::string organisationList;
    std::string organisationWhere;
};

extern const char kEdgePolicyKey[]; // SOFTWARE\Policies\Microsoft\Edge

IEModePolicy ReadIEModePolicy();

// Writes under HKLM\SOFTWARE\Policies\Microsoft\Edge (64-bit view) what is missing or
// different of: InternetExplorerIntegrationLevel = 1, InternetExplorerIntegrationSiteList =
// the URL of our site list, DelayNavigationsForInitialSiteListDownload = 1. Writes nothing
// when an organisation's list is named. 1 done (`changed` says whether anything was
// written), -2 a key could not be created, -1 a value could not be written.
int SetIEModePolicies(bool& changed);
