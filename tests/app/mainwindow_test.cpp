#include "app/mainwindow.h"
#include "app/topbar.h"
#include "panel/centerwidget.h"
#include "scoped_work_dir.h"
#include "temp_machine.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>

namespace {

// The window's destructor ends the process, so a window under test is never deleted.
MainWindow* BuildWindow() {
    auto* window = new MainWindow;
    window->InitWindow();
    return window;
}

void WriteConfig(const std::filesystem::path& dir, const std::string& mainCfg) {
    std::ofstream(dir / "config.json") << R"({"mainCfg": )" << mainCfg << "}";
}

QLabel* TipLabel(MainWindow* window) {
    return window->menuWidget()->findChild<QLabel*>("tipLabel");
}

class MainWindowTest : public ::testing::Test {
  protected:
    TempMachine machine;
    ScopedWorkDir work;
};

TEST_F(MainWindowTest, BuildsFromConfigJson) {
    WriteConfig(work.dir(), R"({"topTitle": "测试标题", "ipPort": "127.0.0.1:1", "url": "/c",)"
                            R"( "width": 800, "high": 600})");
    MainWindow* window = BuildWindow();

    EXPECT_EQ(window->Config().ipPort, "127.0.0.1:1");
    // In points: the offscreen screen of 800 x 600 pixels at 100 DPI has 768 x 576 of them.
    const QSize fitted =
        QSize(800, 600).boundedTo(QGuiApplication::primaryScreen()->availableGeometry().size());
    EXPECT_EQ(window->minimumSize(), fitted);
    EXPECT_EQ(window->maximumSize(), fitted);
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowTitleHint));

    auto* bar = qobject_cast<TopBar*>(window->menuWidget());
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->findChild<QLabel*>("titleLabel")->text(), QStringLiteral("测试标题"));
    // The panel sits in the window's scroll area.
    auto* scroll = qobject_cast<QScrollArea*>(window->centralWidget());
    ASSERT_NE(scroll, nullptr);
    ASSERT_NE(qobject_cast<centerWidget*>(scroll->widget()), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->findChild<QWidget*>("centralwidget"), nullptr) << "placeholder replaced";

    QStatusBar* status = window->statusBar();
    EXPECT_EQ(status->currentMessage(), SupportLine());
    EXPECT_EQ(status->styleSheet(),
              "background-color: #ff6304;color: white;font: 13px Microsoft YaHei;");
}

TEST_F(MainWindowTest, DefaultsWithoutConfigJson) {
    MainWindow* window = BuildWindow();
    EXPECT_EQ(window->Config().width, 960);
    EXPECT_EQ(window->Config().high, 720);
    // The offscreen screen is smaller than that: the window takes what is available.
    const QSize fitted =
        QSize(960, 720).boundedTo(QGuiApplication::primaryScreen()->availableGeometry().size());
    EXPECT_EQ(window->minimumSize(), fitted);
    EXPECT_EQ(window->maximumSize(), fitted);
    EXPECT_EQ(window->menuWidget()->findChild<QLabel*>("titleLabel")->text(), "");
    EXPECT_EQ(window->Config().ipPort, "");
    EXPECT_EQ(window->Config().url, "");
}

TEST_F(MainWindowTest, PanelResultsReachTheTitleBar) {
    MainWindow* window = BuildWindow();
    auto* center = window->findChild<centerWidget*>();
    ASSERT_NE(center, nullptr);

    emit center->FinishCheckSig(3, 2);
    EXPECT_EQ(TipLabel(window)->text(),
              QStringLiteral("本次检测发现3个待修复项,2个控件需手动下载安装"));
    emit center->FinishRepaireSig(1, 0);
    EXPECT_EQ(TipLabel(window)->text(),
              QStringLiteral("修复已完成，请您重新检测确认运行环境是否正常"));
}

TEST_F(MainWindowTest, SizeIsCutToTheAvailableScreen) {
    const QSize available = QGuiApplication::primaryScreen()->availableGeometry().size();
    ASSERT_FALSE(available.isEmpty());
    WriteConfig(work.dir(), R"({"topTitle": "", "ipPort": "127.0.0.1:1", "url": "/c",)"
                            R"( "width": 60000, "high": 300})");
    MainWindow* window = BuildWindow();
    EXPECT_EQ(window->maximumSize(), QSize(available.width(), 300));
    EXPECT_EQ(FittedWindowSize(60000, 60000, QSize(1280, 1024)), QSize(1280, 1024));
    EXPECT_EQ(FittedWindowSize(800, 600, QSize()), QSize(800, 600)); // no screen known
}

