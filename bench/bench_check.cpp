// A complete check run (mode 0) against a local server and a machine folder with 1, 10 and
// 100 installed CA components: wall time per run and per component.
#include "bench_util.h"
#include "engine/checkthread.h"
#include "temp_machine.h"
#include "test_server.h"

#include <QCoreApplication>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <ctime>

using nlohmann::json;

namespace {

double TimeRuns(const testnet::TestServer& server, int runs, int& lastCa) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i) {
        CheckThread thread(0, 0, server.ipPort(), "/cfg", "", 0, nullptr);
        QObject::connect(&thread, &CheckThread::CheckCAVerSig, [&](int r) { lastCa = r; });
        thread.start();
        thread.wait();
    }
    return SecondsSince(start) / runs;
}

} // namespace

int main(int argc, char** argv) {
    setenv("TZ", "CST-8", 1);
    tzset();
    QCoreApplication app(argc, argv);
    std::printf("%-10s %-8s %-14s %-14s %s\n", "entries", "runs", "ms per run", "ms per entry",
                "CA result");
    for (int count : {1, 10, 100}) {
        TempMachine machine;
        testnet::TestServer server;
        const json doc = BenchDocument(InstallDrivers(machine, count));
        server.ServeGbk("/cfg", doc.dump());
        int ca = 0;
        TimeRuns(server, 3, ca); // warm-up
        const int runs = count >= 100 ? 20 : 50;
        const double perRun = TimeRuns(server, runs, ca);
        std::printf("%-10d %-8d %-14.3f %-14.4f %d\n", count, runs, perRun * 1e3,
                    perRun * 1e3 / count, ca);
    }
    return 0;
}
