// scan39: the headless scanner. Drives the scanning control offscreen: sets each picture, drags
// the box with mouse events and scans.

#include <QApplication>
#include <QFile>
#include <QTextStream>
#include <cstdio>

#include "options_p.h"
#include "runner_p.h"

namespace {

QtMessageHandler g_defaultHandler = nullptr;

void QuietStartup(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) g_defaultHandler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) args.append(QFile::decodeName(argv[i]));

    QTextStream out(stdout);
    QTextStream err(stderr);
    const auto parsed = scan39::cli::ParseArguments(args);
    if (!parsed.options) {
        // The synopsis only; the whole text is one --help away.
        err << "scan39: " << parsed.error << "\n\n"
            << scan39::cli::UsageText().section(QStringLiteral("\n\n"), 0, 0)
            << "\n\nTry 'scan39 --help' for more.\n";
        return scan39::cli::kExitError;
    }
    if (parsed.options->help) {
        out << scan39::cli::UsageText();
        return scan39::cli::kExitDecoded;
    }

    // No display is needed: the control works offscreen unless the user chose a platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    // Qt must not take any of our arguments (a picture named "-style" stays a picture). Its
    // start-up notes about the desktop session (runtime folders and the like) mean nothing
    // for a scanner without a window, and would only mix into the results on stderr.
    int qtArgc = 1;
    g_defaultHandler = qInstallMessageHandler(QuietStartup);
    QApplication app(qtArgc, argv);
    qInstallMessageHandler(g_defaultHandler);
    QApplication::setApplicationName(QStringLiteral("scan39"));

    return scan39::cli::Run(*parsed.options, out, err);
}
