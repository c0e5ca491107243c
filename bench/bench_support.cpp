// quelda-support under load, in process over loopback: uploads per second from 16 clients
// at once, then with 100,000 stored reports the lookup's p99 and the overview's time; the
// overview after 300 uploads at every limit; the overview and the memory taken after 30,000
// uploads of made-up names from 400 addresses; and the hostile run: 16 honest clients from
// 127.0.0.1 uploading and looking up, without and then with an attack from 127.0.0.2 (slow
// clients, chunked floods, oversized headers; once beside them on the same cores, once at the
// lowest priority as if the attacker's machines were its own), and during a flood of made-up names
// from 400 addresses behind a proxy at 127.0.0.3, and during 480 slow readers from 60 networks.
// Every phase ends by itself.
#include "pages.h"
#include "peak_rss.h"
#include "raw_client.h"
#include "report_limits.h"
#include "report_samples.h"
#include "support_server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
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

struct HonestFigures {
    double requestsPerSecond = 0;
    double p99 = 0;
    int failures = 0;
    std::string firstFailure; // what the first failed request got
};

// 16 clients from 127.0.0.1 for `duration`: each uploads a report and opens its page.
HonestFigures Honest(int port, std::chrono::seconds duration) {
    const std::string body = SampleReport().dump();
    const httplib::Headers bearer = {{"Authorization", std::string("Bearer ") + kToken}};
    std::mutex mutex;
    std::vector<double> latencies;
    std::atomic<int> failures{0};
    std::string firstFailure;
    auto failed = [&](const httplib::Result& res, const char* what) {
        if (failures++ != 0)
            return;
        std::lock_guard<std::mutex> lock(mutex);
        firstFailure = std::string(what) + " " +
                       (res ? std::to_string(res->status) : httplib::to_string(res.error()));
    };
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    const auto start = Clock::now();
    for (int c = 0; c < 16; ++c)
        clients.emplace_back([&] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            client.set_connection_timeout(5);
            client.set_read_timeout(5);
            std::vector<double> mine;
            while (!stop) {
                auto t = Clock::now();
                auto up = client.Post("/reports", body, "application/json; charset=utf-8");
                mine.push_back(Ms(Clock::now() - t));
                if (!up || up->status != 201) {
                    failed(up, "upload");
                    continue;
                }
                const std::string code = nlohmann::json::parse(up->body)["code"];
                t = Clock::now();
                auto page = client.Get(("/support/r/" + code).c_str(), bearer);
                mine.push_back(Ms(Clock::now() - t));
                if (!page || page->status != 200)
                    failed(page, "lookup");
            }
            std::lock_guard<std::mutex> lock(mutex);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
        });
    std::this_thread::sleep_for(duration);
    stop = true;
    for (std::thread& t : clients)
        t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return {latencies.size() / seconds, latencies.empty() ? 0 : Percentile(latencies, 0.99),
            failures.load(), firstFailure};
}

// The attack from 127.0.0.2 until `stop`: 64 slow clients (a header byte every half
// second), 4 chunked floods of 100 MiB each, 4 senders of 64 KiB header blocks. Each attacker
// connects again when it is refused or closed.
// Lowers the calling thread to the lowest priority: an attacker that stands for machines of
// its own, whose sending costs the server's cores nothing (it still takes what is left).
void Elsewhere(bool lowest) {
    if (lowest)
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 19);
}

