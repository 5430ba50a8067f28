#pragma once
// Command-line arguments of scan39.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

#include "scan39/box_geometry.h"
#include "scan39/reader.h"

namespace scan39::cli {

// Every message of the program is in one language: Chinese when the locale asks for it
// (LC_ALL, else LC_MESSAGES, else LANG starting with "zh"), English otherwise.
enum class Language { kEnglish, kChinese };
Language LanguageFromEnvironment();

// The English or the Chinese text, whichever `language` asks for.
inline QString Tr(Language language, const QString& english, const QString& chinese) {
    return language == Language::kChinese ? chinese : english;
}

// Box corners in pixels of the picture: press at (x1, y1), release at (x2, y2), within
// +-kMaxCoordinate.
using Box = scan39::Box;
inline constexpr int kMaxCoordinate = scan39::kMaxBoxCoordinate;
inline constexpr int kMaxJobs = 256;

struct Options {
    Language language = Language::kEnglish;
    bool help = false;
    bool version = false;
    bool json = false;
    bool sample = false;
    // -q: nothing on stderr but errors (no "nothing found" lines, no reasons, no notes).
    bool quiet = false;
    // --raw: the decoded texts alone, one a line, byte for byte: no names, no grades.
    bool raw = false;
    // -1: stop after the first symbol read; the run then counts as decoded.
    bool oneshot = false;
    std::optional<Box> box;
    QStringList pictures;  // as shown to the user
    // The same names byte for byte, as the file system knows them (names that are not valid
    // UTF-8 do not survive a trip through QString).
    QList<QByteArray> pictureBytes;
    // --files-from: each list's names are read where the option stood among the pictures,
    // before pictureBytes[at]. A folder among the names is searched when the run starts.
    struct FileList {
        qsizetype at = 0;
        QByteArray name;  // "-": standard input
        bool operator==(const FileList&) const = default;
    };
    QList<FileList> fileLists;

    // The automatic read (no --box, no --sample).
    bool checkDigit = false;
    bool fullAscii = false;
    bool fastEffort = false;
    reader::Polarity polarity = reader::Polarity::kBoth;
    int jobs = 0;  // 0: one per core
    // --dpi: the resolution PDF pages are drawn at (documents::kDefaultDpi when not given) and, with
    // --grade, the picture's resolution for the X dimension in mm and mils (unknown when not
    // given). 0: not given.
    int dpi = 0;
    // --file-time-limit: seconds a file may take (documents::kDefaultFileSeconds when not given, 0).
    int fileSeconds = 0;
    std::optional<QString> annotateDir;
    QByteArray annotateDirBytes;
    // Print quality grades: --grade, with --aperture (pixels, 0: 0.8 X) and --grade-bands (the
    // text shows the interpolated grade unless integer).
    bool grade = false;
    double aperture = 0;
    bool integerBands = false;

    bool automatic() const { return !box && !sample; }
};

struct ParseResult {
    std::optional<Options> options;  // set when the arguments are well formed
    QString error;                   // otherwise what is wrong, for the user
};

// `args` excludes the program name. `raw`, when given, holds the same arguments as bytes; file
// names are taken from it exactly.
ParseResult ParseArguments(const QStringList& args, Language language = Language::kEnglish,
                           const QList<QByteArray>& raw = {});

// "X1,Y1,X2,Y2": four integers within +-kMaxCoordinate; blanks around a number are allowed.
std::optional<Box> ParseBox(const QString& text, QString* error,
                            Language language = Language::kEnglish);

QString UsageText(Language language = Language::kEnglish);

// A JSON string literal (quotes included) for `text`.
QString JsonString(const QString& text);

// The JSON members naming a file: "file" with the name as text, and for a name that is not
// valid UTF-8 also "file_bytes", the exact bytes in base64 (the text then shows U+FFFD for
// each byte it cannot decode, so it alone would not tell such names apart).
QString JsonFileMembers(const QByteArray& name);

}  // namespace scan39::cli
