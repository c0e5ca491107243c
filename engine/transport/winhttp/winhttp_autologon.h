#pragma once

// Whether a proxy may be answered with the logged-on user's own Windows credentials (NTLM,
// Negotiate). A proxy the user or an administrator set (by hand or by a configuration
// script) is trusted as far as Windows trusts the intranet; one that auto-detection (WPAD)
// named may have been named by anyone on the local network who answers WPAD, so its
// challenge is answered only where the proxy itself is plainly on the intranet.

#include "engine/transport/winhttp/winhttp_proxy.h"

#include <string>

// WINHTTP_AUTOLOGON_SECURITY_LEVEL_MEDIUM (intranet only) or _HIGH (never).
unsigned long AutoLogonPolicy(const ProxyChoice& proxy);

// A host of the local network by its form alone: a name without dots, or a loopback,
// private or link-local address. Names with dots are not judged (that would take a look-up
// that the answer to WPAD can steer as well).
bool IntranetHost(const std::wstring& host);