std::vector<std::thread> Attack(int port, std::atomic<bool>& stop, std::atomic<long>& refusals,
                                bool lowest) {
    std::vector<std::thread> attackers;
    for (int i = 0; i < 64; ++i)
        attackers.emplace_back([&, port, lowest] {
            Elsewhere(lowest);
            while (!stop) {
                RawClient c;
                if (!c.Connect(port, "127.0.0.2") || !c.Send("POST /reports HTTP/1.1\r\n")) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    continue;
                }
                while (!stop && c.Send("X") && c.ReadSome(std::chrono::milliseconds(500)).empty() &&
                       !c.closedByPeer()) {
                }
                ++refusals;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    const std::string chunk = "10000\r\n" + std::string(64 * 1024, 'x') + "\r\n";
    for (int i = 0; i < 4; ++i)
        attackers.emplace_back([&, port, lowest] {
            Elsewhere(lowest);
            while (!stop) {
                RawClient c;
                if (!c.Connect(port, "127.0.0.2"))
                    continue;
                c.Flood("POST /reports HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n",
                        chunk, 100u << 20);
                refusals += StatusOf(c.ReadSome(std::chrono::seconds(1))) != 0;
            }
        });
    std::string headers = "GET /support/ HTTP/1.1\r\nHost: x\r\n";
    while (headers.size() < 64 * 1024)
        headers +=
            "X-Padding-" + std::to_string(headers.size()) + ": " + std::string(40, 'p') + "\r\n";
    for (int i = 0; i < 4; ++i)
        attackers.emplace_back([&, port, headers, lowest] {
            Elsewhere(lowest);
            while (!stop) {
                RawClient c;
                if (!c.Connect(port, "127.0.0.2"))
                    continue;
                c.Send(headers + "\r\n");
                refusals += StatusOf(c.ReadSome(std::chrono::seconds(1))) != 0;
            }
        });
    return attackers;
}

// Slow readers until `stop`: 8 connections from each of 60 networks (127.1.<n>.1), through
// a 4 KiB receive buffer, each with 100 requests for the login page (a connection's most)
// sent at once and then 1 KiB taken every half second. A connection found ended is opened
// again at once.
std::thread SlowReaders(int port, std::atomic<bool>& stop, std::atomic<long>& ended) {
    return std::thread([port, &stop, &ended] {
        std::string requests;
        for (int i = 0; i < 100; ++i)
            requests += "GET /support/login HTTP/1.1\r\nHost: x\r\n\r\n";
        std::vector<std::pair<std::string, std::unique_ptr<RawClient>>> readers;
        for (int n = 0; n < 60; ++n)
            for (int c = 0; c < 8; ++c)
                readers.emplace_back("127.1." + std::to_string(n) + ".1", nullptr);
        auto open = [&](std::pair<std::string, std::unique_ptr<RawClient>>& reader) {
            reader.second = std::make_unique<RawClient>();
            if (reader.second->Connect(port, reader.first, 4096))
                reader.second->Send(requests);
        };
        for (auto& reader : readers)
            open(reader);
        while (!stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            for (auto& reader : readers) {
                char buffer[1024];
                const ssize_t n = ::recv(reader.second->fd(), buffer, sizeof buffer, MSG_DONTWAIT);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                    ++ended;
                    open(reader);
                }
            }
        }
    });
}

// A report at every limit: 16 versions of 64 characters in 64-character file names, padded
// with 400-character strings to just under the 256 KiB body limit. Each one is different.
std::string ReportAtTheLimits(int n) {
    nlohmann::json report = SampleReport();
    nlohmann::json& facts = report["rows"][kCaRow]["facts"];
    facts = nlohmann::json::array();
    for (int v = 0; v < 16; ++v) {
        std::string name = std::to_string(n) + "-" + std::to_string(v) + "-";
        name += std::string(kMaxVersionChars - name.size(), 'f');
        facts.push_back({{"name", "version"},
                         {"entry", v},
                         {"where", "C:\\drv\\" + name},
                         {"expected", std::string(kMaxVersionChars, 'e')},
                         {"found", name},
                         {"ok", false},
                         {"note", ""}});
    }
    nlohmann::json pad = nlohmann::json::array();
    while (report.dump().size() + pad.dump().size() < 250 * 1024)
        pad.push_back(std::string(kMaxTextChars, 'p'));
    report["padding"] = pad;
    return report.dump();
}

// Uploads of RandomNameReport over a new connection each from 127.0.0.3 (a proxy), as from
// the addresses 10.<n / 250>.<n % 250>.1 for n below `addresses`, each at most
// `perAddressPerMinute` a minute, until `stop` or `total` uploads. Returns the uploads sent.
long NameFlood(int port, int addresses, int perAddressPerMinute, long total,
               std::atomic<bool>& stop, std::atomic<long>& stored) {
    constexpr int kThreads = 8;
    const double perThreadPerSecond =
        perAddressPerMinute > 0 ? addresses * perAddressPerMinute / 60.0 / kThreads : 0;
    std::atomic<long> sent{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 random(100 + t);
            const auto start = Clock::now();
            for (long n = 0; !stop; ++n) {
                const long i = sent++;
                if (i >= total)
                    break;
                if (perThreadPerSecond > 0) // paced: the group's addresses at their limit
                    std::this_thread::sleep_until(
                        start +
                        std::chrono::microseconds(static_cast<long>(n * 1e6 / perThreadPerSecond)));
                const int a = static_cast<int>(i % addresses);
                const std::string body = RandomNameReport(random).dump();
                RawClient c;
                if (!c.Connect(port, "127.0.0.3"))
                    continue;
                c.Send("POST /reports HTTP/1.1\r\nHost: x\r\nConnection: close\r\nX-Real-IP: 10." +
                       std::to_string(a / 250) + "." + std::to_string(a % 250) +
                       ".1\r\nContent-Type: application/json\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n\r\n" + body);
                stored += StatusOf(c.ReadUntilClose(std::chrono::seconds(10))) == 201;
            }
        });
    for (std::thread& t : threads)
        t.join();
    return std::min<long>(sent.load(), total);
}

