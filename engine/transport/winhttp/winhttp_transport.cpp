// The transport of the Windows program: WinHTTP, so that requests see what the computer's
// own browsers see (Schannel with the machine's roots, including those Windows fetches on
// demand; the user's proxy, script and auto-logon).

#include "engine/transport/transport.h"
#include "engine/transport/winhttp/winhttp_autologon.h"
#include "engine/transport/winhttp/winhttp_errors.h"
#include "engine/transport/winhttp/winhttp_proxy.h"
#include "engine/transport/winhttp/winhttp_text.h"

#include "common/text/ascii.h"

#include <windows.h>

#include <versionhelpers.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <climits>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct HandleCloser {
    void operator()(void* handle) const { WinHttpCloseHandle(static_cast<HINTERNET>(handle)); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The secure-failure flags of one request, set by the status callback on the calling
// thread (the handles are synchronous).
struct SecureFailure {
    DWORD flags = 0;
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context && info &&
        length >= sizeof(DWORD))
        reinterpret_cast<SecureFailure*>(context)->flags |= *static_cast<const DWORD*>(info);
}

// The headers of the answer, from WinHTTP's CRLF-separated block (the status line first).
TransportHeaders ParseRawHeaders(const std::wstring& raw) {
    TransportHeaders headers;
    std::size_t start = raw.find(L"\r\n");
    while (start != std::wstring::npos) {
        start += 2;
        const std::size_t end = raw.find(L"\r\n", start);
        const std::wstring line =
            raw.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        const std::size_t colon = line.find(L':');
        if (colon != std::wstring::npos && colon > 0) {
            std::size_t value = colon + 1;
            while (value < line.size() && (line[value] == L' ' || line[value] == L'\t'))
                ++value;
            std::wstring text = line.substr(value);
            while (!text.empty() && (text.back() == L' ' || text.back() == L'\t'))
                text.pop_back();
            headers.emplace_back(Utf8FromWide(line.substr(0, colon)), Utf8FromWide(text));
        }
        start = end;
    }
    return headers;
}

// Wine's WinHTTP ends a chunked body quietly where the connection closes before the final
// chunk; Windows' reports the broken connection. Under Wine a chunked body's end cannot be
// told from a cut, so it is not taken.
bool ChunkEndIsChecked() {
    static const bool checked =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
    return checked;
}

bool ParseLength(const std::string& text, unsigned long long& value) {
    if (text.empty() || text.size() > 19)
        return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned long long>(c - '0');
    }
    return true;
}

class WinHttpTransport : public Transport {
  public:
    ~WinHttpTransport() override {
        for (auto& session : sessions_)
            WinHttpCloseHandle(session.second.handle);
    }

    bool Send(const TransportRequest& request,
              const std::function<bool(const TransportResponse&)>& onResponse,
              const std::function<bool(const char*, std::size_t)>& onData,
              TransportFailure& failure) override;

  private:
    struct Session {
        HINTERNET handle = nullptr;
        DWORD tlsError = 0; // TLS 1.2 could not be asked for
    };
    // One session per proxy decision: the proxy of a session is fixed when it is opened
    // (setting it on a request later is not honoured everywhere). Sessions keep their
    // connections for the next request.
    bool SessionFor(const ProxyChoice& proxy, Session& session, DWORD& error);

    std::mutex mutex_;
    std::map<std::wstring, Session> sessions_;
};

bool WinHttpTransport::SessionFor(const ProxyChoice& proxy, Session& session, DWORD& error) {
    const std::wstring key = proxy.named ? proxy.proxy + L"|" + proxy.bypass : std::wstring();
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = sessions_.find(key);
    if (found != sessions_.end()) {
        session = found->second;
        return true;
    }
    Session opened;
    opened.handle = WinHttpOpen(
        L"QueldaEnvCheck/1.0",
        proxy.named ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY,
        proxy.named ? proxy.proxy.c_str() : WINHTTP_NO_PROXY_NAME,
        proxy.named && !proxy.bypass.empty() ? proxy.bypass.c_str() : WINHTTP_NO_PROXY_BYPASS, 0);
    if (!opened.handle) {
        error = GetLastError();
        return false;
    }
    // TLS 1.2, and 1.3 where this Windows knows it (older ones refuse the whole value).
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!WinHttpSetOption(opened.handle, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                          sizeof(protocols))) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        if (!WinHttpSetOption(opened.handle, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                              sizeof(protocols)))
            opened.tlsError = GetLastError();
    }
    DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(opened.handle, WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof(redirects));
    sessions_.emplace(key, opened);
    session = opened;
    return true;
}

