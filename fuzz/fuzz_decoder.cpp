// The decoder on arbitrary pictures, lines and run lists.
//
// Picture mode (first byte even): a small picture and a scan line. The fast row path must give
// exactly what the reference walk gives, one read per coordinate unit, over the same picture:
// the same run list, the same Scan result and the same value.
//   [1] units per pixel (odd, 1..15)  [2] width (0..255)  [3] height (0..3)
//   [4] where the coordinates lie: bits 0-1 x, bits 2-3 y (near 0, near either end of the
//       32-bit range)  [5..6] xa  [7..8] xb - xa  [9..10] ya (16-bit, little-endian, signed)
//   [11..] one grey level per pixel, row by row; missing pixels are white.
// Run mode (first byte odd): DecodeRuns on an arbitrary run list.
//   [1..4] runIndex (32-bit, little-endian)  then one byte per run, 0xFF followed by four
//   bytes giving any 32-bit length.
//
// With SCAN39_FUZZ_SEEDS=<dir> in the environment the target writes its seed corpus there
// and exits instead.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fuzz_support_p.h"
#include "scan39/encoder.h"
#include "scan39/pattern_table.h"
#include "scan39/scan.h"

namespace {

using namespace scan39;
using fuzz::Fail;

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

const PatternTable& Table() {
    static const PatternTable table = [] {
        PatternTable t;
        BuildPatternTable(t);
        return t;
    }();
    return table;
}

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::int16_t s16() { return static_cast<std::int16_t>(u8() | (u8() << 8)); }
    std::int32_t s32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= std::uint32_t{u8()} << (8 * i);
        return static_cast<std::int32_t>(v);
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

std::int32_t Clamp(std::int64_t v) {
    return static_cast<std::int32_t>(std::min<std::int64_t>(kMax, std::max<std::int64_t>(kMin, v)));
}

// Where a coordinate's 16-bit offset is counted from: lines near the ends of the 32-bit
// range exercise the overflow guards, the far outside of the picture and the last units.
std::int64_t Base(unsigned selector) {
    switch (selector & 3) {
        case 0:
            return 0;
        case 1:
            return std::int64_t{kMax} - 32767;
        case 2:
            return std::int64_t{kMin} + 32768;
        default:
            return -100000;
    }
}

// Nearest pixel by rounding x / u + 1/2 down, computed apart from the decoder's own mapping.
std::int64_t NearestPixel(std::int64_t unit, std::int64_t unitsPerPixel) {
    const std::int64_t num = 2 * unit + unitsPerPixel;
    const std::int64_t den = 2 * unitsPerPixel;
    return num >= 0 ? num / den : -((-num + den - 1) / den);
}

void CheckPicture(Input& in) {
    const std::int32_t units = 2 * (in.u8() % 8) + 1;
    const std::int32_t width = in.u8();
    const std::int32_t height = in.u8() % 4;
    const unsigned bases = in.u8();
    const std::int32_t xa = Clamp(Base(bases) + in.s16());
    const std::int32_t xb = Clamp(std::int64_t{xa} + in.s16());
    const std::int32_t ya = Clamp(Base(bases >> 2) + in.s16());
    std::vector<std::int32_t> pixels(static_cast<std::size_t>(width) * height, 0xFFFFFF);
    for (std::int32_t& p : pixels) {
        if (in.empty()) break;
        p = in.u8() * 0x010101;
    }

    PixelRowSource source;
    source.width = width;
    source.height = height;
    source.unitsPerPixel = units;
    source.row = [&](std::int32_t y) -> std::span<const std::int32_t> {
        if (y < 0 || y >= height) Fail("a row outside the picture was fetched");
        return std::span(pixels).subspan(static_cast<std::size_t>(y) * width, width);
    };
    const PixelReader reader = [&](std::int32_t x, std::int32_t y) -> std::optional<std::int32_t> {
        const std::int64_t col = NearestPixel(x, units);
        const std::int64_t row = NearestPixel(y, units);
        if (col < 0 || col >= width || row < 0 || row >= height) return -1;
        return pixels[static_cast<std::size_t>(row * width + col)];
    };

    const ScanLine line{xa, xb, ya};
    const bool walkable = xb > xa && xa <= kMax - kLineStartOffset && ya <= kMax - kLineRowOffset;
    if (walkable && SampleRow(line, source) != SampleLine(line, reader)) {
        Fail("the row path and the reference walk measure different runs");
    }
    std::string fast = "previous";
    std::string reference = fast;
    const std::int16_t fastResult = Scan(line, source, Table(), fast);
    const std::int16_t referenceResult = Scan(line, reader, Table(), reference);
    if (fastResult != referenceResult) Fail("Scan results differ");
    if (fast != reference) Fail("Scan values differ");
    if (fastResult != kScanDecoded && fastResult != kScanFailed) Fail("Scan result out of range");
}

void CheckRuns(Input& in) {
    RunList list;
    list.runIndex = in.s32();
    for (std::size_t i = 1; i < list.runs.size() && !in.empty(); ++i) {
        const std::uint8_t b = in.u8();
        list.runs[i] = b == 0xFF ? in.s32() : b;
    }
    const std::optional<std::string> text = DecodeRuns(list, Table());
    if (!text) return;

    const std::int32_t n = list.runIndex > 10 ? list.runIndex - 2 : list.runIndex;
    if (static_cast<std::int64_t>(text->size()) * 10 + 19 != n) {
        Fail("the text's length does not match the number of runs");
    }
    bool startStop = false;
    for (const char c : *text) {
        bool known = false;
        for (int r = 0; r < kFilledRows; ++r) known = known || Table()[r][kCharacterColumn][0] == c;
        if (!known) Fail("a character outside the table");
        startStop = startStop || c == '*';
    }
    if (startStop) return;
    // What the decoder read must encode back to runs that it reads the same way.
    std::vector<int> runs = encoder::Runs(*text, {1, 3, 1});
    RunList again;
    for (std::size_t i = 0; i < runs.size(); ++i) again.runs[i + 1] = runs[i];
    again.runs[runs.size() + 1] = 20;  // the quiet zone, stored when the dark tail began
    again.runIndex = static_cast<std::int32_t>(runs.size()) + 2;
    if (DecodeRuns(again, Table()) != text) Fail("the decoded text does not encode back");
}

void WriteSeed(const std::filesystem::path& dir, const std::string& name,
               const std::vector<std::uint8_t>& bytes) {
    fuzz::WriteSeed(dir, name,
                    std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void Put16(std::vector<std::uint8_t>& b, int v) {
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& b, std::int32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, static_cast<int>(static_cast<std::uint32_t>(v) >> 16));
}

// A picture holding `text` in row `row`, and a line across it from before its left edge to
// past its right edge.
std::vector<std::uint8_t> PictureSeed(const std::string& text, int unitsSelector, int row,
                                      encoder::Widths widths) {
    const std::vector<int> runs = encoder::Runs(text, widths);
    const std::vector<std::int32_t> values = encoder::Row(runs, 6, 8);
    const int units = 2 * unitsSelector + 1;
    const int width = static_cast<int>(values.size());
    if (width > 255) Fail("a seed picture is too wide");
    std::vector<std::uint8_t> b = {0, static_cast<std::uint8_t>(unitsSelector),
                                   static_cast<std::uint8_t>(width),
                                   static_cast<std::uint8_t>(row + 1), 0};
    const int xa = -kLineStartOffset;
    Put16(b, xa);
    Put16(b, width * units + units - xa);
    Put16(b, row * units - kLineRowOffset);
    for (int r = 0; r <= row; ++r) {
        for (const std::int32_t v : values) {
            b.push_back(r == row && v == 0 ? 0 : 255);
        }
    }
    return b;
}

std::vector<std::uint8_t> RunSeed(const std::string& text) {
    std::vector<int> runs = encoder::Runs(text, {2, 5, 2});
    runs.push_back(30);
    std::vector<std::uint8_t> b = {1};
    Put32(b, static_cast<std::int32_t>(runs.size()) + 1);
    for (const int r : runs) b.push_back(static_cast<std::uint8_t>(r));
    return b;
}

void WriteSeeds(const std::filesystem::path& dir) {
    WriteSeed(dir, "pixels_ab", PictureSeed("AB", 0, 0, {1, 2, 1}));
    WriteSeed(dir, "twips_12", PictureSeed("12", 7, 2, {1, 3, 1}));
    WriteSeed(dir, "units5_x", PictureSeed("X-$", 2, 1, {2, 5, 2}));
    std::vector<std::uint8_t> far = PictureSeed("7", 7, 0, {1, 2, 1});
    far[4] = 0x5;  // both coordinates near the top of the 32-bit range
    WriteSeed(dir, "far", far);
    WriteSeed(dir, "runs_code39", RunSeed("CODE39"));
    WriteSeed(dir, "runs_all", RunSeed(std::string(encoder::kAlphabet)));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::WriteSeedsIfAsked(WriteSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    if (in.u8() % 2 == 0) {
        CheckPicture(in);
    } else {
        CheckRuns(in);
    }
    return 0;
}
