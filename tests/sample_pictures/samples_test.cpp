// Checks the embedded pictures as a reader of the files would see them: headers, colours,
// where every bar lies, and that each symbol decodes along a line a person would drag.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "scan39/samples.h"
#include "scan39/scan.h"

namespace {

using scan39::samples::SampleSymbol;

constexpr std::int32_t kWhite = 0xFFFFFF;
constexpr std::int32_t kRed = 255;

std::uint32_t Le(std::span<const unsigned char> b, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = v << 8 | b[at + static_cast<std::size_t>(i)];
    return v;
}

// A 24-bit BMP read back as colour values, top row first.
struct Picture {
    int width = 0, height = 0;
    std::vector<std::int32_t> colour;
    std::int32_t At(int x, int y) const { return colour[static_cast<std::size_t>(y * width + x)]; }
};

// Reads an uncompressed 24-bit bottom-up BMP with the given size and resolution; any other
// header, or padding that is not zero, fails the calling test.
Picture Read(std::span<const unsigned char> b, int width, int height, std::uint32_t ppm) {
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    const std::size_t size = 54 + stride * static_cast<std::size_t>(height);
    if (b.size() != size) {
        ADD_FAILURE() << "file of " << b.size() << " bytes, expected " << size;
        return {};
    }
    const std::tuple<std::size_t, int, std::uint32_t, const char*> fields[] = {
        {0, 2, 0x4D42, "BM"},         {2, 4, size, "file size"},
        {10, 4, 54, "data offset"},   {14, 4, 40, "info header size"},
        {18, 4, width, "width"},      {22, 4, height, "height, positive: bottom-up"},
        {26, 2, 1, "planes"},         {28, 2, 24, "bits per pixel"},
        {30, 4, 0, "compression"},    {34, 4, size - 54, "image size"},
        {38, 4, ppm, "x resolution"}, {42, 4, ppm, "y resolution"}};
    for (const auto& [at, bytes, expected, what] : fields)
        EXPECT_EQ(Le(b, at, bytes), expected) << what;

    Picture p{width, height, {}};
    for (int y = 0; y < height; ++y) {
        const std::size_t row = 54 + stride * static_cast<std::size_t>(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const std::size_t at = row + static_cast<std::size_t>(x) * 3;
            p.colour.push_back(b[at + 2] + 256 * b[at + 1] + 65536 * b[at]);
        }
        for (std::size_t pad = row + static_cast<std::size_t>(width) * 3; pad < row + stride; ++pad)
            EXPECT_EQ(b[pad], 0) << "padding of row " << y;
    }
    return p;
}

const Picture& Control() {
    static const Picture p = Read(scan39::samples::ControlDefaultPicture(), 250, 86, 3780);
    return p;
}
const Picture& Form() {
    static const Picture p = Read(scan39::samples::FormSamplePicture(), 564, 393, 3780);
    return p;
}

TEST(SamplePictures, AreBlackAndWhite24BitFilesAt96Dpi) {
    EXPECT_EQ(scan39::samples::ControlDefaultPicture().size(), 64726u);
    for (const Picture* p : {&Control(), &Form()}) {
        ASSERT_FALSE(p->colour.empty());
        EXPECT_TRUE(std::all_of(p->colour.begin(), p->colour.end(),
                                [](std::int32_t c) { return c == 0 || c == kWhite; }));
    }
}

struct SymbolCase {
    const char* name;
    const Picture& (*picture)();
    int index;  // into FormSampleSymbols(), -1 for the control's picture
    SampleSymbol where;
    int narrow, wideMin, wideMax;
    int boxLeft, boxRight;  // a drag box from the white margin to beyond the quiet zone
};

void PrintTo(const SymbolCase& c, std::ostream* os) {
    *os << c.name;
}

SampleSymbol Listed(const SymbolCase& c) {
    return c.index < 0 ? scan39::samples::ControlDefaultSymbol()
                       : scan39::samples::FormSampleSymbols()[static_cast<std::size_t>(c.index)];
}

class SampleSymbolTest : public testing::TestWithParam<SymbolCase> {};

TEST_P(SampleSymbolTest, BarsCoverExactlyTheirListedRowsAndColumns) {
    const auto& c = GetParam();
    const auto& p = c.picture();
    const auto& w = c.where;
    const auto listed = Listed(c);
    EXPECT_EQ(std::tie(listed.band, listed.left, listed.right, listed.top, listed.bottom),
              std::tie(w.band, w.left, w.right, w.top, w.bottom));
    EXPECT_EQ(listed.text, w.text);
    ASSERT_GT(p.width, w.right + 1);
    for (int y = w.top - 1; y <= w.bottom + 1; ++y) {
        const bool inside = y >= w.top && y <= w.bottom;
        EXPECT_EQ(p.At(w.left - 1, y), kWhite) << y;
        EXPECT_EQ(p.At(w.right + 1, y), kWhite) << y;
        EXPECT_EQ(p.At(w.left, y), inside ? 0 : kWhite) << y;
        EXPECT_EQ(p.At(w.right, y), inside ? 0 : kWhite) << y;
        for (int x = w.left; x <= w.right; ++x)
            ASSERT_EQ(p.At(x, y), inside ? p.At(x, w.top) : kWhite) << "at " << x << "," << y;
    }
}

TEST_P(SampleSymbolTest, ElementsAreNarrowOrWideAndGapsNoNarrower) {
    const auto& c = GetParam();
    const auto& p = c.picture();
    std::vector<int> runs{1};
    for (int x = c.where.left + 1; x <= c.where.right; ++x) {
        if (p.At(x, c.where.top) == p.At(x - 1, c.where.top)) {
            ++runs.back();
        } else {
            runs.push_back(1);
        }
    }
    ASSERT_EQ(runs.size(), 10 * (Listed(c).text.size() + 2) - 1);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (i % 10 == 9) {
            EXPECT_GE(runs[i], c.narrow) << "gap " << i;
        } else if (runs[i] != c.narrow) {
            EXPECT_TRUE(runs[i] >= c.wideMin && runs[i] <= c.wideMax) << i << ": " << runs[i];
        }
    }
}

