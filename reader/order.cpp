#include <algorithm>
#include <cmath>
#include <tuple>

#include "scan39/reader.h"

namespace scan39::reader {

void SortInReadingOrder(std::vector<Symbol>& symbols) {
    struct Key {
        double x, y, height;
        std::size_t index;
    };
    std::vector<Key> keys;
    keys.reserve(symbols.size());
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        const auto& c = symbols[i].corners;
        double x = 0, y = 0, top = c[0].y, bottom = c[0].y;
        for (const Point& p : c) {
            x += p.x / 4;
            y += p.y / 4;
            top = std::min(top, p.y);
            bottom = std::max(bottom, p.y);
        }
        keys.push_back({x, y, bottom - top, i});
    }
    // Ties (the same centre) by text and index, so the order never depends on how the
    // symbols were found.
    const auto tie = [&](const Key& a, const Key& b) {
        return std::tie(symbols[a.index].text, a.index) < std::tie(symbols[b.index].text, b.index);
    };
    std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
        return a.y != b.y ? a.y < b.y : a.x != b.x ? a.x < b.x : tie(a, b);
    });
    // A row: the symbols whose centres lie below its topmost one's by at most half the lower
    // of their two heights, so labels side by side read left to right even when one sits a
    // little lower.
    for (auto row = keys.begin(); row != keys.end();) {
        auto end = row + 1;
        while (end != keys.end() && end->y - row->y <= 0.5 * std::min(row->height, end->height))
            ++end;
        std::sort(row, end, [&](const Key& a, const Key& b) {
            return a.x != b.x ? a.x < b.x : a.y != b.y ? a.y < b.y : tie(a, b);
        });
        row = end;
    }
    std::vector<Symbol> ordered;
    ordered.reserve(symbols.size());
    for (const Key& k : keys) ordered.push_back(std::move(symbols[k.index]));
    symbols = std::move(ordered);
}

}  // namespace scan39::reader
