#pragma once
// scan39 split: scanned batches cut into their documents at separator sheets or before pages
// that carry a document's number.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "io_p.h"
#include "options_p.h"
#include "scan39/documents/split.h"

namespace scan39::cli {

struct SplitCommand {
    Language language = Language::kEnglish;
    bool help = false;
    bool json = false;
    bool dryRun = false;
    int jobs = 0;  // 0: one per core
    QByteArray out;
    QList<QByteArray> inputs;
    documents::SplitOptions split;
};

struct SplitParse {
    std::optional<SplitCommand> command;
    QString error;
};

// The arguments after "split", as text and as bytes.
SplitParse ParseSplitArguments(const QStringList& args, const QList<QByteArray>& raw,
                               Language language);

QString SplitUsageText(Language language);

// Runs the command; the exit status.
int RunSplit(const SplitCommand& command, Sink& out, Sink& err);

// `scan39 split ...` whole, from main: the arguments after "split"; the exit status.
int SplitMain(const QStringList& args, const QList<QByteArray>& raw, Language language, Sink& out,
              Sink& err);

}  // namespace scan39::cli
