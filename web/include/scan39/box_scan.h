#pragma once
// Decoding along a dragged box the way the scanning control does, for callers that hold the
// picture as plain colour values (the browser page) rather than a Qt picture box: the same
// line, the same red outline drawn over the picture and read back with it.

#include <cstdint>
#include <span>
#include <string>

#include "scan39/pattern_table.h"
#include "scan39/scan.h"

namespace scan39::web {

// A drag in picture pixels: pressed at (x1, y1), released with the pointer at (x2, y2).
struct Box {
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
};

// Pixel columns and rows of the red outline the control draws for a drag; left <= right,
// top <= bottom. The right edge lies one column left of the pointer.
struct Outline {
    std::int64_t left = 0;
    std::int64_t top = 0;
    std::int64_t right = 0;
    std::int64_t bottom = 0;
    bool operator==(const Outline&) const = default;
};

inline constexpr int kTwipsPerPixel = 15;
inline constexpr std::int32_t kBoxColour = 255;  // pure red as a colour value
// Drags further out than this are clamped; no pointer gets there on a real picture.
inline constexpr int kMaxCoordinate = 1000000;

// The scan line the control derives from the drag, in twips.
ScanLine LineOf(const Box& box);
Outline OutlineOf(const Box& box);

// A picture as colour values (red + 256 * green + 65536 * blue), `width` * `height` of them
// row by row. Draws the drag's outline over the sampled row and scans it. Returns
// kScanDecoded with `value` set, or kScanFailed with `value` emptied when the box runs right
// to left and left alone otherwise. Throws std::invalid_argument when `colours` is smaller
// than the size says.
std::int16_t ScanBox(std::span<const std::int32_t> colours, int width, int height, const Box& box,
                     const PatternTable& table, std::string& value);

}  // namespace scan39::web
