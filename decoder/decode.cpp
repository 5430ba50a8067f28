#include <algorithm>
#include <limits>
#include <string_view>

#include "scan39/scan.h"

namespace scan39 {
namespace {

constexpr int kGroupLength = 9;                        // elements of one character
constexpr int kBlockLength = 10;                       // a character and the gap after it
constexpr int kSmallestSymbol = 2 * kGroupLength + 1;  // start, gap, stop

// len / 10 rounded to the nearest integer, halves to the even neighbour.
std::int32_t RoundHalfEvenTenth(std::int32_t len) {
    std::int32_t q = len / kBlockLength;
    const std::int32_t twiceRemainder = 2 * (len % kBlockLength);
    if (twiceRemainder > kBlockLength || (twiceRemainder == kBlockLength && q % 2 != 0)) ++q;
    return q;
}

// The narrow/wide digits of RunList(1..n): odd indices are bars, even ones spaces.
std::string ElementString(const RunList& list, std::int32_t n, std::int32_t narrowest) {
    std::string digits;
    digits.reserve(static_cast<std::size_t>(n));
    for (std::int32_t i = 1; i <= n; ++i) {
        const double ratio = static_cast<double>(list.runs[static_cast<std::size_t>(i)]) /
                             static_cast<double>(narrowest);
        const bool wide = ratio >= kWideRatio;
        const bool bar = i % 2 != 0;
        digits.push_back(bar ? (wide ? '6' : '5') : (wide ? '1' : '0'));
    }
    return digits;
}

bool ValidLine(const ScanLine& line) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    return line.xa <= kMax - kLineStartOffset && line.ya <= kMax - kLineRowOffset;
}

template <typename Sample>
std::int16_t ScanWith(const ScanLine& line, std::string& value, const PatternTable& table,
                      Sample sample) noexcept {
    try {
        if (line.xb <= line.xa) {
            value.clear();
            return kScanFailed;
        }
        // Offsets that leave the 32-bit range name no line at all.
        if (!ValidLine(line)) return kScanFailed;
        std::optional<std::string> text = DecodeRuns(sample(), table);
        if (!text) return kScanFailed;
        value = std::move(*text);
        return kScanDecoded;
    } catch (...) {
        // Scan reports only through its result; whatever went wrong leaves value as it was.
        return kScanFailed;
    }
}

}  // namespace

std::optional<std::string> DecodeRuns(const RunList& list, const PatternTable& table) {
    // The last stored run is the trailing quiet zone and the unstored one the dark end of the
    // line; neither belongs to the symbol.
    std::int32_t n = list.runIndex;
    if (n > kBlockLength) n -= 2;
    if (n % kBlockLength != kGroupLength) return std::nullopt;
    // Nine runs are a lone start/stop character at best, which holds no text; runs past the
    // list's end were never kept.
    if (n < kSmallestSymbol || n > kRunListSize) return std::nullopt;

    std::int32_t narrowest = list.runs[1];
    for (std::int32_t i = 2; i <= n; ++i) {
        narrowest = std::min(narrowest, list.runs[static_cast<std::size_t>(i)]);
    }
    if (narrowest < 1) return std::nullopt;  // not a measured line

    const std::string digits = ElementString(list, n, narrowest);
    const std::string_view all = digits;
    const std::string_view startStop = table[kStartStopRow][kElementsColumn];
    if (all.substr(0, kGroupLength) != startStop ||
        all.substr(all.size() - kGroupLength) != startStop) {
        return std::nullopt;
    }

    // Drop the start character and its gap, and the stop character; the gap before the stop
    // stays as the last digit of the data part.
    const std::string_view data = all.substr(kBlockLength, all.size() - kSmallestSymbol);
    const std::int32_t count = RoundHalfEvenTenth(static_cast<std::int32_t>(data.size()));
    std::string text;
    text.reserve(static_cast<std::size_t>(count));
    for (std::int32_t g = 0; g < count; ++g) {
        const std::string_view group =
            data.substr(static_cast<std::size_t>(g) * kBlockLength, kGroupLength);
        int row = 0;
        while (row < kFilledRows && table[row][kElementsColumn] != group) ++row;
        // A damaged character must not vanish from the text unnoticed.
        if (row == kFilledRows) return std::nullopt;
        // The start/stop character is never data: inside the data part it means the line
        // crossed two symbols, and their texts run together belong to neither.
        if (row == kStartStopRow) return std::nullopt;
        text += table[row][kCharacterColumn];
    }
    return text;
}

std::int16_t Scan(const ScanLine& line, const PixelReader& read, const PatternTable& table,
                  std::string& value) {
    return ScanWith(line, value, table, [&] { return SampleLine(line, read); });
}

std::int16_t Scan(const ScanLine& line, const PixelRowSource& source, const PatternTable& table,
                  std::string& value) {
    return ScanWith(line, value, table, [&] { return SampleRow(line, source); });
}

}  // namespace scan39
