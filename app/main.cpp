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
#include <cstring>

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

#ifndef SCAN39_VERSION
#define SCAN39_VERSION "unknown"
#endif

// The text of --help; packaging/man_page.cmake turns it into scan39-demo(1), so the two
// never drift: "Usage:" lines, paragraphs, an "Options:" list, "Exit status:".
constexpr const char* kUsage =
    "Usage: scan39-demo [PICTURE]\n"
    "       scan39-demo --help | --version\n"
    "\n"
    "Opens the barcode decoding demo window: load a picture, drag a red box down and to\n"
    "the right so that its top edge crosses the bars from the white margin left of the\n"
    "symbol to the white margin right of it, and press the decode button; the text box\n"
    "shows the decoded Code 39 text. PICTURE, a BMP, JPEG, GIF or PNG file (TIFF and\n"
    "WebP with Qt's image format plugins), is opened in the window at start, its name\n"
    "used exactly as given (a picture whose name starts with a dash: ./-NAME).\n"
    "Without a display the window cannot open: scan39-demo then runs scan39 --sample,\n"
    "or scan39 -- PICTURE, headless instead.\n"
    "\n"
    "Options:\n"
    "  -h, --help         show this text\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0 when the window was closed; without a display, the exit status of\n"
    "scan39; 2 when scan39 cannot be started.\n";

// --help and --version print and end before anything opens a window or needs a display: the
// exit status, or -1 when the arguments are something else (a picture, Qt's own options).
int PrintInformation(int argc, char** argv) {
    if (argc != 2) return -1;
    const char* text = nullptr;
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
        text = kUsage;
    else if (std::strcmp(argv[1], "--version") == 0)
        text = "scan39-demo " SCAN39_VERSION "\n";
    else
        return -1;
    return std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    // `scan39-demo [PICTURE]`: the desktop entry passes the file a file manager opens with it.
    if (const int status = PrintInformation(argc, argv); status >= 0) return status;
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
