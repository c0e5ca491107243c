// The demo machine and the demo installers against the example document, read back through
// the probes the way the tool reads them: after a region's installers have run, every item of
// that region's section matches the machine.
#include "child_process.h"
#include "confserver_paths.h"
#include "document.h"
#include "file_store.h"
#include "options.h"
#include "sha256_fill.h"
#include "temp_machine.h"

#include "probes/file_probes.h"
#include "probes/ie_settings.h"
#include "probes/native_path.h"
#include "probes/registry.h"
#include "probes/windows_bits.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class DemoMachine : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool : {"quelda-reg", "quelda-mkpe"})
            if (!fs::exists(BinDir() / tool))
                GTEST_SKIP() << tool << " is not built";
        setenv("QUELDA_BIN", BinDir().c_str(), 1);
        std::string error;
        ASSERT_TRUE(LoadDocument(kExamples + "/server-config.json", doc_, error)) << error;
    }

    ProcessResult MakeDemoMachine(bool force = false, const char* bits = nullptr) {
        std::vector<std::string> argv = {kExamples + "/make-demo-machine"};
        if (force)
            argv.push_back("--force");
        if (bits)
            argv.insert(argv.end(), {"--bits", bits});
        argv.push_back(machine_.dir().string());
        return RunProcess(argv);
    }

    // Runs every installer that the region's section names, as served from examples/installers.
    void RunInstallers(const std::string& region) {
        FileStore store;
        std::string error;
        ASSERT_TRUE(store.Open(kExamples + "/installers", error)) << error;
        ServedUrls served{kBasePlaceholder, "", "/files/"};
        for (const UrlSlot& slot : InstallerUrls(doc_)) {
            if (slot.path.rfind(region + ".", 0) != 0)
                continue;
            std::string relative;
            ASSERT_TRUE(served.RelativeFile((*slot.holder)["url"].get<std::string>(), relative));
            FileStore::Lookup found = store.Resolve(relative);
            ASSERT_EQ(found.status, FileStore::Status::Found) << relative;
            ProcessResult run = RunProcess({found.file.string()});
            EXPECT_EQ(run.exitCode, 0) << relative << ": " << run.err;
            ++installersRun_;
        }
    }

    // The install directory named by the registry value, as the check reads it.
    static fs::path InstallDir(const Document& item, bool unquote) {
        std::string root, sub, value;
        if (SplitRegPath(item["path"].get<std::string>(), root, sub) < 0 ||
            RegGetStrValueEitherView(RegRootKey(root), sub, item["key"].get<std::string>(), value) <
                0)
            return {};
        if (unquote && value.find('"') != std::string::npos && value.size() >= 2)
            value = value.substr(1, value.size() - 2);
        fs::path p = fs::u8path(ToNativePath(value));
        return fs::is_directory(p) ? p : p.parent_path();
    }

    static bool FrameworkInstalled(const Document& section) {
        std::string root, sub;
        return SplitRegPath(section["framework"]["path"].get<std::string>(), root, sub) == 1 &&
               RegKeyExistsEitherView(RegRootKey(root), sub) == 1;
    }

    static std::string ToolVersion(const Document& tool) {
        std::string version;
        fs::path dir = InstallDir(tool, false);
        if (dir.empty() || GetAppConfigVersion(dir, tool["fileName"], version) < 0)
            return "(none)";
        return version;
    }

    // "version minute-time" of a driver entry's file, or "(none)".
    static std::string DriverState(const Document& entry, bool unquote) {
        fs::path dir = InstallDir(entry, unquote);
        __time64_t time = 0;
        std::string version;
        if (dir.empty() || GetFileVersionTime(dir, entry["fileName"], time, version) != 1)
            return "(none)";
        return version + " " + std::to_string(time);
    }

    static std::string ExpectedDriverState(const Document& entry) {
        return entry["fileVersion"].get<std::string>() + " " +
               std::to_string(ParseDateTime(entry["fileModifyDtm"]));
    }

    static std::vector<Document> Drivers(const Document& section) {
        std::vector<Document> list;
        for (const auto& entry : section["driver"])
            list.push_back(entry);
        return list;
    }

    int InstallLogLines() {
        std::ifstream in(machine_.dir() / "installs.log");
        int lines = 0;
        for (std::string line; std::getline(in, line);)
            ++lines;
        return lines;
    }

    TempMachine machine_;
    Document doc_;
    int installersRun_ = 0;
};

