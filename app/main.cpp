// scan39-demo: the window that loads a picture, lets the user drag the scan line and decodes.

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>

#include "form1.h"

namespace {

bool HaveDisplay() {
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v != nullptr && *v != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

// Without a display the window cannot open; show the main job headless instead of aborting.
[[noreturn]] void RunHeadless(const char* argv0) {
    const QString cli = QFileInfo(QString::fromLocal8Bit(argv0))
                            .absoluteDir()
                            .filePath(QStringLiteral("../cli/scan39"));
    const QString sibling =
        QFileInfo(QString::fromLocal8Bit(argv0)).absoluteDir().filePath(QStringLiteral("scan39"));
    const QByteArray path = (QFileInfo(sibling).isExecutable() ? sibling : cli).toLocal8Bit();
    std::fprintf(stderr,
                 "scan39-demo: no display found, so the window cannot open.\n"
                 "Decoding the embedded sample picture headless instead: scan39 --sample\n");
    std::fflush(stderr);
    char* const args[] = {const_cast<char*>(path.constData()), const_cast<char*>("--sample"),
                          nullptr};
    execv(path.constData(), args);
    std::perror("scan39-demo: cannot start scan39");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    if (!HaveDisplay()) RunHeadless(argv[0]);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("scan39"));
    // The window speaks Simplified Chinese; so should Qt's own dialogs and buttons in it.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_zh_CN"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTexts);
    }
    scan39::app::Form1 form;
    form.show();
    return app.exec();
}
