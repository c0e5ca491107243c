#include "engine/download/download_limits.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
    // The workstations run in UTC+8; file times and document times are compared there.
    setenv("TZ", "CST-8", 1);
    tzset();
    // Retries without the product's pause between attempts.
    DownloadLimits limits;
    limits.retryDelay = std::chrono::milliseconds(10);
    SetDownloadLimits(limits);
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
