// Bar likeness is measured over the region itself, wherever it lies in the picture: bars read as
// bars and print or noise as neither, whatever the picture holds beside them on the same rows.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>
#include <vector>

#include "search_p.h"

namespace {

using namespace scan39::reader::detail;

enum class Fill { kBars, kNoise, kPaper };

struct LikenessCase {
    const char* name;
    Fill region;   // what lies inside the region
    Fill beside;   // and on the same rows outside it, on both sides
    int left;      // where the region starts, pixels from the picture's left edge
    double angle;  // of the region's direction, degrees
    bool barLike;
};

void PrintTo(const LikenessCase& c, std::ostream* os) {
    *os << c.name;
}

class Likeness : public testing::TestWithParam<LikenessCase> {};

TEST_P(Likeness, JudgesTheRegionNotTheRowsBesideIt) {
    const LikenessCase& c = GetParam();
    constexpr int kWidth = 1600, kHeight = 300, kRegionLength = 300, kTop = 100, kBottom = 200;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight, 230);
    std::mt19937 random(7);
    // Bars of random widths 3 to 9 pixels, the same on every row; noise differs row by row.
    std::vector<std::uint8_t> bars(kWidth);
    bool dark = true;
    for (int x = 0; x < kWidth; dark = !dark) {
        const int run = 3 + static_cast<int>(random() % 7);
        for (int i = 0; i < run && x < kWidth; ++i, ++x) bars[x] = dark ? 20 : 230;
    }
    for (int y = kTop; y < kBottom; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const bool inside = x >= c.left && x < c.left + kRegionLength;
            const Fill fill = inside ? c.region : c.beside;
            std::uint8_t v = 230;
            if (fill == Fill::kBars) v = bars[x];
            if (fill == Fill::kNoise) v = static_cast<std::uint8_t>(random() % 256);
            pixels[static_cast<std::size_t>(y) * kWidth + x] = v;
        }
    }
    const double a = c.angle * 3.14159265358979 / 180;
    Region r;
    r.centre = {c.left + 0.5 * kRegionLength, 0.5 * (kTop + kBottom)};
    r.dir = {std::cos(a), std::sin(a)};
    r.halfLength = 0.5 * kRegionLength;
    r.halfWidth = 0.5 * (kBottom - kTop);
    const double likeness = BarLikeness({pixels.data(), kWidth, kHeight, kWidth}, r);
    if (c.barLike)
        EXPECT_GE(likeness, kBarLikeSure);
    else
        EXPECT_LT(likeness, kBarLike);
}

INSTANTIATE_TEST_SUITE_P(
    BarLikeness, Likeness,
    testing::Values(
        LikenessCase{"BarsAtTheLeftEdge", Fill::kBars, Fill::kNoise, 0, 0, true},
        LikenessCase{"BarsFarFromTheLeftEdge", Fill::kBars, Fill::kNoise, 1100, 0, true},
        LikenessCase{"BarsBesidePaper", Fill::kBars, Fill::kPaper, 900, 0, true},
        LikenessCase{"BarsReadRightToLeft", Fill::kBars, Fill::kNoise, 1100, 180, true},
        LikenessCase{"NoiseBesideBars", Fill::kNoise, Fill::kBars, 1100, 0, false},
        LikenessCase{"NoiseAtTheLeftEdgeBesideBars", Fill::kNoise, Fill::kBars, 0, 0, false}));

}  // namespace
