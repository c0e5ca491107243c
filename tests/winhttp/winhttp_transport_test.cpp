// The WinHTTP transport against real servers on the loopback (nginx with TLS, a server that
// lies about its answers, tinyproxy), run under Wine by scripts/test-windows. Each case
// checks what a caller relies on: the body arrives whole or the request fails, and a
// failure says what failed.

#include "winhttp_test_env.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <set>

namespace {

using namespace std::chrono_literals;

class WinHttpTransportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Servers().missing.empty())
            FAIL() << "run by scripts/test-windows, which starts the servers; not set: "
                   << Servers().missing;
        UserProxySettings::Clear(); // whatever an interrupted run left
    }
    const TestServers& s = Servers();
};

std::string Describe(const Fetched& f) {
    return std::string(ErrorName(f.failure.error)) + " (" + std::to_string(f.failure.systemCode) +
           "): " + f.failure.detail;
}

TEST_F(WinHttpTransportTest, AWholeInstallerArrivesOverHttpsFromATrustedServer) {
    const Fetched f = Fetch("GET", true, "localhost", s.tls, "/installer.bin");
    ASSERT_TRUE(f.ok) << Describe(f);
    EXPECT_EQ(f.status, 200);
    EXPECT_EQ(f.response.Header("content-length"), std::to_string(s.fileSize));
    ASSERT_EQ(static_cast<long long>(f.body.size()), s.fileSize);
    EXPECT_TRUE(IsInstallerPattern(f.body));
}

TEST_F(WinHttpTransportTest, APostArrivesWithItsBodyAndType) {
    for (const bool https : {false, true}) {
        const Fetched f = Fetch("POST", https, "localhost", https ? s.liarTls : s.liar, "/echo", {},
                                "{\"report\":\"\xe6\xb5\x8b\xe8\xaf\x95\"}");
        ASSERT_TRUE(f.ok) << Describe(f);
        EXPECT_EQ(f.body, "{\"report\":\"\xe6\xb5\x8b\xe8\xaf\x95\"}");
        EXPECT_EQ(f.response.Header("Content-Type"), "application/json");
    }
}

// A certificate that must not be trusted: no answer is seen and nothing is read. Wine's
// Schannel names some of these faults with other codes than Windows, so a generic TLS
// failure is accepted beside the specific one; success never is.
TEST_F(WinHttpTransportTest, AnUntrustedOrMisnamedCertificateGivesNoAnswer) {
    struct Case {
        const char* what;
        int port;
        TransportError error;
    };
    for (const Case& c : {Case{"self-signed", s.untrusted, TransportError::CertUntrusted},
                          Case{"for another name", s.wrongName, TransportError::CertName}}) {
        const Fetched f = Fetch("GET", true, "localhost", c.port, "/installer.bin");
        SCOPED_TRACE(c.what);
        std::printf("[ note     ] a certificate %s: %s\n", c.what, Describe(f).c_str());
        EXPECT_FALSE(f.ok);
        EXPECT_EQ(f.responses, 0);
        EXPECT_TRUE(f.body.empty());
        EXPECT_TRUE(f.failure.error == c.error || f.failure.error == TransportError::TlsFailed)
            << Describe(f);
        EXPECT_NE(f.failure.systemCode, 0u);
    }
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Answers that end before their end: none is reported complete, over HTTP and HTTPS; the
// honest answers of the same server are the control. Wine's WinHTTP ends a cut chunked body
// without an error, so under Wine the transport takes no chunked body at all.
TEST_F(WinHttpTransportTest, ATruncatedBodyIsNeverComplete) {
    struct Case {
        const char* path;
        std::set<TransportError> errors; // empty: complete, 2000 bytes
    };
    const std::set<TransportError> chunkedOk;
    const Case cases[] = {
        {"/no-length", {TransportError::Protocol}},
        {"/chunked-cut", UnderWine() ? std::set<TransportError>{TransportError::Protocol}
                                     : std::set<TransportError>{TransportError::Truncated}},
        {"/short", {TransportError::Truncated}},
        {"/chunked-ok",
         UnderWine() ? std::set<TransportError>{TransportError::Protocol} : chunkedOk},
        {"/length-ok", {}},
    };
    for (const bool https : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(https ? "https " : "http ") + c.path);
            const Fetched f = Fetch("GET", https, "localhost", https ? s.liarTls : s.liar, c.path);
            if (c.errors.empty()) {
                ASSERT_TRUE(f.ok) << Describe(f);
                ASSERT_EQ(f.body.size(), 2000u);
                for (std::size_t i = 0; i < f.body.size(); ++i)
                    ASSERT_EQ(static_cast<unsigned char>(f.body[i]), i % 256) << i;
                continue;
            }
            std::printf("[ note     ] %s %s: %s\n", https ? "https" : "http", c.path,
                        Describe(f).c_str());
            EXPECT_FALSE(f.ok);
            EXPECT_TRUE(c.errors.count(f.failure.error)) << Describe(f);
            EXPECT_LE(f.body.size(), 1000u);
        }
}

