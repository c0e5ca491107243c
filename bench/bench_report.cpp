// The check without a window against the window's check: 10 installed CA components on a
// local server, wall time per run of each. The window's run ends when its report has
// reached the panel; the headless run when its report file is written.
#include "app/headless_check.h"
#include "bench_util.h"
#include "panel/centerwidget.h"
#include "temp_machine.h"
#include "test_server.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

namespace {

double WindowRuns(centerWidget& panel, int runs) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i) {
        panel.CheckReportSlot(CheckReport()); // no CA result until this run's report
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (panel.LastReport().rows[kCaRow].code)
                loop.quit();
        });
        panel.StartCheck(true);
        poll.start(0);
        loop.exec();
    }
    return SecondsSince(start) / runs;
}

double HeadlessRuns(int runs, int& status) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i)
        status = RunHeadlessCheck({"--check", "--report", "bench-report.json"});
    return SecondsSince(start) / runs;
}

} // namespace

int main(int argc, char** argv) {
    setenv("TZ", "CST-8", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    tzset();
    QApplication app(argc, argv);
    TempMachine machine;
    testnet::TestServer server;
    server.ServeGbk("/cfg", BenchDocument(InstallDrivers(machine, 10)).dump());
    std::ofstream("config.json") << nlohmann::json{
        {"mainCfg",
         {{"topTitle", "t"},
          {"ipPort", server.ipPort()},
          {"url", "/cfg"},
          {"width", 960},
          {"high", 720}}}}.dump();
    MainConfig config;
    config.ipPort = server.ipPort();
    config.url = "/cfg";
    centerWidget panel;
    panel.SetConfig(config, nullptr, nullptr);

    int status = 0;
    const int runs = 50;
    WindowRuns(panel, 3); // warm-up
    HeadlessRuns(3, status);
    const double window = WindowRuns(panel, runs);
    const double headless = HeadlessRuns(runs, status);
    std::printf("%-22s %-8s %s\n", "10 CA entries", "runs", "ms per run");
    std::printf("%-22s %-8d %.3f\n", "window check", runs, window * 1e3);
    std::printf("%-22s %-8d %.3f (exit status %d)\n", "headless check", runs, headless * 1e3,
                status);
    std::remove("config.json");
    std::remove("bench-report.json");
    return 0;
}
