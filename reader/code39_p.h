#pragma once
// Code 39 on run lengths: one character from its nine element widths, and whole scan lines
// from their edge positions, in either reading direction.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scan39/code39_table.h"

namespace scan39::reader::detail {

struct Workspace;  // workspace_p.h

// A character's index here: its check value, the start/stop character last.
constexpr int CharacterIndex(int tableRow) {
    return tableRow == kStartStopRow ? kFilledRows - 1 : kCode39Table[tableRow].checkValue;
}

constexpr std::array<char, kFilledRows + 1> CharactersByIndex() {
    std::array<char, kFilledRows + 1> out{};
    for (int r = 0; r < kFilledRows; ++r) out[CharacterIndex(r)] = kCode39Table[r].character;
    return out;
}
inline constexpr std::array<char, kFilledRows + 1> kCharacterStorage = CharactersByIndex();

// The 43 data characters in check-value order, then the start/stop character.
inline constexpr std::string_view kCharacters{kCharacterStorage.data(), kFilledRows};
inline constexpr char kStartStop = kCode39Table[kStartStopRow].character;
static_assert(kCharacters.find('\0') == std::string_view::npos && kCharacters.back() == kStartStop);

// Wide elements of each character, first element (a bar) in bit 8; same order as kCharacters.
std::uint16_t WideMask(int index);

// The character whose nine elements (bar, space, ..., bar) have these widths, or -1 when the
// widths do not split cleanly into six narrow and three wide ones. Where ink spread or thinned
// (bars and spaces off by the same amount in opposite directions) blurs that split, narrow and
// wide are judged among the bars and among the spaces apart, unless `apart` is false.
int ClassifyCharacter(const float* widths, bool apart = true);

// An edge along a scan line: its position in samples, whether it goes from light to dark,
// and how sharp it is.
struct Edge {
    float pos = 0;
    bool falling = false;
    float strength = 0;  // the slope's magnitude
};

// What one scan line says about one symbol, in reading order: the data characters between
// start and stop ('\0' where this line could not read one), and where the symbol begins and
// ends along the line.
struct LineRead {
    std::string chars;
    float begin = 0;  // first edge of the start character (beyond `end` when read backwards)
    float end = 0;    // last edge of the stop character
    bool lightBars = false;
    // Located only (LineContext::locate), never a text: start, characters and stop read but one
    // quiet zone too short for a read; `chars` then holds '\0' for each character.
    bool located = false;
    bool quietZoneShort = false;
};

// How to read one line: which elements are bars, and which of its ends lie on the picture's
// edge. The edge stands in for a quiet zone: a symbol cropped to its bars still reads.
struct LineContext {
    bool lightBars = false;
    bool openBegin = false;
    bool openEnd = false;
    bool inkSpread = true;  // bars and spaces judged apart where all nine do not split
    // Grading only: also give where a symbol lies that the line cannot read (LineRead::located).
    // The reads and the count of ends stay as without.
    bool locate = false;
};

// Whether the line could hold a symbol with bars of the context's kind at all: a run of the
// ground's colour long enough for a quiet zone, or such a bar at an end on the picture's edge.
// Cheap, to skip decoding a polarity that cannot read.
bool MayHoldSymbol(const std::vector<Edge>& edges, const LineContext& context, Workspace& ws);

// Every symbol (whole, or with unreadable characters between a readable start and stop)
// along a line of `length` samples whose edges are `edges`; both reading directions. Returns
// how many start and stop characters with a quiet zone the line holds, read or not.
int DecodeLine(const std::vector<Edge>& edges, float length, std::vector<LineRead>& out,
               Workspace& ws, const LineContext& context = {});

// The mod 43 check value of a data character, -1 for any other.
int CheckValue(char c);

// Whether the last of at least two characters is the mod 43 check character of the others.
bool HasCheckCharacter(std::string_view text);

// Full-ASCII pairs translated; nullopt for a pair outside the table.
std::optional<std::string> FullAscii(std::string_view text);

}  // namespace scan39::reader::detail