TEST_F(MainWindowTest, CheckClickRunsACheckThatReportsBack) {
    // Nothing listens on port 1: the check ends with the network failure.
    WriteConfig(work.dir(), R"({"topTitle": "", "ipPort": "127.0.0.1:1", "url": "/c",)"
                            R"( "width": 960, "high": 720})");
    MainWindow* window = BuildWindow();
    window->show();
    QPushButton* check = nullptr;
    QPushButton* repair = nullptr;
    qobject_cast<TopBar*>(window->menuWidget())->GetButtons(check, repair);

    QTest::mouseClick(check, Qt::LeftButton);
    EXPECT_FALSE(check->isEnabled());
    const QString failed = QStringLiteral("网络连接失败,请检测网络连接是否正常");
    for (int waited = 0; waited < 20000 && TipLabel(window)->text() != failed; waited += 50) {
        QTest::qWait(50);
    }
    EXPECT_EQ(TipLabel(window)->text(), failed);
    EXPECT_TRUE(check->isEnabled());
    EXPECT_EQ(check->text(), QStringLiteral("重新检测"));
    EXPECT_FALSE(repair->isVisible());
    window->hide();
}

// The focusable widgets that Tab reaches from the window, once round.
QList<QWidget*> TabWalk(MainWindow* window) {
    QList<QWidget*> walked;
    for (QWidget* w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && !w->isHidden())
            walked << w;
    return walked;
}

TEST_F(MainWindowTest, TabWalksTheControlsInTheOrderTheyAreSeen) {
    MainWindow* window = BuildWindow();
    window->show();
    QList<QString> names;
    for (QWidget* w : TabWalk(window))
        names << w->objectName();
    EXPECT_EQ(names, (QList<QString>{"minButton", "closeButton", "checkButton", "regionCombo"}));

    // After a check with faults: the repair button and the rows' buttons join, as seen.
    auto* center = window->findChild<centerWidget*>();
    center->CheckStartSlot(1);
    center->CheckNetSlot(1);
    center->CheckNetFraSlot(-1);
    center->CheckIESlot(-1);
    center->CheckToolVerSlot(1);
    center->CheckCAVerSlot(-4);
    names.clear();
    for (QWidget* w : TabWalk(window))
        names << w->objectName();
    EXPECT_EQ(names, (QList<QString>{"minButton", "closeButton", "checkButton", "repairButton",
                                     "regionCombo", "netFraButton", "ieButton", "caButton"}));
    // The window holds the focus itself at first: no button shows a focus frame.
    EXPECT_EQ(window->focusWidget(), window);
    auto* min = window->findChild<QPushButton*>("minButton");
    EXPECT_EQ(min->accessibleName(), QStringLiteral("最小化"));
    window->hide();
}

TEST_F(MainWindowTest, APanelTallerThanTheWindowScrollsInsteadOfBeingCut) {
    WriteConfig(work.dir(), R"({"topTitle": "", "ipPort": "127.0.0.1:1", "url": "/c",)"
                            R"( "width": 960, "high": 300})");
    MainWindow* window = BuildWindow();
    window->show();
    QCoreApplication::processEvents();
    auto* scroll = qobject_cast<QScrollArea*>(window->centralWidget());
    ASSERT_NE(scroll, nullptr);
    auto* center = window->findChild<centerWidget*>();
    EXPECT_GE(center->height(), center->minimumSizeHint().height()) << "not squeezed";
    EXPECT_GT(center->height(), scroll->viewport()->height());
    EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
    window->hide();

    // Where the panel fits, no scroll bar and the panel fills the area.
    WriteConfig(work.dir(), R"({"topTitle": "", "ipPort": "127.0.0.1:1", "url": "/c",)"
                            R"( "width": 960, "high": 720})");
    MainWindow* roomy = BuildWindow();
    roomy->setFixedSize(960, 720);
    roomy->show();
    QCoreApplication::processEvents();
    auto* roomyScroll = qobject_cast<QScrollArea*>(roomy->centralWidget());
    EXPECT_FALSE(roomyScroll->verticalScrollBar()->isVisible());
    EXPECT_EQ(roomy->findChild<centerWidget*>()->size(), roomyScroll->viewport()->size());
    roomy->hide();
}

TEST(SupportLine, NamesTheSupportAndEndsInOneBlank) {
    EXPECT_EQ(SupportLine(), QStringLiteral("技术支持：Quelda | 客服电话：") +
                                 QString::fromUtf8(kSupportTelephone) + " ");
    EXPECT_FALSE(QString::fromUtf8(kSupportTelephone).isEmpty());
}

TEST(CentredPosition, HalvesTruncatedTowardZero) {
    struct Case {
        QSize desktop, window;
        QPoint expected;
    };
    const Case cases[] = {
        {{1920, 1080}, {960, 720}, {480, 180}},
        {{1281, 901}, {960, 720}, {160, 90}},
        {{1280, 900}, {1381, 1001}, {-50, -50}}, // larger than the desktop: -101 / 2
        {{960, 720}, {960, 720}, {0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CentredPosition(c.desktop, c.window), c.expected);
    }
}

TEST(MainWindowDeathTest, ClosingTheWindowEndsTheProcessWithStatusZero) {
    EXPECT_EXIT(
        {
            TempMachine machine;
            ScopedWorkDir work;
            {
                MainWindow window;
                window.InitWindow();
                window.show();
                QTimer::singleShot(0, &window, &QWidget::close);
                QApplication::exec();
            }
            std::exit(3); // not reached: the destructor ended the process
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
