#include "panel_fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QVariant>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace {
const std::pair<const char*, QRgb> kImageColours[] = {
    {"base_icon.png", 0xff102030},     {"tool_icon.png", 0xff203040}, {"ca_icon.png", 0xff304050},
    {"checking_wait.png", 0xffc0c000}, {"checking.png", 0xff0000c0},  {"check_ok.png", 0xff00c000},
    {"check_err.png", 0xffc00000},
};
} // namespace

ScriptedThread::ScriptedThread(int mode, Script script)
    : CheckThread(mode, 0, "", "", "", 0, nullptr), script_(std::move(script)) {}

ScriptedThread::~ScriptedThread() {
    AwaitEnd();
}

void ScriptedThread::Dispatch() {
    if (script_)
        script_(*this);
}

CheckThread* RecordingPanel::NewThread(int mode, int regionIndex, int repairFlags) {
    requests.push_back({mode, regionIndex, repairFlags});
    CheckThread* thread = nullptr;
    if (realWorkers) {
        thread = centerWidget::NewThread(mode, regionIndex, repairFlags);
    } else if (factory) {
        thread = factory(mode, regionIndex, repairFlags);
    } else {
        std::shared_ptr<std::atomic<bool>> held = gate;
        ScriptedThread::Script script = [held](ScriptedThread&) {
            while (!*held)
                QThread::msleep(5);
        };
        const bool isHeld = scripts.empty();
        if (!isHeld) {
            script = scripts.front();
            scripts.erase(scripts.begin());
        }
        thread = new ScriptedThread(mode, script);
        thread->setProperty("held", isHeld);
    }
    threads.push_back(thread);
    return thread;
}

void PanelTest::SetUp() {
    workDir = machine.dir() / "workdir";
    fs::create_directories(workDir / "image");
    for (const auto& [file, colour] : kImageColours) {
        QImage image(26, 26, QImage::Format_ARGB32);
        image.fill(colour);
        image.save(QString::fromStdString((workDir / "image" / file).string()));
    }
    std::ofstream(workDir / "openIE.bat") << "@echo off\r\nrem test copy\r\n";
    std::ofstream(workDir / "openAlertLink.exe") << "MZ handler";
    previousDir = fs::current_path();
    fs::current_path(workDir);
}

void PanelTest::MakePanel() {
    panel = std::make_unique<RecordingPanel>();
    checkButton = std::make_unique<QPushButton>("一键检测");
    repairButton = std::make_unique<QPushButton>();
    // What the title bar does: a click starts a check; the end of a check or a repair
    // enables the button again.
    QObject::connect(checkButton.get(), &QPushButton::clicked, panel.get(), [this] {
        ++checkClicks;
        checkButton->setEnabled(false);
        panel->StartCheck(true);
    });
    QObject::connect(panel.get(), &centerWidget::FinishRepaireSig, checkButton.get(), [this] {
        checkButton->show();
        checkButton->setEnabled(true);
    });
    QObject::connect(panel.get(), &centerWidget::FinishCheckSig, checkButton.get(),
                     [this] { checkButton->setEnabled(true); });
    panel->SetConfig(config, checkButton.get(), repairButton.get());
    panel->show();
}

void PanelTest::TearDown() {
    if (panel) {
        *panel->gate = true;
        DrainThreads();
    }
    panel.reset();
    fs::current_path(previousDir);
}

QLabel* PanelTest::Label(const char* name) const {
    auto* label = panel->findChild<QLabel*>(name);
    EXPECT_NE(label, nullptr) << name;
    return label;
}

QPushButton* PanelTest::Button(const char* name) const {
    auto* button = panel->findChild<QPushButton*>(name);
    EXPECT_NE(button, nullptr) << name;
    return button;
}

QColor PanelTest::IconColour(const char* labelName) const {
    const QPixmap pixmap = Label(labelName)->pixmap(Qt::ReturnByValue);
    if (pixmap.isNull())
        return QColor();
    const QImage image = pixmap.toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

QColor PanelTest::FileColour(const char* imageFile) {
    for (const auto& [file, colour] : kImageColours)
        if (std::string(file) == imageFile)
            return QColor::fromRgba(colour);
    return QColor();
}

void PanelTest::DrainThreads() {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        bool pending = false;
        for (const QPointer<QThread>& thread : panel->threads) {
            const bool held = thread && thread->property("held").toBool() && !*panel->gate;
            pending = pending || (thread && !held);
        }
        if (!pending)
            break;
        if (timer.elapsed() > 10000) {
            ADD_FAILURE() << "workers did not end";
            break;
        }
        QThread::msleep(2);
    }
}

void PanelTest::ReportCheck(int net, int ie, int netFra, int tool, int ca) {
    panel->CheckStartSlot(1);
    panel->CheckNetSlot(net);
    panel->CheckIESlot(ie);
    panel->CheckNetFraSlot(netFra);
    panel->CheckToolVerSlot(tool);
    panel->CheckCAVerSlot(ca);
}
