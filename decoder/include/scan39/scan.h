#pragma once
// Reading one Code 39 symbol along a horizontal scan line.
//
// Phase one walks the line one coordinate unit at a time and measures dark/light runs;
// phase two classifies the runs as narrow/wide and looks the characters up.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "scan39/pattern_table.h"

namespace scan39 {

// Colour value: red + 256*green + 65536*blue; -1 for a point outside the picture.
inline constexpr std::int32_t kDarkThreshold = 14474460;  // 0xDCDCDC
inline constexpr double kWideRatio = 1.95;
inline constexpr int kRunListSize = 5000;

// Offsets of the sampled line inside the selection box, in coordinate units.
inline constexpr std::int32_t kLineStartOffset = 10;
inline constexpr std::int32_t kLineRowOffset = 20;

constexpr bool IsDark(std::int32_t colour) {
    return colour < kDarkThreshold;
}

// Scan results: 0 decoded, 1 not decoded.
inline constexpr std::int16_t kScanDecoded = 0;
inline constexpr std::int16_t kScanFailed = 1;

struct ScanLine {
    std::int32_t xa = 0;  // first corner x; sampling starts at xa + 10
    std::int32_t xb = 0;  // second corner x; the last sample is at xb
    std::int32_t ya = 0;  // first corner y; the sampled row is ya + 20
};

// Runs measured along the line. runs[i] for i in 1..kRunListSize (index 0 unused) holds
// completed run lengths; odd indices are bars, even indices spaces. runIndex is 0 when no
// dark sample was seen, otherwise one past the last stored run.
struct RunList {
    std::array<std::int32_t, kRunListSize + 1> runs{};
    std::int32_t runIndex = 0;
    bool operator==(const RunList&) const = default;
};

// Reads the colour value at (x, y); std::nullopt when the read fails.
using PixelReader = std::function<std::optional<std::int32_t>(std::int32_t x, std::int32_t y)>;

// A row of the shown picture for the fast path: colour values of pixel columns 0..width-1
// of pixel row `y` of a picture `height` pixels high. Coordinate units map to the nearest
// pixel at `unitsPerPixel` units per pixel (odd, so integers never tie).
struct PixelRowSource {
    // Returns the colour values of pixel row y (0 <= y < height), width entries.
    std::function<std::span<const std::int32_t>(std::int32_t y)> row;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t unitsPerPixel = 15;
};

// The pixel column (or row) that coordinate `unit` falls on: the nearest one, at
// `unitsPerPixel` (odd, >= 1) units per pixel, so pixel p covers the units around p *
// unitsPerPixel.
constexpr std::int64_t UnitToPixel(std::int64_t unit, std::int32_t unitsPerPixel) {
    const std::int64_t u = unitsPerPixel;
    const std::int64_t shifted = unit + (u - 1) / 2;
    // Floor division: units left of pixel 0 belong to negative pixels, not to pixel 0.
    return shifted >= 0 ? shifted / u : -((-shifted + u - 1) / u);
}

// Phase one, reference walk: one read per coordinate unit. The line must already have
// passed the checks of Scan (xb > xa, no overflow of the offsets); throws std::out_of_range
// when ya + 20 overflows. A read that fails takes the previous sample's value (0 for the
// first), a run that would outgrow 32 bits stays at the largest length.
RunList SampleLine(const ScanLine& line, const PixelReader& read);

// Phase one, fast path: same RunList as SampleLine over a reader of the same picture,
// with work proportional to pixels rather than coordinate units. Throws
// std::invalid_argument when unitsPerPixel is even or < 1, width or height is negative, or a row
// holds fewer than width values; std::out_of_range when ya + 20 overflows.
RunList SampleRow(const ScanLine& line, const PixelRowSource& source);

// Phase two: the decoded text, or std::nullopt when the runs hold no symbol.
std::optional<std::string> DecodeRuns(const RunList& runs, const PatternTable& table);

// Both phases. Returns kScanDecoded with `value` set to the text, or kScanFailed: `value`
// becomes empty when xb <= xa and stays as it was on every other failure. Never throws.
std::int16_t Scan(const ScanLine& line, const PixelReader& read, const PatternTable& table,
                  std::string& value);
std::int16_t Scan(const ScanLine& line, const PixelRowSource& source, const PatternTable& table,
                  std::string& value);

}  // namespace scan39
