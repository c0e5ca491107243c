#pragma once

#include "common/mainconfig.h"

#include <QMainWindow>
#include <QPoint>
#include <QSize>
#include <nlohmann/json_fwd.hpp>

namespace Ui {
class MainWindow;
}
class TopBar;
class centerWidget;

// The one top-level window: frameless, fixed size from config.json, title bar on top, the
// check panel in the middle, the support line at the bottom.
class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);
    // Ends the process with status 0 at once, without waiting for worker threads.
    ~MainWindow() override;

    // Reads config.json, then builds the title bar, the check panel and the status bar.
    void InitWindow();
    bool ReadConfig();
    bool ParseMainCfg(const nlohmann::json& doc);

    const MainConfig& Config() const { return mainConfig; }
    // Selects the region of this key in the check panel ("shanxi", ...).
    void SelectRegion(const QString& key);

  private:
    Ui::MainWindow* ui;
    MainConfig mainConfig;
    TopBar* topBar = nullptr;
    centerWidget* center = nullptr;
};

// The size of config.json, cut to the screen's available area (no cut for an empty area):
// a larger window would only be partly visible and could need gigabytes of memory.
QSize FittedWindowSize(int width, int high, const QSize& available);

// The support telephone number shown in the status bar.
extern const char kSupportTelephone[];
// "技术支持：Quelda | 客服电话：" + telephone + one blank.
QString SupportLine();
// Top-left corner that centres a window on the desktop (integer halves, truncated toward
// zero, so a window larger than the desktop gets negative coordinates).
QPoint CentredPosition(const QSize& desktop, const QSize& window);
