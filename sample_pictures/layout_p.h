#pragma once
// Where the symbols of the embedded pictures go and how wide their elements are. Shared by
// the build-time generator, which draws from it, and by the library, which reports it.

#include <span>

#include "scan39/samples.h"

namespace scan39::samples::detail {

// One symbol to draw. Inter-character gaps are not listed: they are worked out so that the
// symbol fills where.left..where.right exactly (see GapWidths).
struct SymbolLayout {
    SampleSymbol where;
    int narrow;     // narrow bars and spaces
    int wideBar;    // wide bars
    int wideSpace;  // wide spaces
};

inline constexpr int kControlWidth = 250;
inline constexpr int kControlHeight = 86;
// Rows of the digits printed under the control picture's symbol.
inline constexpr int kControlDigitsTop = 72;
inline constexpr int kControlDigitsBottom = 80;

inline constexpr int kFormWidth = 564;
inline constexpr int kFormHeight = 393;

inline constexpr int kPixelsPerMetre = 3780;  // 96 dpi

const SymbolLayout& ControlLayout();
std::span<const SymbolLayout> FormLayout();

}  // namespace scan39::samples::detail
