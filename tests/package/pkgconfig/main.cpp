// Built with nothing but `pkg-config --cflags --libs scan39-reader`: draws "*PKG-39*" from the
// pattern table into a grey picture and reads it back with the reader.
#include <scan39/pattern_table.h>
#include <scan39/reader.h>

#include <cstdint>
#include <iostream>
#include <vector>

int main() {
    scan39::PatternTable table;
    scan39::BuildPatternTable(table);
    const auto elements = [&](char c) {
        for (const auto& row : table)
            if (row[scan39::kCharacterColumn] == std::string(1, c))
                return row[scan39::kElementsColumn];
        return std::string();
    };
    const int narrow = 3, wide = 8, height = 80;
    std::vector<bool> dark(10 * narrow * 2, false);  // the leading quiet zone
    for (char c : std::string("*PKG-39*")) {
        for (char e : elements(c))
            dark.insert(dark.end(), (e == '6' || e == '1') ? wide : narrow, e == '5' || e == '6');
        dark.insert(dark.end(), narrow, false);  // the gap between characters
    }
    dark.insert(dark.end(), 10 * narrow * 2, false);
    const int width = static_cast<int>(dark.size());
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height, 255);
    for (int y = 20; y < height - 20; ++y)
        for (int x = 0; x < width; ++x)
            if (dark[static_cast<std::size_t>(x)])
                pixels[static_cast<std::size_t>(y * width + x)] = 0;
    const auto found = scan39::reader::Read({pixels.data(), width, height, width});
    for (const auto& s : found) std::cout << s.text << '\n';
    return found.size() == 1 && found[0].text == "PKG-39" ? 0 : 1;
}
