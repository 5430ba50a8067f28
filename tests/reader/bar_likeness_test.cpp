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
using scan39::reader::Point;

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

// Bars as alike as only bars are; anything else below `otherwise`.
void ExpectBars(double likeness, bool bars, double otherwise) {
    if (bars)
        EXPECT_GE(likeness, kBarLikeSure);
    else
        EXPECT_LT(likeness, otherwise);
}

// The likeness of a region of a grey picture `width` pixels wide.
double LikenessOf(const std::vector<std::uint8_t>& pixels, int width, Point centre, Point dir,
                  double length, double height) {
    Region r;
    r.centre = centre;
    r.dir = dir;
    r.halfLength = 0.5 * length;
    r.halfWidth = 0.5 * height;
    const int rows = static_cast<int>(pixels.size()) / width;
    return BarLikeness({pixels.data(), width, rows, width}, r);
}

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
    const double likeness =
        LikenessOf(pixels, kWidth, {c.left + 0.5 * kRegionLength, 0.5 * (kTop + kBottom)},
                   {std::cos(a), std::sin(a)}, kRegionLength, kBottom - kTop);
    ExpectBars(likeness, c.barLike, kBarLike);
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

// Blurred labels' regions reach past their bars, over the text printed below and the blur
// round both: bars that fill only a band across the region's middle still count as bars, and a
// line of letters, alike from row to row within its letters' height, does not.
enum class Below { kPaper, kLetters };

struct BandCase {
    const char* name;
    double barsShare;  // of the region's height, a fifth of it above them; 0 for letters alone
    Below below;
    bool barLike;
};

void PrintTo(const BandCase& c, std::ostream* os) {
    *os << c.name;
}

class Band : public testing::TestWithParam<BandCase> {};

// Letters 10 pixels wide, 16 high: stems, bowls and bars, one of a few shapes each.
void DrawLetters(std::vector<std::uint8_t>& pixels, int width, int left, int right, int top,
                 std::mt19937& random) {
    for (int x0 = left; x0 + 10 <= right; x0 += 12) {
        const unsigned shape = random() % 4;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 10; ++x) {
                const bool stemLeft = x < 2, stemRight = x >= 8, rim = y < 2 || y >= 14;
                bool ink = false;
                if (shape == 0) ink = stemLeft || stemRight || y < 2;  // n
                if (shape == 1)
                    ink = (stemLeft || stemRight) != rim || (rim && x > 1 && x < 8);  // o
                if (shape == 2) ink = (x >= 4 && x < 6) || (y >= 7 && y < 9);         // +-like t
                if (shape == 3)
                    ink = stemLeft || (y >= 7 && y < 9) || (stemRight && y < 8);  // h-ish
                if (ink) pixels[static_cast<std::size_t>(top + y) * width + x0 + x] = 20;
            }
    }
}

TEST_P(Band, BarsInABandLetters) {
    const BandCase& c = GetParam();
    constexpr int kWidth = 800, kHeight = 300, kLeft = 200, kLength = 400, kTop = 100;
    const int height = c.barsShare > 0 ? 110 : 20;  // the region's
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight, 230);
    std::mt19937 random(11);
    const int barsTop = kTop + height / 5, barsHeight = static_cast<int>(c.barsShare * height);
    bool dark = true;
    for (int x = kLeft; x < kLeft + kLength; dark = !dark) {
        const int run = 3 * (1 + static_cast<int>(random() % 2) * 2);  // 3 or 9 pixels
        for (int i = 0; i < run && x < kLeft + kLength; ++i, ++x)
            for (int y = barsTop; y < barsTop + barsHeight; ++y)
                pixels[static_cast<std::size_t>(y) * kWidth + x] = dark ? 20 : 230;
    }
    if (c.below == Below::kLetters)
        DrawLetters(pixels, kWidth, kLeft, kLeft + kLength,
                    c.barsShare > 0 ? barsTop + barsHeight + 2 : kTop + 2, random);
    const double likeness = LikenessOf(pixels, kWidth, {kLeft + 0.5 * kLength, kTop + 0.5 * height},
                                       {1, 0}, kLength, height);
    ExpectBars(likeness, c.barLike, kBarLikeSure);
}

INSTANTIATE_TEST_SUITE_P(
    BarLikeness, Band,
    testing::Values(BandCase{"BarsFillTheRegion", 0.75, Below::kPaper, true},
                    BandCase{"BarsInTheMiddleTextBelow", 0.55, Below::kLetters, true},
                    BandCase{"BarsInTheMiddlePaperBelow", 0.55, Below::kPaper, true},
                    BandCase{"ALineOfLetters", 0, Below::kLetters, false}));

}  // namespace
