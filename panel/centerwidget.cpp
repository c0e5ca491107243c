#include "centerwidget.h"

#include "alert_protocol.h"
#include "common/log/program_log.h"
#include "dpi_scale.h"
#include "engine/checkthread.h"
#include "engine/region_table.h"
#include "engine/trust/document_check.h"
#include "keyboard_access.h"
#include "panel_styles.h"
#include "sharp_pixmap.h"

#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <exception>

namespace {

QPushButton* NewRowButton(QWidget* parent, const char* objectName) {
    auto* button = new QPushButton(parent);
    button->setObjectName(objectName);
    return button;
}

QLabel* NewLabel(QWidget* parent, const char* objectName, const QString& text = QString()) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    return label;
}

QFrame* NewSeparator(QWidget* parent, const char* objectName) {
    auto* line = new QFrame(parent);
    line->setObjectName(objectName);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// A group icon is shown at 24 x 24 and its label takes exactly the pixmap's size in points
// (0 x 0 when the file is missing).
void SetGroupIcon(QLabel* label, const char* file) {
    const QPixmap pixmap = SharpPixmap(QString::fromUtf8(file), Scaled(QSize(24, 24)));
    label->setPixmap(pixmap);
    label->setFixedSize(PointSize(pixmap));
}

} // namespace

centerWidget::centerWidget(QWidget* parent) : QWidget(parent) {
    statusIconSize = Scaled(QSize(13, 13));
    BuildWidgets();
    PlaceWidgets();

    connect(ieButton, &QPushButton::clicked, this, &centerWidget::RepaireIECfg);
    connect(toolButton, &QPushButton::clicked, this, &centerWidget::DownloadToolCfg);
    connect(caButton, &QPushButton::clicked, this, &centerWidget::DownloadCaCfg);
    connect(netFraButton, &QPushButton::clicked, this, &centerWidget::DownloadCsharpCfg);
    for (QPushButton* button : {netFraButton, ieButton, toolButton, caButton})
        MakeKeyboardButton(button);
    regionCombo->setAccessibleName("选择区域");
    regionLabel->setBuddy(regionCombo); // where the name of a combo box is its text (AT-SPI)
    UpdateAccessibleTexts();
    connect(regionCombo, &QComboBox::currentTextChanged, this, [this] { UpdateAccessibleTexts(); });
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &centerWidget::ShowReportMenu);

    // Under the working folder, or C:\ProgramData\Quelda\logs where that cannot be.
    logger = CreateProgramLogger(QDir::currentPath().toStdString());
}

centerWidget::~centerWidget() = default;