// The time left before the request's deadline, and each step's time-out within it.
class Budget {
  public:
    explicit Budget(milliseconds deadline) : start_(Clock::now()), deadline_(deadline) {}
    bool HasDeadline() const { return deadline_.count() > 0; }
    bool Passed() const { return HasDeadline() && Clock::now() - start_ >= deadline_; }
    // A step's time-out, never past the deadline; at least 1 ms (0 would mean no limit).
    int Step(milliseconds limit) const {
        long long ms = limit.count() > 0 ? limit.count() : INT_MAX;
        if (HasDeadline()) {
            const auto left =
                deadline_ - std::chrono::duration_cast<milliseconds>(Clock::now() - start_);
            ms = std::min<long long>(ms, left.count());
        }
        return static_cast<int>(std::clamp<long long>(ms, 1, INT_MAX));
    }

  private:
    Clock::time_point start_;
    milliseconds deadline_;
};

DWORD QueryStatus(HINTERNET request) {
    DWORD status = 0, size = sizeof(status);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return status;
}

std::wstring QueryRawHeaders(HINTERNET request) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                        WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return std::wstring();
    std::wstring raw(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                             &raw[0], &size, WINHTTP_NO_HEADER_INDEX))
        return std::wstring();
    raw.resize(size / sizeof(wchar_t));
    return raw;
}

// Whether the TLS handshake with the server itself took place: through a proxy, an answer
// without it came from the proxy (a refused tunnel), not from the server.
bool HasServerCertificate(HINTERNET request) {
    PCCERT_CONTEXT cert = nullptr;
    DWORD size = sizeof(cert);
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &cert, &size) || !cert)
        return false;
    CertFreeCertificateContext(cert);
    return true;
}

// The proxy's wish for credentials answered with the logged-on user's own, where it takes
// a scheme that can use them (Negotiate, NTLM). False when it takes none of those.
bool AnswerProxyChallenge(HINTERNET request, std::string& why) {
    DWORD supported = 0, first = 0, target = 0;
    if (!WinHttpQueryAuthSchemes(request, &supported, &first, &target)) {
        why = "the proxy asks for credentials and names no scheme";
        return false;
    }
    DWORD scheme = 0;
    if (supported & WINHTTP_AUTH_SCHEME_NEGOTIATE)
        scheme = WINHTTP_AUTH_SCHEME_NEGOTIATE;
    else if (supported & WINHTTP_AUTH_SCHEME_NTLM)
        scheme = WINHTTP_AUTH_SCHEME_NTLM;
    if (!scheme) {
        why = "the proxy asks for a user name and password (Basic or Digest), which are not "
              "stored here";
        return false;
    }
    // No name and no password: the logged-on user's credentials.
    if (!WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr,
                               nullptr)) {
        why = "the user's credentials could not be offered to the proxy";
        return false;
    }
    return true;
}

bool Fail(TransportFailure& failure, TransportError error, unsigned long code, std::string detail) {
    failure.error = error;
    failure.systemCode = code;
    failure.detail = std::move(detail);
    return false;
}

std::string CodeText(unsigned long code) {
    return std::to_string(code);
}

