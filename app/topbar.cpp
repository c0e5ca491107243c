#include "app/topbar.h"

#include "panel/dpi_scale.h"
#include "panel/keyboard_access.h"
#include "panel/panel_styles.h"
#include "panel/sharp_pixmap.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {

const QSize kSmallImage(13, 13);

// The window buttons are flat; a focused one shows a white frame on the orange bar.
const char kWindowButtonStyle[] =
    "QPushButton {border: none;font:  13px Microsoft YaHei; height: 13px;}";
const char kWindowButtonFocus[] = "QPushButton:focus {border: 1px solid white;}";
const char kTitleStyle[] = "border: none;font: 13px Microsoft YaHei; height: 13px;";
const char kTipStyle[] = "border: none;font:  18px Microsoft YaHei; ";
const char kCheckButtonStyle[] =
    "QPushButton {background-color: #40c97f;border: 5px solid #40c97f;border-radius: "
    "5px;color: white;font: 13px Microsoft YaHei;}QPushButton:hover {background-color: "
    "#44d887;border: 2px solid #44d887;}";
const char kRepairButtonStyle[] =
    "QPushButton {background-color: #4a6ff5;border: 5px solid #4a6ff5;border-radius: "
    "5px;color: white;font: 13px Microsoft YaHei;}QPushButton:hover {background-color: "
    "#6380ff;border: 2px solid #6380ff;}";
const char kBarStyle[] = "background-color: #ff6304;color: white;";

// A missing file leaves the label or button blank.
QPixmap SmallImage(const QString& file) {
    return SharpPixmap(file, Scaled(kSmallImage));
}

QSpacerItem* FixedSpacer() {
    return new QSpacerItem(Scaled(10), Scaled(10), QSizePolicy::Fixed, QSizePolicy::Fixed);
}

// A button's style sheet at the screen's scale, with its focus frame.
QString ButtonStyle(const char* sheet, const char* focus) {
    return ScaledStyle(QString::fromUtf8(sheet) + QString::fromUtf8(focus));
}

} // namespace

