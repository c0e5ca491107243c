#include "engine/upload/upload_thread.h"

#include "engine/engine_log.h"
#include "engine/upload/upload_texts.h"

UploadThread::UploadThread(std::string reportUrl, std::string jsonReport,
                           std::shared_ptr<spdlog::logger> logger,
                           std::chrono::milliseconds deadline)
    : reportUrl(std::move(reportUrl)), jsonReport(std::move(jsonReport)), logger(std::move(logger)),
      deadline(deadline) {}

void UploadThread::run() {
    // Nothing may leave the thread; the window still hears that the upload ended.
    int result = kUploadNoAnswer;
    UploadAnswer answer;
    try {
        result = UploadReport(reportUrl, jsonReport, deadline, answer, logger);
    } catch (const std::exception& e) {
        ENGINE_LOG(logger, "thread run exception={} ", e.what());
    } catch (...) {
        ENGINE_LOG(logger, "thread run exception={} ", "unknown");
    }
    if (result == kUploaded)
        emit UploadFinishSig(result, QString::fromStdString(answer.code), QString());
    else
        emit UploadFinishSig(result, QString(),
                             QString::fromStdString(UploadFailureText(result, answer)));
}