TEST_P(SampleSymbolTest, DecodesAlongADragBoxAtTopMiddleAndBottomRows) {
    const auto& c = GetParam();
    const int width = c.picture().width;
    scan39::PatternTable table;
    scan39::BuildPatternTable(table);
    for (const int row : {c.where.top, (c.where.top + c.where.bottom) / 2, c.where.bottom}) {
        // The red box of a drag from pixel (boxLeft, row - 1) to (boxRight, row + 2).
        auto shown = c.picture().colour;
        const auto paint = [&](int x, int y) {
            shown[static_cast<std::size_t>(y * width + x)] = kRed;
        };
        for (int x = c.boxLeft; x <= c.boxRight; ++x) {
            paint(x, row - 1);
            paint(x, row + 2);
        }
        for (int y = row - 1; y <= row + 2; ++y) {
            paint(c.boxLeft, y);
            paint(c.boxRight, y);
        }

        scan39::PixelRowSource source;
        source.width = width;
        source.height = c.picture().height;
        source.row = [&](std::int32_t y) {
            return std::span<const std::int32_t>(shown).subspan(static_cast<std::size_t>(y * width),
                                                                static_cast<std::size_t>(width));
        };
        const scan39::ScanLine line{15 * c.boxLeft, 15 * c.boxRight, 15 * (row - 1)};
        std::string value = "unchanged";
        EXPECT_EQ(scan39::Scan(line, source, table, value), scan39::kScanDecoded) << row;
        EXPECT_EQ(value, Listed(c).text) << row;
    }
}