TopBar::TopBar(const QString& titleText, QWidget* parent)
    : QWidget(parent), title(titleText), window(parent) {
    minButton = new QPushButton(this);
    minButton->setStyleSheet(ButtonStyle(kWindowButtonStyle, kWindowButtonFocus));
    closeButton = new QPushButton(this);
    closeButton->setStyleSheet(ButtonStyle(kWindowButtonStyle, kWindowButtonFocus));
    if (window != nullptr) {
        connect(minButton, &QPushButton::clicked, window, &QWidget::showMinimized);
        connect(closeButton, &QPushButton::clicked, window, &QWidget::close);
    }

    titleLabel = new QLabel(title, this);
    titleLabel->setStyleSheet(ScaledStyle(kTitleStyle));

    logoLabel = new QLabel(this);
    const QPixmap logo = SmallImage("image/logo.png");
    logoLabel->setPixmap(logo);
    logoLabel->setFixedSize(PointSize(logo));

    minButton->setIcon(QIcon(SmallImage("image/min.png")));
    closeButton->setIcon(QIcon(SmallImage("image/close.png")));

    tipLabel = new QLabel(QStringLiteral("对软件基础环境、工具版本、CA环境进行检测"), this);
    checkButton = new QPushButton(QStringLiteral("一键检测"), this);
    repairButton = new QPushButton(this);
    repairButton->hide();

    tipLabel->setStyleSheet(ScaledStyle(kTipStyle));
    checkButton->setStyleSheet(ButtonStyle(kCheckButtonStyle, panelstyle::kFocusFrame));
    repairButton->setStyleSheet(ButtonStyle(kRepairButtonStyle, panelstyle::kFocusFrame));
    repairButton->setFixedSize(Scaled(QSize(80, 35)));
    checkButton->setFixedSize(Scaled(QSize(80, 35)));

    updateLabel = new QLabel(this);
    updateLabel->setStyleSheet(ScaledStyle(kTitleStyle));
    updateLabel->hide();
    updateButton = new QPushButton(QStringLiteral("新版本说明"), this);
    updateButton->setStyleSheet(ButtonStyle(kRepairButtonStyle, panelstyle::kFocusFrame));
    updateButton->setFixedSize(Scaled(QSize(90, 35)));
    updateButton->hide();

    auto* upperRow = new QHBoxLayout;
    upperRow->addWidget(logoLabel);
    upperRow->addWidget(titleLabel);
    upperRow->addSpacing(Scaled(16));
    upperRow->addWidget(updateLabel);
    upperRow->addStretch(1);
    upperRow->addWidget(minButton);
    upperRow->addWidget(closeButton);

    auto* lowerRow = new QHBoxLayout;
    lowerRow->addSpacerItem(FixedSpacer());
    lowerRow->addWidget(tipLabel);
    lowerRow->addStretch(1);
    lowerRow->addWidget(updateButton);
    lowerRow->addWidget(checkButton);
    lowerRow->addWidget(repairButton);
    lowerRow->addSpacerItem(FixedSpacer());

    auto* rows = new QVBoxLayout(this);
    rows->addLayout(upperRow, 32);
    rows->addLayout(lowerRow, 0);

    setFixedHeight(Scaled(90));

    message = false;
    connect(checkButton, &QPushButton::clicked, this, &TopBar::OnCheckClicked);
    connect(repairButton, &QPushButton::clicked, this, &TopBar::OnRepairClicked);
    connect(updateButton, &QPushButton::clicked, this, &TopBar::OnUpdateClicked);

    setStyleSheet(kBarStyle);
    setAttribute(Qt::WA_StyledBackground, true);

    checkButton->setObjectName("checkButton");
    repairButton->setObjectName("repairButton");
    minButton->setObjectName("minButton");
    closeButton->setObjectName("closeButton");
    titleLabel->setObjectName("titleLabel");
    logoLabel->setObjectName("logoLabel");
    tipLabel->setObjectName("tipLabel");
    updateLabel->setObjectName("updateLabel");
    updateButton->setObjectName("updateButton");

    for (QPushButton* button : {minButton, closeButton, updateButton, checkButton, repairButton})
        MakeKeyboardButton(button);
    minButton->setAccessibleName(QStringLiteral("最小化"));
    minButton->setAccessibleDescription(QStringLiteral("最小化窗口"));
    closeButton->setAccessibleName(QStringLiteral("关闭"));
    closeButton->setAccessibleDescription(QStringLiteral("关闭检测工具"));
    UpdateAccessibleTexts();
}

QList<QWidget*> TopBar::FocusChain() const {
    return {minButton, closeButton, updateButton, checkButton, repairButton};
}

void TopBar::UpdateAccessibleTexts() {
    // The buttons are named by their texts (Qt's default); their description is the message
    // line, which says how the last check or repair went.
    const QString state = tipLabel->text();
    for (QPushButton* button : {checkButton, repairButton})
        button->setAccessibleDescription(state);
    updateButton->setAccessibleDescription(updateLabel->text());
    titleLabel->setAccessibleDescription(updateLabel->isHidden() ? QString() : updateLabel->text());
}

TopBar::~TopBar() = default;

void TopBar::GetButtons(QPushButton*& check, QPushButton*& repair) {
    check = checkButton;
    repair = repairButton;
}

void TopBar::OnCheckClicked() {
    checkButton->setText(QStringLiteral("检测中"));
    message = true;
    checkButton->setEnabled(false);
    repairButton->hide();
    tipLabel->setText(QStringLiteral("检测中,请稍后..."));
    // Each check tells the offer anew.
    updateMandatory = false;
    updateLabel->hide();
    updateButton->hide();
    UpdateAccessibleTexts();
    emit checkStartSignal(message);
}

