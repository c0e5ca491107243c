#include "engine/transport/winhttp/winhttp_errors.h"

#include <windows.h>

#include <winhttp.h>

#include <winerror.h>

TransportError MapSecureFailureFlags(unsigned long flags) {
    // The strongest sign of an attack first: a certificate that chains to no trusted root
    // says more than its dates do.
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED)
        return TransportError::CertRevoked;
    if (flags &
        (WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA | WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT))
        return TransportError::CertUntrusted;
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID)
        return TransportError::CertName;
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID)
        return TransportError::CertDate;
    // Not meant for a server, or its revocation could not be checked: not to be trusted
    // either, but each for a reason of its own.
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE)
        return TransportError::CertWrongUsage;
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED)
        return TransportError::CertRevocationUnknown;
    return TransportError::None;
}

namespace {

TransportError MapCode(unsigned long code, const WinHttpErrorContext& context);

TransportError MapSecurityStatus(unsigned long code) {
    switch (static_cast<HRESULT>(code)) {
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING:
    case CERT_E_UNTRUSTEDTESTROOT:
    case TRUST_E_CERT_SIGNATURE:
    case SEC_E_UNTRUSTED_ROOT:
    case SEC_E_CERT_UNKNOWN:
        return TransportError::CertUntrusted;
    case CERT_E_WRONG_USAGE:
        return TransportError::CertWrongUsage;
    case CERT_E_CN_NO_MATCH:
    case SEC_E_WRONG_PRINCIPAL:
        return TransportError::CertName;
    case CERT_E_EXPIRED:
    case SEC_E_CERT_EXPIRED:
        return TransportError::CertDate;
    case CRYPT_E_REVOKED:
        return TransportError::CertRevoked;
    case SEC_E_ALGORITHM_MISMATCH:
    case SEC_E_UNSUPPORTED_FUNCTION:
        return TransportError::TlsUnavailable;
    default:
        return TransportError::None;
    }
}

} // namespace

TransportError MapWinHttpError(unsigned long code, const WinHttpErrorContext& context) {
    if (const TransportError security = MapSecurityStatus(code); security != TransportError::None)
        return security;
    // Wine passes some socket errors through as they are.
    switch (code) {
    case WSAETIMEDOUT:
        code = ERROR_WINHTTP_TIMEOUT;
        break;
    case WSAECONNREFUSED:
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
        code = ERROR_WINHTTP_CANNOT_CONNECT;
        break;
    case WSAECONNRESET:
    case WSAECONNABORTED:
        code = ERROR_WINHTTP_CONNECTION_ERROR;
        break;
    }
    const TransportError error = MapCode(code, context);
    return error == TransportError::Other && context.deadlinePassed ? TransportError::Timeout
                                                                    : error;
}

namespace {

TransportError MapCode(unsigned long code, const WinHttpErrorContext& context) {
    switch (code) {
    case ERROR_WINHTTP_OPERATION_CANCELLED:
        return context.deadlinePassed ? TransportError::Timeout : TransportError::Cancelled;
    case ERROR_WINHTTP_TIMEOUT:
        return TransportError::Timeout;
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
    case ERROR_INVALID_PARAMETER:
        return TransportError::BadRequest;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return context.viaProxy ? TransportError::ProxyUnreachable : TransportError::Resolve;
    case ERROR_WINHTTP_CANNOT_CONNECT:
        return context.viaProxy ? TransportError::ProxyUnreachable : TransportError::Connect;
    case ERROR_WINHTTP_LOGIN_FAILURE:
        return context.viaProxy ? TransportError::ProxyAuth : TransportError::Other;
    case ERROR_WINHTTP_AUTODETECTION_FAILED:
    case ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT:
    case ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT:
    case ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR:
        return TransportError::ProxyScript;
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
        return TransportError::CertUntrusted;
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        return TransportError::CertWrongUsage;
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
        return TransportError::CertRevocationUnknown;
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        return TransportError::CertName;
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        return TransportError::CertDate;
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        return TransportError::CertRevoked;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR: {
        const TransportError cert = MapSecureFailureFlags(context.secureFlags);
        if (cert != TransportError::None)
            return cert;
        return context.tls12MaybeMissing ? TransportError::TlsUnavailable
                                         : TransportError::TlsFailed;
    }
    case ERROR_WINHTTP_CONNECTION_ERROR:
        switch (context.phase) {
        case WinHttpPhase::Body:
            return TransportError::Truncated;
        case WinHttpPhase::Receive:
            return TransportError::Protocol;
        default:
            // Reset while connecting: the proxy dropped the tunnel, or the server the
            // handshake.
            if (context.viaProxy)
                return TransportError::ProxyRefused;
            if (context.https)
                return context.tls12MaybeMissing ? TransportError::TlsUnavailable
                                                 : TransportError::TlsFailed;
            return TransportError::Connect;
        }
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    case ERROR_WINHTTP_HEADER_NOT_FOUND:
    case ERROR_WINHTTP_REDIRECT_FAILED:
        if (context.viaProxy && context.https && context.phase == WinHttpPhase::Send)
            return TransportError::ProxyRefused;
        return TransportError::Protocol;
    default:
        return TransportError::Other;
    }
}

} // namespace
