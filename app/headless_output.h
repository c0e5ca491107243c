#pragma once

#include "app/check_options.h"
#include "common/mainconfig.h"
#include "engine/report/check_report.h"

#include <memory>
#include <spdlog/logger.h>
#include <string>

class CheckThread;

// What the commands without a window share: their messages, the check job, the document keys
// of a job, and
// the report's way out (a file or standard output, and the upload).

// A message on standard error; it may name a file with Chinese characters.
void SayError(const std::string& text);

// One check job on the document of `config`, run to its end; its report.
CheckReport RunCheckJob(const CheckOptions& options, const MainConfig& config,
                        const std::shared_ptr<spdlog::logger>& logger);

// The keys in force (built in, else config.json's) for a job's document, said in the log.
void UseDocumentKeys(CheckThread& thread, const MainConfig& config,
                     const std::shared_ptr<spdlog::logger>& logger);

// Writes the report as `options` say and uploads it when asked: 0, or the exit status of what
// failed (74 not written, 75 not uploaded).
int DeliverReport(const CheckReport& report, const CheckOptions& options,
                  const std::shared_ptr<spdlog::logger>& logger);
