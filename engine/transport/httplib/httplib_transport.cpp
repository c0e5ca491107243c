// The transport over cpp-httplib: plain HTTP everywhere, HTTPS with OpenSSL where the build
// has it (Linux). The server's certificate is always verified: the system's CA bundle and
// folder, or SSL_CERT_FILE and SSL_CERT_DIR in their place (OpenSSL's default paths, as
// curl reads them), the host name, and TLS 1.2 at least. Proxies come from the
// environment (see proxy_environment.h); https goes through them with CONNECT.
#include "engine/transport/http_date.h"
#include "engine/transport/httplib/proxy_environment.h"
#include "engine/transport/transport.h"

#include "common/text/ascii.h"

#include <httplib.h>

#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#endif

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

// Stops the client's transfer from a thread of its own once the deadline passes: the
// client's own time-outs apply to each read, so a server that trickles bytes would never
// trip them. The request may be in any phase, connecting, sending, headers or body.
class Deadline {
  public:
    Deadline(httplib::ClientImpl& client, std::chrono::milliseconds limit) {
        if (limit.count() <= 0)
            return;
        watcher_ = std::thread([this, &client, limit] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!doneCv_.wait_for(lock, limit, [this] { return done_; })) {
                passed_ = true;
                lock.unlock();
                client.stop();
            }
        });
    }
    ~Deadline() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        doneCv_.notify_one();
        if (watcher_.joinable())
            watcher_.join();
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    bool passed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return passed_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable doneCv_;
    bool done_ = false;
    bool passed_ = false;
    std::thread watcher_;
};

void SetTimeouts(httplib::ClientImpl& client, const TransportRequest& request) {
    const auto split = [](std::chrono::milliseconds ms) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(ms);
        const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(ms - seconds);
        return std::make_pair(static_cast<time_t>(seconds.count()),
                              static_cast<time_t>(micros.count()));
    };
    const auto connect = split(request.connectTimeout);
    const auto read = split(request.readTimeout);
    client.set_connection_timeout(connect.first, connect.second);
    client.set_read_timeout(read.first, read.second);
    client.set_write_timeout(read.first, read.second);
    client.set_keep_alive(false);
    client.set_follow_location(false);
}

