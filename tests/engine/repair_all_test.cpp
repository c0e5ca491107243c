// Mode 4: the selected installers one after another, then one summary signal.
#include "engine_fixture.h"

#include <fstream>

using namespace enginetest;
using Ints = std::vector<int>;
using Strings = std::vector<std::string>;
using nlohmann::json;

namespace {

class RepairAll : public EngineTest {};

TEST_F(RepairAll, ProgressValuesForEveryFlagCombination) {
    ServeDocumentWithGoneInstallers();
    const std::vector<Ints> expected = {
        {10},     {10, 50, 45},     {10, 45},     {10, 50, 30, 90},
        {10, 45}, {10, 50, 30, 90}, {10, 30, 60}, {10, 50, 22, 66, 88},
    };
    for (int flags = 0; flags < 8; ++flags) {
        const SignalLog log = Run(4, 0, flags);
        EXPECT_EQ(log.Values("UpdateProcess"), expected[flags]) << flags;
        const std::string finish = "RepairFinishSig(" + std::to_string(flags) + "," +
                                   ((flags & 1) ? "-2" : "0") + "," + ((flags & 2) ? "-2" : "0") +
                                   "," + ((flags & 4) ? "1" : "0") + ")";
        EXPECT_EQ(log.Events().back(), finish) << flags;
    }
    EXPECT_TRUE(Messages().empty()); // the repair writes no log records
}

TEST_F(RepairAll, AllThreeStepsInOrder) {
    json doc = BaseDocument();
    doc["shanxi"]["framework"]["url"] = ServeInstaller("net-setup");
    doc["shanxi"]["tool"]["url"] = ServeInstaller("tool-setup");
    json ca = InstalledDriver("a.dll", "1.0.0.0", "2023-10-12 09:30");
    ca["fileVersion"] = "1.0.0.1";
    doc["shanxi"]["driver"] = json::array({ca});
    ServeDocument(doc);
    std::ofstream(machine.Native(kSkfDll)) << "x";

    const SignalLog log = Run(4, 0, 7);
    EXPECT_EQ(log.Events(), (Strings{"CheckNetSig(1)", "UpdateProcess(10)", "UpdateProcess(50)",
                                     "UpdateProcess(22)", "DownloadCsharpSig(1)",
                                     "UpdateProcess(66)", "DownloadToolSig(1)", "UpdateProcess(88)",
                                     "DownloadCaSig(1)", "RepairFinishSig(7,1,1,1)"}));
    EXPECT_EQ(InstallerRuns(), (Strings{"net-setup", "tool-setup", "a.dll-setup"}));
    EXPECT_FALSE(std::filesystem::exists(machine.Native(kSkfDll)));
    EXPECT_TRUE(Messages().empty());
}

TEST_F(RepairAll, CaStepCountsFailedDownloadsAndKeepsQuotes) {
    server.ServeStatus("/files/gone", 404);
    json a = InstalledDriver("a.dll", "1.0.0.0", "2023-10-12 09:30");
    a["fileVersion"] = "9.9.9.9";
    a["url"] = server.Url("/files/gone");
    json b = a;
    b["fileName"] = "b.dll";
    json doc = BaseDocument();
    doc["shanxi"]["driver"] = json::array({a, b});
    ServeDocument(doc);
    EXPECT_EQ(Run(4, 0, 4).Events().back(), "RepairFinishSig(4,0,0,-2)");

    // A quoted location is not unquoted here: the entry counts as needing its installer.
    json quoted = InstalledDriver("q.exe", "1.0.0.0", "2023-10-12 09:30");
    PutRegString(quoted["path"], "InstallPath", "\"C:\\Program Files\\CA\\q.exe-dir\\q.exe\"");
    doc["shanxi"]["driver"] = json::array({quoted});
    ServeDocument(doc);
    EXPECT_EQ(Run(4, 0, 4).Events().back(), "RepairFinishSig(4,0,0,1)");
    EXPECT_EQ(InstallerRuns(), (Strings{"q.exe-setup"}));
}

TEST_F(RepairAll, UpToDateDriversNeedNoDownload) {
    std::ofstream(machine.Native(kSkfDll)) << "x";
    json doc = BaseDocument();
    doc["hebei"]["driver"] = json::array({InstalledDriver("a.dll", "1.0.0.0", "2023-10-12 09:30")});
    ServeDocument(doc);
    server.ClearRequests();
    EXPECT_EQ(Run(4, 1, 4).Events().back(), "RepairFinishSig(4,0,0,1)");
    EXPECT_EQ(server.Requests().size(), 1u); // the document only
    EXPECT_FALSE(std::filesystem::exists(machine.Native(kSkfDll)));
}

TEST_F(RepairAll, NullDocumentAfterAFailedFetch) {
    server.ServeStatus(kDocPath, 404);
    std::ofstream(machine.Native(kSkfDll)) << "x";
    const SignalLog log = Run(4, 0, 7);
    EXPECT_EQ(log.Events(),
              (Strings{"CheckNetSig(-1)", "UpdateProcess(10)", "UpdateProcess(22)",
                       "DownloadCsharpSig(-3)", "UpdateProcess(66)", "DownloadToolSig(-3)",
                       "UpdateProcess(88)", "DownloadCaSig(-3)", "RepairFinishSig(7,-3,-3,-3)"}));
    EXPECT_TRUE(std::filesystem::exists(machine.Native(kSkfDll))); // no driver list read
}

TEST_F(RepairAll, DownloadFolderThatCannotBeSecuredIsAnExceptionBeforeTheDownload) {
    std::filesystem::create_directories(machine.dir() / "drive_c");
    std::ofstream(machine.dir() / "drive_c" / "ProgramData") << "a file where the folder belongs";
    json doc = BaseDocument();
    doc["shanxi"]["framework"]["url"] = ServeInstaller("net-setup");
    doc["shanxi"]["tool"]["url"] = ServeInstaller("tool-setup");
    ServeDocument(doc);
    const SignalLog log = Run(4, 0, 3);
    EXPECT_EQ(log.Values("UpdateProcess"), (Ints{10, 30, 90}));
    EXPECT_EQ(log.Events().back(), "RepairFinishSig(3,-3,-3,0)");
    EXPECT_EQ(server.RequestCount("/files/net-setup") + server.RequestCount("/files/tool-setup"),
              0u);
    EXPECT_TRUE(InstallerRuns().empty());
}

TEST_F(RepairAll, UndeletableSkfLibraryStillFinishes) {
    std::filesystem::create_directories(machine.Native(kSkfDll) / "inside");
    ServeDocument(BaseDocument());
    const SignalLog log = Run(4, 0, 4);
    EXPECT_EQ(log.Values("UpdateProcess"), (Ints{10, 45}));
    EXPECT_EQ(log.Events().back(), "RepairFinishSig(4,0,0,1)");
}

} // namespace