bool WinHttpTransport::Send(const TransportRequest& request,
                            const std::function<bool(const TransportResponse&)>& onResponse,
                            const std::function<bool(const char*, std::size_t)>& onData,
                            TransportFailure& failure) {
    failure = TransportFailure();
    const Budget budget(request.deadline);
    if ((request.method != "GET" && request.method != "POST") || request.host.empty() ||
        request.port < 1 || request.port > 65535 || request.path.empty() || request.path[0] != '/')
        return Fail(failure, TransportError::BadRequest, 0,
                    "not a request that can be sent: " + request.method + " " + request.host + ":" +
                        std::to_string(request.port) + request.path);

    const std::wstring host = WideFromUtf8(request.host);
    const std::wstring hostInUrl =
        host.find(L':') != std::wstring::npos ? L"[" + host + L"]" : host;
    const std::wstring path = WideFromUtf8(request.path);
    const std::wstring url = (request.https ? L"https://" : L"http://") + hostInUrl + L":" +
                             std::to_wstring(request.port) + path;

    WinHttpErrorContext context;
    context.https = request.https;
    // The handshake of a Windows without TLS 1.2 on by default fails without a word on why.
    context.tls12MaybeMissing = !IsWindows8OrGreater();
    std::string where;
    auto failWith = [&](DWORD code, const char* step) {
        context.deadlinePassed = budget.Passed();
        TransportError error = MapWinHttpError(code, context);
        std::string detail = std::string(step) + " failed with WinHTTP error " + CodeText(code);
        if (context.secureFlags)
            detail += " (certificate flags " + std::to_string(context.secureFlags) + ")";
        detail += where;
        return Fail(failure, error, code, detail);
    };

    const ProxyChoice proxy = ChooseProxy(url, request.connectTimeout + request.readTimeout);
    context.viaProxy = proxy.named;
    if (proxy.named)
        where = " through the proxy " + Utf8FromWide(proxy.proxy);
    if (proxy.scriptError)
        where += " (the automatic proxy configuration " + proxy.scriptSource +
                 " failed with WinHTTP error " + CodeText(proxy.scriptError) + ")";
    // The request failed where a script that would have named a proxy could not be had:
    // the script is the fault to name.
    auto failAfterScript = [&](DWORD code, const char* step) {
        failWith(code, step);
        const TransportError e = failure.error;
        if (proxy.scriptError &&
            (e == TransportError::Resolve || e == TransportError::Connect ||
             e == TransportError::Timeout || e == TransportError::ProxyUnreachable)) {
            failure.error = TransportError::ProxyScript;
            failure.systemCode = proxy.scriptError;
        }
        return false;
    };

    Session session;
    DWORD error = 0;
    if (!SessionFor(proxy, session, error))
        return failWith(error, "opening a WinHTTP session");
    if (request.https && session.tlsError)
        return Fail(failure, TransportError::TlsUnavailable, session.tlsError,
                    "WinHTTP refused to use TLS 1.2 (error " + CodeText(session.tlsError) + ")");

    Handle connection(
        WinHttpConnect(session.handle, host.c_str(), static_cast<INTERNET_PORT>(request.port), 0));
    if (!connection)
        return failWith(GetLastError(), "connecting");
    const std::wstring method = WideFromUtf8(request.method);
    Handle handle(WinHttpOpenRequest(connection.get(), method.c_str(), path.c_str(), nullptr,
                                     WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                     request.https ? WINHTTP_FLAG_SECURE : 0));
    if (!handle)
        return failWith(GetLastError(), "opening the request");
    HINTERNET req = handle.get();

    SecureFailure secure;
    WinHttpSetStatusCallback(req, OnStatus, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
    if (proxy.named) {
        // The proxy may log on with the user's own Windows credentials (NTLM, Negotiate)
        // only where Windows itself would send them.
        DWORD policy = AutoLogonPolicy(proxy);
        WinHttpSetOption(req, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof(policy));
    }
    DWORD noCookies = WINHTTP_DISABLE_COOKIES;
    WinHttpSetOption(req, WINHTTP_OPTION_DISABLE_FEATURE, &noCookies, sizeof(noCookies));

    std::wstring headers;
    for (const auto& header : request.headers)
        headers += WideFromUtf8(header.first) + L": " + WideFromUtf8(header.second) + L"\r\n";
    if (!request.contentType.empty())
        headers += L"Content-Type: " + WideFromUtf8(request.contentType) + L"\r\n";
    if (!headers.empty() &&
        !WinHttpAddRequestHeaders(req, headers.c_str(), static_cast<DWORD>(headers.size()),
                                  WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
        return failWith(GetLastError(), "adding the request headers");

    const bool post = request.method == "POST";
    const DWORD bodySize = post ? static_cast<DWORD>(request.body.size()) : 0;
    void* body = post && bodySize ? const_cast<char*>(request.body.data()) : nullptr;
    DWORD status = 0;
    for (int round = 0;; ++round) {
        if (budget.Passed())
            return Fail(failure, TransportError::Timeout, 0, "the request's time ran out" + where);
        const int connect = budget.Step(request.connectTimeout);
        const int read = budget.Step(request.readTimeout);
        WinHttpSetTimeouts(req, connect, connect, read, read);
        context.phase = WinHttpPhase::Send;
        secure.flags = 0;
        if (!WinHttpSendRequest(req, WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, bodySize, bodySize,
                                reinterpret_cast<DWORD_PTR>(&secure))) {
            error = GetLastError();
            context.secureFlags = secure.flags;
            if (error == ERROR_WINHTTP_RESEND_REQUEST && round < 3)
                continue;
            return failAfterScript(error, "sending the request");
        }
        context.phase = WinHttpPhase::Receive;
        if (!WinHttpReceiveResponse(req, nullptr)) {
            error = GetLastError();
            context.secureFlags = secure.flags;
            if (error == ERROR_WINHTTP_RESEND_REQUEST && round < 3)
                continue;
            return failAfterScript(error, "waiting for the answer");
        }
        status = QueryStatus(req);
        if (status != HTTP_STATUS_PROXY_AUTH_REQ || !proxy.named)
            break;
        std::string why;
        if (round >= 2 || !AnswerProxyChallenge(req, why))
            return Fail(failure, TransportError::ProxyAuth, 0,
                        (why.empty() ? "the proxy did not accept the user's credentials" : why) +
                            where);
    }
    if (status == 0)
        return Fail(failure, TransportError::Protocol, 0, "no status in the answer" + where);
    if (status == HTTP_STATUS_PROXY_AUTH_REQ)
        return Fail(failure, TransportError::ProxyAuth, 0, "the answer was 407" + where);
    if (proxy.named && request.https && status >= 400 && !HasServerCertificate(req))
        return Fail(failure, TransportError::ProxyRefused, 0,
                    "the proxy answered " + std::to_string(status) + " to the tunnel" + where);

    TransportResponse response;
    response.status = static_cast<int>(status);
    response.headers = ParseRawHeaders(QueryRawHeaders(req));
    if (!onResponse(response))
        return Fail(failure, TransportError::Cancelled, 0, "the answer was not wanted");

    // How the body ends: its length, or the final chunk (WinHTTP decodes the chunks and
    // reports a connection that ends before the last one as an error).
    const bool chunked =
        ascii::Lower(response.Header("Transfer-Encoding")).find("chunked") != std::string::npos;
    unsigned long long length = 0;
    const bool hasLength = !chunked && ParseLength(response.Header("Content-Length"), length);
    const bool noBody = status == 204 || status == 304 || (status >= 100 && status < 200);
    if (noBody)
        return true;
    if (!chunked && !hasLength)
        return Fail(failure, TransportError::Protocol, 0,
                    "the answer has neither a Content-Length nor chunks, so its end cannot be "
                    "told from a broken connection" +
                        where);
    if (chunked && !ChunkEndIsChecked())
        return Fail(failure, TransportError::Protocol, 0,
                    "the answer is chunked, and this WinHTTP (Wine's) does not report a "
                    "connection that ends before the last chunk" +
                        where);

    context.phase = WinHttpPhase::Body;
    std::vector<char> buffer(256 * 1024);
    unsigned long long received = 0;
    for (;;) {
        if (budget.Passed())
            return Fail(failure, TransportError::Timeout, 0,
                        "the request's time ran out after " + std::to_string(received) + " bytes" +
                            where);
        const int read = budget.Step(request.readTimeout);
        WinHttpSetTimeouts(req, read, read, read, read);
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(req, &available))
            return failWith(GetLastError(), "reading the body");
        if (available == 0)
            break;
        DWORD got = 0;
        const DWORD want = std::min<DWORD>(available, static_cast<DWORD>(buffer.size()));
        if (!WinHttpReadData(req, buffer.data(), want, &got))
            return failWith(GetLastError(), "reading the body");
        if (got == 0)
            break;
        received += got;
        if (hasLength && received > length)
            return Fail(failure, TransportError::Protocol, 0,
                        "the body is longer than its Content-Length" + where);
        if (!onData(buffer.data(), got))
            return Fail(failure, TransportError::Cancelled, 0,
                        "stopped after " + std::to_string(received) + " bytes");
    }
    if (hasLength && received < length)
        return Fail(failure, TransportError::Truncated, 0,
                    "the connection ended after " + std::to_string(received) + " of " +
                        std::to_string(length) + " bytes" + where);
    return true;
}

} // namespace

std::unique_ptr<Transport> MakeTransport() {
    return std::make_unique<WinHttpTransport>();
}
