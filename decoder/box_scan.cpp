#include "scan39/box_scan.h"

#include <stdexcept>
#include <vector>

namespace scan39 {

std::int16_t ScanBox(std::span<const std::int32_t> colours, int width, int height, const Box& box,
                     const PatternTable& table, std::string& value) {
    if (width < 0 || height < 0 ||
        colours.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        throw std::invalid_argument("the colour values do not cover the picture");
    }
    const ScanLine line = LineOf(box);
    const Outline outline = OutlineOf(box);

    // Only one row is ever read: copy it and draw the outline's pixels on that row.
    const std::int64_t y = UnitToPixel(std::int64_t{line.ya} + kLineRowOffset, kTwipsPerPixel);
    std::vector<std::int32_t> row;
    if (y >= 0 && y < height) {
        const auto begin = colours.begin() + static_cast<std::ptrdiff_t>(y * width);
        row.assign(begin, begin + width);
        DrawOutlineOnRow(outline, y, row);
    }
    PixelRowSource source;
    source.width = width;
    source.height = height;
    source.unitsPerPixel = kTwipsPerPixel;
    source.row = [&row](std::int32_t) { return std::span<const std::int32_t>(row); };
    return Scan(line, source, table, value);
}

}  // namespace scan39