std::string HostAndPort(const std::string& host, int port) {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool IsDigits(const std::string& text) {
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// How the body of an answer ends: the library reads a chunked body up to its last chunk, a
// body with a Content-Length up to that length, and anything else up to the connection's
// end, which cannot be told from a connection that broke.
bool BodyIsFramed(const httplib::Response& response) {
    if (ascii::EqualIgnoringCase(response.get_header_value("Transfer-Encoding"), "chunked"))
        return true;
    return response.has_header("Content-Length") &&
           IsDigits(response.get_header_value("Content-Length"));
}

bool HasBody(const std::string& method, int status) {
    return method != "HEAD" && status >= 200 && status != 204 && status != 304;
}

TransportResponse ToResponse(const httplib::Response& response) {
    TransportResponse out;
    out.status = response.status;
    for (const auto& header : response.headers)
        out.headers.emplace_back(header.first, header.second);
    return out;
}

void ApplyProxy(httplib::ClientImpl& client, const ProxySetting& proxy, bool https,
                httplib::Request& request) {
    if (!proxy.use)
        return;
    client.set_proxy(proxy.host, proxy.port);
    if (proxy.user.empty())
        return;
    client.set_proxy_basic_auth(proxy.user, proxy.password);
    // The library adds the proxy's credentials to every request it writes, also to the one
    // inside the tunnel, which the server would see: a header of our own (empty) keeps them
    // to the CONNECT.
    if (https)
        request.headers.emplace("Proxy-Authorization", "");
}

#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
bool IsAddress(const std::string& host) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// Verification is never switched off. With `ignoreDates` only the validity dates are
// ignored, for learning the server's clock after a date failure (see ServerClockSkew).
void ConfigureTls(httplib::SSLClient& client, const std::string& host, bool ignoreDates) {
    SSL_CTX* ctx = client.ssl_context();
    if (!ctx)
        return;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
    if (IsAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
    }
    if (ignoreDates)
        X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_NO_CHECK_TIME);
    client.enable_server_certificate_verification(true);
}

TransportError CertificateError(long verifyResult) {
    switch (verifyResult) {
    case X509_V_OK: // the library's own check of the name failed
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
    case X509_V_ERR_EMAIL_MISMATCH:
        return TransportError::CertName;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
        return TransportError::CertDate;
    case X509_V_ERR_CERT_REVOKED:
        return TransportError::CertRevoked;
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_CRL_NOT_YET_VALID:
        return TransportError::CertRevocationUnknown;
    case X509_V_ERR_INVALID_PURPOSE:
        return TransportError::CertWrongUsage;
    default:
        return TransportError::CertUntrusted;
    }
}

// The OpenSSL error of this thread's failed handshake, for the log; it also tells a server
// that speaks nothing newer than TLS 1.1.
std::string HandshakeError(bool& oldProtocol) {
    oldProtocol = false;
    std::string text;
    while (const unsigned long e = ERR_get_error()) {
        const int reason = ERR_GET_REASON(e);
        if (reason == SSL_R_UNSUPPORTED_PROTOCOL || reason == SSL_R_TLSV1_ALERT_PROTOCOL_VERSION ||
            reason == SSL_R_NO_PROTOCOLS_AVAILABLE || reason == SSL_R_WRONG_VERSION_NUMBER)
            oldProtocol = true;
        char buffer[256];
        ERR_error_string_n(e, buffer, sizeof buffer);
        text = buffer;
    }
    return text;
}
#endif

class HttplibTransport : public Transport {
  public:
    bool Send(const TransportRequest& request,
              const std::function<bool(const TransportResponse&)>& onResponse,
              const std::function<bool(const char*, std::size_t)>& onData,
              TransportFailure& failure) override;

  private:
    std::unique_ptr<httplib::ClientImpl> MakeClient(const TransportRequest& request,
                                                    bool ignoreDates) const;
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    long long ServerClockSkew(const TransportRequest& request, const ProxySetting& proxy) const;
    int ConnectStatus(const TransportRequest& request, const ProxySetting& proxy) const;
#endif
};

std::unique_ptr<httplib::ClientImpl> HttplibTransport::MakeClient(const TransportRequest& request,
                                                                  bool ignoreDates) const {
    std::unique_ptr<httplib::ClientImpl> client;
    if (request.https) {
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
        auto tls = std::make_unique<httplib::SSLClient>(request.host, request.port);
        if (!tls->is_valid())
            return nullptr;
        ConfigureTls(*tls, request.host, ignoreDates);
        client = std::move(tls);
#else
        (void)ignoreDates;
        return nullptr;
#endif
    } else {
        client = std::make_unique<httplib::ClientImpl>(request.host, request.port);
    }
    SetTimeouts(*client, request);
    return client;
}

#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
// After a certificate date failure: the server's own time from its Date header, over a
// connection whose certificate is verified in every other respect (chain, name), and with
// no body taken. Seconds the computer is ahead of the server, 0 when not learnt.
long long HttplibTransport::ServerClockSkew(const TransportRequest& request,
                                            const ProxySetting& proxy) const {
    std::unique_ptr<httplib::ClientImpl> client = MakeClient(request, true);
    if (!client)
        return 0;
    httplib::Request head;
    head.method = "HEAD";
    head.path = request.path.empty() ? "/" : request.path;
    ApplyProxy(*client, proxy, request.https, head);
    httplib::Response response;
    httplib::Error error = httplib::Error::Success;
    long long serverTime = 0;
    {
        Deadline watch(*client, request.connectTimeout + request.readTimeout);
        if (!client->send(head, response, error) ||
            !ParseHttpDate(response.get_header_value("Date"), serverTime))
            return 0;
    }
    const long long skew = static_cast<long long>(std::time(nullptr)) - serverTime;
    return skew == 0 ? 1 : skew; // 0 means unknown
}

// What the proxy answers a CONNECT to the server: its status, 0 when it gave none.
int HttplibTransport::ConnectStatus(const TransportRequest& request,
                                    const ProxySetting& proxy) const {
    httplib::ClientImpl client(proxy.host, proxy.port);
    SetTimeouts(client, request);
    httplib::Request connect;
    connect.method = "CONNECT";
    connect.path = HostAndPort(request.host, request.port);
    connect.headers.emplace("Host", connect.path);
    if (!proxy.user.empty())
        connect.headers.insert(
            httplib::make_basic_authentication_header(proxy.user, proxy.password, true));
    int status = 0;
    httplib::Response response;
    httplib::Error error = httplib::Error::Success;
    Deadline watch(client, request.connectTimeout + request.readTimeout);
    if (client.send(connect, response, error))
        status = response.status;
    return status;
}
#endif

bool HttplibTransport::Send(const TransportRequest& request,
                            const std::function<bool(const TransportResponse&)>& onResponse,
                            const std::function<bool(const char*, std::size_t)>& onData,
                            TransportFailure& failure) {
    failure = TransportFailure();
    if (request.host.empty() || request.port < 1 || request.port > 65535 ||
        (request.method != "GET" && request.method != "POST" && request.method != "HEAD")) {
        failure.error = TransportError::BadRequest;
        failure.detail = "no request can be made to '" + request.host + "' port " +
                         std::to_string(request.port) + " with " + request.method;
        return false;
    }
    const ProxySetting proxy = ProxyFromEnvironment(request.https, request.host);
    if (!proxy.error.empty()) {
        failure.error = TransportError::ProxyUnreachable;
        failure.detail = proxy.variable + ": " + proxy.error;
        return false;
    }
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    // The proxy's answer to the CONNECT first, on a connection of its own: the library,
    // given an answer that closes the connection (a refusal, a 407), waits on a lock it
    // holds itself and never returns.
    if (request.https && proxy.use) {
        const int status = ConnectStatus(request, proxy);
        if (status != 200) {
            const std::string where =
                "the proxy " + HostAndPort(proxy.host, proxy.port) + " (" + proxy.variable + ")";
            failure.error = status == 0     ? TransportError::ProxyUnreachable
                            : status == 407 ? TransportError::ProxyAuth
                                            : TransportError::ProxyRefused;
            failure.detail = status == 0
                                 ? where + " gave no answer to CONNECT"
                                 : where + " answered " + std::to_string(status) + " to CONNECT";
            return false;
        }
    }
#endif
    std::unique_ptr<httplib::ClientImpl> client = MakeClient(request, false);
    if (!client) {
        failure.error = TransportError::TlsFailed;
        failure.detail = "this build has no TLS for https";
        return false;
    }

    httplib::Request out;
    out.method = request.method;
    out.path = request.path.empty() ? "/" : request.path;
    for (const auto& header : request.headers)
        out.headers.emplace(header.first, header.second);
    if (request.method == "POST") {
        out.body = request.body;
        if (!request.contentType.empty())
            out.headers.emplace("Content-Type", request.contentType);
    }
    ApplyProxy(*client, proxy, request.https, out);

    bool sawResponse = false;
    bool unframed = false;
    bool stopped = false;
    bool proxyAuth = false;
    Clock::time_point lastActivity = Clock::now();
    out.response_handler = [&](const httplib::Response& response) {
        sawResponse = true;
        lastActivity = Clock::now();
        // A plain-HTTP request's proxy answers for itself.
        if (proxy.use && !request.https && response.status == 407) {
            proxyAuth = true;
            return false;
        }
        if (!onResponse(ToResponse(response))) {
            stopped = true;
            return false;
        }
        if (HasBody(request.method, response.status) && !BodyIsFramed(response)) {
            unframed = true;
            return false;
        }
        return true;
    };
    out.content_receiver = [&](const char* data, std::size_t length, std::uint64_t, std::uint64_t) {
        lastActivity = Clock::now();
        if (!onData(data, length)) {
            stopped = true;
            return false;
        }
        return true;
    };

    httplib::Response response;
    httplib::Error error = httplib::Error::Success;
    bool sent = false;
    bool late = false;
    {
        Deadline watch(*client, request.deadline);
        sent = client->send(out, response, error);
        late = watch.passed();
    }
    failure.detail = httplib::to_string(error);
    if (sent && !sawResponse) {
        // The proxy's own answer to the CONNECT, or an answer that has no body (204).
        if (request.https && proxy.use && response.status == 407) {
            failure.error = TransportError::ProxyAuth;
            failure.detail = "the proxy " + HostAndPort(proxy.host, proxy.port) + " answered 407";
            return false;
        }
        if (!onResponse(ToResponse(response))) {
            failure.error = TransportError::Cancelled;
            return false;
        }
        return true;
    }
    if (sent && !late)
        return true;

    if (late) {
        failure.error = TransportError::Timeout;
        failure.detail =
            "no complete answer within " + std::to_string(request.deadline.count()) + " ms";
    } else if (proxyAuth) {
        failure.error = TransportError::ProxyAuth;
        failure.detail = "the proxy " + HostAndPort(proxy.host, proxy.port) + " answered 407";
    } else if (unframed) {
        failure.error = TransportError::Protocol;
        failure.detail = "an answer with neither a Content-Length nor chunked transfer";
    } else if (stopped || error == httplib::Error::Canceled) {
        failure.error = TransportError::Cancelled;
    } else {
        switch (error) {
        case httplib::Error::Connection:
        case httplib::Error::ConnectionTimeout:
            if (proxy.use) {
                failure.error = TransportError::ProxyUnreachable;
                failure.detail += " to the proxy " + HostAndPort(proxy.host, proxy.port) + " (" +
                                  proxy.variable + ")";
            } else if (error == httplib::Error::ConnectionTimeout) {
                failure.error = TransportError::Timeout;
            } else {
                // The library does not tell a name it could not resolve from a refused
                // connection.
                struct addrinfo hints {};
                hints.ai_socktype = SOCK_STREAM;
                struct addrinfo* found = nullptr;
                const bool known = getaddrinfo(request.host.c_str(), nullptr, &hints, &found) == 0;
                if (found)
                    freeaddrinfo(found);
                failure.error = known ? TransportError::Connect : TransportError::Resolve;
            }
            break;
        case httplib::Error::Read: {
            const bool idle = Clock::now() - lastActivity >= request.readTimeout;
            if (idle)
                failure.error = TransportError::Timeout;
            else
                failure.error = sawResponse ? TransportError::Truncated : TransportError::Protocol;
            if (!idle && !sawResponse)
                failure.detail = "the connection ended before an HTTP answer";
            break;
        }
        case httplib::Error::Write:
            failure.error = TransportError::Connect;
            failure.detail = "the connection broke while the request was sent";
            break;
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
        case httplib::Error::SSLConnection: {
            bool oldProtocol = false;
            const std::string why = HandshakeError(oldProtocol);
            failure.error = TransportError::TlsFailed;
            failure.detail = oldProtocol ? "the server speaks no TLS 1.2 or later (" + why + ")"
                                         : "TLS handshake failed (" + why + ")";
            break;
        }
        case httplib::Error::SSLServerVerification: {
            const long result =
                static_cast<httplib::SSLClient&>(*client).get_openssl_verify_result();
            failure.error = CertificateError(result);
            failure.detail = result == X509_V_OK ? "certificate name does not match"
                                                 : X509_verify_cert_error_string(result);
            failure.detail += " (" + request.host + ")";
            if (failure.error == TransportError::CertDate)
                failure.clockSkewSeconds = ServerClockSkew(request, proxy);
            break;
        }
        case httplib::Error::SSLLoadingCerts:
            failure.error = TransportError::CertUntrusted;
            failure.detail = "the trusted certificates could not be loaded";
            break;
#endif
        default:
            failure.error = TransportError::Other;
            break;
        }
    }
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    ERR_clear_error();
#endif
    return false;
}
} // namespace

std::unique_ptr<Transport> MakeTransport() {
    return std::make_unique<HttplibTransport>();
}
