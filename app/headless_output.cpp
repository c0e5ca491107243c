#include "app/headless_output.h"

#include "app/console_text.h"
#include "app/report_file.h"
#include "engine/checkthread.h"
#include "engine/job_contract.h"
#include "engine/report/report_json.h"
#include "engine/report/report_text.h"
#include "engine/trust/document_check.h"
#include "engine/upload/report_upload.h"

#include <cstdio>

namespace {

bool WriteReport(const std::string& target, const std::string& body) {
    if (target == "-")
        return WriteStreamText(stdout, body);
    return WriteReportFile(target, body);
}

// Sends the JSON report where the server document says and prints the code it gets back.
bool Upload(const CheckReport& report, const std::shared_ptr<spdlog::logger>& logger) {
    if (report.reportUrl.empty()) {
        SayError(std::string("the report was not uploaded: ") +
                 (report.rows[kNetworkRow].code == 1
                      ? "the server document names no usable support.reportUrl"
                      : "the server document could not be read, so no upload address is known"));
        return false;
    }
    UploadAnswer answer;
    if (UploadReport(report.reportUrl, ReportJsonText(report), kUploadDeadline, answer, logger) !=
        kUploaded) {
        SayError("the report could not be uploaded to " + report.reportUrl + ": " + answer.why);
        return false;
    }
    return WriteStreamText(stdout, answer.code + "\n");
}

} // namespace

void SayError(const std::string& text) {
    WriteStreamText(stderr, "quelda-envcheck: " + text + "\n");
}

CheckReport RunCheckJob(const CheckOptions& options, const MainConfig& config,
                        const std::shared_ptr<spdlog::logger>& logger) {
    CheckThread thread(kCheckJob, options.regionIndex, config.ipPort, config.url, std::string(), 0,
                       logger);
    UseDocumentKeys(thread, config, logger);
    thread.start();
    thread.AwaitEnd();
    return thread.Report();
}

void UseDocumentKeys(CheckThread& thread, const MainConfig& config,
                     const std::shared_ptr<spdlog::logger>& logger) {
    const DocumentKeys keys = SelectDocumentKeys(BuiltInDocumentKeyLines(), config.docKeys);
    LogDocumentKeys(keys, logger);
    thread.SetDocumentKeys(keys);
}

int DeliverReport(const CheckReport& report, const CheckOptions& options,
                  const std::shared_ptr<spdlog::logger>& logger) {
    const std::string body = options.format == "text" ? ReportText(report) : ReportJsonText(report);
    if (!WriteReport(options.report, body)) {
        SayError("the report could not be written to " + options.report);
        return 74;
    }
    if (options.upload && !Upload(report, logger))
        return 75;
    return 0;
}
