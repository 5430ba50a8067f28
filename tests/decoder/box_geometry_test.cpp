#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "scan39/box_geometry.h"

namespace scan39 {
namespace {

TEST(BoxGeometry, LineAndOutlineOfADrag) {
    struct Case {
        const char* name;
        Box box;
        ScanLine line;
        Outline outline;
    };
    const Case cases[] = {
        {"down and right", {100, 60, 200, 80}, {1500, 2990, 900}, {100, 60, 199, 80}},
        {"right to left", {200, 80, 100, 60}, {3000, 1490, 1200}, {99, 60, 200, 80}},
        // The sampled row lies below a box dragged upward.
        {"upward", {10, 50, 90, 20}, {150, 1340, 750}, {10, 20, 89, 50}},
        // No size at all still reaches one pixel left: the right edge is inset.
        {"zero size", {7, 7, 7, 7}, {105, 95, 105}, {6, 7, 7, 7}},
        {"past the picture", {-4, 3, 5000, 9}, {-60, 74990, 45}, {-4, 3, 4999, 9}},
        {"past the limit",
         {-2000000, 0, 2000000, -2000000},
         {-15000000, 14999990, 0},
         {-1000000, -1000000, 999999, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ScanLine line = LineOf(c.box);
        EXPECT_EQ(line.xa, c.line.xa);
        EXPECT_EQ(line.xb, c.line.xb);
        EXPECT_EQ(line.ya, c.line.ya);
        EXPECT_EQ(OutlineOf(c.box), c.outline);
    }
}

TEST(BoxGeometry, OutlineOnARowStaysInsideThePicture) {
    struct Case {
        const char* name;
        Outline outline;
        std::int64_t y;
        std::string row;  // '#' where the outline is drawn
    };
    const Case cases[] = {
        {"top edge", {1, 2, 4, 5}, 2, ".####."},
        {"bottom edge past both sides", {-3, 0, 10, 5}, 5, "######"},
        {"the two sides", {1, 0, 4, 5}, 3, ".#..#."},
        {"left side off the picture", {-3, 0, 4, 5}, 3, "....#."},
        {"right side off the picture", {1, 0, 6, 5}, 3, ".#...."},
        {"above the box", {1, 2, 4, 5}, 1, "......"},
        {"below the box", {1, 2, 4, 5}, 6, "......"},
        {"box left of the picture", {-9, 0, -1, 5}, 0, "......"},
    };
    for (const Case& c : cases) {
        std::vector<std::int32_t> row(6, 0xFFFFFF);
        DrawOutlineOnRow(c.outline, c.y, row);
        std::string drawn;
        for (std::int32_t v : row) drawn += v == kBoxColour ? '#' : '.';
        EXPECT_EQ(drawn, c.row) << c.name;
    }
}

}  // namespace
}  // namespace scan39
