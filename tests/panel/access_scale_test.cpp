// Sizes at the screen's scale, icons at its pixel ratio, and what a screen reader and the
// keyboard get of the rows and their buttons.
#include "panel/dpi_scale.h"
#include "panel/row_accessibility.h"
#include "panel/sharp_pixmap.h"
#include "panel_fixture.h"

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

TEST(DpiScale, LengthsAreRoundedAndNeverVanish) {
    EXPECT_EQ(Scaled(13, 1.0), 13);
    EXPECT_EQ(Scaled(13, 1.25), 16); // 16.25
    EXPECT_EQ(Scaled(13, 1.5), 20);  // 19.5 rounds up
    EXPECT_EQ(Scaled(80, 2.0), 160);
    EXPECT_EQ(Scaled(1, 0.25), 1); // a hairline stays a line
    EXPECT_EQ(Scaled(0, 2.0), 0);
    EXPECT_EQ(Scaled(QSize(80, 35), 1.5), QSize(120, 53));
}

TEST(DpiScale, StyleSheetLengthsScaleAndNothingElse) {
    const QString sheet = "QPushButton {background-color: #40c97f;border: 5px solid #40c97f;"
                          "border-radius: 5px;color: white;font: 13px Microsoft YaHei;}"
                          "QPushButton:hover {border: 2px solid #44d887;}";
    EXPECT_EQ(ScaledStyle(sheet, 1.0), sheet);
    EXPECT_EQ(ScaledStyle(sheet, 1.5),
              "QPushButton {background-color: #40c97f;border: 8px solid #40c97f;"
              "border-radius: 8px;color: white;font: 20px Microsoft YaHei;}"
              "QPushButton:hover {border: 3px solid #44d887;}");
    // Fractions, several lengths in one rule, and numbers that are not lengths.
    EXPECT_EQ(ScaledStyle("margin: 1.5px 0 3px; line-height: 120%; font-weight: 700;", 2.0),
              "margin: 3px 0 6px; line-height: 120%; font-weight: 700;");
    // A colour or a name that ends in digits before "px" is not a length.
    EXPECT_EQ(ScaledStyle("color: #123px; image: url(a13px.png);", 2.0),
              "color: #123px; image: url(a13px.png);");
}

class SharpPixmapTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Write(const QString& name, int side, QRgb colour) {
        QImage image(side, side, QImage::Format_ARGB32);
        image.fill(colour);
        const QString path = dir.filePath(name);
        image.save(path);
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(SharpPixmapTest, OneTimesIsTheFileAsBeforeAndAboveItTheDoubleFile) {
    const QString file = Write("ok.png", 13, qRgb(255, 0, 0));
    Write("ok@2x.png", 26, qRgb(0, 0, 255));

    const QPixmap plain = SharpPixmap(file, QSize(13, 13), 1.0);
    EXPECT_EQ(plain.size(), QSize(13, 13));
    EXPECT_EQ(plain.devicePixelRatio(), 1.0);
    EXPECT_EQ(plain.toImage().pixel(6, 6), qRgb(255, 0, 0));

    const QPixmap doubled = SharpPixmap(file, QSize(13, 13), 2.0);
    EXPECT_EQ(doubled.size(), QSize(26, 26));
    EXPECT_EQ(doubled.devicePixelRatio(), 2.0);
    EXPECT_EQ(PointSize(doubled), QSize(13, 13));
    EXPECT_EQ(doubled.toImage().pixel(13, 13), qRgb(0, 0, 255)) << "drawn from the @2x file";

    const QPixmap oneAndHalf = SharpPixmap(file, QSize(13, 13), 1.5);
    EXPECT_EQ(oneAndHalf.size(), QSize(20, 20)); // 19.5 pixels: none of the icon cut
    EXPECT_EQ(PointSize(oneAndHalf), QSize(13, 13));
}

TEST_F(SharpPixmapTest, WithoutADoubleFileTheOneTimesFileIsScaledAndMissingIsNull) {
    const QString file = Write("wait.png", 24, qRgb(0, 255, 0));
    const QPixmap scaled = SharpPixmap(file, QSize(24, 24), 2.0);
    EXPECT_EQ(scaled.size(), QSize(48, 48));
    EXPECT_EQ(scaled.toImage().pixel(20, 20), qRgb(0, 255, 0));
    EXPECT_TRUE(SharpPixmap(dir.filePath("none.png"), QSize(13, 13), 1.0).isNull());
    EXPECT_TRUE(SharpPixmap(dir.filePath("none.png"), QSize(13, 13), 2.0).isNull());

    EXPECT_EQ(DoubleSizeFileName("image/min.png"), "image/min@2x.png");
    EXPECT_EQ(DoubleSizeFileName("a.b/logo"), "a.b/logo@2x");
    EXPECT_EQ(DoubleSizeFileName("dir/.hidden"), "dir/.hidden@2x");
}

TEST(RowAccessibility, TheStateSaysWhatTheRowShows) {
    const QString ie = QStringLiteral("IE浏览器配置检测");
    struct Case {
        RowShown row;
        QString state;
    };
    const Case cases[] = {
        {{RowLook::Unchecked, "", false, false, ""}, "未检测"},
        {{RowLook::Pending, "检测中...", false, false, ""}, "检测中"},
        {{RowLook::Pending, "等待检测...", false, false, ""}, "等待检测"},
        {{RowLook::Pending, "正在等待其他安装程序结束…", true, true, "取消等待"},
         "正在等待其他安装程序结束"},
        {{RowLook::Good, "IE浏览器配置正常", false, false, "修复"}, "正常"},
        {{RowLook::Fault, "IE浏览器配置错误", true, true, "修复"}, "异常，可修复"},
        {{RowLook::Fault, "CA驱动未安装", true, true, "下载安装"}, "异常，需下载安装"},
        {{RowLook::Fault, "CA驱动未安装", true, false, "下载中"}, "异常，下载中"},
        {{RowLook::Fault, "网络连接失败", false, false, ""}, "异常"},
        {{RowLook::Fault, "安装失败", false, true, "下载安装"}, "异常"}, // button hidden
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RowStateText(c.row), c.state) << c.row.statusText.toStdString();
        EXPECT_EQ(RowAccessibleName(ie, c.row), ie + "：" + c.state);
    }
    EXPECT_EQ(RowButtonAccessibleName(ie, "修复"), "修复：IE浏览器配置检测");
}

