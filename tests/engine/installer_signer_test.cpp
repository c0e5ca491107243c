// An installer entry's `signer`: the downloaded file starts only when its Authenticode
// signature is valid, trusted here and by that signer. The samples are signed for this
// run by tests/probes/make-signed-samples.sh (QUELDA_SIGNED_SAMPLES); the machine trusts
// their test root. A PE file does not run over the stand-in, so an accepted sample ends
// as "安装程序未能启动" (it got as far as the launch), while a refused one never gets there.
#include "engine_fixture.h"

#include <cstdlib>
#include <filesystem>

using namespace enginetest;
using Strings = std::vector<std::string>;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

const char kPublisher[] = "Quelda Test Publisher";
const char kNotStarted[] = "安装程序未能启动";

class SignedInstallers : public EngineTest {
  protected:
    void SetUp() override {
        const char* dir = std::getenv("QUELDA_SIGNED_SAMPLES");
        ASSERT_TRUE(dir && *dir) << "QUELDA_SIGNED_SAMPLES names no folder";
        samples_ = fs::u8path(dir);
        std::error_code ec;
        fs::create_directories(machine.dir() / "trust", ec);
        for (const char* part : {"roots", "crls"})
            fs::copy(samples_ / part, machine.dir() / "trust" / part, fs::copy_options::recursive,
                     ec);
        ASSERT_FALSE(ec) << ec.message();
    }
    std::string ServeSample(const std::string& name) {
        server.ServeFile("/files/" + name, samples_ / name);
        return server.Url("/files/" + name);
    }
    fs::path samples_;
};

struct SampleCase {
    const char* name;
    std::string url;
    std::string outcome;
};

TEST_F(SignedInstallers, OnlyAValidInstallerOfTheNamedSignerGetsToTheLaunch) {
    const SampleCase cases[] = {
        {"good", ServeSample("good.exe"), kNotStarted},
        {"unsigned", ServeSample("unsigned.exe"), "安装程序未启动：没有数字签名"},
        {"script", ServeInstaller("setup"), "安装程序未启动：没有数字签名"},
        {"tampered", ServeSample("tampered.exe"),
         "安装程序未启动：数字签名无效（文件在签名后被改动）"},
        {"other signer", ServeSample("other-signer.exe"),
         "安装程序未启动：签名者是“Someone Else Ltd”，应为“Quelda Test Publisher”"},
        {"unknown root", ServeSample("unknown-root.exe"),
         "安装程序未启动：签名证书不受信任（0x800B0109）"},
        {"revoked", ServeSample("revoked.exe"), "安装程序未启动：签名证书不受信任（0x800B010C）"},
    };
    struct Job {
        int mode;
        int flags;
        const char* member;
        int row;
        const char* signal;
    };
    const Job jobs[] = {{1, 0, "framework", kDotNetRow, "DownloadCsharpSig"},
                        {2, 0, "tool", kToolRow, "DownloadToolSig"},
                        {4, 2, "tool", kToolRow, "DownloadToolSig"}};
    for (const SampleCase& c : cases)
        for (const Job& j : jobs) {
            json doc = BaseDocument();
            doc["shanxi"][j.member] = {{"url", c.url}, {"signer", kPublisher}};
            ServeDocument(doc);
            const SignalLog log = Run(j.mode, 0, j.flags);
            const bool accepted = c.outcome == kNotStarted;
            EXPECT_EQ(log.Outcomes(), Strings{std::to_string(j.row) + ":" + c.outcome})
                << c.name << " mode " << j.mode;
            EXPECT_EQ(log.Last(j.signal), accepted ? -4 : -2) << c.name << " mode " << j.mode;
            // Nothing is kept, whether refused or started.
            EXPECT_TRUE(DownloadedFiles("shanxi").empty()) << c.name;
        }
    EXPECT_TRUE(InstallerRuns().empty()) << "the script without a signature never ran";
}

TEST_F(SignedInstallers, WithoutASignerTheInstallerStartsAsBefore) {
    json doc = BaseDocument();
    doc["shanxi"]["tool"] = {{"url", ServeInstaller("setup")}};
    ServeDocument(doc);
    EXPECT_EQ(Run(2).Last("DownloadToolSig"), 1);
    EXPECT_EQ(InstallerRuns(), Strings{"setup"});
}

TEST_F(SignedInstallers, ASignerThatIsNotTextStopsBeforeTheDownload) {
    json doc = BaseDocument();
    const std::string url = ServeInstaller("setup");
    doc["shanxi"]["tool"] = {{"url", url}, {"signer", json::array({kPublisher})}};
    ServeDocument(doc);
    EXPECT_EQ(Run(2).Last("DownloadToolSig"), -3);
    EXPECT_EQ(server.RequestCount("/files/setup"), 0u);
    EXPECT_TRUE(InstallerRuns().empty());
}

TEST_F(SignedInstallers, TheCaOutcomeNamesEachRefusedDriverInstaller) {
    json refused = InstalledDriver("refused.dll", "1.0.0.0", "2023-10-12 09:30");
    refused["fileVersion"] = "2.0.0.0";
    refused["signer"] = kPublisher; // its installer is the unsigned script
    json other = InstalledDriver("other.dll", "1.0.0.0", "2023-10-12 09:30");
    other["fileVersion"] = "2.0.0.0";
    other["url"] = ServeSample("other-signer.exe");
    other["signer"] = kPublisher;
    for (int mode : {3, 4}) {
        json doc = BaseDocument();
        doc["shanxi"]["driver"] = json::array({refused, other});
        ServeDocument(doc);
        const SignalLog log = Run(mode, 0, mode == 4 ? 4 : 0);
        EXPECT_EQ(log.Last("DownloadCaSig"), -2) << mode;
        EXPECT_EQ(log.Outcomes(),
                  Strings{"4:refused.dll：安装程序未启动：没有数字签名；other.dll：安装程序未启动："
                          "签名者是“Someone Else Ltd”，应为“Quelda Test Publisher”"})
            << mode;
    }
    EXPECT_TRUE(InstallerRuns().empty());
}

} // namespace