void TopBar::OnRepairClicked() {
    qDebug() << "top click StartCheck";
    if (updateMandatory) {
        tipLabel->setText(
            QStringLiteral("本工具版本过低，请先更新到 %1 后再修复").arg(updateVersion));
        UpdateAccessibleTexts();
        return;
    }
    repairButton->setText(QStringLiteral("修复中"));
    repairButton->setEnabled(false);
    checkButton->setEnabled(false);
    checkButton->hide();
    tipLabel->setText(QStringLiteral("修复中,请稍后..."));
    UpdateAccessibleTexts();
    emit repairStartSignal(message);
}

void TopBar::ShowUpdateOffer(const QString& version, const QString& notes, bool mandatory) {
    updateVersion = version;
    updateNotes = notes;
    updateMandatory = mandatory;
    updateLabel->setText(QStringLiteral("发现新版本 %1").arg(version));
    updateLabel->show();
    updateButton->show();
    UpdateAccessibleTexts();
}

void TopBar::OnUpdateClicked() {
    QString text = updateNotes.isEmpty() ? QStringLiteral("此版本没有更新说明。") : updateNotes;
    if (updateMandatory)
        text += QStringLiteral("\n\n本工具版本过低，更新到新版本后才能修复。");
    // Not modal: the window stays usable (and the check may go on) while it is read.
    auto* box = new QMessageBox(QMessageBox::Information,
                                QStringLiteral("发现新版本 %1").arg(updateVersion), text,
                                QMessageBox::Close, this);
    box->setObjectName("updateNotesBox");
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* install = box->addButton(QStringLiteral("立即更新"), QMessageBox::AcceptRole);
    install->setObjectName("installUpdateButton");
    connect(install, &QPushButton::clicked, this, [this] {
        updateButton->setEnabled(false);
        checkButton->setEnabled(false);
        repairButton->setEnabled(false);
        tipLabel->setText(QStringLiteral("正在更新到 %1,请稍后...").arg(updateVersion));
        UpdateAccessibleTexts();
        emit updateStartSignal();
    });
    box->open();
}

void TopBar::FinishUpdate(int /*result*/, const QString& text) {
    tipLabel->setText(text);
    updateButton->setEnabled(true);
    checkButton->setEnabled(true);
    repairButton->setEnabled(true);
    UpdateAccessibleTexts();
}

void TopBar::FinishCheckSlot(int needProcess, int needDown) {
    if (needProcess == -1) {
        tipLabel->setText(QStringLiteral("网络连接失败,请检测网络连接是否正常"));
        repairButton->hide();
    } else if (needProcess == 0) {
        tipLabel->setText(QStringLiteral("恭喜您，您的运行环境一切正常，请放心使用"));
        repairButton->hide();
    } else {
        tipLabel->setText(QStringLiteral("本次检测发现%1个待修复项,%2个控件需手动下载安装")
                              .arg(needProcess)
                              .arg(needDown));
        repairButton->setText(QStringLiteral("一键修复"));
        repairButton->show();
    }
    checkButton->setText(QStringLiteral("重新检测"));
    checkButton->setEnabled(true);
    UpdateAccessibleTexts();
}

void TopBar::FinishRepaire(int /*successNum*/, int /*failedNum*/) {
    tipLabel->setText(QStringLiteral("修复已完成，请您重新检测确认运行环境是否正常"));
    repairButton->setEnabled(true);
    repairButton->hide();
    checkButton->setText(QStringLiteral("重新检测"));
    checkButton->show();
    checkButton->setEnabled(true);
    UpdateAccessibleTexts();
}

void TopBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && window != nullptr) {
        dragging = true;
        dragOffset = event->globalPos() - window->pos();
    }
}

void TopBar::mouseMoveEvent(QMouseEvent* event) {
    if (dragging && window != nullptr) {
        window->move(event->globalPos() - dragOffset);
    }
}

void TopBar::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging = false;
    }
}
