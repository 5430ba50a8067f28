#pragma once
// The Code 39 character set, once for everything that reads it: the control's pattern table
// and the whole-picture reader. Element digits: "5" narrow bar, "6" wide bar, "0" narrow
// space, "1" wide space.

#include <array>
#include <string_view>

namespace scan39 {

struct Code39Character {
    char character;
    std::string_view elements;  // nine element digits, left to right
    int checkValue;             // mod 43; the start/stop character has none and holds 0
};

inline constexpr int kFilledRows = 44;
inline constexpr int kStartStopRow = 39;  // "*"

// clang-format off
inline constexpr std::array<Code39Character, kFilledRows> kCode39Table = {{
    {'0', "505160605", 0},  {'1', "605150506", 1},  {'2', "506150506", 2},
    {'3', "606150505", 3},  {'4', "505160506", 4},  {'5', "605160505", 5},
    {'6', "506160505", 6},  {'7', "505150606", 7},  {'8', "605150605", 8},
    {'9', "506150605", 9},  {'A', "605051506", 10}, {'B', "506051506", 11},
    {'C', "606051505", 12}, {'D', "505061506", 13}, {'E', "605061505", 14},
    {'F', "506061505", 15}, {'G', "505051606", 16}, {'H', "605051605", 17},
    {'I', "506051605", 18}, {'J', "505061605", 19}, {'K', "605050516", 20},
    {'L', "506050516", 21}, {'M', "606050515", 22}, {'N', "505060516", 23},
    {'O', "605060515", 24}, {'P', "506060515", 25}, {'Q', "505050616", 26},
    {'R', "605050615", 27}, {'S', "506050615", 28}, {'T', "505060615", 29},
    {'U', "615050506", 30}, {'V', "516050506", 31}, {'W', "616050505", 32},
    {'X', "515060506", 33}, {'Y', "615060505", 34}, {'Z', "516060505", 35},
    {'-', "515050606", 36}, {'.', "615050605", 37}, {' ', "516050605", 38},
    // From "$" on the row index is one more than the check value.
    {'*', "515060605", 0},  {'$', "515151505", 39}, {'/', "515150515", 40},
    {'+', "515051515", 41}, {'%', "505151515", 42},
}};
// clang-format on

constexpr bool IsWideElement(char digit) {
    return digit == '6' || digit == '1';
}

namespace code39_table_checks {

// Bars at odd positions (1-based), spaces at even ones, exactly three wide elements: two
// bars and a space, or (the last four rows) three spaces.
constexpr bool WellFormed(const Code39Character& row, bool threeWideSpaces) {
    if (row.elements.size() != 9) return false;
    int wideBars = 0;
    int wideSpaces = 0;
    for (std::size_t i = 0; i < 9; ++i) {
        const char d = row.elements[i];
        const bool bar = d == '5' || d == '6';
        const bool space = d == '0' || d == '1';
        if (i % 2 == 0 ? !bar : !space) return false;
        if (IsWideElement(d)) ++(bar ? wideBars : wideSpaces);
    }
    return threeWideSpaces ? (wideBars == 0 && wideSpaces == 3)
                           : (wideBars == 2 && wideSpaces == 1);
}

constexpr bool AllWellFormed() {
    for (int r = 0; r < kFilledRows; ++r) {
        if (!WellFormed(kCode39Table[r], r > kStartStopRow)) return false;
    }
    return true;
}

constexpr bool AllDistinct() {
    for (int a = 0; a < kFilledRows; ++a) {
        for (int b = a + 1; b < kFilledRows; ++b) {
            if (kCode39Table[a].elements == kCode39Table[b].elements) return false;
            if (kCode39Table[a].character == kCode39Table[b].character) return false;
        }
    }
    return true;
}

constexpr bool CheckValuesInOrder() {
    for (int r = 0; r < kFilledRows; ++r) {
        const int expected = r < kStartStopRow ? r : r == kStartStopRow ? 0 : r - 1;
        if (kCode39Table[r].checkValue != expected) return false;
    }
    return true;
}

static_assert(AllWellFormed(), "nine elements, bars and spaces alternating, three wide");
static_assert(AllDistinct(), "every character and every pattern once");
static_assert(CheckValuesInOrder(), "rows in check-value order around the start/stop row");
static_assert(kCode39Table[kStartStopRow].character == '*' &&
              kCode39Table[kStartStopRow].elements == "515060605");

}  // namespace code39_table_checks

}  // namespace scan39
