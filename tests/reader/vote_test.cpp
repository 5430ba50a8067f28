// The vote on its own, fed line reads made up here: where "nothing rather than wrong" is kept.
// Lines must agree character by character, several of them, on one place, and cross the
// symbol in places apart; anything less reports nothing.

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "vote_p.h"

namespace {

using scan39::reader::Point;
using scan39::reader::detail::AgreeInPlacesApart;
using scan39::reader::detail::Consensus;
using scan39::reader::detail::LocateUnvoted;
using scan39::reader::detail::Observation;
using scan39::reader::detail::Unvoted;
using scan39::reader::detail::Vote;

// A line read across a symbol from x = 100 to x = 300 at height `y` (reversed: read from the
// right), `chars` with '?' where the line could not read a character.
Observation Line(std::string chars, double y, bool reversed = false, double x0 = 100,
                 double x1 = 300) {
    for (char& c : chars)
        if (c == '?') c = '\0';
    Observation o{chars, {x0, y}, {x1, y}};
    if (reversed) std::swap(o.begin, o.end);
    return o;
}

struct VoteCase {
    const char* name;
    std::vector<Observation> lines;
    std::vector<std::string> texts;  // what the vote reports, in its order
    std::vector<int> agreeing;       // lines behind each
};

std::ostream& operator<<(std::ostream& os, const VoteCase& c) {
    return os << c.name;
}

class Votes : public testing::TestWithParam<VoteCase> {};

TEST_P(Votes, ReportOnlyWhatLinesAgreeOn) {
    const VoteCase& c = GetParam();
    const std::vector<Consensus> found = Vote(c.lines);
    std::vector<std::string> texts;
    std::vector<int> lines;
    for (const Consensus& f : found) {
        texts.push_back(f.text);
        lines.push_back(f.lines);
    }
    EXPECT_EQ(texts, c.texts);
    EXPECT_EQ(lines, c.agreeing);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Votes,
    testing::Values(
        VoteCase{"TwoWholeLinesAgree", {Line("CODE", 50), Line("CODE", 60)}, {"CODE"}, {2}},
        VoteCase{"OneLineIsNotEnough", {Line("CODE", 50)}, {}, {}},
        VoteCase{"EachCharacterReadTwice",
                 {Line("CO??", 50), Line("??DE", 55), Line("C?D?", 60), Line("?O?E", 65)},
                 {"CODE"},
                 {4}},
        VoteCase{"ACharacterReadOnceOnly", {Line("CO?E", 50), Line("CODE", 60)}, {}, {}},
        VoteCase{"NoCharacterReadByAnyLine", {Line("CO?E", 50), Line("CO?E", 60)}, {}, {}},
        VoteCase{"TwoLinesDisagree", {Line("CODE", 50), Line("CIDE", 60)}, {}, {}},
        VoteCase{"TwoAgainstTwoOnOnePlace",
                 {Line("CODE", 50), Line("CIDE", 55), Line("CODE", 60), Line("CIDE", 65)},
                 {},
                 {}},
        VoteCase{"AMisreadAmongManyIsOutvoted",
                 {Line("CODE", 50), Line("CODE", 55), Line("C?DE", 60), Line("CIDE", 65),
                  Line("CODE", 70), Line("CODE", 75)},
                 {"CODE"},
                 {5}},
        VoteCase{"BothReadingDirections", {Line("CODE", 50, true), Line("CODE", 60)}, {}, {}},
        VoteCase{"BackwardsLinesAgreeToo",
                 {Line("CODE", 50, true), Line("CODE", 60, true)},
                 {"CODE"},
                 {2}},
        VoteCase{
            "DifferentLengthsAreDifferentSymbols", {Line("CODE", 50), Line("CODES", 60)}, {}, {}},
        VoteCase{"LinesFarApartAlongAreDifferentSymbols",
                 {Line("CODE", 50), Line("CODE", 60, false, 400, 600)},
                 {},
                 {}},
        VoteCase{"TwoSymbolsSideBySide",
                 {Line("LEFT", 50), Line("LEFT", 60), Line("RIGHT", 50, false, 400, 600),
                  Line("RIGHT", 60, false, 400, 600)},
                 {"LEFT", "RIGHT"},
                 {2, 2}},
        VoteCase{"TwoSymbolsStacked",
                 {Line("TOP", 50), Line("TOP", 60), Line("LOW", 250), Line("LOW", 260)},
                 {"TOP", "LOW"},
                 {2, 2}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(Vote, CornersAndAngleFollowTheReadingDirection) {
    const std::vector<Consensus> forwards = Vote({Line("AB", 50), Line("AB", 70)});
    ASSERT_EQ(forwards.size(), 1u);
    EXPECT_EQ(forwards[0].angle, 0);
    // Start on the top side, end on the top side, end and start on the bottom side.
    const std::array<Point, 4> upright{{{100, 50}, {300, 50}, {300, 70}, {100, 70}}};
    EXPECT_EQ(forwards[0].corners, upright);
    const std::vector<Consensus> backwards = Vote({Line("AB", 50, true), Line("AB", 70, true)});
    ASSERT_EQ(backwards.size(), 1u);
    EXPECT_EQ(backwards[0].angle, 180);
    const std::array<Point, 4> turned{{{300, 70}, {100, 70}, {100, 50}, {300, 50}}};
    EXPECT_EQ(backwards[0].corners, turned);
}

struct ApartCase {
    const char* name;
    std::vector<Point> begins, ends;
    bool apart;
};

std::ostream& operator<<(std::ostream& os, const ApartCase& c) {
    return os << c.name;
}

class PlacesApart : public testing::TestWithParam<ApartCase> {};

TEST_P(PlacesApart, AgreementCountsOnlyFromDifferentPlaces) {
    const ApartCase& c = GetParam();
    Consensus consensus;
    consensus.text = "CODE";
    consensus.begins = c.begins;
    consensus.ends = c.ends;
    consensus.lines = static_cast<int>(c.begins.size());
    EXPECT_EQ(AgreeInPlacesApart(consensus), c.apart);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PlacesApart,
    testing::Values(
        ApartCase{"OneLine", {{100, 50}}, {{300, 50}}, false},
        ApartCase{"OnePlaceScannedTwice", {{100, 50}, {100, 50}}, {{300, 50}, {300, 50}}, false},
        ApartCase{
            "UnderTwoPixelsAcross", {{100, 50}, {100, 51.5}}, {{300, 50}, {300, 51.5}}, false},
        ApartCase{
            "AlongTheLineIsNoPlaceApart", {{100, 50}, {130, 50}}, {{300, 50}, {330, 50}}, false},
        ApartCase{"TiltedAboutOnePoint", {{100, 50}, {100, 50.5}}, {{300, 50}, {300, 51}}, false},
        ApartCase{"TwoPixelsAcross", {{100, 50}, {100, 52}}, {{300, 50}, {300, 52}}, true},
        ApartCase{"ApartAtTheEndOnly", {{100, 50}, {100, 50}}, {{300, 50}, {300, 56}}, true},
        ApartCase{"OneOfSeveralApart",
                  {{100, 50}, {100, 50.5}, {100, 60}},
                  {{300, 50}, {300, 50.5}, {300, 60}},
                  true},
        ApartCase{"SlantedSymbol", {{100, 100}, {96, 104}}, {{300, 300}, {296, 304}}, true},
        ApartCase{"NoLength", {{100, 50}, {100, 60}}, {{100, 50}, {100, 60}}, false}),
    [](const auto& test) { return std::string(test.param.name); });

// Symbols located but not read: lines with no text, three or more in places apart, off every
// symbol voted, each place once.
Observation Located(std::size_t characters, double y, bool quietZoneShort = false, double x0 = 100,
                    double x1 = 300) {
    Observation o{std::string(characters, '\0'), {x0, y}, {x1, y}};
    o.located = true;
    o.quietZoneShort = quietZoneShort;
    return o;
}

struct UnvotedCase {
    const char* name;
    std::vector<Observation> lines;
    std::vector<int> lines_behind;  // per symbol located, in its order
    std::vector<bool> quietZoneShort;
};

std::ostream& operator<<(std::ostream& os, const UnvotedCase& c) {
    return os << c.name;
}

class Unvoteds : public testing::TestWithParam<UnvotedCase> {};

TEST_P(Unvoteds, LocateWhatNoLineRead) {
    const UnvotedCase& c = GetParam();
    const std::vector<Unvoted> found = LocateUnvoted(c.lines, Vote(c.lines));
    std::vector<int> lines;
    std::vector<bool> quiet;
    for (const Unvoted& u : found) {
        lines.push_back(u.place.lines);
        quiet.push_back(u.quietZoneShort);
        EXPECT_TRUE(u.place.text.empty());
    }
    EXPECT_EQ(lines, c.lines_behind);
    EXPECT_EQ(quiet, c.quietZoneShort);
}

// `n` lines reading `chars` ('?' unread), 2 pixels apart from `y`, across x0..x1; or located
// only, with a quiet zone short.
std::vector<Observation> Lines(int n, const std::string& chars, double y, double x0 = 100,
                               double x1 = 300) {
    std::vector<Observation> out;
    for (int i = 0; i < n; ++i) out.push_back(Line(chars, y + 2 * i, false, x0, x1));
    return out;
}
std::vector<Observation> operator+(std::vector<Observation> a, const std::vector<Observation>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
std::vector<Observation> LocatedLines(int n, double y, bool quietZoneShort = true) {
    std::vector<Observation> out;
    for (int i = 0; i < n; ++i) out.push_back(Located(4, y + 2 * i, quietZoneShort));
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Unvoteds,
    testing::Values(
        UnvotedCase{"EightDamagedLinesApart", Lines(8, "C?DE", 50), {8}, {false}},
        UnvotedCase{"SevenLinesAreTooFew", Lines(7, "C?DE", 50), {}, {}},
        UnvotedCase{"OnePlaceScannedOften",
                    {Line("C?DE", 50), Line("C?DE", 50), Line("C?DE", 50), Line("C?DE", 50),
                     Line("C?DE", 50), Line("C?DE", 50), Line("C?DE", 50), Line("C?DE", 50)},
                    {},
                    {}},
        UnvotedCase{"ReadSymbolsDamagedLinesAreItsOwn",
                    Lines(2, "CODE", 48) + Lines(8, "C?DE", 52),
                    {},
                    {}},
        UnvotedCase{"WholeReadsAreNoneOfIt",
                    Lines(3, "CODE", 50) + Lines(3, "CIDE", 56) + Lines(3, "CUDE", 62),
                    {},
                    {}},
        UnvotedCase{
            "QuietZonesShortOnMostLines", LocatedLines(5, 50) + Lines(3, "C?DE", 60), {8}, {true}},
        UnvotedCase{
            "LocatedOnAReadSymbolAreItsOwn", Lines(2, "CODE", 48) + LocatedLines(8, 52), {}, {}},
        UnvotedCase{"TwoPlacesEachOnce",
                    Lines(8, "C?DE", 50) + Lines(9, "??", 50, 400, 500),
                    {9, 8},
                    {false, false}},
        UnvotedCase{"OnePlaceCountedTwoWaysOnce",
                    Lines(9, "C?DE", 50) + Lines(8, "C??DE", 51),
                    {9},
                    {false}}),
    [](const auto& test) { return std::string(test.param.name); });

// Lines that only located a symbol never count in a vote, not even as agreeing lines.
TEST(Vote, LocatedLinesAreNeverCounted) {
    const std::vector<Consensus> found =
        Vote({Line("CODE", 50), Line("CODE", 70), Located(4, 55), Located(4, 60), Located(4, 65)});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].text, "CODE");
    EXPECT_EQ(found[0].lines, 2);
    EXPECT_TRUE(Vote({Located(4, 55), Located(4, 60), Located(4, 65)}).empty());
}

}  // namespace
