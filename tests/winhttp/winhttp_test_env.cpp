#include "winhttp_test_env.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>

namespace {

const wchar_t kInternetSettings[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

int PortVariable(const char* name, std::string& missing) {
    const char* value = std::getenv(name);
    if (!value || !*value) {
        missing += std::string(missing.empty() ? "" : ", ") + name;
        return 0;
    }
    return std::atoi(value);
}

void SetString(HKEY key, const wchar_t* name, const std::string& value) {
    const std::wstring wide(value.begin(), value.end());
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                   static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

HKEY OpenSettings() {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &key, nullptr);
    return key;
}

} // namespace

const TestServers& Servers() {
    static const TestServers servers = [] {
        TestServers s;
        s.tls = PortVariable("QUELDA_TEST_TLS_PORT", s.missing);
        s.wrongName = PortVariable("QUELDA_TEST_WRONG_NAME_PORT", s.missing);
        s.untrusted = PortVariable("QUELDA_TEST_UNTRUSTED_PORT", s.missing);
        s.plain = PortVariable("QUELDA_TEST_PLAIN_PORT", s.missing);
        s.liar = PortVariable("QUELDA_TEST_LIAR_PORT", s.missing);
        s.liarTls = PortVariable("QUELDA_TEST_LIAR_TLS_PORT", s.missing);
        s.proxy = PortVariable("QUELDA_TEST_PROXY_PORT", s.missing);
        s.closed = PortVariable("QUELDA_TEST_CLOSED_PORT", s.missing);
        const char* log = std::getenv("QUELDA_TEST_PROXY_LOG");
        if (log)
            s.proxyLog = log;
        else
            s.missing += ", QUELDA_TEST_PROXY_LOG";
        const char* size = std::getenv("QUELDA_TEST_FILE_SIZE");
        s.fileSize = size ? std::atoll(size) : 0;
        return s;
    }();
    return servers;
}

bool IsInstallerPattern(const std::string& body, long long offset) {
    for (std::size_t i = 0; i < body.size(); ++i)
        if (static_cast<unsigned char>(body[i]) != (offset + static_cast<long long>(i)) % 251)
            return false;
    return true;
}

UserProxySettings::~UserProxySettings() {
    Clear();
}

void UserProxySettings::Clear() {
    HKEY key = OpenSettings();
    for (const wchar_t* name : {L"ProxyEnable", L"ProxyServer", L"ProxyOverride", L"AutoConfigURL"})
        RegDeleteValueW(key, name);
    RegCloseKey(key);
}

void UserProxySettings::Manual(const std::string& server, const std::string& bypass) {
    HKEY key = OpenSettings();
    const DWORD enabled = 1;
    RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enabled),
                   sizeof(enabled));
    SetString(key, L"ProxyServer", server);
    if (!bypass.empty())
        SetString(key, L"ProxyOverride", bypass);
    RegCloseKey(key);
}

void UserProxySettings::Script(const std::string& url) {
    HKEY key = OpenSettings();
    SetString(key, L"AutoConfigURL", url);
    RegCloseKey(key);
}

bool ProxyLogReaches(const std::string& text, int count) {
    for (int i = 0; i < 40; ++i) {
        if (ProxyLogCount(text) >= count)
            return true;
        Sleep(50);
    }
    return false;
}

int ProxyLogCount(const std::string& text) {
    std::ifstream log(Servers().proxyLog);
    int count = 0;
    for (std::string line; std::getline(log, line);)
        if (line.find(text) != std::string::npos)
            ++count;
    return count;
}

namespace {

Fetched Send(const TransportRequest& request) {
    Fetched fetched;
    const std::unique_ptr<Transport> transport = MakeTransport();
    fetched.ok = transport->Send(
        request,
        [&](const TransportResponse& response) {
            ++fetched.responses;
            fetched.status = response.status;
            fetched.response = response;
            return true;
        },
        [&](const char* data, std::size_t size) {
            fetched.body.append(data, size);
            return true;
        },
        fetched.failure);
    return fetched;
}

} // namespace

Fetched FetchOwnConnection(bool https, const std::string& host, int port, const std::string& path) {
    TransportRequest request;
    request.https = https;
    request.host = host;
    request.port = port;
    request.path = path;
    request.headers.emplace_back("Connection", "close");
    return Send(request);
}

Fetched Fetch(const std::string& method, bool https, const std::string& host, int port,
              const std::string& path, std::chrono::milliseconds deadline,
              const std::string& body) {
    TransportRequest request;
    request.method = method;
    request.https = https;
    request.host = host;
    request.port = port;
    request.path = path;
    request.deadline = deadline;
    if (method == "POST") {
        request.body = body;
        request.contentType = "application/json";
    }
    return Send(request);
}

const char* ErrorName(TransportError error) {
    switch (error) {
    case TransportError::None:
        return "None";
    case TransportError::Cancelled:
        return "Cancelled";
    case TransportError::BadRequest:
        return "BadRequest";
    case TransportError::Resolve:
        return "Resolve";
    case TransportError::Connect:
        return "Connect";
    case TransportError::Timeout:
        return "Timeout";
    case TransportError::Truncated:
        return "Truncated";
    case TransportError::Protocol:
        return "Protocol";
    case TransportError::CertUntrusted:
        return "CertUntrusted";
    case TransportError::CertName:
        return "CertName";
    case TransportError::CertDate:
        return "CertDate";
    case TransportError::CertRevoked:
        return "CertRevoked";
    case TransportError::CertRevocationUnknown:
        return "CertRevocationUnknown";
    case TransportError::CertWrongUsage:
        return "CertWrongUsage";
    case TransportError::TlsUnavailable:
        return "TlsUnavailable";
    case TransportError::TlsFailed:
        return "TlsFailed";
    case TransportError::ProxyUnreachable:
        return "ProxyUnreachable";
    case TransportError::ProxyRefused:
        return "ProxyRefused";
    case TransportError::ProxyAuth:
        return "ProxyAuth";
    case TransportError::ProxyScript:
        return "ProxyScript";
    case TransportError::Other:
        return "Other";
    }
    return "?";
}