void centerWidget::BuildWidgets() {
    progressBar = new QProgressBar(this);
    progressBar->setObjectName("progressBar");
    downloadBytesLabel = new QLabel(this);
    downloadBytesLabel->setObjectName("downloadBytesLabel");
    downloadBytesLabel->hide();
    // They only keep the margins: empty widgets, which neither draw, take the focus nor show
    // to a screen reader as buttons.
    leftSpacer = new QWidget(this);
    rightSpacer = new QWidget(this);
    leftSpacer->setFixedSize(Scaled(QSize(5, 10)));
    rightSpacer->setFixedSize(Scaled(QSize(5, 10)));

    baseIconLabel = NewLabel(this, "baseIconLabel");
    baseTitleLabel = NewLabel(this, "baseTitleLabel", "基础环境检测");
    baseLine = NewSeparator(this, "baseLine");
    toolGroupIconLabel = NewLabel(this, "toolGroupIconLabel");
    toolGroupTitleLabel = NewLabel(this, "toolGroupTitleLabel", "投标工具检测(投标人需安装)");
    toolLine = NewSeparator(this, "toolLine");
    caGroupIconLabel = NewLabel(this, "caGroupIconLabel");
    caGroupTitleLabel = NewLabel(this, "caGroupTitleLabel", "CA环境检测");
    caLine = NewSeparator(this, "caLine");

    netIconLabel = NewLabel(this, "netIconLabel");
    netNameLabel = NewLabel(this, "netNameLabel", "网络连接检测");
    netStatusLabel = NewLabel(this, "netStatusLabel");
    netFraIconLabel = NewLabel(this, "netFraIconLabel");
    netFraNameLabel = NewLabel(this, "netFraNameLabel", ".net framework 4.0检测");
    netFraStatusLabel = NewLabel(this, "netFraStatusLabel");
    netFraButton = NewRowButton(this, "netFraButton");
    ieIconLabel = NewLabel(this, "ieIconLabel");
    ieNameLabel = NewLabel(this, "ieNameLabel", "IE浏览器配置检测");
    ieStatusLabel = NewLabel(this, "ieStatusLabel");
    ieButton = NewRowButton(this, "ieButton");
    toolIconLabel = NewLabel(this, "toolIconLabel");
    toolNameLabel = NewLabel(this, "toolNameLabel", "投标工具版本检测");
    toolStatusLabel = NewLabel(this, "toolStatusLabel");
    toolButton = NewRowButton(this, "toolButton");
    caIconLabel = NewLabel(this, "caIconLabel");
    caNameLabel = NewLabel(this, "caNameLabel", "CA版本检测");
    caStatusLabel = NewLabel(this, "caStatusLabel");
    caButton = NewRowButton(this, "caButton");

    regionCombo = new QComboBox(this);
    regionCombo->setObjectName("regionCombo");
    for (const RegionEntry& region : kRegions)
        regionCombo->addItem(region.label);
    regionCombo->setCurrentIndex(0);
    regionLabel = NewLabel(this, "regionLabel", "选择区域: ");
    regionLabel->setStyleSheet(ScaledStyle(panelstyle::kRegion));
    regionCombo->setStyleSheet(ScaledStyle(panelstyle::kRegion));

    for (QPushButton* button : {netFraButton, ieButton, toolButton, caButton}) {
        button->hide();
        button->setFixedSize(Scaled(QSize(80, 25)));
        button->setStyleSheet(ScaledStyle(panelstyle::kRowButton));
    }
    for (QPushButton* button : {netFraButton, toolButton, caButton})
        button->setText("下载安装");

    progressBar->setTextVisible(false);
    progressBar->hide();
    progressBar->setFixedHeight(Scaled(3));
    progressBar->setRange(0, 100);

    for (QLabel* title : {baseTitleLabel, toolGroupTitleLabel, caGroupTitleLabel})
        title->setStyleSheet(ScaledStyle(panelstyle::kGroupTitle));

    workDir = QDir::currentPath().toStdWString();

    SetGroupIcon(baseIconLabel, "image/base_icon.png");
    SetGroupIcon(toolGroupIconLabel, "image/tool_icon.png");
    SetGroupIcon(caGroupIconLabel, "image/ca_icon.png");
}

