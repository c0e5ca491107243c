// An installer download stays within its bounds: the entry's size, the general limit and the
// drive's free space. Whatever passes them is refused before its body is written, and never
// started.
#include "engine_fixture.h"

#include "lying_server.h"

#include <fstream>

using namespace enginetest;
using nlohmann::json;

namespace {

class DownloadBounds : public EngineTest {
  protected:
    // The tool row's outcome of a single install and of the repair's tool step.
    std::vector<std::string> RunTool(const json& tool) {
        json doc = BaseDocument();
        for (const auto& [k, v] : tool.items())
            doc["shanxi"]["tool"][k] = v;
        ServeDocument(doc);
        std::vector<std::string> outcomes = Run(2).Outcomes();
        for (const std::string& o : Run(4, 0, 2).Outcomes())
            outcomes.push_back(o);
        return outcomes;
    }
    void ExpectNothingKept() {
        EXPECT_TRUE(InstallerRuns().empty());
        EXPECT_TRUE(DownloadedFiles("shanxi").empty());
    }
    static std::string Row(const std::string& text) {
        return std::to_string(kToolRow) + ":" + text;
    }
};

TEST_F(DownloadBounds, AnAnswerAnnouncingMoreThanTheEntrysSizeIsRefusedAtOnce) {
    server.ServeGenerated("/files/big", 1 << 20);
    const auto outcomes = RunTool({{"url", server.Url("/files/big")}, {"size", 4096}});
    const std::string refused = Row("下载失败：安装程序大于服务器配置给出的大小（4096 字节）");
    EXPECT_EQ(outcomes, (std::vector<std::string>{refused, refused}));
    EXPECT_EQ(server.RequestCount("/files/big"), 2u); // one request a job, no retry
    ExpectNothingKept();
}

TEST_F(DownloadBounds, TheGeneralLimitHoldsForALengthAndForAnEndlessChunkedBody) {
    DownloadLimits limits = CurrentDownloadLimits();
    limits.installerMaxBytes = 2 << 20;
    ScopedLimits scoped(limits);
    const std::string past = Row("下载失败：安装程序超过 2 MB 的上限");

    server.ServeGenerated("/files/long", 4 << 20);
    EXPECT_EQ(RunTool({{"url", server.Url("/files/long")}}),
              (std::vector<std::string>{past, past}));

    // No length: the bytes themselves pass the limit.
    std::string chunks;
    for (int i = 0; i < 600; ++i)
        chunks += "1000\r\n" + std::string(0x1000, 'c') + "\r\n";
    testnet::LyingServer endless("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks +
                                 "0\r\n\r\n");
    EXPECT_EQ(RunTool({{"url", endless.Url("/files/endless")}}),
              (std::vector<std::string>{past, past}));
    EXPECT_EQ(endless.connections(), 2);
    ExpectNothingKept();
}

TEST_F(DownloadBounds, ADriveWithoutRoomForTheInstallerIsRefusedBeforeTheBodyIsWritten) {
    std::ofstream(machine.dir() / "disk-space.ini") << "c: = " << (10 << 20) << "\n";
    server.ServeGenerated("/files/setup", 1 << 20);
    const auto outcomes = RunTool({{"url", server.Url("/files/setup")}});
    // 1 MB and the 64 MB margin against the 10 MB the drive has.
    const std::string full = Row("下载失败：磁盘空间不足（需要 65 MB，可用 10 MB）");
    EXPECT_EQ(outcomes, (std::vector<std::string>{full, full}));
    ExpectNothingKept();

    // With room, the same installer is fetched whole (and then is no program).
    std::ofstream(machine.dir() / "disk-space.ini") << "C: = " << (100ull << 20) << "\n";
    json doc = BaseDocument();
    doc["shanxi"]["tool"]["url"] = server.Url("/files/setup");
    ServeDocument(doc);
    EXPECT_EQ(Run(2).Last("DownloadToolSig"), -4);
}

TEST_F(DownloadBounds, ASizeThatIsNoByteCountIsADocumentFault) {
    server.ServeGenerated("/files/setup", 100);
    for (const json& size : {json(-1), json(0), json("100"), json(1.5)}) {
        json doc = BaseDocument();
        doc["shanxi"]["tool"] = {{"url", server.Url("/files/setup")}, {"size", size}};
        ServeDocument(doc);
        EXPECT_EQ(Run(2).Last("DownloadToolSig"), -3) << size.dump();
    }
    EXPECT_EQ(server.RequestCount("/files/setup"), 0u);
}

} // namespace
