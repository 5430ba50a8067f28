#include "scan39/box_geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace scan39 {
namespace {

// The control keeps the corners as 32-bit floats of twips.
float Twips(int pixel) {
    return static_cast<float>(std::clamp(pixel, -kMaxBoxCoordinate, kMaxBoxCoordinate) *
                              kTwipsPerPixel);
}

float RightEdgeTwips(const Box& box) {
    return Twips(box.x2) - static_cast<float>(kBoxRightInset);
}

}  // namespace

std::int64_t PixelOfTwips(double twips) {
    using Limits = std::numeric_limits<std::int64_t>;
    const double pixel = std::floor((twips + kTwipsPerPixel / 2.0) / kTwipsPerPixel);
    // 2^63 is exact as a double; anything at or beyond it does not fit.
    constexpr double kLimit = 9223372036854775808.0;
    if (std::isnan(pixel) || pixel < -kLimit) return Limits::min();
    if (pixel >= kLimit) return Limits::max();
    return static_cast<std::int64_t>(pixel);
}

ScanLine LineOf(const Box& box) {
    // Rounded to the nearest integer, ties to even, as the control stores them.
    return ScanLine{static_cast<std::int32_t>(std::lrint(Twips(box.x1))),
                    static_cast<std::int32_t>(std::lrint(RightEdgeTwips(box))),
                    static_cast<std::int32_t>(std::lrint(Twips(box.y1)))};
}

Outline OutlineOf(const Box& box) {
    const std::int64_t x1 = PixelOfTwips(Twips(box.x1));
    const std::int64_t x2 = PixelOfTwips(RightEdgeTwips(box));
    const std::int64_t y1 = PixelOfTwips(Twips(box.y1));
    const std::int64_t y2 = PixelOfTwips(Twips(box.y2));
    return Outline{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

void DrawOutlineOnRow(const Outline& outline, std::int64_t y, std::span<std::int32_t> row) {
    const auto paint = [&](std::int64_t from, std::int64_t to) {
        from = std::max<std::int64_t>(from, 0);
        to = std::min<std::int64_t>(to, static_cast<std::int64_t>(row.size()) - 1);
        for (std::int64_t x = from; x <= to; ++x) row[static_cast<std::size_t>(x)] = kBoxColour;
    };
    if (y == outline.top || y == outline.bottom) {
        paint(outline.left, outline.right);
    } else if (y > outline.top && y < outline.bottom) {
        paint(outline.left, outline.left);
        paint(outline.right, outline.right);
    }
}

}  // namespace scan39
