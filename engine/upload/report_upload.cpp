#include "engine/upload/report_upload.h"

#include "engine/engine_log.h"
#include "engine/server_address.h"
#include "engine/transport/transport.h"

#include <cstring>

namespace {

// A code answer is a few dozen bytes; a server that sends more is not the support server.
constexpr std::size_t kMaxAnswerBytes = 4096;

bool SplitUploadUrl(const std::string& url, ServerAddress& address, std::string& path) {
    const std::size_t hostBegin = url.compare(0, 8, "https://") == 0 ? 8 : 7;
    return ParseServerUrl(url, address, path) && url.find('/', hostBegin) != std::string::npos;
}

// Failures whose own words tell the bidder more than "no answer": the certificate, TLS and
// the proxy.
bool SaysMoreThanNoAnswer(TransportError error) {
    switch (error) {
    case TransportError::CertUntrusted:
    case TransportError::CertName:
    case TransportError::CertDate:
    case TransportError::CertRevoked:
    case TransportError::CertRevocationUnknown:
    case TransportError::CertWrongUsage:
    case TransportError::TlsUnavailable:
    case TransportError::TlsFailed:
    case TransportError::ProxyUnreachable:
    case TransportError::ProxyRefused:
    case TransportError::ProxyAuth:
    case TransportError::ProxyScript:
        return true;
    default:
        return false;
    }
}

// The code of a 2xx answer's body, or an empty text when it is not {"code": "<code>"}.
std::string AnswerCode(const std::string& body) {
    const nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    if (!answer.is_object())
        return {};
    const auto code = answer.find("code");
    if (code == answer.end() || !code->is_string() || !IsReportCode(code->get<std::string>()))
        return {};
    return code->get<std::string>();
}

} // namespace

std::string ReportUploadUrl(const nlohmann::json& doc) {
    if (!doc.is_object())
        return {};
    const auto support = doc.find("support");
    if (support == doc.end() || !support->is_object())
        return {};
    const auto url = support->find("reportUrl");
    if (url == support->end() || !url->is_string())
        return {};
    ServerAddress address;
    std::string path;
    return SplitUploadUrl(url->get<std::string>(), address, path) ? url->get<std::string>()
                                                                  : std::string();
}

int UploadReport(const std::string& reportUrl, const std::string& jsonReport,
                 std::chrono::milliseconds deadline, UploadAnswer& answer,
                 const std::shared_ptr<spdlog::logger>& logger) {
    answer = UploadAnswer();
    ServerAddress address;
    std::string path;
    int result = kUploaded;
    if (!SplitUploadUrl(reportUrl, address, path)) {
        answer.why = "not an http:// or https:// URL with a path";
        result = kUploadBadUrl;
    } else {
        TransportRequest request;
        request.method = "POST";
        request.https = address.https;
        request.host = address.host;
        request.port = address.port;
        request.path = path;
        request.body = jsonReport;
        request.contentType = "application/json; charset=utf-8";
        request.connectTimeout = deadline;
        request.readTimeout = deadline;
        request.deadline = deadline;
        std::string body;
        bool tooLarge = false;
        TransportFailure failure;
        const bool whole = MakeTransport()->Send(
            request,
            [&](const TransportResponse& response) {
                answer.status = response.status;
                return true;
            },
            [&](const char* data, std::size_t length) {
                if (length > kMaxAnswerBytes - body.size()) {
                    tooLarge = true;
                    return false;
                }
                body.append(data, length);
                return true;
            },
            failure);
        const bool late = failure.error == TransportError::Timeout;
        if (!whole && !tooLarge && (late || answer.status == 0)) {
            answer.status = 0;
            if (SaysMoreThanNoAnswer(failure.error))
                answer.words = DescribeTransportFailure(failure);
            answer.why = late ? failure.detail : "no answer (" + failure.detail + ")";
            result = kUploadNoAnswer;
        } else if (answer.status < 200 || answer.status > 299) {
            answer.why = "HTTP status " + std::to_string(answer.status);
            result = kUploadHttpStatus;
        } else if (tooLarge) {
            answer.why = "an answer of more than " + std::to_string(kMaxAnswerBytes) + " bytes";
            result = kUploadBadAnswer;
        } else if (!whole) {
            answer.why = "an incomplete answer (" + failure.detail + ")";
            result = kUploadBadAnswer;
        } else {
            answer.code = AnswerCode(body);
            if (answer.code.empty()) {
                answer.why = "the answer is not {\"code\": \"<8 characters>\"}";
                result = kUploadBadAnswer;
            }
        }
    }
    if (result == kUploaded)
        ENGINE_LOG(logger, "report uploaded to {}, code {}", reportUrl, answer.code);
    else
        ENGINE_LOG(logger, "report upload to {} failed: {}{}", reportUrl, answer.why,
                   answer.words.empty() ? std::string() : "; " + answer.words);
    return result;
}

bool IsReportCode(const std::string& text) {
    static const char kAlphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
    if (text.size() != 8)
        return false;
    for (char c : text)
        if (c == '\0' || std::strchr(kAlphabet, c) == nullptr)
            return false;
    return true;
}

std::string ReportCodeForReading(const std::string& code) {
    return code.size() == 8 ? code.substr(0, 4) + "-" + code.substr(4) : code;
}
