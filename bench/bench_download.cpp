// The installer download step against `curl -o` on the same 1 GiB body from a local
// server: throughput of each, their ratio, and the peak memory of the download step.
// The two alternate for a few rounds; the best round of each counts, which evens out
// page-cache write-back and other load on the machine.
#include "bench_util.h"
#include "engine/download.h"
#include "test_server.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::uint64_t size = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024ull) << 20;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const fs::path dir = fs::temp_directory_path() / ("quelda-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    testnet::TestServer server;
    server.ServeGenerated("/big.exe", size);
    const double mib = static_cast<double>(size) / (1 << 20);
    const std::string command =
        "curl -s -o '" + (dir / "curl.exe").string() + "' " + server.Url("/big.exe");

    double bestStep = 1e9;
    double bestCurl = 1e9;
    bool ok = true;
    long rssBefore = 0;
    long rssPeak = 0;
    for (int round = 0; round < rounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        const int curlStatus = std::system(command.c_str());
        const double curlSeconds = SecondsSince(start);
        ok = ok && curlStatus == 0 && fs::file_size(dir / "curl.exe") == size;
        fs::remove(dir / "curl.exe");
        sync();

        ResetPeakRss();
        rssBefore = PeakRssKiB();
        start = std::chrono::steady_clock::now();
        const FetchResult result =
            FetchInstaller(server.ipPort(), "/big.exe", dir / "tool.exe", std::string());
        const double stepSeconds = SecondsSince(start);
        rssPeak = std::max(rssPeak, PeakRssKiB());
        ok = ok && result == FetchResult::Saved && fs::file_size(dir / "tool.exe") == size;
        fs::remove(dir / "tool.exe");
        sync();

        std::printf("round %d: download step %.1f MiB/s, curl -o %.1f MiB/s\n", round + 1,
                    mib / stepSeconds, mib / curlSeconds);
        bestStep = std::min(bestStep, stepSeconds);
        bestCurl = std::min(bestCurl, curlSeconds);
    }
    fs::remove_all(dir);

    std::printf("body                 %.0f MiB, best of %d rounds\n", mib, rounds);
    std::printf("download step        %.1f MiB/s (%.2f s)\n", mib / bestStep, bestStep);
    std::printf("curl -o              %.1f MiB/s (%.2f s)\n", mib / bestCurl, bestCurl);
    std::printf("ratio (step / curl)  %.2f\n", bestCurl / bestStep);
    std::printf("peak RSS             %ld KiB before, %ld KiB during the step (+%ld KiB)\n",
                rssBefore, rssPeak, rssPeak - rssBefore);
    std::printf("%s\n", ok ? "both complete" : "A DOWNLOAD FAILED");
    return ok ? 0 : 1;
}
