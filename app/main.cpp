#include "app/check_options.h"
#include "app/headless_check.h"
#include "app/mainwindow.h"
#include "app/windows/dll_search.h"
#include "engine/download/part_files.h"
#include "engine/update/program_files.h"
#include "panel/dpi_scale.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QRect>
#include <QScreen>
#include <QTimer>
#include <filesystem>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    RestrictDllSearch();
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (WantsHeadlessCheck(args)) {
        QCoreApplication app(argc, argv);
        // What an earlier update renamed aside, as the window's start removes it.
        RemoveOldProgramFiles(QCoreApplication::applicationDirPath().toStdWString());
        return RunHeadlessCheck(args);
    }
    // Sharp at every scaling.
    EnableHighDpiScaling();
    QApplication app(argc, argv);
    // The style sheets name "Microsoft YaHei". Where it is missing (Linux, Wine, Windows
    // without it), a CJK sans-serif font instead, so that Latin text is not drawn by a serif
    // fallback while the Chinese comes from another font.
    QFont::insertSubstitutions("Microsoft YaHei",
                               {"Microsoft YaHei UI", "SimHei", "WenQuanYi Micro Hei"});
    // Texts without a style sheet (row names, results, tooltips) take the same family, at the
    // system's size. The system's own dialog font is not always usable: under Wine "MS Shell
    // Dlg 2" fell to a math font with 51 px lines, which pushed the row texts below their icons.
    QFont font = QApplication::font();
    font.setFamily("Microsoft YaHei");
    QApplication::setFont(font);
    MainWindow window;
    window.setWindowTitle(QStringLiteral("Quelda运行环境检测工具"));
    window.setWindowIcon(QIcon("image/logo_.png"));
    window.InitWindow();
    // Restarted after an update: the same region as before it.
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--region")
            window.SelectRegion(QString::fromStdString(args[i + 1]));
    // What an earlier update renamed aside. Started by an update, the program before this one
    // may still be ending, its file in use: tried again each second for half a minute.
    const std::filesystem::path dir = QCoreApplication::applicationDirPath().toStdWString();
    if (RemoveOldProgramFiles(dir) > 0) {
        auto* retry = new QTimer(&app);
        QObject::connect(retry, &QTimer::timeout, retry, [retry, dir, tries = 0]() mutable {
            if (RemoveOldProgramFiles(dir) == 0 || ++tries >= 30)
                retry->stop();
        });
        retry->start(1000);
    }

    // Centred in the screen's free area (without the taskbar), in device-independent points.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    window.move(area.topLeft() + CentredPosition(area.size(), window.size()));
    window.show();
    const int code = app.exec();
    // A download still running stops and leaves no ".part" file behind.
    AbortDownloads(std::chrono::seconds(2));
    return code;
}
