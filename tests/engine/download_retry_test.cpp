// What the network breaks: dropped connections are retried (resumed where the server
// allows it), trickles end, and the file that runs is the file that was checked.
#include "engine_fixture.h"

#include "engine/download/download.h"
#include "engine/download/download_limits.h"
#include "engine/download/part_files.h"
#include "probes/elevated.h"
#include "probes/held_file.h"

#include <QCryptographicHash>

#include <fstream>
#include <thread>

using namespace enginetest;
using nlohmann::json;

namespace {

std::string ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Sha256(const std::string& bytes) {
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

class DownloadRetry : public EngineTest {
  protected:
    // An installer that records its name, and its own bytes as they arrived.
    std::string Script(const std::string& name) {
        return "#!/bin/sh\necho " + name + " >> '" + marker.string() + "'\ncat \"$0\" > '" +
               marker.string() + ".ran'\n" + std::string(20000, '#') + "\n";
    }
    int RunTool(const std::string& url, const std::string& sha256) {
        json doc = BaseDocument();
        doc["shanxi"]["tool"] = {{"url", url}, {"sha256", sha256}};
        ServeDocument(doc);
        return Run(2).Last("DownloadToolSig");
    }
    long Count(const std::string& prefix) const {
        const auto m = Messages();
        return std::count_if(m.begin(), m.end(),
                             [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
    }
};

TEST_F(DownloadRetry, DroppedConnectionIsRetriedAndResumedOnlyWhereTheServerAllows) {
    const std::string v1 = Script("v1");
    const std::string v2 = Script("v2");
    const std::size_t q = v1.size() / 4, half = v1.size() / 2, total = v1.size();
    auto from = [](std::size_t n) { return "bytes=" + std::to_string(n) + "-"; };
    auto flaky = [&](int drops, bool ranges, std::string etag = "\"v1\"", std::string next = "") {
        testnet::FlakyBody f;
        f.body = v1;
        f.dropAfter = q;
        f.drops = drops;
        f.ranges = ranges;
        f.etag = etag;
        f.changedBody = next;
        f.changedEtag = next.empty() ? "" : "\"v2\"";
        return f;
    };
    auto chunked = [&](int drops) {
        testnet::FlakyBody f = flaky(drops, true);
        f.chunked = true;
        return f;
    };
    auto bytes = [](std::size_t first, std::size_t last, std::size_t size) {
        return "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
               std::to_string(size);
    };
    struct Case {
        const char* name;
        testnet::FlakyBody flaky;
        std::string sha256;
        int expected;
        std::vector<std::string> ranges; // the Range header of each request
        std::vector<std::string> runs;
    };
    // A resumed answer with this status, Content-Range and end of its body: it costs one
    // more request, from byte 0, and the whole file runs.
    auto lie = [&](const char* name, testnet::FlakyBody f, int status, std::string range,
                   std::size_t end) {
        f.lieStatus = status;
        f.lieContentRange = std::move(range);
        f.lieEnd = end;
        return Case{name, f, "", 1, {"", from(q), ""}, {"v1"}};
    };
    const testnet::FlakyBody once = flaky(1, true);
    Case always = lie("always lying", flaky(-1, true), 206, bytes(q, total - 1, total), half);
    always.expected = -2; // out of retries
    always.runs.clear();
    const Case cases[] = {
        {"drop once, ranges", flaky(1, true), Sha256(v1), 1, {"", from(q)}, {"v1"}},
        {"drop once, no ranges", flaky(1, false), Sha256(v1), 1, {"", ""}, {"v1"}},
        {"drop once, no validator", flaky(1, true, ""), Sha256(v1), 1, {"", ""}, {"v1"}},
        {"drop always, ranges", flaky(-1, true), "", -2, {"", from(q), from(2 * q)}, {}},
        {"drop always, no ranges", flaky(-1, false), "", -2, {"", "", ""}, {}},
        // The validator stops the resume: the new file comes whole, never spliced.
        {"changed file", flaky(1, true, "\"v1\"", v2), Sha256(v2), 1, {"", from(q)}, {"v2"}},
        {"changed file, old hash", flaky(1, true, "\"v1\"", v2), Sha256(v1), -2, {"", from(q)}, {}},
        {"chunked, cut", chunked(1), "", 1, {"", from(q)}, {"v1"}},
        // Lying resumes (no digest to catch them): never spliced, the file comes again whole.
        lie("206 range ends early", once, 206, bytes(q, half - 1, total), half),
        lie("206 body ends early", once, 206, bytes(q, total - 1, total), half),
        lie("206 other total", once, 206, bytes(q, total, total + 1), total + 1),
        lie("206 other start", once, 206, bytes(0, total - 1, total), total),
        lie("206 malformed", once, 206, "bytes " + std::to_string(q) + "-", total),
        lie("416", once, 416, "bytes */" + std::to_string(total), 0),
        lie("503", once, 503, "", 0),
        lie("chunked, 206 ends early", chunked(1), 206, bytes(q, total - 1, total), half),
        lie("chunked, 206 total too big", chunked(1), 206, bytes(q, total, total + 1), total),
        always,
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(RegionFolder("shanxi"));
        std::filesystem::remove(marker);
        server.ClearRequests();
        const std::size_t before = Messages().size();
        server.ServeFlaky("/files/flaky", c.flaky);
        EXPECT_EQ(RunTool(server.Url("/files/flaky"), c.sha256), c.expected) << c.name;

        std::vector<std::string> ranges;
        for (const auto& r : server.Requests())
            if (r.path == "/files/flaky") {
                ranges.push_back(r.range);
                if (!r.range.empty()) {
                    EXPECT_EQ(r.ifRange, "\"v1\"") << c.name;
                }
            }
        EXPECT_EQ(ranges, c.ranges) << c.name;
        EXPECT_EQ(InstallerRuns(), c.runs) << c.name;
        if (c.expected != 1) {
            EXPECT_TRUE(DownloadedFiles("shanxi").empty()) << c.name;
        } else if (c.runs.size() == 1) {
            const std::string file = ReadBytes(marker.string() + ".ran");
            EXPECT_TRUE(file == Script(c.runs[0])) << c.name << ": " << file.size() << " bytes";
        }
        const auto m = Messages();
        const std::vector<std::string> added(m.begin() + static_cast<long>(before), m.end());
        const long retries = std::count_if(added.begin(), added.end(), [](const std::string& s) {
            return s.rfind("download retry ", 0) == 0;
        });
        EXPECT_EQ(retries, static_cast<long>(c.ranges.size()) - 1) << c.name;
    }
}

TEST_F(DownloadRetry, TrickleBelowTheSpeedLimitFailsAndASlowButMovingOneCompletes) {
    DownloadLimits limits = CurrentDownloadLimits();
    // Rates far from the limit on both sides, so that a loaded machine (or a sanitizer
    // build) that stretches the server's sleeps cannot carry one across it.
    limits.lowSpeedBytesPerSecond = 20;
    limits.lowSpeedTime = std::chrono::milliseconds(400);
    limits.retries = 0;
    ScopedLimits scoped(limits);

    server.ServeTrickle("/files/trickle", 100000, std::chrono::milliseconds(200)); // ~5 B/s
    EXPECT_EQ(RunTool(server.Url("/files/trickle"), ""), -2);
    EXPECT_EQ(Count("download failed after 1 attempts: below 20 B/s for 400 ms"), 1);
    EXPECT_TRUE(DownloadedFiles("shanxi").empty());

    server.ServeTrickle("/files/moving", 400, std::chrono::milliseconds(2)); // ~500 B/s
    EXPECT_EQ(RunTool(server.Url("/files/moving"), ""), -4); // complete, then not a program
    EXPECT_EQ(Count("download failed after 1 attempts: below 20 B/s for 400 ms"), 1);
}

TEST_F(DownloadRetry, EarlierRunFoldersGoWhenADownloadStarts) {
    const auto dir = RegionFolder("shanxi");
    const auto stale = dir / "run-1-1";
    const auto busy = dir / "run-2-1"; // another copy's download, still being written
    for (const auto& f : {stale, busy}) {
        std::filesystem::create_directories(f);
        std::ofstream(f / "tool.exe.999999-1.part") << "x";
    }
    std::ofstream(stale / "version.dll") << "planted";
    std::ofstream(dir / "notes.txt") << "not one of ours";
    const long long hourAgo = std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count() -
                              3600;
    for (const auto& f :
         {stale / "tool.exe.999999-1.part", stale / "version.dll", stale, busy, dir / "notes.txt"})
        SetLastWriteUnix(f, hourAgo);

    EXPECT_EQ(RunTool(ServeInstaller("setup"), ""), 1);
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(busy / "tool.exe.999999-1.part"));
    EXPECT_TRUE(std::filesystem::exists(dir / "notes.txt"));
}

TEST_F(DownloadRetry, TheHeldInstallerIsTheOneThatStartsWhateverReplacesItsPath) {
    const std::string script = Script("checked");
    server.ServeBytes("/files/checked", script);
    const auto target = workDir / "direct" / "tool.exe";
    HeldFile installer;
    FetchHooks hooks;
    hooks.installer = &installer;
    ASSERT_EQ(FetchInstaller(server.Url("/files/checked"), target, Sha256(script), hooks),
              FetchResult::Saved);
    ASSERT_TRUE(installer.IsOpen());

    const auto swap = workDir / "direct" / "swap";
    std::ofstream(swap) << Script("replaced");
    std::filesystem::rename(swap, target);
    EXPECT_EQ(RunElevated(target.string()), 1);
    EXPECT_EQ(InstallerRuns(), std::vector<std::string>{"checked"});
}

TEST_F(DownloadRetry, ShutdownStopsADownloadAndRemovesItsPartFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    server.ServeTrickle("/files/long", 1000000, std::chrono::milliseconds(5));
    const auto dir = workDir / "long";
    EXPECT_EXIT(
        {
            std::thread download([&] {
                FetchInstaller(server.Url("/files/long"), dir / "tool.exe", std::string());
            });
            auto parts = [&] {
                std::size_t n = 0;
                std::error_code ec;
                for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end;
                     it.increment(ec))
                    ++n;
                return n;
            };
            for (int i = 0; i < 500 && parts() == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const bool started = parts() == 1;
            AbortDownloads(std::chrono::seconds(5));
            const bool removed = parts() == 0;
            download.join();
            std::exit(started && removed ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
