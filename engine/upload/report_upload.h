#pragma once

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <spdlog/logger.h>
#include <string>

// The whole upload, from connecting to the last byte of the answer, within this time.
inline constexpr std::chrono::milliseconds kUploadDeadline{10000};

// Where the operator's document says reports may be uploaded: its member
// support.reportUrl, when that is an http:// or https:// URL with a path (the rules of
// installer URLs); empty when the document names none or one the tool cannot use.
std::string ReportUploadUrl(const nlohmann::json& doc);

enum UploadResult {
    kUploaded = 1,
    kUploadNoAnswer = -1,   // no connection, or no complete answer within the deadline
    kUploadHttpStatus = -2, // an answer with a status outside 200..299
    kUploadBadAnswer = -3,  // a 2xx answer that is not {"code": "<report code>"}
    kUploadBadUrl = -4,     // not an http:// or https:// URL with a path
};

struct UploadAnswer {
    int status = 0;   // HTTP status of the answer, 0 without one
    std::string code; // the report's code, on success
    std::string why;  // what failed, in English, for the log and standard error
    // Without an answer: what failed in the words of the record (certificate, proxy, ...).
    std::string words;
};

// POSTs the JSON report text to the URL once, without retry, as
// "application/json; charset=utf-8", all within `deadline`; returns an UploadResult.
// The outcome, success or failure, is written to the diagnostic log.
int UploadReport(const std::string& reportUrl, const std::string& jsonReport,
                 std::chrono::milliseconds deadline, UploadAnswer& answer,
                 const std::shared_ptr<spdlog::logger>& logger);

// A report code as the support server hands it out: 8 characters of Crockford's base32
// (digits and capital letters without I, L, O and U).
bool IsReportCode(const std::string& text);

// The code as it is read out on the phone, in two groups: "K7QF-3MZP".
std::string ReportCodeForReading(const std::string& code);
