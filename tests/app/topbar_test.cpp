#include "app/topbar.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString kReadyTip = QStringLiteral("对软件基础环境、工具版本、CA环境进行检测");
const QString kCheckingTip = QStringLiteral("检测中,请稍后...");
const QString kNetFailedTip = QStringLiteral("网络连接失败,请检测网络连接是否正常");
const QString kAllCorrectTip = QStringLiteral("恭喜您，您的运行环境一切正常，请放心使用");
const QString kRepairingTip = QStringLiteral("修复中,请稍后...");
const QString kRepairedTip = QStringLiteral("修复已完成，请您重新检测确认运行环境是否正常");

class TopBarTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<QWidget>();
        bar = new TopBar(QStringLiteral("标题"), window.get());
        bar->GetButtons(check, repair);
        tip = bar->findChild<QLabel*>("tipLabel");
        ASSERT_NE(tip, nullptr);
        QObject::connect(bar, &TopBar::checkStartSignal, [this](bool& m) {
            ++checkEmits;
            lastMessage = m;
        });
        QObject::connect(bar, &TopBar::repairStartSignal, [this](bool& m) {
            ++repairEmits;
            lastMessage = m;
        });
        window->show();
    }

    // What the user sees: check text, visible, enabled; repair text, visible, enabled; tip.
    void ExpectState(const QString& checkText, bool checkShown, bool checkEnabled, bool repairShown,
                     bool repairEnabled, const QString& tipText) {
        EXPECT_EQ(check->text(), checkText);
        EXPECT_EQ(check->isVisible(), checkShown);
        EXPECT_EQ(check->isEnabled(), checkEnabled);
        EXPECT_EQ(repair->isVisible(), repairShown);
        EXPECT_EQ(repair->isEnabled(), repairEnabled);
        EXPECT_EQ(tip->text(), tipText);
    }

    void ClickCheck() { QTest::mouseClick(check, Qt::LeftButton); }
    void ClickRepair() { QTest::mouseClick(repair, Qt::LeftButton); }

    std::unique_ptr<QWidget> window;
    TopBar* bar = nullptr;
    QPushButton* check = nullptr;
    QPushButton* repair = nullptr;
    QLabel* tip = nullptr;
    int checkEmits = 0;
    int repairEmits = 0;
    bool lastMessage = false;
};

TEST_F(TopBarTest, ReadyAfterConstruction) {
    ExpectState(QStringLiteral("一键检测"), true, true, false, true, kReadyTip);
    EXPECT_EQ(repair->text(), "");
    EXPECT_EQ(bar->findChild<QLabel*>("titleLabel")->text(), QStringLiteral("标题"));
    EXPECT_EQ(bar->height(), 90);
    EXPECT_EQ(check->size(), QSize(80, 35));
    EXPECT_TRUE(bar->testAttribute(Qt::WA_StyledBackground));
    EXPECT_EQ(bar->styleSheet(), "background-color: #ff6304;color: white;");
}

TEST_F(TopBarTest, CheckClickEntersCheckingAndEmitsWithMessageTrue) {
    QSignalSpy spy(bar, &TopBar::checkStartSignal);
    ClickCheck();
    ExpectState(QStringLiteral("检测中"), true, false, false, true, kCheckingTip);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(checkEmits, 1);
    EXPECT_TRUE(lastMessage);
    // Disabled while checking: a second click does nothing.
    ClickCheck();
    EXPECT_EQ(checkEmits, 1);
}

