#include <gtest/gtest.h>
#include <ostream>

#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "picture_fixture.h"
#include "scan39/scan.h"

namespace scan39 {
namespace {

using testing::kLight;
using testing::Picture;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

// Samples written as text: 'D' dark, 'L' light, '?' a read that fails.
std::vector<std::optional<std::int32_t>> Samples(std::string_view text) {
    std::vector<std::optional<std::int32_t>> out;
    for (char c : text) {
        if (c == '?') {
            out.push_back(std::nullopt);
        } else {
            out.push_back(c == 'D' ? 0 : kLight);
        }
    }
    return out;
}

// Feeds the samples to the walk along the line xa = 0, one unit each from x = 10 on.
RunList Walk(const std::vector<std::optional<std::int32_t>>& samples) {
    const ScanLine line{.xa = 0, .xb = static_cast<std::int32_t>(samples.size()) + 9, .ya = 0};
    return SampleLine(line, [&](std::int32_t x, std::int32_t y) {
        EXPECT_EQ(y, 20);
        return samples.at(static_cast<std::size_t>(x - 10));
    });
}

RunList Expected(std::vector<std::int32_t> runs, std::int32_t runIndex) {
    RunList list;
    for (std::size_t i = 0; i < runs.size(); ++i) list.runs[i + 1] = runs[i];
    list.runIndex = runIndex;
    return list;
}

struct WalkCase {
    const char* name;
    std::string_view samples;
    std::vector<std::int32_t> runs;
    std::int32_t runIndex;
};
void PrintTo(const WalkCase& c, std::ostream* os) {
    *os << c.name;
}

class RunStateMachine : public ::testing::TestWithParam<WalkCase> {};

TEST_P(RunStateMachine, StoresCompletedRunsOnly) {
    const WalkCase& c = GetParam();
    const RunList walked = Walk(Samples(c.samples));
    EXPECT_EQ(walked, Expected(c.runs, c.runIndex));

    // The row path must agree wherever every read succeeds.
    if (c.samples.find('?') == std::string_view::npos) {
        std::vector<std::int32_t> row;
        for (const auto& s : Samples(c.samples)) row.push_back(*s);
        const Picture picture = Picture::WithRow(row, 20);
        const ScanLine line{.xa = -10, .xb = static_cast<std::int32_t>(row.size()) - 1, .ya = 0};
        EXPECT_EQ(SampleRow(line, picture.Source()), walked);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Walk, RunStateMachine,
    ::testing::Values(
        WalkCase{"AllLight", "LLLLLL", {}, 0}, WalkCase{"OneDarkSample", "D", {}, 1},
        WalkCase{"LineEndsInsideFinalSpace", "DDLLLLLDDLLL", {2, 5, 2}, 4},
        WalkCase{"OneMoreDarkSampleStoresTheSpace", "DDLLLLLDDLLLD", {2, 5, 2, 3}, 5},
        WalkCase{"LeadingLightSkipped", "LLLDLDDLLL", {1, 1, 2}, 4},
        WalkCase{"AlternatingSingles", "DLDLDL", {1, 1, 1, 1, 1}, 6},
        // A failing first read counts as dark; a later one repeats the previous sample.
        WalkCase{"FailingFirstRead", "?LL", {1}, 2},
        WalkCase{"FailingReadsRepeatPrevious", "LD?L?D?", {2, 2}, 3},
        WalkCase{"OnlyFailingReads", "???", {}, 1}),
    testing::ByName());

struct ColourCase {
    const char* name;
    std::int32_t colour;
    bool dark;
};
void PrintTo(const ColourCase& c, std::ostream* os) {
    *os << c.name;
}

class Threshold : public ::testing::TestWithParam<ColourCase> {};

TEST_P(Threshold, ComparesTheWholeColourValue) {
    const ColourCase& c = GetParam();
    EXPECT_EQ(IsDark(c.colour), c.dark);
    const std::vector<std::int32_t> row{c.colour};
    const Picture picture = Picture::WithRow(row, 20);
    const ScanLine line{.xa = -10, .xb = 0, .ya = 0};  // exactly one sample
    int reads = 0;
    EXPECT_EQ(SampleLine(line, picture.Reader(&reads)).runIndex, c.dark ? 1 : 0);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(SampleRow(line, picture.Source()).runIndex, c.dark ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Walk, Threshold,
    ::testing::Values(ColourCase{"Grey220", 14474460, false},
                      ColourCase{"JustBelowGrey220", 14474459, true},
                      ColourCase{"Yellow", 0x00FFFF, true}, ColourCase{"Blue", 0xFF0000, false},
                      ColourCase{"Blue219WhateverRedGreen", 0xDBFFFF, true},
                      ColourCase{"Blue221NoRedGreen", 0xDD0000, false},
                      ColourCase{"Red", 255, true}, ColourCase{"White", 0xFFFFFF, false},
                      ColourCase{"Outside", -1, true}, ColourCase{"Lowest", kMin, true},
                      ColourCase{"Highest", kMax, false}),
    testing::ByName());

TEST(Walk, ReadsEachUnitFromTheOffsetToTheEndInclusive) {
    std::vector<std::int32_t> xs;
    const ScanLine line{.xa = 80, .xb = 210, .ya = 30};
    SampleLine(line, [&](std::int32_t x, std::int32_t y) -> std::optional<std::int32_t> {
        EXPECT_EQ(y, 50);
        xs.push_back(x);
        return kLight;
    });
    ASSERT_EQ(xs.size(), 121u);
    EXPECT_EQ(xs.front(), 90);
    EXPECT_EQ(xs.back(), 210);
}

struct ExtremeLineCase {
    const char* name;
    ScanLine line;
    int reads;
};
void PrintTo(const ExtremeLineCase& c, std::ostream* os) {
    *os << c.name;
}

class ExtremeLines : public ::testing::TestWithParam<ExtremeLineCase> {};

// The loop must end even when the last sample is the largest coordinate.
TEST_P(ExtremeLines, WalkTerminatesAndPathsAgree) {
    const ExtremeLineCase& c = GetParam();
    const std::vector<std::int32_t> row(8, 0);
    const Picture picture = Picture::WithRow(row, 0);
    int reads = 0;
    const RunList walked = SampleLine(c.line, picture.Reader(&reads));
    EXPECT_EQ(reads, c.reads);
    EXPECT_EQ(walked.runIndex, c.reads > 0 ? 1 : 0);  // all outside: one dark run in progress
    EXPECT_EQ(SampleRow(c.line, picture.Source()), walked);
}

INSTANTIATE_TEST_SUITE_P(
    Walk, ExtremeLines,
    ::testing::Values(ExtremeLineCase{"EndsAtLargest", {kMax - 100, kMax, 0}, 91},
                      ExtremeLineCase{"OffsetPassesTheEnd", {kMax - 10, kMax, 0}, 1},
                      ExtremeLineCase{"OffsetBeyondTheEnd", {kMax - 9, kMax, 0}, 0},
                      ExtremeLineCase{"StartsAtSmallest", {kMin, kMin + 40, 0}, 31},
                      ExtremeLineCase{"HighestRow", {0, 30, kMax - 20}, 21},
                      ExtremeLineCase{"LowestRow", {0, 30, kMin}, 21}),
    testing::ByName());

// Runs 1..3 long in turn, so that every stored entry is identifiable.
TEST(Walk, RunListKeepsTheFirst5000RunsAndTheIndexGoesOn) {
    constexpr int kRuns = kRunListSize + 7;
    std::vector<std::int32_t> row;
    for (int i = 1; i <= kRuns + 1; ++i) {
        row.insert(row.end(), static_cast<std::size_t>(i % 3 + 1), i % 2 ? 0 : kLight);
    }
    const Picture picture = Picture::WithRow(row, 20);
    const ScanLine line{.xa = -10, .xb = static_cast<std::int32_t>(row.size()) - 1, .ya = 0};
    const RunList walked = SampleLine(line, picture.Reader());
    EXPECT_EQ(walked.runIndex, kRuns + 1);
    for (int i = 1; i <= kRunListSize; ++i) {
        ASSERT_EQ(walked.runs[static_cast<std::size_t>(i)], i % 3 + 1) << "entry " << i;
    }
    EXPECT_EQ(SampleRow(line, picture.Source()), walked);
}

// More than 2^31 dark units before the first light one: the run stays at the largest length.
TEST(RowPath, RunLengthStopsAtTheLargestValue) {
    constexpr std::int32_t kUnits = (1 << 30) + 1;  // pixel 0 covers [-2^29, 2^29]
    const std::vector<std::int32_t> row{0, kLight};
    const Picture picture = Picture::WithRow(row, 0, kUnits);
    const ScanLine line{.xa = kMin, .xb = kMax, .ya = 0};
    const RunList list = SampleRow(line, picture.Source());
    EXPECT_EQ(list.runIndex, 3);  // bar, the light pixel, and the dark beyond
    EXPECT_EQ(list.runs[1], kMax);
    EXPECT_EQ(list.runs[2], kUnits);
}

struct UnitCase {
    std::int64_t unit;
    std::int32_t unitsPerPixel;
    std::int64_t pixel;
};

TEST(RowPath, UnitsMapToTheNearestPixel) {
    for (const UnitCase c : {UnitCase{0, 15, 0},
                             {7, 15, 0},
                             {8, 15, 1},
                             {22, 15, 1},
                             {23, 15, 2},
                             {-7, 15, 0},
                             {-8, 15, -1},
                             {-22, 15, -1},
                             {-23, 15, -2},
                             {-5, 1, -5},
                             {kMax, 15, 143165576},
                             {kMin, 15, -143165577},
                             {kMin, 1, kMin}}) {
        EXPECT_EQ(UnitToPixel(c.unit, c.unitsPerPixel), c.pixel)
            << c.unit << " at " << c.unitsPerPixel;
        EXPECT_EQ(testing::NearestPixel(c.unit, c.unitsPerPixel), c.pixel);
    }
}

}  // namespace
}  // namespace scan39
