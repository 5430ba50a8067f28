#pragma once
// Finding and reading every Code 39 symbol in a grey picture, with no selection box: any
// position, rotation and reading direction, and pictures as cameras take them (blur, tilt,
// uneven light, low contrast, noise, damage). Plain C++20, no Qt.
//
// The reader reports a text only when independent scan lines across the symbol agree on it;
// it would rather report nothing than a text that is not in the picture.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scan39/geometry.h"
#include "scan39/image_view.h"

namespace scan39::reader {

// Writes the picture's grey levels as the reader sees them to `out`: width * height bytes, rows
// `width` apart (for a caller that owns the buffer). Throws std::invalid_argument as GreyImage.
void ToGrey(const ImageView& picture, std::uint8_t* out);

// An ImageView as the reader works on it: the caller's pixels in place when they are grey
// already, else converted once. For reading and grading one colour picture with a single
// conversion. Throws std::invalid_argument for a view that is not well formed (as Read does)
// and std::bad_alloc when the grey copy does not fit.
class GreyImage {
  public:
    explicit GreyImage(const ImageView& picture);
    GreyImage(const GreyImage&) = delete;
    GreyImage& operator=(const GreyImage&) = delete;
    GreyImage(GreyImage&&) = default;  // the view points into the moved buffer, which moves
    GreyImage& operator=(GreyImage&&) = default;

    const GreyView& view() const { return view_; }

  private:
    std::vector<std::uint8_t> pixels_;
    GreyView view_;
};

enum class CheckCharacter {
    kOff,       // every character is data
    kRequired,  // the last character is a mod 43 check: a symbol that fails it is not reported,
                // and the check character is stripped from the text
};

enum class Effort {
    kFast,      // a coarse search: upright and clean pictures, batch work
    kThorough,  // every angle, dense scan lines, vote across lines (the default)
};

enum class Polarity {
    kDarkBars,   // dark bars on a light ground (ink on paper)
    kLightBars,  // light bars on a dark ground (printed reversed, laser-marked metal)
    kBoth,       // either (the default)
};

struct ReadOptions {
    CheckCharacter checkCharacter = CheckCharacter::kOff;
    // Full ASCII: "$A".."$Z", "%A".."%Z", "/A".."/Z", "+A".."+Z" become the ASCII characters of
    // the standard table; a pair outside it makes the symbol unreadable.
    bool fullAscii = false;
    Effort effort = Effort::kThorough;
    Polarity polarity = Polarity::kBoth;
    // For grading: also locate symbols whose lines show Code 39's start and stop but on which no
    // text was agreed (ReadResult::unread). Costs some time; the texts read stay the same.
    bool locateUnread = false;
};

enum class CheckState {
    kNotChecked,  // no check character was asked for
    kVerified,    // the mod 43 check character matched and was stripped from the text
};

struct Symbol {
    std::string text;  // after full-ASCII translation and check-character stripping
    // Corners in picture pixels, in reading order: the start of the symbol on its top side,
    // the end on its top side, the end on its bottom side, the start on its bottom side
    // ("top" is to the left of the reading direction).
    std::array<Point, 4> corners{};
    // Reading direction in degrees, [0, 360): 0 reads left to right, 90 top to bottom (picture
    // coordinates, y down), 180 right to left.
    double angle = 0;
    int lines = 0;  // independent scan lines that agreed on the text
    CheckState check = CheckState::kNotChecked;
    bool fullAscii = false;  // full-ASCII pairs in the symbol were read as ASCII characters
};

// The AIM symbology identifier of what was transmitted for `symbol` (ISO/IEC 16388 Annex C):
// "]A0" plain, "]A3" check character verified and stripped, "]A4" full ASCII, "]A7" both.
std::string AimIdentifier(const Symbol& symbol);

// Every Code 39 symbol in the picture, each once, in reading order (SortInReadingOrder). An
// empty picture (width or height 0) holds none. A colour picture is converted to grey for the
// read (see GreyImage to convert once for several calls). Throws std::invalid_argument for a
// view that is not well formed (null data with a non-zero size, negative sizes, stride below
// the width's bytes, an unknown format); never throws for the picture's contents.
std::vector<Symbol> Read(const ImageView& picture, const ReadOptions& options = {});

// A symbol located but not read (ReadOptions::locateUnread): several lines across it, in
// places apart, saw its start and stop characters with characters between, yet no text won the
// vote: a character no line reads (a bar cut through, a spot), or one quiet zone too short to
// read.
// It has no text; a verifier would grade it F.
struct UnreadSymbol {
    std::array<Point, 4> corners{};  // as Symbol's: the bars from start to stop
    double angle = 0;                // reading direction in degrees, as Symbol's
    int lines = 0;                   // lines that saw it
    int characters = 0;  // data characters between start and stop, as the lines counted them
    // Why it was not read: every character read but a quiet zone too short, or characters that
    // no line read.
    bool quietZoneShort = false;
};

// Read's symbols, and whether the picture was searched whole. `truncated` is true for a
// picture beyond any real sheet (tens of thousands of bar-like regions, or so much bar-like
// clutter that the effort's work bound ran out before every region had its first lines), and
// where bars that only bars look like ran out of their recovery from blur without a symbol
// read there: symbols may then be missing.
struct ReadResult {
    std::vector<Symbol> symbols;
    bool truncated = false;
    std::vector<UnreadSymbol> unread;  // with ReadOptions::locateUnread only, in reading order
};

// Read, telling also whether the search was cut short.
ReadResult ReadAll(const ImageView& picture, const ReadOptions& options = {});

// Reading order, by each symbol's centre (the mean of its corners): rows from top to bottom,
// left to right within a row. A row is the symbols whose centres lie at most half a height
// below its topmost one's (the lower of the two symbols' heights, each the vertical extent of
// its corners), so labels side by side read left to right even when one sits a little lower.
// Symbols with the same centre go by text. Read and ReadAll return their symbols so ordered.
void SortInReadingOrder(std::vector<Symbol>& symbols);

}  // namespace scan39::reader
