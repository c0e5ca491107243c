#pragma once

#include "engine/checkthread.h"
#include "panel/centerwidget.h"
#include "temp_machine.h"

#include <QColor>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <atomic>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

// A worker whose run() plays a script of signals from its own thread.
class ScriptedThread : public CheckThread {
  public:
    using Script = std::function<void(ScriptedThread&)>;
    ScriptedThread(int mode, Script script);
    ~ScriptedThread() override;

  protected:
    void Dispatch() override;

  private:
    Script script_;
};

struct ThreadRequest {
    int mode;
    int regionIndex;
    int repairFlags;
};

// The panel with its workers replaced: every job's inputs are recorded and the job runs
// the next queued script. With none queued the worker is held (emitting nothing) until
// the gate opens, so that a follow-up check does not overwrite what a test looks at.
class RecordingPanel : public centerWidget {
  public:
    std::shared_ptr<std::atomic<bool>> gate = std::make_shared<std::atomic<bool>>(false);
    std::vector<ThreadRequest> requests;
    std::vector<ScriptedThread::Script> scripts;
    std::vector<QPointer<QThread>> threads;
    // Set to build other workers (for example one of an unknown mode) instead of scripts.
    std::function<CheckThread*(int mode, int region, int flags)> factory;
    // The panel's own workers, talking to the configured server.
    bool realWorkers = false;
    // Every IE mode notice the panel gave, in place of the message box.
    std::vector<QString> notices;
    // Every restart notice, in place of its message box.
    std::vector<QString> restartNotices;

  protected:
    CheckThread* NewThread(int mode, int regionIndex, int repairFlags) override;
    void ShowIEModeNotice(const QString& text) override { notices.push_back(text); }
    void ShowRestartNotice(const QString& text) override { restartNotices.push_back(text); }
};

// Per test: a machine folder, a working directory with one solid-colour image per icon
// file, an openIE.bat and an "alert:" handler, and a panel wired to two title-bar buttons the way
// the title bar wires them.
class PanelTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    void MakePanel();

    QLabel* Label(const char* name) const;
    QPushButton* Button(const char* name) const;
    // The colour of the image file shown by an icon label; invalid when it shows none.
    QColor IconColour(const char* labelName) const;
    static QColor FileColour(const char* imageFile);
    // Runs the event loop until every worker of the panel that is not held has ended and
    // its queued signals have been delivered.
    void DrainThreads();
    // Feeds one complete check run into the result slots.
    void ReportCheck(int net, int ie, int netFra, int tool, int ca);

    TempMachine machine;
    MainConfig config;
    std::filesystem::path workDir;
    std::filesystem::path previousDir;
    std::unique_ptr<RecordingPanel> panel;
    std::unique_ptr<QPushButton> checkButton;
    std::unique_ptr<QPushButton> repairButton;
    int checkClicks = 0;
};
