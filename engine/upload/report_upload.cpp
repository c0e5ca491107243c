#include "engine/upload/report_upload.h"

#include "engine/engine_log.h"
#include "engine/request_deadline.h"
#include "engine/server_address.h"
#include "probes/file_probes.h"

#include <httplib.h>

#include <cstring>

namespace {

// A code answer is a few dozen bytes; a server that sends more is not the support server.
constexpr std::size_t kMaxAnswerBytes = 4096;

bool SplitUploadUrl(const std::string& url, ServerAddress& address, std::string& path) {
    std::string host;
    SplitHttpUrl(url, host, path);
    return !host.empty() && !path.empty() && ParseServerAddress(host, address);
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
        answer.why = "not a plain-HTTP URL with a path";
        result = kUploadBadUrl;
    } else {
        httplib::Client client(address.host, address.port);
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(deadline);
        const auto micros =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - seconds);
        client.set_connection_timeout(seconds.count(), micros.count());
        client.set_read_timeout(seconds.count(), micros.count());
        client.set_write_timeout(seconds.count(), micros.count());

        httplib::Request request;
        request.method = "POST";
        request.path = path;
        request.body = jsonReport;
        request.set_header("Content-Type", "application/json; charset=utf-8");
        std::string body;
        bool tooLarge = false;
        request.content_receiver = [&](const char* data, std::size_t length, std::uint64_t,
                                       std::uint64_t) {
            if (length > kMaxAnswerBytes - body.size()) {
                tooLarge = true;
                return false;
            }
            body.append(data, length);
            return true;
        };
        httplib::Response response;
        httplib::Error error = httplib::Error::Success;
        bool sent = false;
        bool late = false;
        {
            RequestDeadline watch(client, deadline);
            sent = client.send(request, response, error);
            late = watch.passed();
        }
        if (late) {
            answer.why = "no complete answer within " + std::to_string(deadline.count()) + " ms";
            result = kUploadNoAnswer;
        } else if (response.status > 0 && (response.status < 200 || response.status > 299)) {
            answer.status = response.status;
            answer.why = "HTTP status " + std::to_string(response.status);
            result = kUploadHttpStatus;
        } else if (tooLarge) {
            answer.status = response.status;
            answer.why = "an answer of more than " + std::to_string(kMaxAnswerBytes) + " bytes";
            result = kUploadBadAnswer;
        } else if (!sent) {
            answer.why = "no answer (" + httplib::to_string(error) + ")";
            result = kUploadNoAnswer;
        } else {
            answer.status = response.status;
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
        ENGINE_LOG(logger, "report upload to {} failed: {}", reportUrl, answer.why);
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
