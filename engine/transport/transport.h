#pragma once

// How bytes arrive: one HTTP or HTTPS request at a time, over the computer's own stack.
// On Windows WinHTTP (Schannel with the machine's roots, the user's proxy settings and
// automatic configuration script, proxy auto-logon); elsewhere cpp-httplib with OpenSSL
// (the system's CA bundle, SSL_CERT_FILE/SSL_CERT_DIR, https_proxy/http_proxy/no_proxy).
// Everything above it (resume, the 206 checks, limits, sha256, progress, retries) is
// written once, in engine/download and its callers.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using TransportHeaders = std::vector<std::pair<std::string, std::string>>;

struct TransportRequest {
    std::string method = "GET"; // "GET" or "POST"
    bool https = false;
    std::string host; // a name or an address; an IPv6 address without brackets
    int port = 80;
    std::string path; // from the first "/", with the query
    TransportHeaders headers;
    std::string body; // sent with POST
    std::string contentType;
    std::chrono::milliseconds connectTimeout{3000};
    // The longest wait for the next piece of the answer.
    std::chrono::milliseconds readTimeout{3000};
    // The whole request, from connecting to the last byte of the body; zero: none.
    std::chrono::milliseconds deadline{0};
};

struct TransportResponse {
    int status = 0;
    TransportHeaders headers;
    // The value of a header, matched without regard to case; empty when absent.
    std::string Header(const std::string& name) const;
};

enum class TransportError {
    None,
    Cancelled,             // a callback of the caller's asked to stop
    BadRequest,            // the request itself cannot be sent (no host, a bad port)
    Resolve,               // the server's name is not known
    Connect,               // no connection to the server
    Timeout,               // a time-out or the deadline passed
    Truncated,             // the connection ended before the announced length or the last chunk
    Protocol,              // not an HTTP answer, or one without a length or chunked end
    CertUntrusted,         // the server's certificate does not chain to a trusted root
    CertName,              // the certificate is for another name
    CertDate,              // the certificate has expired or is not yet valid
    CertRevoked,           // the certificate has been revoked
    CertRevocationUnknown, // whether it has been revoked could not be learnt (offline)
    CertWrongUsage,        // the certificate is not one for a web server
    TlsUnavailable,        // TLS 1.2 or later cannot be spoken here (Windows 7 without KB3140245)
    TlsFailed,             // the TLS handshake failed otherwise
    ProxyUnreachable,      // the proxy cannot be reached
    ProxyRefused,          // the proxy refused the connection or the tunnel
    ProxyAuth,             // the proxy wants credentials it did not get (407)
    ProxyScript,           // the automatic configuration script cannot be fetched or run
    Other,
};

struct TransportFailure {
    TransportError error = TransportError::None;
    // Windows' own error code (ERROR_WINHTTP_*, SEC_E_*) where there is one, else 0.
    unsigned long systemCode = 0;
    // The library's words, for the log.
    std::string detail;
    // With CertDate: how far the computer's clock is from the server's time where it could
    // be learnt (seconds, positive when the computer is ahead); 0 when unknown.
    long long clockSkewSeconds = 0;
};

class Transport {
  public:
    virtual ~Transport() = default;

    // Sends one request and reads its answer. `onResponse` sees the status and headers
    // once and returns false to take no body; `onData` gets the body in pieces and returns
    // false to stop. True only when the whole body arrived: as long as its Content-Length,
    // or chunked up to the final zero-length chunk. A body without either is a Protocol
    // failure, a shorter one Truncated. No redirect is ever followed. False otherwise, with
    // `failure` saying why (Cancelled when a callback stopped it).
    virtual bool Send(const TransportRequest& request,
                      const std::function<bool(const TransportResponse&)>& onResponse,
                      const std::function<bool(const char*, std::size_t)>& onData,
                      TransportFailure& failure) = 0;
};

// The transport of this platform: WinHTTP on Windows, cpp-httplib with OpenSSL elsewhere.
std::unique_ptr<Transport> MakeTransport();

// What failed, in words a bidder can act on (Chinese, for the row's record), with the
// Windows error code where there is one.
std::string DescribeTransportFailure(const TransportFailure& failure);