// Texts and places of the symbols. Band 1: 15 characters with a hyphen, 11 letters; band 4:
// letters, digits and two slashes; band 5: letters then three digits, 15 characters with a
// period. Boxes in bands with two symbols end or start in the white gap between them.
INSTANTIATE_TEST_SUITE_P(
    All, SampleSymbolTest,
    testing::Values(
        SymbolCase{"control", Control, -1, {0, "1234567", 8, 239, 6, 70}, 2, 4, 4, 2, 245},
        SymbolCase{"band1left", Form, 0, {1, "BARCODE-SCANNER", 16, 235, 15, 59}, 1, 2, 2, 6, 257},
        SymbolCase{"band1right", Form, 1, {1, "SYMBOLOGIES", 279, 446, 13, 51}, 1, 2, 2, 257, 456},
        SymbolCase{"band2left", Form, 2, {2, "1234567890", 14, 168, 82, 121}, 1, 2, 2, 4, 227},
        SymbolCase{"band2right", Form, 3, {2, "BARCODE39", 286, 427, 75, 117}, 1, 2, 2, 227, 437},
        SymbolCase{"band3", Form, 4, {3, "ABCDEFG", 13, 472, 136, 215}, 3, 7, 8, 3, 482},
        SymbolCase{"band4", Form, 5, {4, "ID/2024/05", 13, 539, 225, 323}, 3, 7, 7, 3, 549},
        SymbolCase{"band5left", Form, 6, {5, "PARTNUMBER042", 23, 216, 334, 380}, 1, 2, 2, 13, 251},
        SymbolCase{
            "band5right", Form, 7, {5, "SAMPLEIMAGE.BMP", 286, 505, 340, 378}, 1, 2, 2, 251, 515}),
    [](const auto& test) { return std::string(test.param.name); });

// Nothing is drawn outside the symbols and, on the control's picture, the digit rows.
TEST(SamplePictures, NothingDarkOutsideTheSymbols) {
    const auto inside = [](const SampleSymbol& s, int x, int y) {
        return x >= s.left && x <= s.right && y >= s.top && y <= s.bottom;
    };
    const auto symbols = scan39::samples::FormSampleSymbols();
    for (int y = 0; y < Form().height; ++y) {
        for (int x = 0; x < Form().width; ++x) {
            if (std::none_of(symbols.begin(), symbols.end(),
                             [&](const auto& s) { return inside(s, x, y); })) {
                ASSERT_EQ(Form().At(x, y), kWhite) << x << "," << y;
            }
        }
    }
    const auto symbol = scan39::samples::ControlDefaultSymbol();
    for (int y = 0; y < Control().height; ++y) {
        for (int x = 0; x < Control().width; ++x) {
            if (!inside(symbol, x, y) && (y < 72 || y > 80)) {
                ASSERT_EQ(Control().At(x, y), kWhite) << x << "," << y;
            }
        }
    }
}

TEST(SamplePictures, ControlDigitsAreSevenGlyphsCentredUnderTheBars) {
    const auto& p = Control();
    std::vector<bool> darkColumn(static_cast<std::size_t>(p.width));
    for (int y = 71; y <= 81; ++y) {
        bool any = false;
        for (int x = 0; x < p.width; ++x) {
            if (p.At(x, y) != 0) continue;
            any = true;
            darkColumn[static_cast<std::size_t>(x)] = true;
        }
        EXPECT_EQ(any, y >= 72 && y <= 80) << "row " << y;
    }
    std::vector<std::pair<int, int>> glyphs;  // first and last dark column of each glyph
    for (int x = 0; x < p.width; ++x) {
        if (!darkColumn[static_cast<std::size_t>(x)]) continue;
        if (glyphs.empty() || glyphs.back().second != x - 1) glyphs.push_back({x, x});
        glyphs.back().second = x;
    }
    ASSERT_EQ(glyphs.size(), 7u);
    EXPECT_LE(std::abs(glyphs.front().first + glyphs.back().second - (8 + 239)), 2);
}

}  // namespace
