#pragma once
// Command-line arguments of scan39.

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace scan39::cli {

// Box corners in pixels of the picture: press at (x1, y1), release at (x2, y2).
struct Box {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    bool operator==(const Box&) const = default;
};

// Corners may lie outside the picture (the pointer may leave it during a drag), within this
// bound, which keeps every coordinate exact in the control's twips.
inline constexpr int kMaxCoordinate = 1000000;

struct Options {
    bool help = false;
    bool json = false;
    bool sample = false;
    std::optional<Box> box;
    QStringList pictures;
};

struct ParseResult {
    std::optional<Options> options;  // set when the arguments are well formed
    QString error;                   // otherwise what is wrong, for the user
};

// `args` excludes the program name.
ParseResult ParseArguments(const QStringList& args);

// "X1,Y1,X2,Y2": four integers within +-kMaxCoordinate; blanks around a number are allowed.
std::optional<Box> ParseBox(const QString& text, QString* error);

QString UsageText();

// A JSON string literal (quotes included) for `text`.
QString JsonString(const QString& text);

}  // namespace scan39::cli
