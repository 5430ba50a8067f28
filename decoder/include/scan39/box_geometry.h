#pragma once
// The red box a person drags over the picture and the scan line it stands for: twips per
// pixel, where the box's right edge lies against the pointer, how the box rounds to pixels
// and where it meets the picture. One place for the control, the page and the command line.

#include <cstdint>
#include <span>

#include "scan39/scan.h"

namespace scan39 {

inline constexpr int kTwipsPerPixel = 15;  // at 96 dpi
// The box's right edge stays this many twips left of the pointer.
inline constexpr std::int32_t kBoxRightInset = 10;
inline constexpr std::int32_t kBoxColour = 255;  // pure red as a colour value: dark
// Corners may lie outside the picture (the pointer may leave it during a drag), within this
// many pixels; inside it every corner is exact in twips, also as a 32-bit float.
inline constexpr int kMaxBoxCoordinate = 1000000;

// A drag in picture pixels: pressed at (x1, y1), the pointer last at (x2, y2).
struct Box {
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
    bool operator==(const Box&) const = default;
};

// Pixel columns and rows of the red outline drawn for a drag; left <= right, top <= bottom.
struct Outline {
    std::int64_t left = 0;
    std::int64_t top = 0;
    std::int64_t right = 0;
    std::int64_t bottom = 0;
    bool operator==(const Outline&) const = default;
};

// The pixel a coordinate in twips is drawn on and read from: the nearest, halves upward.
// Saturates far out; NaN gives the lowest value, outside every picture.
std::int64_t PixelOfTwips(double twips);

// The scan line in twips for a drag; corners beyond kMaxBoxCoordinate count as on it.
ScanLine LineOf(const Box& box);
// The outline drawn for a drag: from the press point to one pixel left of the pointer.
Outline OutlineOf(const Box& box);

// Paints the outline's pixels on pixel row `y` into `row`, that row of the picture; what lies
// outside the picture is left out.
void DrawOutlineOnRow(const Outline& outline, std::int64_t y, std::span<std::int32_t> row);

}  // namespace scan39
