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
// With a picture named, the scanner reads that picture instead.
[[noreturn]] void RunHeadless(const char* picture) {
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    const QDir here = QFileInfo(self).absoluteDir();
    QString cli = here.filePath(QStringLiteral("scan39"));
    if (!QFileInfo(cli).isExecutable()) cli = here.filePath(QStringLiteral("../cli/scan39"));
    const QByteArray path = QFile::encodeName(QDir::cleanPath(cli));
    std::fprintf(stderr, "scan39-demo: no display found, so the window cannot open.\n");
    if (picture == nullptr)
        std::fprintf(stderr,
                     "Decoding the embedded sample picture headless instead: scan39 --sample\n");
    else
        std::fprintf(stderr, "Reading the picture headless instead: scan39 -- PICTURE\n");
    std::fflush(stderr);
    char* const sample[] = {const_cast<char*>(path.constData()), const_cast<char*>("--sample"),
                            nullptr};
    char* const read[] = {const_cast<char*>(path.constData()), const_cast<char*>("--"),
                          const_cast<char*>(picture), nullptr};
    char* const* args = picture == nullptr ? sample : read;
    execv(path.constData(), args);
    std::perror("scan39-demo: cannot start scan39");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    // `scan39-demo [PICTURE]`: the desktop entry passes the file a file manager opens with it.
    if (!HaveDisplay()) RunHeadless(argc > 1 ? argv[1] : nullptr);
    QApplication app(argc, argv);  // takes Qt's own options out of argv
    const char* picture = argc > 1 ? argv[1] : nullptr;
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
    if (picture != nullptr) form.OpenPicture(QFile::decodeName(picture));
    return app.exec();
}