long RssKiB() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    long kib = -1;
    while (status && std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmRSS: %ld", &kib) == 1)
            break;
    if (status)
        std::fclose(status);
    return kib;
}

} // namespace

int main() {
    std::signal(SIGPIPE, SIG_IGN); // a refused client's write fails with EPIPE instead
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
    // The clients all come from 127.0.0.1.
    settings.uploadsPerMinute = settings.uploadsPerNetworkPerMinute = 1 << 30;
    settings.log = nullptr;
    // 16 honest clients share 127.0.0.1 here, and a client that connects anew for each
    // upload has a closing connection or two besides: 32 per address (the attacker at
    // 127.0.0.2 gets as many) instead of 8.
    settings.limits.maxPerAddress = 32;
    // The flood of made-up names comes through a proxy at 127.0.0.3, from many addresses.
    settings.proxies = {"127.0.0.3"};
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

    // The hostile run: the same honest load without and with the attack.
    const HonestFigures quiet = Honest(port, std::chrono::seconds(5));
    // The attack once with the attackers beside the honest clients on the same cores, once
    // with them at the lowest priority, as if they ran elsewhere.
    HonestFigures attacked[2];
    long refused[2] = {0, 0};
    for (const bool lowest : {false, true}) {
        std::atomic<bool> stopAttack{false};
        std::atomic<long> refusals{0};
        std::vector<std::thread> attackers = Attack(port, stopAttack, refusals, lowest);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        attacked[lowest] = Honest(port, std::chrono::seconds(5));
        stopAttack = true;
        for (std::thread& t : attackers)
            t.join();
        refused[lowest] = refusals;
    }
    // 400 addresses, each at the limit of 30 uploads a minute: 200 uploads a second of 16
    // made-up component names and versions each.
    std::atomic<bool> stopFlood{false};
    std::atomic<long> flooded{0};
    long floodSent = 0;
    std::thread flood([&] { floodSent = NameFlood(port, 400, 30, 1L << 40, stopFlood, flooded); });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const HonestFigures named = Honest(port, std::chrono::seconds(5));
    stopFlood = true;
    flood.join();
    std::atomic<bool> stopReaders{false};
    std::atomic<long> readersEnded{0};
    std::thread readers = SlowReaders(port, stopReaders, readersEnded);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const int held = server.OpenConnections();
    const HonestFigures slow = Honest(port, std::chrono::seconds(5));
    const int heldAfter = server.OpenConnections();
    stopReaders = true;
    readers.join();
    std::printf("honest clients (16 from 127.0.0.1, upload then lookup), without attack: "
                "%.0f requests/s, p99 %.1f ms, %d failed\n",
                quiet.requestsPerSecond, quiet.p99, quiet.failures);
    for (const bool lowest : {false, true})
        std::printf("honest clients during the attack from 127.0.0.2 (64 slow, 4 chunked floods, "
                    "4 oversized headers%s; %ld attacker connections ended): %.0f requests/s "
                    "(%.0f%% of quiet), p99 %.1f ms, %d failed\n",
                    lowest ? ", the attackers at the lowest priority" : "", refused[lowest],
                    attacked[lowest].requestsPerSecond,
                    quiet.requestsPerSecond > 0
                        ? 100 * attacked[lowest].requestsPerSecond / quiet.requestsPerSecond
                        : 0.0,
                    attacked[lowest].p99, attacked[lowest].failures);
    std::printf(
        "honest clients during the flood of made-up names (400 addresses at 30 a "
        "minute each; %ld uploads, %ld stored): %.0f requests/s (%.0f%% of quiet), p99 "
        "%.1f ms, %d failed\n",
        floodSent, flooded.load(), named.requestsPerSecond,
        quiet.requestsPerSecond > 0 ? 100 * named.requestsPerSecond / quiet.requestsPerSecond : 0.0,
        named.p99, named.failures);
    std::printf(
        "honest clients during 480 slow readers from 60 networks (connections open: %d when "
        "it began, %d when it ended; %ld readers' connections ended): %.0f requests/s (%.0f%% "
        "of quiet), p99 %.1f ms, %d failed%s%s\n",
        held, heldAfter, readersEnded.load(), slow.requestsPerSecond,
        quiet.requestsPerSecond > 0 ? 100 * slow.requestsPerSecond / quiet.requestsPerSecond : 0.0,
        slow.p99, slow.failures,
        slow.firstFailure.empty() ? "" : "; first: ", slow.firstFailure.c_str());
    server.Stop();
    listener.join();

    // 300 uploads at every limit into an empty store: the overview's time and size.
    {
        ReportStore limits;
        if (!limits.Open((dir / "limits.sqlite").string(), error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        UploadWriter limitsWriter(limits, 0, nullptr);
        SupportServer limitsServer(settings, limits, limitsWriter);
        const int limitsPort = limitsServer.Bind("127.0.0.1", 0);
        std::thread limitsListener([&limitsServer] { limitsServer.Listen(); });
        std::atomic<int> next{0}, stored{0};
        std::vector<std::thread> clients;
        for (int c = 0; c < 8; ++c)
            clients.emplace_back([&] {
                httplib::Client client("127.0.0.1", limitsPort);
                for (int n = next++; n < 300; n = next++) {
                    auto res = client.Post("/reports", ReportAtTheLimits(n), "application/json");
                    stored += res && res->status == 201;
                }
            });
        for (std::thread& t : clients)
            t.join();
        httplib::Client client("127.0.0.1", limitsPort);
        std::vector<double> times;
        size_t bytes = 0;
        for (int i = 0; i < 5; ++i) {
            const auto t = Clock::now();
            auto res = client.Get("/support/", bearer);
            times.push_back(Ms(Clock::now() - t));
            bytes = res ? res->body.size() : 0;
        }
        std::printf("overview after %d uploads at every limit (%.0f MB database): median %.0f "
                    "ms, %zu bytes\n",
                    stored.load(), static_cast<double>(fs::file_size(dir / "limits.sqlite")) / 1e6,
                    Percentile(times, 0.5), bytes);
        limitsServer.Stop();
        limitsListener.join();
    }
    // 30,000 uploads of made-up names from 400 addresses into an empty store, as fast as they
    // go (the counters do not depend on the pace): the overview's time and the memory taken.
    {
        ReportStore names;
        if (!names.Open((dir / "names.sqlite").string(), error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        UploadWriter namesWriter(names, 0, nullptr);
        SupportServer namesServer(settings, names, namesWriter);
        const int namesPort = namesServer.Bind("127.0.0.1", 0);
        std::thread namesListener([&namesServer] { namesServer.Listen(); });
        const long rssBefore = RssKiB();
        ResetPeakRss();
        const long peakBefore = PeakRssKiB();
        std::atomic<bool> never{false};
        std::atomic<long> stored{0};
        const auto start = Clock::now();
        NameFlood(namesPort, 400, 0, 30000, never, stored);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        httplib::Client client("127.0.0.1", namesPort);
        std::vector<double> times;
        for (int i = 0; i < 5; ++i) {
            const auto t = Clock::now();
            auto res = client.Get("/support/", bearer);
            times.push_back(Ms(Clock::now() - t));
            if (!res || res->status != 200)
                return 1;
        }
        std::printf("overview after %ld uploads of made-up names from 400 addresses (in %.1f s, "
                    "%.0f MB database): median %.0f ms, max %.0f ms; memory +%.1f MiB resident, "
                    "peak +%.1f MiB (with the 8 uploading clients)\n",
                    stored.load(), seconds,
                    static_cast<double>(fs::file_size(dir / "names.sqlite")) / 1e6,
                    Percentile(times, 0.5), *std::max_element(times.begin(), times.end()),
                    (RssKiB() - rssBefore) / 1024.0, (PeakRssKiB() - peakBefore) / 1024.0);
        namesServer.Stop();
        namesListener.join();
    }
    fs::remove_all(dir);
    return 0;
}
