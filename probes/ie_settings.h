#pragma once

// The service portal's domain, put in the IE trusted-sites zone.
extern const char kPortalDomain[];

int CheckIESaveVerCfg();
int CheckIETrustCfg();
int CheckIESslCfg();
int CheckIEMaxConCfg();
int SetIESaveVerCfg();
int SetIETrustCfg();
int SetIESslCfg();
int SetIEMaxConCfg();
