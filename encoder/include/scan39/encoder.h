#pragma once
// Renders texts as Code 39 bars and spaces. Build-time and test support only: the product
// never encodes, it only embeds pictures made with this.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace scan39::encoder {

struct Element {
    bool bar = false;   // dark element
    bool wide = false;  // wide bar or wide space
    bool gap = false;   // the inter-character gap (a light element between two characters)
};

// The elements of "*" text "*", left to right: 9 per character and a gap between characters
// (10k - 1 elements for k characters). Throws std::invalid_argument for a character that is
// not one of the 43 of Code 39 (the text must not contain "*").
std::vector<Element> Elements(std::string_view text);

struct Widths {
    int narrow = 1;
    int wide = 2;
    int gap = 1;
};

// Run lengths of Elements(text): bar, space, bar, ..., bar.
std::vector<int> Runs(std::string_view text, Widths widths);

// A row of colour values: `marginLeft` light samples, the runs (dark = 0, light = 0xFFFFFF),
// `marginRight` light samples, then `darkTail` dark samples (e.g. the red edge of the box).
std::vector<std::int32_t> Row(std::span<const int> runs, int marginLeft, int marginRight,
                              int darkTail = 0);

// The 43 data characters of Code 39 ("*" is only start and stop), in table order.
inline constexpr std::string_view kAlphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";

}  // namespace scan39::encoder
