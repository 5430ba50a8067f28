#include "scan39/pattern_table.h"

#include <string_view>

namespace scan39 {
namespace {

struct Row {
    std::string_view character;
    std::string_view elements;
    std::string_view checkValue;
};

// clang-format off
constexpr std::array<Row, kFilledRows> kRows = {{
    {"0", "505160605", "0"},  {"1", "605150506", "1"},  {"2", "506150506", "2"},
    {"3", "606150505", "3"},  {"4", "505160506", "4"},  {"5", "605160505", "5"},
    {"6", "506160505", "6"},  {"7", "505150606", "7"},  {"8", "605150605", "8"},
    {"9", "506150605", "9"},  {"A", "605051506", "10"}, {"B", "506051506", "11"},
    {"C", "606051505", "12"}, {"D", "505061506", "13"}, {"E", "605061505", "14"},
    {"F", "506061505", "15"}, {"G", "505051606", "16"}, {"H", "605051605", "17"},
    {"I", "506051605", "18"}, {"J", "505061605", "19"}, {"K", "605050516", "20"},
    {"L", "506050516", "21"}, {"M", "606050515", "22"}, {"N", "505060516", "23"},
    {"O", "605060515", "24"}, {"P", "506060515", "25"}, {"Q", "505050616", "26"},
    {"R", "605050615", "27"}, {"S", "506050615", "28"}, {"T", "505060615", "29"},
    {"U", "615050506", "30"}, {"V", "516050506", "31"}, {"W", "616050505", "32"},
    {"X", "515060506", "33"}, {"Y", "615060505", "34"}, {"Z", "516060505", "35"},
    {"-", "515050606", "36"}, {".", "615050605", "37"}, {" ", "516050605", "38"},
    // The start/stop character has no check value of its own; from "$" on the row index
    // is one more than the check value.
    {"*", "515060605", "0"},  {"$", "515151505", "39"}, {"/", "515150515", "40"},
    {"+", "515051515", "41"}, {"%", "505151515", "42"},
}};
// clang-format on

constexpr bool IsBar(char d) {
    return d == '5' || d == '6';
}
constexpr bool IsSpace(char d) {
    return d == '0' || d == '1';
}
constexpr bool IsWide(char d) {
    return d == '6' || d == '1';
}

// Bars at odd positions (1-based), spaces at even ones, exactly three wide elements: two
// bars and a space, or (the last four rows) three spaces.
constexpr bool WellFormed(const Row& row, bool threeWideSpaces) {
    if (row.character.size() != 1 || row.elements.size() != 9) return false;
    int wideBars = 0;
    int wideSpaces = 0;
    for (std::size_t i = 0; i < 9; ++i) {
        const char d = row.elements[i];
        if (i % 2 == 0 ? !IsBar(d) : !IsSpace(d)) return false;
        if (IsWide(d)) ++(i % 2 == 0 ? wideBars : wideSpaces);
    }
    return threeWideSpaces ? (wideBars == 0 && wideSpaces == 3)
                           : (wideBars == 2 && wideSpaces == 1);
}

constexpr bool AllWellFormed() {
    for (int r = 0; r < kFilledRows; ++r) {
        if (!WellFormed(kRows[r], r > kStartStopRow)) return false;
    }
    return true;
}

constexpr bool AllDistinct() {
    for (int a = 0; a < kFilledRows; ++a) {
        for (int b = a + 1; b < kFilledRows; ++b) {
            if (kRows[a].elements == kRows[b].elements) return false;
            if (kRows[a].character == kRows[b].character) return false;
        }
    }
    return true;
}

constexpr int ParseDecimal(std::string_view text) {
    int value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    return value;
}

constexpr bool CheckValuesInOrder() {
    for (int r = 0; r < kFilledRows; ++r) {
        const std::string_view v = kRows[r].checkValue;
        if (v.empty() || v.size() > 2 || (v.size() == 2 && v[0] == '0')) return false;
        const int expected = r < kStartStopRow ? r : r == kStartStopRow ? 0 : r - 1;
        if (ParseDecimal(v) != expected) return false;
    }
    return true;
}

static_assert(AllWellFormed());
static_assert(AllDistinct());
static_assert(CheckValuesInOrder());
static_assert(kRows[kStartStopRow].character == "*" &&
              kRows[kStartStopRow].elements == "515060605");

}  // namespace

void BuildPatternTable(PatternTable& table) {
    for (int r = 0; r < kFilledRows; ++r) {
        table[r][kCharacterColumn] = kRows[r].character;
        table[r][kElementsColumn] = kRows[r].elements;
        table[r][kCheckValueColumn] = kRows[r].checkValue;
    }
}

}  // namespace scan39
