#pragma once
// Combining scan lines: reads of the same symbol are grouped and each character is decided by
// a vote, so that no single line needs to be clean.

#include <array>
#include <string>
#include <vector>

#include "scan39/geometry.h"

namespace scan39::reader::detail {

// One line's read of one symbol, in picture pixels.
struct Observation {
    std::string chars;  // '\0' where the line could not read the character
    Point begin;        // where the start character begins
    Point end;          // where the stop character ends
    // Where a symbol lies that the line could not read (LineRead::located), never voted on
    // (chars holds only '\0'); `quietZoneShort` where it read all but a quiet zone.
    bool located = false;
    bool quietZoneShort = false;
};

struct Consensus {
    std::string text;
    std::array<Point, 4> corners{};
    double angle = 0;
    int lines = 0;
    std::vector<Point> begins, ends;  // of the agreeing lines
};

// The symbols on which enough lines agree, each once.
std::vector<Consensus> Vote(const std::vector<Observation>& observations);

// Whether the agreeing lines cross the symbol in places apart (two pixels or more across it, at
// its start or its end): lines that scan one place again repeat its misreads, so agreement
// there proves nothing.
bool AgreeInPlacesApart(const Consensus& c);

// A symbol located but not voted on: lines that saw its start and stop, none agreeing on a text.
struct Unvoted {
    Consensus place;  // its corners, angle and lines; no text
    int characters = 0;
    bool quietZoneShort = false;  // most lines read it whole but for a quiet zone
};

// Symbols that lines without a text (unreadable characters between start and stop, or a quiet
// zone short) saw in several places apart, off every symbol `voted`; each once.
std::vector<Unvoted> LocateUnvoted(const std::vector<Observation>& observations,
                                   const std::vector<Consensus>& voted);

}  // namespace scan39::reader::detail
