#include "common/log/program_log.h"

#include "common/log/diaglog.h"
#include "probes/log_folder.h"
#include "probes/textconv.h"

#include <spdlog/spdlog.h>

namespace {

// The log file is opened by a narrow name: the system's code page (GBK on Windows).
std::string NarrowPath(const std::string& utf8) {
#ifdef _WIN32
    return Utf8ToGbk(utf8);
#else
    return utf8;
#endif
}

} // namespace

std::shared_ptr<spdlog::logger> CreateProgramLogger(const std::string& workDir) {
    const LogFolderChoice choice = ChooseLogFolder(workDir);
    auto logger = CreateDiagLoggerIn(NarrowPath(choice.folder));
    if (choice.folder.empty())
        return logger;
    // The lines are in UTF-8, as all of the log.
    switch (choice.reason) {
    case LogFolderReason::kWorkingFolder:
        SPDLOG_LOGGER_CALL(logger, spdlog::level::err, "log folder {} (the working folder's logs)",
                           choice.folder);
        break;
    case LogFolderReason::kInstallFolder:
        SPDLOG_LOGGER_CALL(logger, spdlog::level::err,
                           "log folder {} (the working folder {} is where the MSI package "
                           "installed the program)",
                           choice.folder, workDir);
        break;
    case LogFolderReason::kNotWritable:
        SPDLOG_LOGGER_CALL(logger, spdlog::level::err,
                           "log folder {} (the working folder {} cannot be written)", choice.folder,
                           workDir);
        break;
    }
    return logger;
}
