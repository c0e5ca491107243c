// The install step that the single installs and the repair sequence share: how each job
// wires the options that tell them apart. (Records, progress values and the CA step's quotes
// are asserted by the jobs' own tests.)
#include "engine_fixture.h"

#include <QString>
#include <QtGlobal>

#include <mutex>

using namespace enginetest;
using Strings = std::vector<std::string>;
using nlohmann::json;

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
