#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "picture_fixture.h"
#include "scan39/encoder.h"
#include "scan39/pattern_table.h"

namespace scan39 {
namespace {

PatternTable Built() {
    PatternTable table;
    BuildPatternTable(table);
    return table;
}

// The encoder derives each pattern from the structure of the symbology (which bars and which
// space are wide), so agreement row by row catches a mistyped digit in either.
std::string EncodedDigits(std::string_view character) {
    // "*" cannot be encoded as data; it is the first character of every symbol.
    const auto elements = encoder::Elements(character == "*" ? "" : character);
    const std::size_t first = character == "*" ? 0 : 10;
    std::string digits;
    for (std::size_t i = first; i < first + 9; ++i) {
        const auto& e = elements[i];
        digits += e.bar ? (e.wide ? '6' : '5') : (e.wide ? '1' : '0');
    }
    return digits;
}

TEST(PatternTable, EveryRowAgreesWithTheEncoder) {
    const PatternTable table = Built();
    for (int r = 0; r < kFilledRows; ++r) {
        SCOPED_TRACE("row " + std::to_string(r));
        const std::string& character = table[r][kCharacterColumn];
        ASSERT_EQ(character.size(), 1u);
        EXPECT_EQ(table[r][kElementsColumn], EncodedDigits(character));
    }
}

TEST(PatternTable, BuildingWritesOnlyTheFilledCellsAndIsIdempotent) {
    PatternTable table;
    for (auto& row : table) std::fill(row.begin(), row.end(), "junk");
    BuildPatternTable(table);
    for (int r = 0; r < kPatternRows; ++r) {
        EXPECT_EQ(table[r][3], "junk") << "column 3 of row " << r;
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(table[r][c] == "junk", r == kFilledRows) << "row " << r << " column " << c;
        }
    }

    PatternTable twice = Built();
    BuildPatternTable(twice);
    EXPECT_EQ(twice, Built());
    EXPECT_EQ(Built()[kFilledRows], (std::array<std::string, kPatternColumns>{}));
}

TEST(Encoder, RejectsTextsOutsideTheCharacterSet) {
    for (const std::string_view text : {"A*B", "abc", "\xC3\xA9", "A\nB"}) {
        EXPECT_THROW(encoder::Elements(text), std::invalid_argument) << text;
    }
}

}  // namespace
}  // namespace scan39
