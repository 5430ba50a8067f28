#include <scan39/scan.h>

#include <iostream>
#include <vector>

// Draws "*A*" (narrow 2, wide 5) on a light row and reads it back.
int main() {
    const std::vector<int> runs = {2, 5, 2, 2, 5, 2, 5, 2, 2, 2, 5, 2, 2, 2, 2,
                                   5, 2, 2, 5, 2, 2, 5, 2, 2, 5, 2, 5, 2, 2};
    std::vector<std::int32_t> row(100, 0xFFFFFF);
    bool dark = true;
    for (int r : runs) {
        row.insert(row.end(), r, dark ? 0 : 0xFFFFFF);
        dark = !dark;
    }
    row.insert(row.end(), 20, 0xFFFFFF);
    row.insert(row.end(), 6, 0);
    auto colourAt = [&](std::int32_t x, std::int32_t y) -> std::optional<std::int32_t> {
        if (y != 50 || x < 0 || x >= static_cast<std::int32_t>(row.size())) return 0xFFFFFF;
        return row[static_cast<std::size_t>(x)];
    };

    scan39::PatternTable table;
    scan39::BuildPatternTable(table);
    const scan39::PixelReader read = [&](std::int32_t x,
                                         std::int32_t y) -> std::optional<std::int32_t> {
        return colourAt(x, y);  // your picture; std::nullopt when the point is outside
    };
    std::string value;
    // samples the row ya + 20 from xa + 10 to xb, one read per unit
    if (scan39::Scan({.xa = 80, .xb = 210, .ya = 30}, read, table, value) == scan39::kScanDecoded)
        std::cout << value << '\n';
    return value == "A" ? 0 : 1;
}
