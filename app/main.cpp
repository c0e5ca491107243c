#include "app/mainwindow.h"
#include "engine/part_files.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QFont>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
#ifndef _WIN32
    // The style sheets name a Windows font; render the Chinese texts with a CJK font here.
    QFont::insertSubstitution("Microsoft YaHei", "WenQuanYi Micro Hei");
#endif
    MainWindow window;
    window.setWindowTitle(QStringLiteral("Quelda运行环境检测工具"));
    window.setWindowIcon(QIcon("image/logo_.png"));
    window.InitWindow();

    const QWidget* desktop = QApplication::desktop();
    window.move(CentredPosition(desktop->size(), window.size()));
    window.show();
    const int code = app.exec();
    // A download still running stops and leaves no ".part" file behind.
    AbortDownloads(std::chrono::seconds(2));
    return code;
}