TEST_F(TopBarTest, FinishCheckOutcomes) {
    struct Case {
        int needProcess;
        int needDown;
        QString tip;
        bool repairShown;
    };
    const Case cases[] = {
        {-1, 1, kNetFailedTip, false},
        {0, 0, kAllCorrectTip, false},
        {3, 2, QStringLiteral("本次检测发现3个待修复项,2个控件需手动下载安装"), true},
        {1, 0, QStringLiteral("本次检测发现1个待修复项,0个控件需手动下载安装"), true},
        {-4, 12, QStringLiteral("本次检测发现-4个待修复项,12个控件需手动下载安装"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.needProcess);
        ClickCheck();
        bar->FinishCheckSlot(c.needProcess, c.needDown);
        ExpectState(QStringLiteral("重新检测"), true, true, c.repairShown, true, c.tip);
        if (c.repairShown) {
            EXPECT_EQ(repair->text(), QStringLiteral("一键修复"));
        }
    }
}

TEST_F(TopBarTest, NetworkFailureHidesAnEarlierRepairOffer) {
    ClickCheck();
    bar->FinishCheckSlot(3, 2);
    ASSERT_TRUE(repair->isVisible());
    ClickCheck();
    EXPECT_FALSE(repair->isVisible()) << "a new check hides the offer at once";
    bar->FinishCheckSlot(-1, 1);
    ExpectState(QStringLiteral("重新检测"), true, true, false, true, kNetFailedTip);
}

TEST_F(TopBarTest, RepairCycleThenRecheck) {
    ClickCheck();
    bar->FinishCheckSlot(2, 1);
    ClickRepair();
    EXPECT_EQ(repairEmits, 1);
    EXPECT_TRUE(lastMessage) << "the repair click passes message on unchanged";
    EXPECT_EQ(repair->text(), QStringLiteral("修复中"));
    ExpectState(QStringLiteral("重新检测"), false, false, true, false, kRepairingTip);

    bar->FinishRepaire(0, 7); // the counts are ignored
    ExpectState(QStringLiteral("重新检测"), true, true, false, true, kRepairedTip);

    ClickCheck();
    EXPECT_EQ(checkEmits, 2);
    ExpectState(QStringLiteral("检测中"), true, false, false, true, kCheckingTip);
}

TEST_F(TopBarTest, CheckClickFromEveryFinishedState) {
    const std::pair<int, int> finishes[] = {{-1, 1}, {0, 0}, {5, 5}};
    for (const auto& [needProcess, needDown] : finishes) {
        bar->FinishCheckSlot(needProcess, needDown);
        ClickCheck();
        ExpectState(QStringLiteral("检测中"), true, false, false, true, kCheckingTip);
    }
    bar->FinishRepaire(1, 0);
    ClickCheck();
    ExpectState(QStringLiteral("检测中"), true, false, false, true, kCheckingTip);
    EXPECT_EQ(checkEmits, 4);
}

TEST_F(TopBarTest, ProgrammaticClickRunsTheSameHandler) {
    check->click();
    EXPECT_EQ(checkEmits, 1);
    EXPECT_EQ(tip->text(), kCheckingTip);
}

void SendMouse(QWidget* target, QEvent::Type type, const QPoint& local, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent event(type, local, target->mapToGlobal(local), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

TEST_F(TopBarTest, LeftDragMovesTheWindowKeepingTheGrabPoint) {
    window->move(100, 100);
    const QPoint start = window->pos();
    const QPoint grab(200, 20);
    const QPoint grabGlobal = bar->mapToGlobal(grab);

    SendMouse(bar, QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
    QMouseEvent move(QEvent::MouseMove, grab, grabGlobal + QPoint(30, -15), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    EXPECT_EQ(window->pos(), start + QPoint(30, -15));

    SendMouse(bar, QEvent::MouseButtonRelease, grab, Qt::LeftButton, Qt::NoButton);
    const QPoint afterRelease = window->pos();
    QMouseEvent strayMove(QEvent::MouseMove, grab, grabGlobal + QPoint(300, 300), Qt::NoButton,
                          Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &strayMove);
    EXPECT_EQ(window->pos(), afterRelease) << "no move after the left release";
}

TEST_F(TopBarTest, RightButtonDoesNotDrag) {
    window->move(100, 100);
    const QPoint start = window->pos();
    const QPoint grab(200, 20);
    SendMouse(bar, QEvent::MouseButtonPress, grab, Qt::RightButton, Qt::RightButton);
    QMouseEvent move(QEvent::MouseMove, grab, bar->mapToGlobal(grab) + QPoint(40, 40), Qt::NoButton,
                     Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    EXPECT_EQ(window->pos(), start);
}

TEST_F(TopBarTest, RightReleaseDoesNotEndALeftDrag) {
    window->move(100, 100);
    const QPoint start = window->pos();
    const QPoint grab(200, 20);
    SendMouse(bar, QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
    SendMouse(bar, QEvent::MouseButtonRelease, grab, Qt::RightButton, Qt::LeftButton);
    QMouseEvent move(QEvent::MouseMove, grab, bar->mapToGlobal(grab) + QPoint(5, 7), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    EXPECT_EQ(window->pos(), start + QPoint(5, 7));
}

TEST_F(TopBarTest, MinimiseAndCloseActOnTheParentWindow) {
    QTest::mouseClick(bar->findChild<QPushButton*>("minButton"), Qt::LeftButton);
    EXPECT_TRUE(window->isMinimized());
    window->showNormal();
    QTest::mouseClick(bar->findChild<QPushButton*>("closeButton"), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
}

// A newer release: its notice beside the title and its notes on request; each check tells
// the offer anew; below the minimum the repair button says so instead of repairing.
TEST_F(TopBarTest, AnOfferedReleaseIsShownWithItsNotesAndAMandatoryOneStopsTheRepair) {
    auto* notice = bar->findChild<QLabel*>("updateLabel");
    auto* update = bar->findChild<QPushButton*>("updateButton");
    ASSERT_NE(notice, nullptr);
    ASSERT_NE(update, nullptr);
    EXPECT_FALSE(notice->isVisible());
    EXPECT_FALSE(update->isVisible());

    ClickCheck();
    bar->ShowUpdateOffer("1.1.0.0", QStringLiteral("修正了检测"), false);
    bar->FinishCheckSlot(3, 2);
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->text(), QStringLiteral("发现新版本 1.1.0.0"));
    ASSERT_TRUE(update->isVisible());
    QTest::mouseClick(update, Qt::LeftButton);
    auto* box = bar->findChild<QMessageBox*>("updateNotesBox");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("修正了检测"));
    QSignalSpy updateAsked(bar, &TopBar::updateStartSignal);
    auto* install = box->findChild<QPushButton*>("installUpdateButton");
    ASSERT_NE(install, nullptr);
    QTest::mouseClick(install, Qt::LeftButton);
    EXPECT_EQ(updateAsked.count(), 1);
    EXPECT_EQ(tip->text(), QStringLiteral("正在更新到 1.1.0.0,请稍后..."));
    EXPECT_FALSE(check->isEnabled());
    bar->FinishUpdate(-2, QStringLiteral("新版本未安装：下载失败：sha256 不符"));
    EXPECT_EQ(tip->text(), QStringLiteral("新版本未安装：下载失败：sha256 不符"));
    EXPECT_TRUE(check->isEnabled());
    ClickRepair();
    EXPECT_EQ(repairEmits, 1) << "an optional release leaves the repair as it is";
    bar->FinishRepaire(1, 0);

    ClickCheck();
    EXPECT_FALSE(notice->isVisible()) << "a new check hides the earlier offer";
    bar->ShowUpdateOffer("2.0.0.0", QString(), true);
    bar->FinishCheckSlot(3, 2);
    ClickRepair();
    EXPECT_EQ(repairEmits, 1);
    EXPECT_EQ(tip->text(), QStringLiteral("本工具版本过低，请先更新到 2.0.0.0 后再修复"));
}

} // namespace

namespace {

TEST_F(TopBarTest, ScreenReadersHearTheButtonsAndTheMessageLine) {
    auto* min = bar->findChild<QPushButton*>("minButton");
    auto* close = bar->findChild<QPushButton*>("closeButton");
    EXPECT_EQ(min->accessibleName(), QStringLiteral("最小化"));
    EXPECT_EQ(close->accessibleName(), QStringLiteral("关闭"));
    EXPECT_EQ(check->accessibleDescription(), kReadyTip);
    ClickCheck();
    EXPECT_EQ(check->accessibleDescription(), kCheckingTip);
    bar->FinishCheckSlot(2, 1);
    EXPECT_EQ(repair->accessibleDescription(), tip->text());
    EXPECT_EQ(repair->text(), QStringLiteral("一键修复")); // the name a reader says
    bar->ShowUpdateOffer("9.9", "", false);
    auto* update = bar->findChild<QPushButton*>("updateButton");
    EXPECT_EQ(update->accessibleDescription(), QStringLiteral("发现新版本 9.9"));

    // Tab order and keys: the five buttons, each pressed by Enter, none focused by the mouse.
    const QList<QWidget*> chain = bar->FocusChain();
    EXPECT_EQ(chain, (QList<QWidget*>{min, close, update, check, repair}));
    QSignalSpy repairs(bar, &TopBar::repairStartSignal);
    QTest::keyClick(repair, Qt::Key_Return);
    EXPECT_EQ(repairs.count(), 1);
    for (QWidget* button : chain)
        EXPECT_EQ(button->focusPolicy(), Qt::TabFocus) << button->objectName().toStdString();
}

} // namespace
