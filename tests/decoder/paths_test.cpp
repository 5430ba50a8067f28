// The row path must leave exactly the RunList of the reference walk over the same picture.

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <random>
#include <string>

#include "picture_fixture.h"
#include "scan39/scan.h"

namespace scan39 {
namespace {

using testing::Picture;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

std::string Describe(const Picture& p, const ScanLine& line) {
    return "picture " + std::to_string(p.width) + "x" + std::to_string(p.height) + " at " +
           std::to_string(p.unitsPerPixel) + " units, line xa " + std::to_string(line.xa) + " xb " +
           std::to_string(line.xb) + " ya " + std::to_string(line.ya);
}

void ExpectSameRuns(const Picture& picture, const ScanLine& line) {
    SCOPED_TRACE(Describe(picture, line));
    int rows = 0;
    const RunList fast = SampleRow(line, picture.Source(&rows));
    const RunList walked = SampleLine(line, picture.Reader());
    EXPECT_EQ(fast.runIndex, walked.runIndex);
    EXPECT_TRUE(fast == walked);
    EXPECT_LE(rows, 1);
}

// Noisy pictures: mostly bars and spaces in blocks, with single pixels of every kind of colour,
// including values on either side of the threshold and -1.
Picture RandomPicture(std::mt19937& rng) {
    const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(rng); };
    constexpr std::array<std::int32_t, 8> kColours{0,        0xFFFFFF, 14474459, 14474460,
                                                   0x00FFFF, 0xFF0000, -1,       255};
    Picture p = Picture::Filled(pick(0, 40), pick(1, 4), std::array{1, 3, 15}[pick(0, 2)]);
    std::int32_t colour = 0;
    for (auto& pixel : p.pixels) {
        if (pick(0, 3) == 0) colour = kColours[static_cast<std::size_t>(pick(0, 7))];
        pixel = pick(0, 9) == 0 ? static_cast<std::int32_t>(rng()) : colour;
    }
    return p;
}

TEST(Paths, AgreeOnRandomPicturesAndLines) {
    std::mt19937 rng(2024);
    const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(rng); };
    for (int trial = 0; trial < 3000; ++trial) {
        const Picture picture = RandomPicture(rng);
        const int u = picture.unitsPerPixel;
        const int spanX = (picture.width + 4) * u;
        const int spanY = (picture.height + 2) * u;
        // Lines from before the picture to beyond it, on rows inside and outside it.
        const std::int32_t xa = pick(-2 * u - spanX / 2, spanX);
        const ScanLine line{.xa = xa,
                            .xb = xa + pick(-3, spanX + 2 * u),
                            .ya = pick(-u - 20, spanY) - kLineRowOffset};
        if (line.xb <= line.xa) continue;
        ExpectSameRuns(picture, line);
        if (HasFailure()) return;
    }
}

// Short lines at the ends of the 32-bit range, with pixels wide enough to put pixel edges
// there.
TEST(Paths, AgreeAtTheEndsOfTheRange) {
    constexpr std::int32_t kUnits = (1 << 27) + 1;
    std::mt19937 rng(7);
    Picture wide = Picture::Filled(20, 2, kUnits);
    for (auto& pixel : wide.pixels) pixel = rng() % 2 ? 0 : 0xFFFFFF;
    const std::int64_t lastEdge = UnitToPixel(kMax, kUnits) * std::int64_t{kUnits} - kUnits / 2;
    const auto nearLastEdge = static_cast<std::int32_t>(lastEdge - 60);
    const std::array<ScanLine, 7> lines{{
        {nearLastEdge, kMax, 0},
        {nearLastEdge, nearLastEdge + 100, kUnits - kLineRowOffset},  // the second row
        {kMax - 50, kMax, 0},
        {kMin, kMin + 50, 0},
        {-kUnits / 2 - 40, -kUnits / 2 + 40, 0},  // the left edge of the picture
        {0, 200, kMax - kLineRowOffset},
        {0, 200, kMin},
    }};
    for (const ScanLine& line : lines) ExpectSameRuns(wide, line);
}

}  // namespace
}  // namespace scan39