TEST_F(WinHttpTransportTest, ARedirectIsReturnedNotFollowed) {
    const Fetched f = Fetch("GET", false, "localhost", s.liar, "/redirect");
    ASSERT_TRUE(f.ok) << Describe(f);
    EXPECT_EQ(f.status, 302);
    EXPECT_EQ(f.response.Header("Location"), "/length-ok");
    EXPECT_TRUE(f.body.empty());
}

TEST_F(WinHttpTransportTest, TheDeadlineStopsATricklingServer) {
    const auto start = std::chrono::steady_clock::now();
    const Fetched f = Fetch("GET", false, "localhost", s.liar, "/slow", 1500ms);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(f.ok);
    EXPECT_EQ(f.failure.error, TransportError::Timeout) << Describe(f);
    EXPECT_LT(took, 5s);
}

TEST_F(WinHttpTransportTest, AClosedPortIsNoConnection) {
    const Fetched f = Fetch("GET", true, "localhost", s.closed, "/");
    EXPECT_FALSE(f.ok);
    EXPECT_EQ(f.failure.error, TransportError::Connect) << Describe(f);
    EXPECT_NE(f.failure.systemCode, 0u);
}

// The user's manual proxy carries both kinds of request (a tunnel for https), as its log
// shows; a bypassed host does not go through it.
TEST_F(WinHttpTransportTest, TheUsersManualProxyCarriesTheRequests) {
    UserProxySettings settings;
    settings.Manual("127.0.0.1:" + std::to_string(s.proxy));
    const std::string tunnel = "CONNECT localhost:" + std::to_string(s.tls);
    const std::string get = "GET http://localhost:" + std::to_string(s.liar) + "/length-ok";
    const int tunnels = ProxyLogCount(tunnel), gets = ProxyLogCount(get);

    const Fetched https = FetchOwnConnection(true, "localhost", s.tls, "/installer.bin");
    ASSERT_TRUE(https.ok) << Describe(https);
    EXPECT_EQ(static_cast<long long>(https.body.size()), s.fileSize);
    const Fetched http = FetchOwnConnection(false, "localhost", s.liar, "/length-ok");
    ASSERT_TRUE(http.ok) << Describe(http);
    EXPECT_EQ(http.body.size(), 2000u);
    EXPECT_TRUE(ProxyLogReaches(tunnel, tunnels + 1));
    EXPECT_TRUE(ProxyLogReaches(get, gets + 1));
    EXPECT_EQ(ProxyLogCount(tunnel), tunnels + 1);
    // The server's own 404 through the tunnel is the server's answer, not a refusal of the
    // proxy's.
    const Fetched missing = FetchOwnConnection(true, "localhost", s.tls, "/no-such-file");
    ASSERT_TRUE(missing.ok) << Describe(missing);
    EXPECT_EQ(missing.status, 404);
}

