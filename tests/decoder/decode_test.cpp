#include <gtest/gtest.h>
#include <ostream>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "picture_fixture.h"
#include "scan39/encoder.h"
#include "scan39/scan.h"

namespace scan39 {
namespace {

using testing::kLight;
using testing::Picture;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
const std::string kPrevious = "previous text";

const PatternTable& Table() {
    static const PatternTable table = [] {
        PatternTable t;
        BuildPatternTable(t);
        return t;
    }();
    return table;
}

// The runs of a symbol followed by its quiet zone, as a full walk past the quiet zone onto a
// dark sample would leave them.
RunList RunListOf(const std::vector<int>& runs, int quietZone) {
    RunList list;
    for (std::size_t i = 0; i < runs.size(); ++i) list.runs[i + 1] = runs[i];
    list.runs[runs.size() + 1] = quietZone;
    list.runIndex = static_cast<std::int32_t>(runs.size()) + 2;
    return list;
}

std::vector<int> Concat(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Outcome {
    std::int16_t result;
    std::string value;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    return os << "{" << o.result << ", \"" << o.value << "\"}";
}

// Scans the picture along the line by both paths; they must agree in everything.
Outcome ScanBoth(const Picture& picture, const ScanLine& line, int* reads = nullptr) {
    Outcome walked{0, kPrevious};
    walked.result = Scan(line, picture.Reader(reads), Table(), walked.value);
    Outcome fast{0, kPrevious};
    fast.result = Scan(line, picture.Source(), Table(), fast.value);
    EXPECT_EQ(fast, walked) << "row path and reference walk disagree";
    return walked;
}

TEST(WorkedExample, DecodesAAndFailsWhenTheLineEndsInTheQuietZone) {
    const std::vector<int> runs = encoder::Runs("A", {.narrow = 2, .wide = 5, .gap = 2});
    const std::vector<std::int32_t> row = encoder::Row(runs, 100, 20, 6);
    ASSERT_EQ(row.size(), 211u);  // symbol 100..184, quiet zone 185..204, dark 205..210
    const Picture picture = Picture::WithRow(row, 50);
    const ScanLine line{.xa = 80, .xb = 210, .ya = 30};

    const RunList list = SampleLine(line, picture.Reader());
    RunList expected = RunListOf(
        {2, 5, 2, 2, 5, 2, 5, 2, 2, 2, 5, 2, 2, 2, 2, 5, 2, 2, 5, 2, 2, 5, 2, 2, 5, 2, 5, 2, 2},
        20);
    EXPECT_EQ(list, expected);
    EXPECT_EQ(list.runIndex, 31);
    EXPECT_EQ(ScanBoth(picture, line), (Outcome{kScanDecoded, "A"}));

    const ScanLine shortLine{.xa = 80, .xb = 200, .ya = 30};
    EXPECT_EQ(SampleLine(shortLine, picture.Reader()).runIndex, 30);
    EXPECT_EQ(ScanBoth(picture, shortLine), (Outcome{kScanFailed, kPrevious}));
}

struct ScanCase {
    std::string name;
    std::vector<std::int32_t> row;  // pixel row 50, one unit per pixel
    ScanLine line;
    Outcome outcome;
    int reads = -1;  // reads of the reference walk, when the case is about them
};
void PrintTo(const ScanCase& c, std::ostream* os) {
    *os << c.name;
}

constexpr encoder::Widths kWidths{.narrow = 2, .wide = 5, .gap = 2};

std::vector<std::int32_t> SymbolRow(const std::vector<int>& runs, int tail = 10) {
    return encoder::Row(runs, 20, 20, tail);
}

ScanCase Decodes(std::string name, std::vector<int> runs, std::string value) {
    std::vector<std::int32_t> row = SymbolRow(runs);
    const ScanLine line{.xa = 0, .xb = static_cast<std::int32_t>(row.size()) - 1, .ya = 30};
    return {std::move(name), std::move(row), line, {kScanDecoded, std::move(value)}};
}

ScanCase Fails(std::string name, std::vector<std::int32_t> row) {
    const ScanLine line{.xa = 0, .xb = static_cast<std::int32_t>(row.size()) - 1, .ya = 30};
    return {std::move(name), std::move(row), line, {kScanFailed, kPrevious}};
}

std::vector<ScanCase> ScanCases() {
    const std::vector<int> a = encoder::Runs("A", kWidths);
    std::vector<ScanCase> cases;
    cases.push_back(Decodes("OneCharacter", a, "A"));
    cases.push_back(Decodes("NoDataCharacters", encoder::Runs("", kWidths), ""));
    // No full-ASCII translation and no check-character verification.
    cases.push_back(Decodes("SpecialsAsThemselves", encoder::Runs("$/+% .-", kWidths), "$/+% .-"));
    // A line across two symbols: the stop and start characters between them are no data, so
    // "AB**CD" is no symbol's text.
    cases.push_back(Fails("TwoSymbols", SymbolRow(Concat(Concat(encoder::Runs("AB", kWidths), {20}),
                                                         encoder::Runs("CD", kWidths)))));
    // A start/stop pattern printed among the data fails the same way.
    std::vector<int> starInside = encoder::Runs("ABC", kWidths);
    std::copy(a.begin(), a.begin() + 9, starInside.begin() + 20);
    cases.push_back(Fails("StartStopAmongData", SymbolRow(starInside)));

    cases.push_back(Fails("LineEndsInQuietZone", SymbolRow(a, 0)));
    std::vector<int> mirrored(a.rbegin(), a.rend());
    cases.push_back(Fails("Mirrored", SymbolRow(mirrored)));
    // Nine narrow elements match no character: the damaged character must not vanish.
    std::vector<int> damaged = encoder::Runs("AXB", kWidths);
    std::fill(damaged.begin() + 20, damaged.begin() + 29, kWidths.narrow);
    cases.push_back(Fails("DamagedCharacter", SymbolRow(damaged)));
    std::vector<int> noStop = encoder::Runs("AB", kWidths);
    const std::vector<int> c = encoder::Runs("C", kWidths);
    std::copy(c.begin() + 10, c.begin() + 19, noStop.end() - 9);
    cases.push_back(Fails("StopCharacterMissing", SymbolRow(noStop)));
    cases.push_back(Fails("LoneStartStop", SymbolRow(std::vector<int>(a.begin(), a.begin() + 9))));
    cases.push_back(Fails("AllLight", std::vector<std::int32_t>(100, kLight)));

    const std::vector<std::int32_t> row = SymbolRow(a);
    const auto line = [](std::int32_t xa, std::int32_t xb, std::int32_t ya = 30) {
        return ScanLine{.xa = xa, .xb = xb, .ya = ya};
    };
    cases.push_back({"XbEqualsXa", row, line(5, 5), {kScanFailed, ""}, 0});
    cases.push_back({"XbLeftOfXa", row, line(100, 50), {kScanFailed, ""}, 0});
    cases.push_back({"XbOneRightOfXa", row, line(5, 6), {kScanFailed, kPrevious}, 0});
    cases.push_back({"XbNineRightOfXa", row, line(5, 14), {kScanFailed, kPrevious}, 0});
    cases.push_back({"XbTenRightOfXa", row, line(5, 15), {kScanFailed, kPrevious}, 1});
    cases.push_back(
        {"ColumnOffsetOverflows", row, line(kMax - 9, kMax), {kScanFailed, kPrevious}, 0});
    cases.push_back(
        {"RowOffsetOverflows", row, line(0, 100, kMax - 19), {kScanFailed, kPrevious}, 0});

    // A line starting inside the first bar measures only part of it; cut to 2 of its 4 units
    // it becomes the narrowest run and every narrow element turns wide.
    const encoder::Widths thick{.narrow = 4, .wide = 10, .gap = 4};
    const std::vector<std::int32_t> thickRow = SymbolRow(encoder::Runs("A", thick));
    const auto last = static_cast<std::int32_t>(thickRow.size()) - 1;
    cases.push_back({"StartsOneUnitIntoFirstBar", thickRow, line(11, last), {kScanDecoded, "A"}});
    cases.push_back(
        {"StartsTwoUnitsIntoFirstBar", thickRow, line(12, last), {kScanFailed, kPrevious}});
    return cases;
}

class ScanOutcome : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanOutcome, ResultAndValue) {
    const ScanCase& c = GetParam();
    const Picture picture = Picture::WithRow(c.row, 50);
    int reads = 0;
    EXPECT_EQ(ScanBoth(picture, c.line, &reads), c.outcome);
    if (c.reads >= 0) {
        EXPECT_EQ(reads, c.reads);
    }
}

INSTANTIATE_TEST_SUITE_P(Scan, ScanOutcome, ::testing::ValuesIn(ScanCases()), testing::ByName());

TEST(Scan, ErrorsInsideNeverEscape) {
    const ScanLine line{.xa = 0, .xb = 100, .ya = 0};
    std::string value = kPrevious;
    const PixelReader throwing = [](std::int32_t, std::int32_t) -> std::optional<std::int32_t> {
        throw std::runtime_error("device lost");
    };
    EXPECT_EQ(Scan(line, throwing, Table(), value), kScanFailed);
    EXPECT_EQ(Scan(line, PixelReader{}, Table(), value), kScanFailed);

    PixelRowSource source{
        .row = [](std::int32_t) -> std::span<const std::int32_t> { throw std::bad_alloc(); },
        .width = 10,
        .height = 10,
        .unitsPerPixel = 15};
    EXPECT_EQ(Scan(line, source, Table(), value), kScanFailed);
    source.row = nullptr;
    EXPECT_EQ(Scan(line, source, Table(), value), kScanFailed);
    const std::vector<std::int32_t> shortRow(5, 0);
    source.row = [&](std::int32_t) { return std::span(shortRow); };
    EXPECT_EQ(Scan(line, source, Table(), value), kScanFailed);
    source.width = 5;
    for (const std::int32_t units : {0, 2, 14}) {
        source.unitsPerPixel = units;
        EXPECT_EQ(Scan(line, source, Table(), value), kScanFailed) << units;
    }
    EXPECT_EQ(value, kPrevious);
}

// Classification: wide means at least 1.95 times the narrowest run, bars and spaces alike.
struct RatioCase {
    const char* name;
    int narrowBar, wideBar, narrowSpace, wideSpace;
    bool decodes;
};
void PrintTo(const RatioCase& c, std::ostream* os) {
    *os << c.name;
}

class WideRatio : public ::testing::TestWithParam<RatioCase> {};

TEST_P(WideRatio, DecidesNarrowOrWide) {
    const RatioCase& c = GetParam();
    std::vector<int> runs;
    for (const encoder::Element& e : encoder::Elements("A")) {
        runs.push_back(e.bar ? (e.wide ? c.wideBar : c.narrowBar)
                             : (e.wide ? c.wideSpace : c.narrowSpace));
    }
    const std::optional<std::string> text = DecodeRuns(RunListOf(runs, 100), Table());
    EXPECT_EQ(text, c.decodes ? std::optional<std::string>("A") : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Decode, WideRatio,
                         ::testing::Values(RatioCase{"ExactlyAtRatio", 20, 39, 20, 39, true},
                                           RatioCase{"JustBelowRatio", 20, 38, 20, 38, false},
                                           RatioCase{"ThreeOverTwoNarrow", 2, 3, 2, 3, false},
                                           RatioCase{"FourOverTwoWide", 2, 4, 2, 4, true},
                                           RatioCase{"ThinSpacesStillNarrowBars", 3, 6, 2, 6, true},
                                           RatioCase{"ThinSpacesMakeBarsWide", 4, 9, 2, 6, false}),
                         testing::ByName());

struct RunIndexCase {
    const char* name;
    std::int32_t runIndex;
};
void PrintTo(const RunIndexCase& c, std::ostream* os) {
    *os << c.name;
}

class NeverDecodes : public ::testing::TestWithParam<RunIndexCase> {};

// The list holds a start character, "A"s, and a stop character just where the count would end
// the symbol, so only the count decides.
TEST_P(NeverDecodes, WhateverTheRunsHold) {
    RunList list;
    const std::vector<int> startA = encoder::Runs("A", kWidths);  // start, gap, A, gap, stop
    for (int i = 1; i <= kRunListSize; ++i) {
        const int block = i <= 10 ? 0 : 10;
        list.runs[static_cast<std::size_t>(i)] =
            startA[static_cast<std::size_t>(block + (i - 1) % 10)];
    }
    const std::int32_t end = GetParam().runIndex - 2;
    for (std::int32_t i = std::max(end - 8, 1); i <= std::min(end, kRunListSize); ++i) {
        list.runs[static_cast<std::size_t>(i)] = startA[static_cast<std::size_t>(20 + i - end + 8)];
    }
    list.runIndex = GetParam().runIndex;
    EXPECT_EQ(DecodeRuns(list, Table()), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Decode, NeverDecodes,
                         ::testing::Values(RunIndexCase{"Nothing", 0}, RunIndexCase{"Nine", 9},
                                           RunIndexCase{"Ten", 10}, RunIndexCase{"Eleven", 11},
                                           RunIndexCase{"BeyondTheList", kRunListSize + 11},
                                           RunIndexCase{"Negative", -1},
                                           RunIndexCase{"Largest", kMax}),
                         testing::ByName());

// The largest symbol the list can hold: 500 characters, 4999 runs.
TEST(Scan, RunListHoldsFiveHundredCharactersAndNoMore) {
    std::string text;
    for (int i = 0; i < 498; ++i) text += encoder::kAlphabet[static_cast<std::size_t>(i) % 43];
    const encoder::Widths small{.narrow = 1, .wide = 2, .gap = 1};
    for (const bool oneMore : {false, true}) {
        const std::string t = oneMore ? text + "Z" : text;
        const std::vector<std::int32_t> row = encoder::Row(encoder::Runs(t, small), 20, 20, 5);
        const Picture picture = Picture::WithRow(row, 50);
        const ScanLine line{.xa = 0, .xb = static_cast<std::int32_t>(row.size()) - 1, .ya = 30};
        EXPECT_EQ(SampleLine(line, picture.Reader()).runIndex, oneMore ? 5011 : 5001);
        EXPECT_EQ(ScanBoth(picture, line),
                  (oneMore ? Outcome{kScanFailed, kPrevious} : Outcome{kScanDecoded, t}));
    }
}

// Random texts over the whole character set, at several widths and both scales.
TEST(Scan, RoundTripsRandomTexts) {
    std::mt19937 rng(39);
    const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(rng); };
    for (int trial = 0; trial < 120; ++trial) {
        std::string text;
        const int length = pick(0, 24);
        for (int i = 0; i < length; ++i)
            text += encoder::kAlphabet[static_cast<std::size_t>(pick(0, 42))];
        const int narrow = pick(1, 4);
        const double ratio = std::array{2.0, 2.5, 3.0}[static_cast<std::size_t>(pick(0, 2))];
        const int wide = static_cast<int>(std::ceil(narrow * ratio));
        const encoder::Widths widths{
            .narrow = narrow, .wide = wide, .gap = pick(0, 1) ? narrow : wide};
        const int units = pick(0, 1) ? 15 : 1;
        const int margin = pick(2, 30);
        const std::vector<std::int32_t> row =
            encoder::Row(encoder::Runs(text, widths), margin, margin, 3);
        const Picture picture = Picture::WithRow(row, 0, units);
        // From inside the left margin to the last pixel of the dark tail.
        const ScanLine line{.xa = units - kLineStartOffset,
                            .xb = static_cast<std::int32_t>(row.size() - 1) * units,
                            .ya = -kLineRowOffset};
        SCOPED_TRACE("text \"" + text + "\" narrow " + std::to_string(narrow) + " wide " +
                     std::to_string(wide) + " units " + std::to_string(units));
        EXPECT_EQ(ScanBoth(picture, line), (Outcome{kScanDecoded, text}));
    }
}

}  // namespace
}  // namespace scan39
