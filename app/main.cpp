// scan39-demo: the window that loads a picture, lets the user drag the scan line and decodes.

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>

#include "form1.h"
#include "scan39/host/picture.h"

namespace {

bool HaveDisplay() {
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v != nullptr && *v != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

// Without a display the window cannot open; show the main job headless instead of aborting.
// The scanner is installed beside this program, or sits in the build tree's cli/ folder.
[[noreturn]] void RunHeadless() {
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    const QDir here = QFileInfo(self).absoluteDir();
    QString cli = here.filePath(QStringLiteral("scan39"));
    if (!QFileInfo(cli).isExecutable()) cli = here.filePath(QStringLiteral("../cli/scan39"));
    const QByteArray path = QFile::encodeName(QDir::cleanPath(cli));
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
    if (!HaveDisplay()) RunHeadless();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("scan39"));
    scan39::host::SilenceImageLibraryMessages();
    // The installed desktop entry and icon carry this name.
    QApplication::setDesktopFileName(QStringLiteral("scan39-demo"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("scan39-demo")));
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
