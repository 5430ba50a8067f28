#include "scan39/box_scan.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace scan39::web {
namespace {

int Clamp(int v) {
    return std::clamp(v, -kMaxCoordinate, kMaxCoordinate);
}

// Drawing rounds twips to the nearest pixel, halves upward.
std::int64_t PixelOfTwips(double twips) {
    return static_cast<std::int64_t>(std::floor((twips + kTwipsPerPixel / 2.0) / kTwipsPerPixel));
}

// The control keeps corners as 32-bit floats; within kMaxCoordinate pixels they are exact.
float Twips(int pixel) {
    return static_cast<float>(Clamp(pixel) * kTwipsPerPixel);
}

}  // namespace

ScanLine LineOf(const Box& box) {
    return ScanLine{static_cast<std::int32_t>(std::lrint(Twips(box.x1))),
                    static_cast<std::int32_t>(std::lrint(Twips(box.x2) - 10.0f)),
                    static_cast<std::int32_t>(std::lrint(Twips(box.y1)))};
}

Outline OutlineOf(const Box& box) {
    const std::int64_t x1 = PixelOfTwips(Twips(box.x1));
    const std::int64_t x2 = PixelOfTwips(Twips(box.x2) - 10.0f);
    const std::int64_t y1 = PixelOfTwips(Twips(box.y1));
    const std::int64_t y2 = PixelOfTwips(Twips(box.y2));
    return Outline{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

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
        const auto paint = [&](std::int64_t from, std::int64_t to) {
            from = std::max<std::int64_t>(from, 0);
            to = std::min<std::int64_t>(to, width - 1);
            for (std::int64_t x = from; x <= to; ++x) row[static_cast<std::size_t>(x)] = kBoxColour;
        };
        if (y == outline.top || y == outline.bottom) {
            paint(outline.left, outline.right);
        } else if (y > outline.top && y < outline.bottom) {
            paint(outline.left, outline.left);
            paint(outline.right, outline.right);
        }
    }
    PixelRowSource source;
    source.width = width;
    source.height = height;
    source.unitsPerPixel = kTwipsPerPixel;
    source.row = [&row](std::int32_t) { return std::span<const std::int32_t>(row); };
    return Scan(line, source, table, value);
}

}  // namespace scan39::web