// Each row's name label: its accessible name; its button: name and description.
struct RowNames {
    const char* nameLabel;
    const char* button;
};
const RowNames kRows[] = {{"netNameLabel", nullptr},
                          {"netFraNameLabel", "netFraButton"},
                          {"ieNameLabel", "ieButton"},
                          {"toolNameLabel", "toolButton"},
                          {"caNameLabel", "caButton"}};

TEST_F(PanelTest, RowsTellTheirStateToScreenReadersAsResultsArrive) {
    MakePanel();
    for (const RowNames& row : kRows)
        EXPECT_EQ(Label(row.nameLabel)->accessibleName(),
                  Label(row.nameLabel)->text() + "：未检测");

    panel->CheckStartSlot(1);
    EXPECT_EQ(Label("netNameLabel")->accessibleName(), "网络连接检测：检测中");
    EXPECT_EQ(Label("caNameLabel")->accessibleName(), "CA版本检测：等待检测");

    ReportCheck(1, -1, -1, -4, -5);
    EXPECT_EQ(Label("netNameLabel")->accessibleName(), "网络连接检测：正常");
    EXPECT_EQ(Label("ieNameLabel")->accessibleName(), "IE浏览器配置检测：异常，可修复");
    EXPECT_EQ(Label("netFraNameLabel")->accessibleName(),
              ".net framework 4.0检测：异常，需下载安装");
    EXPECT_EQ(Label("ieNameLabel")->accessibleDescription(), Label("ieStatusLabel")->text());
    for (const RowNames& row : kRows) {
        if (row.button == nullptr)
            continue;
        QPushButton* button = Button(row.button);
        const QString item = Label(row.nameLabel)->text();
        EXPECT_EQ(button->accessibleName(), button->text() + "：" + item) << row.button;
        EXPECT_EQ(button->accessibleDescription(), Label(row.nameLabel)->accessibleName());
    }

    // A failed network check clears the other rows, whatever colour they had.
    panel->CheckStartSlot(1);
    panel->CheckNetSlot(-1);
    EXPECT_TRUE(Label("netNameLabel")->accessibleName().startsWith("网络连接检测：异常"));
    EXPECT_EQ(Label("ieNameLabel")->accessibleName(), "IE浏览器配置检测：未检测");
}

TEST_F(PanelTest, RowButtonsTakeTabAndEnterButNoFocusFromTheMouse) {
    MakePanel();
    ReportCheck(1, -1, 1, 1, 1);
    QPushButton* ie = Button("ieButton");
    EXPECT_EQ(ie->focusPolicy(), Qt::TabFocus);
    panel->show();
    QSignalSpy clicks(ie, &QPushButton::clicked);
    QTest::keyClick(ie, Qt::Key_Return);
    QTest::keyClick(ie, Qt::Key_Enter);
    EXPECT_EQ(clicks.count(), 2);
    ie->setEnabled(false);
    QTest::keyClick(ie, Qt::Key_Return);
    EXPECT_EQ(clicks.count(), 2) << "a disabled button is not pressed";
    EXPECT_TRUE(ie->styleSheet().contains("QPushButton:focus")) << "its focus is seen";

    auto* regions = panel->findChild<QComboBox*>("regionCombo");
    EXPECT_EQ(regions->accessibleName(), "选择区域");
    regions->setCurrentIndex(2);
    EXPECT_EQ(regions->accessibleDescription(), regions->itemText(2));
    const QList<QWidget*> chain = panel->FocusChain();
    ASSERT_EQ(chain.size(), 5);
    EXPECT_EQ(chain.front(), regions);
    EXPECT_EQ(chain.back(), Button("caButton"));
}

} // namespace
