#include "scan39/host/services.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <algorithm>
#include <climits>
#include <cstdint>

#include "services_p.h"

namespace scan39::host {

namespace {

QtMessageHandler g_defaultHandler = nullptr;

void QuietStartup(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) g_defaultHandler(type, context, message);
}

}  // namespace

std::unique_ptr<QApplication> QuietApplication(char* programName) {
    // QApplication keeps argc and argv for its whole life.
    static int argc = 1;
    static char* argv[] = {programName, nullptr};
    g_defaultHandler = qInstallMessageHandler(QuietStartup);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(g_defaultHandler);
    return app;
}

namespace {

MsgBoxHook& Hook() {
    static MsgBoxHook hook;
    return hook;
}

QString WithoutTrailingBlanks(QString s) {
    while (s.endsWith(u' ')) s.chop(1);
    return s;
}

}  // namespace

int TwipsToPixel(double twips) {
    return static_cast<int>(std::clamp<std::int64_t>(PixelOfTwips(twips), INT_MIN, INT_MAX));
}

QString Dir(const QString& path) {
    const QString name = WithoutTrailingBlanks(path);
    // A NUL would cut the name short on its way to the system and match some other file.
    if (name.isEmpty() || name.contains(QChar(u'\0'))) return QString();
    const QFileInfo info(name);
    // isFile() is false for directories, devices, pipes and sockets; on this platform a hidden
    // file is one whose name starts with a dot.
    if (!info.isFile() || info.fileName().startsWith(u'.')) return QString();
    return info.fileName();
}

QString Replace(const QString& text, const QString& find, const QString& replacement) {
    if (find.isEmpty()) return text;
    QString result = text;
    result.replace(find, replacement, Qt::CaseSensitive);
    return result;
}

std::unique_ptr<QMessageBox> CreateMsgBox(QWidget* parent, const QString& text, int style,
                                          const QString& caption) {
    auto box = std::make_unique<QMessageBox>(parent);
    switch (style & 0x70) {
        case 16:
            box->setIcon(QMessageBox::Critical);
            break;
        case 32:
            box->setIcon(QMessageBox::Question);
            break;
        case kMsgBoxExclamation:
            box->setIcon(QMessageBox::Warning);
            break;
        case 64:
            box->setIcon(QMessageBox::Information);
            break;
        default:
            box->setIcon(QMessageBox::NoIcon);
            break;
    }
    box->setWindowTitle(caption);
    // Error texts carry file names, which must never be taken for markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    box->setStandardButtons(QMessageBox::Ok);
    box->setDefaultButton(QMessageBox::Ok);
    // Like the run time's boxes: nothing else in the program takes input until it is closed.
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

void MsgBox(QWidget* parent, const QString& text, int style, const QString& caption) {
    if (const MsgBoxHook& hook = Hook()) {
        hook(parent, text, style, caption);
        return;
    }
    CreateMsgBox(parent, text, style, caption)->exec();
}

void SetMsgBoxHook(MsgBoxHook hook) {
    Hook() = std::move(hook);
}

QString AppPath() {
    if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
    // Before the application object exists Qt cannot say; the system can.
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(u'/', 0, -2);
}

QString AppTitle() {
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("scan39") : name;
}

}  // namespace scan39::host
