// The install step that the single installs and the repair sequence share: how each job
// wires the options that tell them apart. (Records, progress values and the CA step's quotes
// are asserted by the jobs' own tests.)
#include "engine/checkthread.h"
#include "engine/job_contract.h"
#include "engine_fixture.h"

#include <QString>
#include <QtGlobal>

#include <filesystem>
#include <fstream>
#include <mutex>

using namespace enginetest;
using Strings = std::vector<std::string>;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// Keeps the debug stream's lines (from every thread) while it lives.
class DebugLines {
  public:
    DebugLines() : previous_(qInstallMessageHandler(&Keep)) {}
    ~DebugLines() {
        qInstallMessageHandler(previous_);
        Take("");
    }
    // The lines kept so far that begin with `prefix`, in order; forgets every line.
    static Strings Take(const std::string& prefix) {
        std::lock_guard<std::mutex> lock(mutex_);
        Strings out;
        for (const std::string& line : lines_)
            if (line.rfind(prefix, 0) == 0)
                out.push_back(line);
        lines_.clear();
        return out;
    }

  private:
    static void Keep(QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type != QtDebugMsg)
            return;
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(text.toStdString());
    }
    static inline std::mutex mutex_;
    static inline Strings lines_;
    QtMessageHandler previous_;
};

class InstallStep : public EngineTest {};

TEST_F(InstallStep, OnlyTheRepairSequenceLabelsItsSteps) {
    ServeDocumentWithGoneInstallers();
    DebugLines debug;
    for (int mode : {1, 2, 3})
        Run(mode);
    EXPECT_EQ(debug.Take("thread  Download"), Strings{});
    Run(4, 0, 7);
    EXPECT_EQ(
        debug.Take("thread  Download"),
        (Strings{"thread  DownloadCsharp", "thread  DownloadToolVer", "thread  DownloadToolVer"}));
}

// The tool's debug lines do not depend on whether the job writes records.
TEST_F(InstallStep, ToolTraceIsTheSameInBothJobs) {
    server.ServeStatus("/files/gone", 404);
    const std::string urls[] = {ServeInstaller("tool-setup"), server.Url("/files/gone")};
    const Strings expected[] = {
        {"thread tool Get: \"" + urls[0] + "\"", "thread tool Get success",
         "thread tool write success", "thread tool install success"},
        {"thread tool Get: \"" + urls[1] + "\"", "thread tool get failed"},
    };
    DebugLines debug;
    for (int i = 0; i < 2; ++i) {
        json doc = BaseDocument();
        doc["shanxi"]["tool"]["url"] = urls[i];
        ServeDocument(doc);
        Run(2);
        EXPECT_EQ(debug.Take("thread tool"), expected[i]) << urls[i];
        Run(4, 0, 2);
        EXPECT_EQ(debug.Take("thread tool"), expected[i]) << urls[i];
    }
}

} // namespace

// An entry's silentArgs reach its installer only in a repair run with nobody at the screen;
// a Windows Installer package goes through the system folder's msiexec; a silentArgs that is
// not one line is a document fault, and that installer does not start.
TEST_F(InstallStep, SilentArgumentsOnlyWhenAskedForAndPackagesThroughMsiexec) {
    const fs::path noted = machine.dir() / "arguments";
    auto recorder = [&noted](const std::string& who) {
        return "#!/bin/sh\necho \"" + who + "|$*\" >> '" + noted.string() + "'\n";
    };
    server.ServeBytes("/files/tool-setup.exe", recorder("tool"));
    server.ServeBytes("/files/netfx.msi", "a package");
    const fs::path msiexec = machine.Native("C:\\Windows\\System32\\msiexec.exe");
    std::ofstream(msiexec) << recorder("msiexec");
    fs::permissions(msiexec, fs::perms::owner_all);
    json doc = BaseDocument();
    doc["shanxi"]["tool"]["url"] = server.Url("/files/tool-setup.exe");
    doc["shanxi"]["tool"]["silentArgs"] = "/S";
    doc["shanxi"]["framework"]["url"] = server.Url("/files/netfx.msi");
    doc["shanxi"]["framework"]["silentArgs"] = "/qn /norestart";
    ServeDocument(doc);
    auto repair = [&](bool silent) {
        fs::remove(noted);
        CheckThread thread(kRepairJob, 0, server.ipPort(), kDocPath, "",
                           kRepairDotNet | kRepairTool, logger);
        thread.SetSilentInstallers(silent);
        EXPECT_TRUE(RunToEnd(thread, 120000));
        Strings lines;
        std::ifstream in(noted);
        for (std::string line; std::getline(in, line);)
            lines.push_back(WithoutRunStamp(line));
        return lines;
    };
    // The window's repair: the package is opened as it is (here it cannot be), the tool's
    // installer gets no arguments.
    EXPECT_EQ(repair(false), Strings{"tool|"});
    const Strings unattended = repair(true);
    ASSERT_EQ(unattended.size(), 2u);
    // The stand-in's launch splits the command line as Windows programs do: the quotes
    // that keep the path whole are gone, the package's name ends in .msi.
    EXPECT_EQ(unattended[0].rfind("msiexec|/i ", 0), 0u) << unattended[0];
    EXPECT_EQ(unattended[0].substr(unattended[0].size() - 19), ".msi /qn /norestart");
    EXPECT_EQ(unattended[1], "tool|/S");

    doc["shanxi"]["tool"]["silentArgs"] = "/S\r\n/D=C:\\";
    ServeDocument(doc);
    EXPECT_EQ(repair(true).size(), 1u) << "only the package started";
}
