#pragma once

#include "engine/upload/report_upload.h"

#include <QString>
#include <QThread>
#include <chrono>
#include <memory>
#include <spdlog/logger.h>
#include <string>

// One report upload on a thread of its own, so that the window never waits for the
// network. Its outcome leaves only by UploadFinishSig.
class UploadThread : public QThread {
    Q_OBJECT

  public:
    UploadThread(std::string reportUrl, std::string jsonReport,
                 std::shared_ptr<spdlog::logger> logger,
                 std::chrono::milliseconds deadline = kUploadDeadline);

  signals:
    // `result` is an UploadResult; `code` the report's code on success; `failure` the
    // Chinese text that explains a failed upload.
    void UploadFinishSig(int result, const QString& code, const QString& failure);

  protected:
    void run() override;

  private:
    std::string reportUrl;
    std::string jsonReport;
    std::shared_ptr<spdlog::logger> logger;
    std::chrono::milliseconds deadline;
};
