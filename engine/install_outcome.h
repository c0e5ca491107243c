#pragma once

#include "engine/download/download.h"
#include "engine/transport/transport.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// How one installer's download and run ended, in Chinese, for the row's record. These say
// more than the result codes the install jobs signal (which stay as they are).

// The outcome of an installer that ran and ended with exit code 0.
inline const char kInstalledOutcome[] = "已安装，等待重新检测";

// Why a download failed ("下载失败：HTTP 404", ...); empty for Saved. `httpStatus` is the
// status of the last response, 0 when none arrived; `failure` what failed in the transport
// (see FetchHooks), whose words name a certificate, TLS or proxy problem.
std::string FetchOutcomeText(FetchResult fetched, int httpStatus,
                             const TransportFailure& failure = TransportFailure());

// What RunElevated's result and the installer's exit code (none when unknown) mean.
std::string RunOutcomeText(int runCode, const std::optional<unsigned long>& exitCode);

// Starts the installer at `target` with administrator rights and waits for it: RunElevated's
// result, with what it means for the row's record in `outcome`.
int RunInstaller(const std::filesystem::path& target, std::string& outcome);

// The CA drivers' outcome from the outcomes of the installers that did not succeed, each
// "<file name>：<outcome>".
std::string CaOutcomeText(const std::vector<std::string>& failures);
