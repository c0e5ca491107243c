#include "app/mainwindow.h"

#include "app/configfile.h"
#include "app/topbar.h"
#include "engine/job_contract.h"
#include "panel/centerwidget.h"
#include "panel/dpi_scale.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

const char kSupportTelephone[] = "400-000-0000";

QString SupportLine() {
    return QStringLiteral("技术支持：Quelda | 客服电话：") + QString::fromUtf8(kSupportTelephone) +
           QStringLiteral(" ");
}

QPoint CentredPosition(const QSize& desktop, const QSize& window) {
    return QPoint((desktop.width() - window.width()) / 2, (desktop.height() - window.height()) / 2);
}

QSize FittedWindowSize(int width, int high, const QSize& available) {
    if (available.isEmpty())
        return QSize(width, high);
    return QSize(std::min(width, available.width()), std::min(high, available.height()));
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow) {
    ui->setupUi(this);
}

void MainWindow::SelectRegion(const QString& key) {
    if (center)
        center->SelectRegion(key);
}

MainWindow::~MainWindow() {
    delete ui;
    // Check and install threads may still be running: std::exit would destroy the
    // process's static objects (the log registry among them) under their feet. Flush what
    // is buffered and end at once, with status 0.
    std::fflush(nullptr);
    std::_Exit(0);
}

bool MainWindow::ReadConfig() {
    const bool read = ::ReadConfig(mainConfig);
    ApplyDownloadSettings(mainConfig);
    return read;
}

bool MainWindow::ParseMainCfg(const nlohmann::json& doc) {
    return ::ParseMainCfg(doc, mainConfig);
}

void MainWindow::InitWindow() {
    ReadConfig();
    const QScreen* screen = QGuiApplication::primaryScreen();
    setFixedSize(FittedWindowSize(Scaled(mainConfig.width), Scaled(mainConfig.high),
                                  screen ? screen->availableGeometry().size() : QSize()));
    setWindowFlags(Qt::FramelessWindowHint);

    topBar = new TopBar(mainConfig.topTitle, this);
    setMenuWidget(topBar);

    QPushButton* checkButton = nullptr;
    QPushButton* repairButton = nullptr;
    topBar->GetButtons(checkButton, repairButton);

    center = new centerWidget(this);
    center->SetConfig(mainConfig, checkButton, repairButton);
    // The panel scrolls where the screen is too small for it (a 1366 x 768 screen at 125 %
    // leaves 614 points): nothing of it is cut off. Without a frame or a background of its
    // own, so that a panel that fits looks as it does alone.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("panelScroll");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setWidget(center);
    setCentralWidget(scroll);

    // Tab goes through the window as it is read: the title bar, then the panel.
    QList<QWidget*> chain = topBar->FocusChain();
    chain += center->FocusChain();
    for (int i = 0; i + 1 < chain.size(); ++i)
        setTabOrder(chain[i], chain[i + 1]);
    scroll->setFocusPolicy(Qt::NoFocus);
    // The window itself holds the focus when it opens, so that no button shows its focus
    // frame before a Tab: the first Tab goes to the first button.
    setFocus(Qt::OtherFocusReason);

    connect(topBar, &TopBar::checkStartSignal, center, &centerWidget::StartCheck);
    connect(topBar, &TopBar::repairStartSignal, center, &centerWidget::StartRepair);
    connect(center, &centerWidget::FinishCheckSig, topBar, &TopBar::FinishCheckSlot);
    connect(center, &centerWidget::FinishRepaireSig, topBar, &TopBar::FinishRepaire);
    connect(center, &centerWidget::UpdateOfferSig, topBar, &TopBar::ShowUpdateOffer);
    connect(topBar, &TopBar::updateStartSignal, center, &centerWidget::StartUpdate);
    connect(center, &centerWidget::UpdateFinishedSig, topBar, &TopBar::FinishUpdate);
    connect(center, &centerWidget::UpdateFinishedSig, this,
            [this](int result, const QString&, const QString& region) {
                if (result != kResultGood)
                    return;
                // The new release is in place: it starts with the same region, this one ends.
                if (QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                            {QStringLiteral("--region"), region},
                                            QCoreApplication::applicationDirPath()))
                    close();
            });

    auto* statusBar = new QStatusBar(this);
    statusBar->showMessage(SupportLine());
    statusBar->setStyleSheet(
        ScaledStyle("background-color: #ff6304;color: white;font: 13px Microsoft YaHei;"));
    statusBar->setAccessibleName(SupportLine().trimmed());
    setStatusBar(statusBar);
}
