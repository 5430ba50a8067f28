#pragma once
// Code 39 on run lengths: one character from its nine element widths, and whole scan lines
// from their edge positions, in either reading direction.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scan39::reader::detail {

// The 43 data characters in check-value order, then the start/stop character.
inline constexpr std::string_view kCharacters = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%*";
inline constexpr char kStartStop = '*';

// Wide elements of each character, first element (a bar) in bit 8; same order as kCharacters.
std::uint16_t WideMask(int index);

// The character whose nine elements (bar, space, ..., bar) have these widths, or -1 when the
// widths do not split cleanly into six narrow and three wide ones.
int ClassifyCharacter(const float* widths);

// An edge along a scan line: its position in samples and whether it goes from light to dark.
struct Edge {
    float pos = 0;
    bool falling = false;
};

// What one scan line says about one symbol, in reading order: the data characters between
// start and stop ('\0' where this line could not read one), and where the symbol begins and
// ends along the line.
struct LineRead {
    std::string chars;
    float begin = 0;  // first edge of the start character
    float end = 0;    // last edge of the stop character
    bool reversed = false;
};

// Every symbol (whole, or with unreadable characters between a readable start and stop)
// along a line of `length` samples whose edges are `edges`; both reading directions.
void DecodeLine(const std::vector<Edge>& edges, float length, std::vector<LineRead>& out);

// The mod 43 check value of a data character, -1 for any other.
int CheckValue(char c);

// Full-ASCII pairs translated; nullopt for a pair outside the table.
std::optional<std::string> FullAscii(std::string_view text);

}  // namespace scan39::reader::detail
