#pragma once
// Annotated copies of the pictures the reader read: each symbol outlined with its text, written
// as a new file into the folder of --annotate, never over an existing file.

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSet>
#include <QString>
#include <optional>
#include <vector>

#include "grade_p.h"
#include "options_p.h"
#include "scan39/reader.h"

namespace scan39::cli {

// The folder for annotated copies, opened once: every copy is created in it by a name without
// a slash, so none lands elsewhere. The names of pictures read from that folder are never
// taken, not even when such a picture is missing.
class AnnotateFolder {
  public:
    AnnotateFolder() = default;
    AnnotateFolder(const AnnotateFolder&) = delete;
    AnnotateFolder& operator=(const AnnotateFolder&) = delete;
    ~AnnotateFolder();

    // Opens (and makes) the folder of --annotate, if any; the message why it cannot be used.
    std::optional<QString> open(const Options& options);

    int fd = -1;
    QSet<QByteArray> reserved;
};

// One name per picture argument (without folder and extension; "stdin" for standard input;
// "-2", "-3" added when names repeat); empty without --annotate.
QList<QByteArray> AnnotateBases(const Options& options);

// Each symbol outlined in red with its text (and grade) on a white label.
void Annotate(QImage& picture, const std::vector<reader::Symbol>& symbols,
              const std::vector<GradeSummary>& grades, Language language);

// Writes the copy as a new file `base` + extension (or with "-2", "-3" added), in the input's
// format where Qt writes it, PNG otherwise; the message why it could not be written.
std::optional<QString> WriteAnnotated(const QImage& picture, const QByteArray& inputFormat,
                                      const AnnotateFolder& folder, const QByteArray& base,
                                      Language language);

}  // namespace scan39::cli
