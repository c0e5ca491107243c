#include "checkthread.h"

CheckThread::CheckThread(int mode, int regionIndex, const std::string& ipPort,
                         const std::string& url, const std::string& spareText, int repairFlags,
                         std::shared_ptr<spdlog::logger> logger)
    : regionIndex(regionIndex), ipPort(ipPort), url(url), spareText(spareText), mode(mode),
      repairFlags(repairFlags), logger(std::move(logger)) {}

CheckThread::~CheckThread() = default;

void CheckThread::run() {}
