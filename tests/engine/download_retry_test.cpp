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

std::string Sha256(const std::string& bytes) {
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// Limits for one test, restored afterwards.
class ScopedLimits {
  public:
    explicit ScopedLimits(const DownloadLimits& limits) : saved_(CurrentDownloadLimits()) {
        SetDownloadLimits(limits);
    }
    ~ScopedLimits() { SetDownloadLimits(saved_); }

  private:
    DownloadLimits saved_;
};

class DownloadRetry : public EngineTest {
  protected:
    std::string Script(const std::string& name) {
        return "#!/bin/sh\necho " + name + " >> '" + marker.string() + "'\n" +
               std::string(20000, '#') + "\n";
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
    const std::size_t q = v1.size() / 4;
    auto from = [](std::size_t n) { return "bytes=" + std::to_string(n) + "-"; };
    auto flaky = [&](int drops, bool ranges, std::string etag = "\"v1\"", std::string next = "") {
        return testnet::FlakyBody{v1, q, drops, ranges, etag, next, next.empty() ? "" : "\"v2\""};
    };
    struct Case {
        const char* name;
        testnet::FlakyBody flaky;
        std::string sha256;
        int expected;
        std::vector<std::string> ranges; // the Range header of each request
        std::vector<std::string> runs;
    };
    const Case cases[] = {
        {"drop once, ranges", flaky(1, true), Sha256(v1), 1, {"", from(q)}, {"v1"}},
        {"drop once, no ranges", flaky(1, false), Sha256(v1), 1, {"", ""}, {"v1"}},
        {"drop once, no validator", flaky(1, true, ""), Sha256(v1), 1, {"", ""}, {"v1"}},
        {"drop always, ranges", flaky(-1, true), "", -2, {"", from(q), from(2 * q)}, {}},
        {"drop always, no ranges", flaky(-1, false), "", -2, {"", "", ""}, {}},
        // The validator stops the resume: the new file comes whole, never spliced.
        {"changed file", flaky(1, true, "\"v1\"", v2), Sha256(v2), 1, {"", from(q)}, {"v2"}},
        {"changed file, old hash", flaky(1, true, "\"v1\"", v2), Sha256(v1), -2, {"", from(q)}, {}},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(workDir / "shanxi");
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
    EXPECT_EQ(std::filesystem::file_size(workDir / "shanxi" / "tool.exe"), 400u);
}

TEST_F(DownloadRetry, StalePartFilesOfEarlierRunsGoWhenADownloadStartsThere) {
    const auto dir = workDir / "shanxi";
    std::filesystem::create_directories(dir);
    const auto stale = dir / "tool.exe.999999-1.part";
    const auto fresh = dir / "tool.exe.999999-2.part";
    const auto other = dir / "notes.part";
    for (const auto& f : {stale, fresh, other})
        std::ofstream(f) << "x";
    const long long hourAgo = std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count() -
                              3600;
    SetLastWriteUnix(stale, hourAgo);
    SetLastWriteUnix(other, hourAgo);

    EXPECT_EQ(RunTool(ServeInstaller("setup"), ""), 1);
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(fresh)); // may belong to a download in progress
    EXPECT_TRUE(std::filesystem::exists(other)); // not one of ours
}

TEST_F(DownloadRetry, TheHeldInstallerIsTheOneThatStartsWhateverReplacesItsPath) {
    const std::string script = Script("checked");
    server.ServeBytes("/files/checked", script);
    const auto target = workDir / "direct" / "tool.exe";
    HeldFile installer;
    FetchHooks hooks;
    hooks.installer = &installer;
    ASSERT_EQ(FetchInstaller(server.ipPort(), "/files/checked", target, Sha256(script), hooks),
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
                FetchInstaller(server.ipPort(), "/files/long", dir / "tool.exe", std::string());
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