TEST_F(WinHttpTransportTest, ABypassedHostIsReachedDirectly) {
    UserProxySettings settings;
    settings.Manual("127.0.0.1:" + std::to_string(s.proxy), "*.example.org;<local>");
    const std::string tunnel = "CONNECT localhost:" + std::to_string(s.tls);
    const int tunnels = ProxyLogCount(tunnel);
    const Fetched f = FetchOwnConnection(true, "localhost", s.tls, "/installer.bin");
    ASSERT_TRUE(f.ok) << Describe(f);
    Sleep(300); // what the proxy would log
    EXPECT_EQ(ProxyLogCount(tunnel), tunnels);
}

TEST_F(WinHttpTransportTest, TheAutomaticConfigurationScriptNamesTheProxy) {
    UserProxySettings settings;
    settings.Script("http://127.0.0.1:" + std::to_string(s.plain) + "/proxy.pac");
    const std::string tunnel = "CONNECT localhost:" + std::to_string(s.tls);
    const int tunnels = ProxyLogCount(tunnel);
    const Fetched f = FetchOwnConnection(true, "localhost", s.tls, "/installer.bin");
    ASSERT_TRUE(f.ok) << Describe(f);
    EXPECT_EQ(static_cast<long long>(f.body.size()), s.fileSize);
    EXPECT_TRUE(ProxyLogReaches(tunnel, tunnels + 1));
}

// A script that cannot be fetched: the request goes direct, as browsers do; where that
// fails too, the script is named as the fault.
TEST_F(WinHttpTransportTest, AScriptThatCannotBeFetchedFallsBackAndIsNamed) {
    UserProxySettings settings;
    settings.Script("http://127.0.0.1:" + std::to_string(s.plain) + "/missing.pac");
    const Fetched direct = Fetch("GET", true, "localhost", s.tls, "/installer.bin");
    EXPECT_TRUE(direct.ok) << Describe(direct);
    const Fetched failed = Fetch("GET", true, "localhost", s.closed, "/");
    std::printf("[ note     ] no script, no server: %s\n", Describe(failed).c_str());
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.failure.error, TransportError::ProxyScript) << Describe(failed);
    EXPECT_NE(failed.failure.systemCode, 0u);
}

TEST_F(WinHttpTransportTest, AProxyFaultIsNamed) {
    struct Case {
        const char* what;
        int proxyPort;
        bool https;
        int serverPort;
        TransportError error;
    };
    // The lying server as a proxy refuses tunnels to port 1 and wants a password for port 2.
    // Wine does not stop at a proxy's answer to CONNECT other than 200: it tries the TLS
    // handshake over it, which fails as a TLS failure.
    for (const Case& c :
         {Case{"nothing listens", s.closed, true, s.tls, TransportError::ProxyUnreachable},
          Case{"refuses the tunnel", s.liar, true, 1, TransportError::ProxyRefused},
          Case{"wants a password (http)", s.liar, false, 2, TransportError::ProxyAuth},
          Case{"wants a password (tunnel)", s.liar, true, 2, TransportError::ProxyAuth}}) {
        SCOPED_TRACE(c.what);
        UserProxySettings settings;
        settings.Manual("127.0.0.1:" + std::to_string(c.proxyPort));
        const Fetched f = Fetch("GET", c.https, "localhost", c.serverPort, "/", 10s);
        std::printf("[ note     ] a proxy that %s: %s\n", c.what, Describe(f).c_str());
        EXPECT_FALSE(f.ok);
        EXPECT_TRUE(f.failure.error == c.error ||
                    (UnderWine() && c.https && c.error != TransportError::ProxyUnreachable &&
                     f.failure.error == TransportError::TlsFailed))
            << Describe(f);
        EXPECT_EQ(f.responses, 0);
    }
}

TEST_F(WinHttpTransportTest, ACallbackStopsTheTransfer) {
    TransportRequest request;
    request.https = true;
    request.host = "localhost";
    request.port = s.tls;
    request.path = "/installer.bin";
    TransportFailure failure;
    std::size_t got = 0;
    const bool ok = MakeTransport()->Send(
        request, [](const TransportResponse&) { return true; },
        [&](const char*, std::size_t size) {
            got += size;
            return false;
        },
        failure);
    EXPECT_FALSE(ok);
    EXPECT_EQ(failure.error, TransportError::Cancelled);
    EXPECT_GT(got, 0u);
}

} // namespace
