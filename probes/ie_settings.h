#pragma once

#include <string>
#include <vector>

// The service portal's domain, put in the IE trusted-sites zone.
extern const char kPortalDomain[];

// What one of the four settings holds, for people: where it lives, the value required and
// the value found (hex for SecureProtocols), and whether its check passes.
struct IESettingState {
    std::string name; // the value name; "ZoneMap" for the trusted-site key
    std::string where;
    std::string expected;
    bool present = false; // the value (or the key) was found
    std::string found;
    bool ok = false;
};

// The four settings in check order, each read on its own.
std::vector<IESettingState> ReadIESettingStates();

int CheckIESaveVerCfg();
int CheckIETrustCfg();
int CheckIESslCfg();
int CheckIEMaxConCfg();
int SetIESaveVerCfg();
int SetIETrustCfg();
int SetIESslCfg();
int SetIEMaxConCfg();
