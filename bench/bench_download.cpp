// The installer download step against `curl -o` on the same 1 GiB body from a local
// server: throughput of each, their ratio, and the peak memory of the download step.
#include "bench_util.h"
#include "engine/download.h"
#include "test_server.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::uint64_t size = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024ull) << 20;
    const fs::path dir = fs::temp_directory_path() / ("quelda-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    testnet::TestServer server;
    server.ServeGenerated("/big.exe", size);
    const double mib = static_cast<double>(size) / (1 << 20);

    ResetPeakRss();
    const long rssBefore = PeakRssKiB();
    auto start = std::chrono::steady_clock::now();
    const FetchResult result =
        FetchInstaller(server.ipPort(), "/big.exe", dir / "tool.exe", std::string());
    const double toolSeconds = SecondsSince(start);
    const long rssPeak = PeakRssKiB();
    const bool toolOk = result == FetchResult::Saved && fs::file_size(dir / "tool.exe") == size;
    fs::remove(dir / "tool.exe");

    const std::string command =
        "curl -s -o '" + (dir / "curl.exe").string() + "' " + server.Url("/big.exe");
    start = std::chrono::steady_clock::now();
    const int curlStatus = std::system(command.c_str());
    const double curlSeconds = SecondsSince(start);
    const bool curlOk = curlStatus == 0 && fs::file_size(dir / "curl.exe") == size;
    fs::remove_all(dir);

    std::printf("body                 %.0f MiB\n", mib);
    std::printf("download step        %.1f MiB/s (%.2f s)%s\n", mib / toolSeconds, toolSeconds,
                toolOk ? "" : "  FAILED");
    std::printf("curl -o              %.1f MiB/s (%.2f s)%s\n", mib / curlSeconds, curlSeconds,
                curlOk ? "" : "  FAILED");
    std::printf("ratio (step / curl)  %.2f\n", curlSeconds / toolSeconds);
    std::printf("peak RSS             %ld KiB before, %ld KiB during the step (+%ld KiB)\n",
                rssBefore, rssPeak, rssPeak - rssBefore);
    return toolOk && curlOk ? 0 : 1;
}
