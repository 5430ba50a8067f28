#pragma once
// Decoding along a dragged box the way the scanning control does, for callers that hold the
// picture as plain colour values (the browser page) rather than a Qt picture box: the same
// line, the same red outline drawn over the picture and read back with it.

#include <cstdint>
#include <span>
#include <string>

#include "scan39/box_geometry.h"
#include "scan39/pattern_table.h"
#include "scan39/scan.h"

namespace scan39 {

// A picture as colour values (red + 256 * green + 65536 * blue), `width` * `height` of them
// row by row. Draws the drag's outline over the sampled row and scans it. Returns
// kScanDecoded with `value` set, or kScanFailed with `value` emptied when the box runs right
// to left and left alone otherwise. Throws std::invalid_argument when `colours` is smaller
// than the size says.
std::int16_t ScanBox(std::span<const std::int32_t> colours, int width, int height, const Box& box,
                     const PatternTable& table, std::string& value);

}  // namespace scan39
