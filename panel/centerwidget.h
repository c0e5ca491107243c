#pragma once

#include "common/mainconfig.h"
#include "engine/report/check_report.h"

#include <QList>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>
#include <array>
#include <memory>
#include <spdlog/logger.h>
#include <string>

class QComboBox;
class QFrame;
class QGridLayout;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class CheckThread;
class UploadThread;

// The check panel: region selector, the five item rows in three groups, and the panel's
// side of every job (check, single install, one-click repair, IE repair).
class centerWidget : public QWidget {
    Q_OBJECT

  public:
    explicit centerWidget(QWidget* parent = nullptr);
    ~centerWidget() override;

    // Keeps the title bar's two buttons (one-click button first) and a copy of the settings,
    // then registers the "alert" URL protocol. Always returns normally.
    void SetConfig(const MainConfig& cfg, QPushButton* checkButton, QPushButton* repairButton);

    // The last check's record, with this session's install outcomes.
    const CheckReport& LastReport() const { return lastReport; }
    // Writes the report to a file: JSON when the name ends in ".json", text otherwise.
    bool SaveReport(const QString& path) const;
    // The panel's controls that Tab reaches, in the order they are seen: the region, then
    // each row's button from top to bottom.
    QList<QWidget*> FocusChain() const;

  signals:
    void FinishCheckSig(int needProcess, int needDown);
    void FinishRepaireSig(int successNum, int failedNum);
    // A check found a newer release of this program in the signed server document.
    void UpdateOfferSig(const QString& version, const QString& notes, bool mandatory);
    // The update job ended (its JobContract code) with what to tell the user; on kResultGood
    // the new release is in place, `region` the key of the region to restart with.
    void UpdateFinishedSig(int result, const QString& text, const QString& region);

  public slots:
    void StartCheck(bool message);
    void StartRepair(bool repairFlag);
    // Fetches and puts in place the release that the last check was offered.
    void StartUpdate();
    // Selects the region of this key ("shanxi", ...); others are ignored.
    void SelectRegion(const QString& key);
    void CheckStartSlot(int res);
    void CheckNetSlot(int res);
    void CheckIESlot(int res);
    void CheckNetFraSlot(int res);
    void CheckToolVerSlot(int res);
    void CheckCAVerSlot(int res);
    void RepaireIECfg();
    void DownloadToolCfg();
    void DownloadCaCfg();
    void DownloadCsharpCfg();
    void DownloadThreadToolCfg(int res);
    void DownloadThreadCaCfg(int res);
    void DownloadThreadCsharpCfg(int res);
    void UpdateProcess(int res);
    // Bytes of the current installer beside the progress bar (total 0: size unknown).
    void UpdateDownloadBytes(qint64 received, qint64 total);
    void RepairFinishSlot(int flag, int csharp, int tool, int ca);
    void CheckReportSlot(const CheckReport& report);
    // The install job's own account of how a row's install ended; the row's record takes it
    // instead of the text derived from the result code that follows.
    void InstallOutcomeSlot(int row, const QString& outcome);
    // How the row's installer ended (an InstallEnd) and its exit code (-1: unknown); the
    // row's result that follows is shown accordingly.
    void InstallEndSlot(int row, int end, qint64 exitCode);
    // The row's installer waits for another installation (1) or no longer (0): the row says
    // so and its button offers to stop waiting.
    void InstallWaitSlot(int row, int waiting);

  protected:
    // Builds the worker of one job (not started, no parent). The one place where thread
    // objects come from, so that a job's inputs can be observed and a worker replaced.
    virtual CheckThread* NewThread(int mode, int regionIndex, int repairFlags);
    // Asks where to save the report; empty when the person cancels.
    virtual QString AskReportPath();
    // Tells once, without waiting for an answer, that Edge's IE mode was turned on.
    virtual void ShowIEModeNotice(const QString& text);
    // Tells once, without waiting for an answer, that the computer needs a restart.
    virtual void ShowRestartNotice(const QString& text);

