// quelda-support under load, in process over loopback: uploads per second from 16 clients
// at once, then with 100,000 stored reports the lookup's p99 and the overview's time.
#include "pages.h"
#include "report_samples.h"
#include "support_server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char kToken[] = "bench-token-0123456789abcdef";

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

// Reports spread over the last 7 days, three regions, a few versions found.
void Fill(ReportStore& store, int count, std::vector<std::string>& codes) {
    std::mt19937 random(7);
    const char* regions[] = {"shanxi", "hebei", "neimeng"};
    const char* caFound[] = {"2.1.0.8", "2.1.0.7", "2.0.9.1"};
    const char* builds[] = {"7601", "19045", "22631"};
    const std::int64_t now = std::time(nullptr);
    for (int done = 0; done < count;) {
        std::vector<NewReport> reports(std::min(1000, count - done));
        std::vector<NewReport*> batch;
        for (NewReport& r : reports) {
            nlohmann::json report = SampleReport();
            report["region"] = regions[random() % 3];
            report["rows"][kCaRow]["facts"][0]["found"] = caFound[random() % 3];
            report["system"] = {{"build", builds[random() % 3]}, {"bits", random() % 4 ? 64 : 32}};
            r.received = now - static_cast<std::int64_t>(random() % (7 * 86400));
            r.address = "10.1.2." + std::to_string(random() % 250);
            r.body = report.dump();
            r.digest = DigestReport(report);
            batch.push_back(&r);
        }
        std::string error;
        if (!store.Insert(batch, error)) {
            std::fprintf(stderr, "fill: %s\n", error.c_str());
            std::exit(1);
        }
        for (NewReport& r : reports)
            codes.push_back(r.code);
        done += static_cast<int>(reports.size());
    }
}

} // namespace

int main() {
    const fs::path dir = fs::temp_directory_path() / ("bench-support-" + std::to_string(getpid()));
    fs::create_directories(dir);
    ReportStore store;
    std::string error;
    if (!store.Open((dir / "bench.sqlite").string(), error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    UploadWriter writer(store, 0, nullptr);
    SupportServer::Settings settings;
    settings.token = kToken;
    settings.uploadsPerMinute = 1 << 30; // the clients all come from 127.0.0.1
    settings.log = nullptr;
    SupportServer server(settings, store, writer);
    const int port = server.Bind("127.0.0.1", 0);
    std::thread listener([&server] { server.Listen(); });

    // Uploads: 16 clients for 5 seconds, on kept-alive connections and then (as the tool
    // does) with a new connection per upload.
    const std::string body = SampleReport().dump();
    for (const bool keepAlive : {true, false}) {
        std::atomic<int> uploads{0}, failures{0};
        std::atomic<bool> stop{false};
        std::vector<std::thread> clients;
        const auto start = Clock::now();
        for (int c = 0; c < 16; ++c)
            clients.emplace_back([&] {
                httplib::Client client("127.0.0.1", port);
                client.set_keep_alive(keepAlive);
                client.set_tcp_nodelay(true);
                while (!stop) {
                    auto res = client.Post("/reports", body, "application/json; charset=utf-8");
                    if (res && res->status == 201) {
                        ++uploads;
                    } else if (failures++ == 0) {
                        std::fprintf(stderr, "first failed upload: %s\n",
                                     res ? std::to_string(res->status).c_str()
                                         : httplib::to_string(res.error()).c_str());
                    }
                }
            });
        std::this_thread::sleep_for(std::chrono::seconds(5));
        stop = true;
        for (std::thread& t : clients)
            t.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("uploads, %s: %d in %.1f s from 16 clients = %.0f/s (%d failed; body %zu "
                    "bytes)\n",
                    keepAlive ? "kept-alive connections" : "a connection each", uploads.load(),
                    seconds, uploads / seconds, failures.load(), body.size());
    }

    // 100,000 stored reports.
    std::vector<std::string> codes;
    const auto fillStart = Clock::now();
    Fill(store, 100000 - static_cast<int>(store.Count()), codes);
    std::printf("filled to %lld reports in %.1f s\n", static_cast<long long>(store.Count()),
                Ms(Clock::now() - fillStart) / 1000);

    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    const httplib::Headers bearer = {{"Authorization", std::string("Bearer ") + kToken}};
    std::mt19937 random(11);
    std::vector<double> lookups;
    for (int i = 0; i < 2000; ++i) {
        const std::string& code = codes[random() % codes.size()];
        const auto t = Clock::now();
        auto res = client.Get(("/support/r/" + code).c_str(), bearer);
        lookups.push_back(Ms(Clock::now() - t));
        if (!res || res->status != 200) {
            std::fprintf(stderr, "lookup of %s failed\n", code.c_str());
            return 1;
        }
    }
    std::printf("lookup (HTTP, page rendered): median %.2f ms, p99 %.2f ms over %zu\n",
                Percentile(lookups, 0.5), Percentile(lookups, 0.99), lookups.size());

    // The same without HTTP: the store's lookup and the page's rendering.
    std::vector<double> direct;
    for (int i = 0; i < 2000; ++i) {
        const std::string& code = codes[random() % codes.size()];
        const auto t = Clock::now();
        StoredReport report;
        if (!store.Find(code, report) || ReportPage(report).empty())
            return 1;
        direct.push_back(Ms(Clock::now() - t));
    }
    std::printf("lookup (store and rendering, no HTTP): median %.2f ms, p99 %.2f ms\n",
                Percentile(direct, 0.5), Percentile(direct, 0.99));

    std::vector<double> overviews;
    for (int i = 0; i < 10; ++i) {
        const auto t = Clock::now();
        auto res = client.Get("/support/", bearer);
        overviews.push_back(Ms(Clock::now() - t));
        if (!res || res->status != 200)
            return 1;
    }
    std::printf("overview (24 h and 7 days, %lld reports in the 7 days): median %.0f ms, max "
                "%.0f ms\n",
                static_cast<long long>(store.Count()), Percentile(overviews, 0.5),
                *std::max_element(overviews.begin(), overviews.end()));

    server.Stop();
    listener.join();
    fs::remove_all(dir);
    return 0;
}