void centerWidget::PlaceWidgets() {
    gridLayout = new QGridLayout(this);
    gridLayout->setContentsMargins(0, 0, 0, 0);
    gridLayout->setSpacing(0);
    gridLayout->setHorizontalSpacing(0);
    gridLayout->setVerticalSpacing(0);

    const Qt::Alignment iconAlign = Qt::AlignHCenter | Qt::AlignTop | Qt::AlignVCenter;
    auto addItemRow = [&](int row, QLabel* icon, QLabel* name, QLabel* status,
                          QPushButton* button) {
        gridLayout->addWidget(icon, row, 1, iconAlign);
        gridLayout->addWidget(name, row, 2, Qt::AlignTop);
        gridLayout->addWidget(status, row, 3, Qt::AlignTop);
        if (button)
            gridLayout->addWidget(button, row, 4, Qt::AlignRight | Qt::AlignTop);
    };

    auto* progressBox = new QHBoxLayout;
    progressBox->addWidget(progressBar, 1);
    progressBox->addWidget(downloadBytesLabel, 0, Qt::AlignRight | Qt::AlignVCenter);
    gridLayout->addLayout(progressBox, 0, 0, 1, 5);

    auto* regionBox = new QHBoxLayout;
    regionBox->addWidget(regionLabel);
    regionBox->addWidget(regionCombo);
    gridLayout->addWidget(baseIconLabel, 1, 1, Qt::AlignLeft | Qt::AlignVCenter);
    gridLayout->addWidget(baseTitleLabel, 1, 2, Qt::AlignLeft | Qt::AlignVCenter);
    gridLayout->addLayout(regionBox, 1, 4, Qt::AlignRight | Qt::AlignVCenter);
    gridLayout->addWidget(baseLine, 2, 1, 1, 4, Qt::AlignTop);

    addItemRow(3, netIconLabel, netNameLabel, netStatusLabel, nullptr);
    addItemRow(4, netFraIconLabel, netFraNameLabel, netFraStatusLabel, netFraButton);
    addItemRow(5, ieIconLabel, ieNameLabel, ieStatusLabel, ieButton);

    gridLayout->addWidget(toolGroupIconLabel, 6, 1, Qt::AlignVCenter);
    gridLayout->addWidget(toolGroupTitleLabel, 6, 2, Qt::AlignVCenter);
    gridLayout->addWidget(toolLine, 7, 1, 1, 4, Qt::AlignTop);
    addItemRow(8, toolIconLabel, toolNameLabel, toolStatusLabel, toolButton);

    gridLayout->addWidget(caGroupIconLabel, 9, 1, Qt::AlignVCenter);
    gridLayout->addWidget(caGroupTitleLabel, 9, 2, Qt::AlignVCenter);
    gridLayout->addWidget(caLine, 10, 1, 1, 4, Qt::AlignTop);
    addItemRow(11, caIconLabel, caNameLabel, caStatusLabel, caButton);

    // A widget shows in one cell only, so each margin spacer takes the last of its cells:
    // together with the column minimum widths this gives both margins their spacing.
    gridLayout->addWidget(leftSpacer, 10, 0, Qt::AlignLeft);
    gridLayout->addWidget(rightSpacer, 11, 5);

    gridLayout->setRowMinimumHeight(0, Scaled(15));
    gridLayout->setRowMinimumHeight(2, Scaled(3));
    gridLayout->setColumnMinimumWidth(0, Scaled(20));
    gridLayout->setColumnMinimumWidth(1, Scaled(30));
    gridLayout->setColumnMinimumWidth(5, Scaled(20));
    const int stretches[] = {2, 5, 3, 5, 5, 5, 5, 3, 5, 5, 3, 5, 5};
    for (int row = 0; row < 13; ++row)
        gridLayout->setRowStretch(row, stretches[row]);
}

void centerWidget::SetConfig(const MainConfig& cfg, QPushButton* checkButton,
                             QPushButton* repairButton) {
    this->checkButton = checkButton;
    this->repairButton = repairButton;
    config = cfg;
    LogDocumentKeys(SelectDocumentKeys(BuiltInDocumentKeyLines(), config.docKeys), logger);
    RegisterAlertProtocol();
}

void centerWidget::RegisterAlertProtocol() {
    try {
        RegisterAlertUrlProtocol(std::filesystem::path(workDir));
    } catch (const std::exception&) {
        // The program starts without the protocol; nothing is shown to the user.
    }
}

CheckThread* centerWidget::NewThread(int mode, int regionIndex, int repairFlags) {
    auto* thread = new CheckThread(mode, regionIndex, config.ipPort, config.url, std::string(),
                                   repairFlags, logger);
    thread->SetDocumentKeys(SelectDocumentKeys(BuiltInDocumentKeyLines(), config.docKeys));
    return thread;
}