TEST_F(DemoMachine, FailsEveryCheckBeforeRepair) {
    ProcessResult made = MakeDemoMachine();
    ASSERT_EQ(made.exitCode, 0) << made.err;

    EXPECT_LT(CheckIESaveVerCfg(), 0);
    EXPECT_LT(CheckIETrustCfg(), 0);
    EXPECT_EQ(CheckIESslCfg(), -1); // 0x0A80: SSL 2.0 missing
    EXPECT_EQ(CheckIEMaxConCfg(), -2);
    for (const char* region : {"shanxi", "hebei", "neimeng"}) {
        const Document& section = doc_[region];
        EXPECT_FALSE(FrameworkInstalled(section)) << region;
        EXPECT_EQ(ToolVersion(section["tool"]), "3.1.0.0") << region;
        EXPECT_NE(ToolVersion(section["tool"]), section["tool"]["fileVersion"]) << region;
        // The first driver entry is installed, in an older version.
        Document first = Drivers(section).front();
        std::string state = DriverState(first, std::string(region) == "neimeng");
        EXPECT_EQ(state.rfind("2.0.5.3 ", 0), 0u) << region << ": " << state;
    }
    EXPECT_EQ(InstallLogLines(), 0);
}

class DemoRegion : public DemoMachine, public ::testing::WithParamInterface<const char*> {};

TEST_P(DemoRegion, InstallersBringTheMachineToWhatTheDocumentExpects) {
    if (IsSkipped())
        return;
    const std::string region = GetParam();
    ProcessResult made = MakeDemoMachine();
    ASSERT_EQ(made.exitCode, 0) << made.err;
    RunInstallers(region);
    ASSERT_GE(installersRun_, 3);
    EXPECT_EQ(InstallLogLines(), installersRun_);

    const Document& section = doc_[region];
    EXPECT_TRUE(FrameworkInstalled(section));
    EXPECT_EQ(ToolVersion(section["tool"]), section["tool"]["fileVersion"]);
    for (const Document& entry : Drivers(section))
        EXPECT_EQ(DriverState(entry, region == "neimeng"), ExpectedDriverState(entry))
            << entry["fileName"];

    // Installers may run again (a repair after a failed check): same state, one more line each.
    int first = installersRun_;
    RunInstallers(region);
    EXPECT_EQ(InstallLogLines(), 2 * first);
    EXPECT_EQ(ToolVersion(section["tool"]), section["tool"]["fileVersion"]);
}

INSTANTIATE_TEST_SUITE_P(Regions, DemoRegion, ::testing::Values("shanxi", "hebei", "neimeng"));

// A 64-bit machine (the default) has the 32-bit installers' keys in WOW6432Node only and the
// .NET key in both views; a 32-bit one has a single view.
TEST_F(DemoMachine, ComponentsAreRegisteredInTheViewsTheirInstallersWrite) {
    const char* netKey = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
    const char* toolKey = "SOFTWARE\\Quelda\\BidTool";
    for (const char* bits : {"64", "32"}) {
        SCOPED_TRACE(bits);
        ProcessResult made = MakeDemoMachine(true, bits);
        ASSERT_EQ(made.exitCode, 0) << made.err;
        RunInstallers("shanxi");
        const bool is64 = std::string(bits) == "64";
        EXPECT_EQ(WindowsIs64Bit(), is64);
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            HKEY key = nullptr;
            EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, netKey, 0, KEY_READ | view, &key),
                      ERROR_SUCCESS);
            RegCloseKey(key);
        }
        std::string path;
        EXPECT_EQ(RegGetStrValue(HKEY_LOCAL_MACHINE, toolKey, "InstallPath", path), is64 ? -3 : 0);
        RegView from = RegView::Single;
        path.clear();
        EXPECT_EQ(RegGetStrValueEitherView(HKEY_LOCAL_MACHINE, toolKey, "InstallPath", path, &from),
                  0);
        EXPECT_EQ(path, "C:\\Program Files\\Quelda\\BidTool");
        EXPECT_EQ(from, is64 ? RegView::Bits32 : RegView::Single);
    }
    EXPECT_EQ(MakeDemoMachine(true, "16").exitCode, 2);
}

TEST_F(DemoMachine, ScriptRefusesAFolderInUseUnlessForced) {
    ASSERT_EQ(MakeDemoMachine().exitCode, 0);
    std::ofstream(machine_.dir() / "installs.log") << "earlier run\n";
    std::ofstream(machine_.dir() / "notes.txt") << "kept";

    ProcessResult refused = MakeDemoMachine();
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
    EXPECT_EQ(InstallLogLines(), 1);

    ProcessResult forced = MakeDemoMachine(true);
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_EQ(InstallLogLines(), 0);
    EXPECT_TRUE(fs::exists(machine_.dir() / "notes.txt")) << "only machine items are removed";
}

} // namespace
