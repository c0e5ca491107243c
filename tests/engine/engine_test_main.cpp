#include "engine/download/download_limits.h"
#include "engine/install_outcome.h"

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
    // A wait for another installation that a test can sit out.
    InstallWaitLimits wait;
    wait.otherInstallation = std::chrono::seconds(5);
    wait.poll = std::chrono::milliseconds(20);
    SetInstallWaitLimits(wait);
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
