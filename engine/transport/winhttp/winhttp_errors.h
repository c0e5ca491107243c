#pragma once

// WinHTTP's error codes in the transport's terms.

#include "engine/transport/transport.h"

// Where in the request an error came.
enum class WinHttpPhase {
    Setup,   // opening the session and the request, choosing the proxy
    Send,    // resolving, connecting, the proxy's tunnel, the TLS handshake, sending
    Receive, // waiting for the status line and the headers
    Body,    // reading the body
};

struct WinHttpErrorContext {
    WinHttpPhase phase = WinHttpPhase::Setup;
    bool viaProxy = false;
    bool https = false;
    // WINHTTP_CALLBACK_STATUS_FLAG_* of the secure failure, as the status callback saw them.
    unsigned long secureFlags = 0;
    bool deadlinePassed = false;
    // TLS 1.2 is not on by default (Windows 7): a failed handshake is most likely that.
    bool tls12MaybeMissing = false;
};

TransportError MapWinHttpError(unsigned long code, const WinHttpErrorContext& context);

// The certificate fault that the status callback's flags name, None when they name none.
TransportError MapSecureFailureFlags(unsigned long flags);
