// What a download must never do: start a partial or tampered installer, leave debris,
// or hold the whole body in memory.
#include "engine_fixture.h"

#include "engine/download/download.h"
#include "peak_rss.h"

#include <fstream>

using namespace enginetest;
using Strings = std::vector<std::string>;
using nlohmann::json;

namespace {

class DownloadSafety : public EngineTest {
  protected:
    SignalLog RunTool(const json& tool) {
        json doc = BaseDocument();
        for (const auto& [k, v] : tool.items())
            doc["shanxi"]["tool"][k] = v;
        ServeDocument(doc);
        return Run(2);
    }
    std::string Script(const std::string& name) {
        return "#!/bin/sh\necho " + name + " >> '" + marker.string() + "'\n";
    }
};

TEST_F(DownloadSafety, ConnectionClosedHalfwayStartsNothingAndLeavesNothing) {
    const std::string script = Script("cut") + std::string(4096, '#') + "\n";
    server.ServeTruncated("/files/cut", script, script.size() / 2);
    EXPECT_EQ(RunTool({{"url", server.Url("/files/cut")}}).Last("DownloadToolSig"), -2);

    json doc = BaseDocument();
    json a = InstalledDriver("a.dll", "1.0.0.0", "2023-10-12 09:30");
    a["fileVersion"] = "2.0.0.0";
    a["url"] = server.Url("/files/cut");
    doc["shanxi"]["driver"] = json::array({a});
    ServeDocument(doc);
    EXPECT_EQ(Run(3).Last("DownloadCaSig"), -1);
    EXPECT_EQ(Run(4, 0, 4).Events().back(), "RepairFinishSig(4,0,0,-1)");

    EXPECT_TRUE(InstallerRuns().empty());
    EXPECT_TRUE(DownloadedFiles("shanxi").empty());
    EXPECT_EQ(server.RequestCount("/files/cut"), 9u); // three runs of three attempts
}

TEST_F(DownloadSafety, EmptyBodyIsAFailedDownload) {
    server.ServeBytes("/files/empty", "");
    EXPECT_EQ(RunTool({{"url", server.Url("/files/empty")}}).Last("DownloadToolSig"), -2);
    EXPECT_TRUE(DownloadedFiles("shanxi").empty());
}

TEST_F(DownloadSafety, Sha256IsCheckedBeforeTheInstallerStarts) {
    const std::string script = Script("checked");
    server.ServeBytes("/files/checked", script);
    const std::string file = (machine.dir() / "reference").string();
    std::ofstream(file, std::ios::binary) << script;
    const std::string good = Sha256OfFile(file);
    ASSERT_EQ(good.size(), 64u);
    std::string upper = good;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    std::string bad = good;
    bad[10] = bad[10] == '0' ? '1' : '0';

    struct Case {
        const char* name;
        json sha; // null: no member
        int expected;
    };
    const Case cases[] = {
        {"mismatch", bad, -2},
        {"too short", good.substr(0, 63), -2},
        {"match", good, 1},
        {"match in upper case", upper, 1},
        {"explicit null", nullptr, 1},
        {"not text", 12, -3},
    };
    int started = 0;
    for (const auto& c : cases) {
        json tool = {{"url", server.Url("/files/checked")}, {"sha256", c.sha}};
        json net = tool;
        EXPECT_EQ(RunTool(tool).Last("DownloadToolSig"), c.expected) << c.name;
        json doc = BaseDocument();
        doc["shanxi"]["framework"] = net;
        ServeDocument(doc);
        EXPECT_EQ(Run(1).Last("DownloadCsharpSig"), c.expected) << c.name;
        if (c.expected == 1)
            started += 2;
        EXPECT_EQ(InstallerRuns().size(), static_cast<std::size_t>(started)) << c.name;
    }
    const Strings m = Messages();
    const std::string line =
        "sha256 mismatch file:" + (RunFolder("shanxi") / "tool.exe").u8string() + " ";
    EXPECT_EQ(std::count(m.begin(), m.end(), line), 2);
}

TEST_F(DownloadSafety, LargeBodyIsStreamedWithFlatMemory) {
    constexpr std::uint64_t kSize = 256ull << 20;
    server.ServeGenerated("/files/big", kSize);
    const auto file = machine.dir() / "big" / "tool.exe";
    std::filesystem::create_directories(file.parent_path());
    ResetPeakRss();
    const long before = PeakRssKiB();
    EXPECT_EQ(FetchInstaller(server.Url("/files/big"), file, "", FetchHooks()), FetchResult::Saved);
    const long growth = PeakRssKiB() - before;
    EXPECT_EQ(std::filesystem::file_size(file), kSize);
    std::ifstream in(file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(kSize - 1000));
    std::string tail(1000, '\0');
    in.read(tail.data(), 1000);
    for (std::uint64_t i = 0; i < 1000; ++i)
        ASSERT_EQ(tail[i], testnet::TestServer::GeneratedByte(kSize - 1000 + i)) << i;
    EXPECT_LT(growth, 64 * 1024) << "peak RSS grew by " << growth << " KiB";
    std::filesystem::remove(file);
}

} // namespace
