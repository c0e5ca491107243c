#include "panel/dpi_scale.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    EnableHighDpiScaling(); // as the program does: sizes in points at any screen's DPI
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // Death tests re-run this program instead of forking a process that has Qt threads.
    ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
    const int status = RUN_ALL_TESTS();
    // Main windows under test are never deleted (their destructor ends the process with 0);
    // leave before any teardown could touch them and replace the test status.
    std::fflush(nullptr);
    std::_Exit(status);
}
