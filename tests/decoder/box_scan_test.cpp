// The page's box decode against the control's way, rebuilt here from first principles: the
// outline drawn on a whole copy of the picture and every twip of the line read back.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "scan39/box_scan.h"
#include "scan39/encoder.h"

namespace scan39 {
namespace {

constexpr int kWidth = 120;
constexpr int kHeight = 30;
constexpr std::int32_t kWhite = 0xFFFFFF;

// "A1" with 1/3-pixel elements in columns 10.. and white above row 5 and below row 24.
std::vector<std::int32_t> Picture() {
    const std::vector<int> runs = encoder::Runs("A1", {1, 3, 1});
    const std::vector<std::int32_t> row = encoder::Row(runs, 10, kWidth, 0);
    std::vector<std::int32_t> picture(kWidth * kHeight, kWhite);
    for (int y = 5; y < 25; ++y) std::copy_n(row.begin(), kWidth, picture.begin() + y * kWidth);
    return picture;
}

std::int64_t Pixel(double twips) {
    return static_cast<std::int64_t>(std::floor((twips + 7.5) / 15));
}

std::int16_t ControlWay(std::vector<std::int32_t> shown, const Box& b, const PatternTable& table,
                        std::string& value) {
    const double x1 = b.x1 * 15.0, y1 = b.y1 * 15.0, x2 = b.x2 * 15.0 - 10, y2 = b.y2 * 15.0;
    const std::int64_t left = std::min(Pixel(x1), Pixel(x2)),
                       right = std::max(Pixel(x1), Pixel(x2));
    const std::int64_t top = std::min(Pixel(y1), Pixel(y2)),
                       bottom = std::max(Pixel(y1), Pixel(y2));
    for (std::int64_t y = top; y <= bottom; ++y) {
        for (std::int64_t x = left; x <= right; ++x) {
            const bool edge = y == top || y == bottom || x == left || x == right;
            if (edge && x >= 0 && x < kWidth && y >= 0 && y < kHeight) shown[y * kWidth + x] = 255;
        }
    }
    const PixelReader read = [&](std::int32_t x, std::int32_t y) -> std::optional<std::int32_t> {
        const std::int64_t px = Pixel(x), py = Pixel(y);
        if (px < 0 || py < 0 || px >= kWidth || py >= kHeight) return -1;
        return shown[py * kWidth + px];
    };
    const ScanLine line{b.x1 * 15, static_cast<std::int32_t>(x2), b.y1 * 15};
    return Scan(line, read, table, value);
}

struct Case {
    const char* name;
    Box box;
    std::int16_t result;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class BoxScan : public ::testing::TestWithParam<Case> {};

TEST_P(BoxScan, DecodesLikeTheControl) {
    PatternTable table;
    BuildPatternTable(table);
    const std::vector<std::int32_t> picture = Picture();
    std::string page = "before", control = "before";
    const std::int16_t result = ScanBox(picture, kWidth, kHeight, GetParam().box, table, page);
    EXPECT_EQ(result, ControlWay(picture, GetParam().box, table, control));
    EXPECT_EQ(page, control);
    EXPECT_EQ(result, GetParam().result);
    if (result == kScanDecoded) {
        EXPECT_EQ(page, "A1");
    }
}

// The symbol spans columns 10..72; the quiet zone after it is light up to the picture's edge.
INSTANTIATE_TEST_SUITE_P(
    Drags, BoxScan,
    ::testing::Values(Case{"DownRight", {5, 10, 90, 20}, 0},
                      Case{"RightEdgeEndsTheQuietZone", {5, 10, 78, 20}, 0},
                      Case{"RightEdgeOnTheLastBar", {5, 10, 73, 20}, 1},
                      Case{"PastThePicture", {5, 10, 500, 20}, 0},
                      Case{"LeftOfThePicture", {-7, 10, 90, 20}, 1},
                      Case{"RightToLeft", {90, 10, 5, 20}, 1}, Case{"Upward", {5, 20, 90, 10}, 1},
                      Case{"OnePixelHigh", {5, 10, 90, 11}, 1},
                      Case{"TwoPixelsHigh", {5, 10, 90, 12}, 0},
                      Case{"RowBelowThePicture", {5, kHeight - 1, 90, kHeight + 5}, 1},
                      Case{"RowAboveTheBars", {5, 2, 90, 20}, 1}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

TEST(BoxScan, LineAndOutlineFollowTheDrag) {
    // Pressed at pixel (100, 60), released at (200, 80): twips 1500, 900 and 2990 for xb.
    const Box box{100, 60, 200, 80};
    const ScanLine line = LineOf(box);
    EXPECT_EQ(line.xa, 1500);
    EXPECT_EQ(line.ya, 900);
    EXPECT_EQ(line.xb, 2990);
    EXPECT_EQ(OutlineOf(box), (Outline{100, 60, 199, 80}));
    EXPECT_EQ(OutlineOf(Box{200, 80, 100, 60}), (Outline{99, 60, 200, 80}));
}

}  // namespace
}  // namespace scan39