  private:
    void BuildWidgets();
    void PlaceWidgets();
    void RegisterAlertProtocol();
    // The install record's signals of a new install or repair job.
    void ConnectInstallRecord(CheckThread* thread);
    void StartInstallThread(int mode, void (CheckThread::*resultSig)(int),
                            void (centerWidget::*resultSlot)(int));
    void StartSingleInstall(int mode, QPushButton* rowButton, void (CheckThread::*resultSig)(int),
                            void (centerWidget::*resultSlot)(int));
    void ShowInstallResult(int row, QLabel* statusLabel, QLabel* iconLabel, QPushButton* button,
                           const QString& goodText, int res);
    // After a job's results: one notice when an installer asked for a restart.
    void NoticeRestart();
    QLabel* RowStatusLabel(int row) const;
    QPushButton* RowButton(int row) const;
    // A click on a row's button while its installer waits: stop waiting. True when it was so.
    bool CancelInstallWait(int row);
    void EndSingleInstall();
    void ShowResult(QLabel* statusLabel, QLabel* iconLabel, const QString& text, bool good,
                    bool fixLabelSize);
    void SetJobButtonsStyle(const QString& style);
    void ShowReportMenu(const QPoint& pos);
    void NoteInstall(QLabel* statusLabel, int res);
    void NoteInstallText(int row, const std::string& outcome);
    void UpdateRowTooltips();
    // Each row's and row button's accessible name and description from what the row shows;
    // after every change of a row.
    void UpdateAccessibleTexts();
    // Whether the menu offers the upload: a check has run and its document named a URL.
    bool CanUploadReport() const;
    void StartReportUpload();
    void ShowUploadResult(int result, const QString& code, const QString& failure);

    MainConfig config;
    QPushButton* checkButton = nullptr;
    QPushButton* repairButton = nullptr;
    QProgressBar* progressBar = nullptr;
    QLabel* downloadBytesLabel = nullptr;
    QWidget* leftSpacer = nullptr;
    QWidget* rightSpacer = nullptr;

    QLabel* baseIconLabel = nullptr;
    QLabel* baseTitleLabel = nullptr;
    QFrame* baseLine = nullptr;
    QLabel* toolGroupIconLabel = nullptr;
    QLabel* toolGroupTitleLabel = nullptr;
    QFrame* toolLine = nullptr;
    QLabel* caGroupIconLabel = nullptr;
    QLabel* caGroupTitleLabel = nullptr;
    QFrame* caLine = nullptr;

    QLabel* netIconLabel = nullptr;
    QLabel* netNameLabel = nullptr;
    QLabel* netStatusLabel = nullptr;
    QLabel* netFraIconLabel = nullptr;
    QLabel* netFraNameLabel = nullptr;
    QLabel* netFraStatusLabel = nullptr;
    QPushButton* netFraButton = nullptr;
    QLabel* ieIconLabel = nullptr;
    QLabel* ieNameLabel = nullptr;
    QLabel* ieStatusLabel = nullptr;
    QPushButton* ieButton = nullptr;
    QLabel* toolIconLabel = nullptr;
    QLabel* toolNameLabel = nullptr;
    QLabel* toolStatusLabel = nullptr;
    QPushButton* toolButton = nullptr;
    QLabel* caIconLabel = nullptr;
    QLabel* caNameLabel = nullptr;
    QLabel* caStatusLabel = nullptr;
    QPushButton* caButton = nullptr;

    QGridLayout* gridLayout = nullptr;
    QPointer<CheckThread> checkThread;
    QPointer<UploadThread> uploadThread;
    bool checkRunEnded = true;
    std::wstring workDir;
    int needProcess = 0;
    int needDown = 0;
    QComboBox* regionCombo = nullptr;
    QLabel* regionLabel = nullptr;
    std::shared_ptr<spdlog::logger> logger;
    QSize statusIconSize{13, 13};
    CheckReport lastReport;
    // Outcomes of the running install job not yet matched with their row's result code.
    std::array<std::string, kRowCount> pendingOutcomes;
    std::array<int, kRowCount> pendingEnds{};         // InstallEnd, 0 when none came
    std::array<qint64, kRowCount> pendingExitCodes{}; // -1: unknown
    QPointer<CheckThread> installThread;              // the running install or repair job
    int waitingRow = -1;      // the row whose installer waits for another installation
    QString waitingSavedText; // that row's text before the wait
    bool restartNeeded = false;
};

// "已下载 12.3 MB / 48.1 MB"; without the size when it is not known (0).
QString DownloadBytesText(qint64 received, qint64 total);
