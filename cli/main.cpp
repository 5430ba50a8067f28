// scan39: the headless scanner. With a box it drives the scanning control offscreen: sets each
// picture, drags the box with mouse events and scans. Without one it reads every symbol of each
// picture with the reader.

#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <QApplication>
#include <QFile>

#include "io_p.h"
#include "options_p.h"
#include "runner_p.h"
#include "scan39/host/picture.h"
#include "scan39/host/services.h"
#include "split_p.h"

namespace {

// Everything written has reached standard output, or the failure is said on standard error
// and the exit status shows it. A reader that stopped reading (`scan39 ... | head -1`) ends
// the program as it ends any other filter: silently, by SIGPIPE.
int Finish(int status, scan39::cli::Language language, scan39::cli::Sink& out,
           scan39::cli::Sink& err) {
    out.flush();
    int error = out.error();
    if (error == 0 && ::close(STDOUT_FILENO) != 0 && errno != EINTR) error = errno;
    if (error == EPIPE) {
        err.flush();
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
        return scan39::cli::kExitError;  // SIGPIPE blocked by the caller: an error all the same
    }
    if (error != 0) {
        err << scan39::cli::WriteFailure(language, error);
        status = scan39::cli::kExitError;
    }
    if (!err.flush()) status = scan39::cli::kExitError;
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    scan39::cli::PrepareStandardStreams();
    const scan39::cli::Language language = scan39::cli::LanguageFromEnvironment();
    QStringList args;
    QList<QByteArray> raw;
    for (int i = 1; i < argc; ++i) {
        raw.append(QByteArray(argv[i]));
        args.append(QFile::decodeName(argv[i]));
    }

    scan39::cli::Sink out(STDOUT_FILENO);
    scan39::cli::Sink err(STDERR_FILENO);
    // A subcommand of its own; "./split" is a picture of that name.
    if (args.value(0) == QLatin1String("split") && args.size() > 1)
        return Finish(scan39::cli::SplitMain(args.mid(1), raw.mid(1), language, out, err), language,
                      out, err);
    const auto parsed = scan39::cli::ParseArguments(args, language, raw);
    if (!parsed.options) {
        // What is wrong and where to look, as other tools say it: the usage would bury the
        // one line that matters.
        err << "scan39: " << parsed.error << '\n'
            << scan39::cli::Tr(language, QStringLiteral("Try 'scan39 --help'.\n"),
                               QStringLiteral("详见 scan39 --help。\n"));
        return Finish(scan39::cli::kExitError, language, out, err);
    }
    if (parsed.options->version) {
        out << "scan39 " SCAN39_VERSION "\n";
        return Finish(scan39::cli::kExitDecoded, language, out, err);
    }
    if (parsed.options->help) {
        out << scan39::cli::UsageText(language);
        return Finish(scan39::cli::kExitDecoded, language, out, err);
    }

    // No display is needed: the control works offscreen unless the user chose a platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    // Qt must not take any of our arguments (a picture named "-style" stays a picture). Its
    // start-up notes about the desktop session (runtime folders and the like) mean nothing
    // for a scanner without a window, and would only mix into the results on stderr.
    const auto app = scan39::host::QuietApplication(argv[0]);
    // Image libraries' complaints about a damaged file would only repeat our own message.
    scan39::host::SilenceImageLibraryMessages();
    QApplication::setApplicationName(QStringLiteral("scan39"));

    const int status = scan39::cli::Run(*parsed.options, out, err);
    return Finish(status, language, out, err);
}
