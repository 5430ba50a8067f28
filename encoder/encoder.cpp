#include "scan39/encoder.h"

#include <array>
#include <stdexcept>
#include <string>

namespace scan39::encoder {
namespace {

// Code 39 is built from two independent choices per character: which two of its five bars
// are wide, and which one of its four spaces is wide. The encoder derives every pattern from
// that structure rather than copying the decoder's table, so the round-trip tests cross-check
// the two.

// Wide bars for the ten bar patterns, in the order of the digits 1..9, 0.
constexpr std::array<std::array<bool, 5>, 10> kBarPatterns = {{
    {true, false, false, false, true},  // 1
    {false, true, false, false, true},  // 2
    {true, true, false, false, false},  // 3
    {false, false, true, false, true},  // 4
    {true, false, true, false, false},  // 5
    {false, true, true, false, false},  // 6
    {false, false, false, true, true},  // 7
    {true, false, false, true, false},  // 8
    {false, true, false, true, false},  // 9
    {false, false, true, true, false},  // 0
}};

// Each family of ten characters uses the ten bar patterns in order with one wide space.
struct Family {
    std::string_view characters;
    int wideSpace;  // 0..3
};
constexpr std::array<Family, 4> kFamilies = {{
    {"1234567890", 1},
    {"ABCDEFGHIJ", 2},
    {"KLMNOPQRST", 3},
    {"UVWXYZ-. *", 0},
}};

// The four characters with narrow bars and three wide spaces, and their one narrow space.
struct SpaceOnly {
    char character;
    int narrowSpace;
};
constexpr std::array<SpaceOnly, 4> kSpaceOnly = {{{'$', 3}, {'/', 2}, {'+', 1}, {'%', 0}}};

using Pattern = std::array<Element, 9>;

Pattern MakePattern(const std::array<bool, 5>& wideBars, const std::array<bool, 4>& wideSpaces) {
    Pattern pattern{};
    for (int i = 0; i < 9; ++i) {
        const bool bar = i % 2 == 0;
        pattern[i].bar = bar;
        pattern[i].wide = bar ? wideBars[i / 2] : wideSpaces[i / 2];
    }
    return pattern;
}

Pattern PatternOf(char c) {
    for (const Family& family : kFamilies) {
        const auto pos = family.characters.find(c);
        if (pos == std::string_view::npos) continue;
        std::array<bool, 4> spaces{};
        spaces[family.wideSpace] = true;
        return MakePattern(kBarPatterns[pos], spaces);
    }
    for (const SpaceOnly& s : kSpaceOnly) {
        if (s.character != c) continue;
        std::array<bool, 4> spaces{true, true, true, true};
        spaces[s.narrowSpace] = false;
        return MakePattern({}, spaces);
    }
    throw std::invalid_argument("not a Code 39 character: '" + std::string(1, c) + "'");
}

void Append(std::vector<Element>& out, const Pattern& pattern) {
    out.insert(out.end(), pattern.begin(), pattern.end());
}

}  // namespace

std::vector<Element> Elements(std::string_view text) {
    if (text.find('*') != std::string_view::npos) {
        throw std::invalid_argument("'*' is the start/stop character and cannot be encoded");
    }
    std::vector<Element> out;
    out.reserve((text.size() + 2) * 10);
    const Pattern startStop = PatternOf('*');
    Append(out, startStop);
    for (char c : text) {
        out.push_back(Element{.bar = false, .wide = false, .gap = true});
        Append(out, PatternOf(c));
    }
    out.push_back(Element{.bar = false, .wide = false, .gap = true});
    Append(out, startStop);
    return out;
}

std::vector<int> Runs(std::string_view text, Widths widths) {
    if (widths.narrow < 1 || widths.wide < 1 || widths.gap < 1) {
        throw std::invalid_argument("element widths must be at least 1");
    }
    const std::vector<Element> elements = Elements(text);
    std::vector<int> runs;
    runs.reserve(elements.size());
    for (const Element& e : elements) {
        runs.push_back(e.gap ? widths.gap : e.wide ? widths.wide : widths.narrow);
    }
    return runs;
}

std::vector<std::int32_t> Row(std::span<const int> runs, int marginLeft, int marginRight,
                              int darkTail) {
    constexpr std::int32_t kDark = 0;
    constexpr std::int32_t kLight = 0xFFFFFF;
    if (marginLeft < 0 || marginRight < 0 || darkTail < 0) {
        throw std::invalid_argument("margins and tail must not be negative");
    }
    std::vector<std::int32_t> row(static_cast<std::size_t>(marginLeft), kLight);
    bool bar = true;
    for (int run : runs) {
        if (run < 0) throw std::invalid_argument("run lengths must not be negative");
        row.insert(row.end(), static_cast<std::size_t>(run), bar ? kDark : kLight);
        bar = !bar;
    }
    row.insert(row.end(), static_cast<std::size_t>(marginRight), kLight);
    row.insert(row.end(), static_cast<std::size_t>(darkTail), kDark);
    return row;
}

}  // namespace scan39::encoder
