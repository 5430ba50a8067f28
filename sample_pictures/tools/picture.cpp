#include "picture_p.h"

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>

namespace scan39::samples::tools {
namespace {

// 5 x 9 digit glyphs, '#' dark. Every glyph touches its top and bottom rows, so printed
// digits fill exactly kGlyphHeight rows.
constexpr std::array<std::array<std::string_view, kGlyphHeight>, 10> kDigitFont{{
    {".###.", "#...#", "#...#", "#..##", "#.#.#", "##..#", "#...#", "#...#", ".###."},
    {"..#..", ".##..", "#.#..", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"},
    {".###.", "#...#", "....#", "....#", "...#.", "..#..", ".#...", "#....", "#####"},
    {".###.", "#...#", "....#", "....#", "..##.", "....#", "....#", "#...#", ".###."},
    {"...#.", "..##.", ".#.#.", "#..#.", "#..#.", "#####", "...#.", "...#.", "...#."},
    {"#####", "#....", "#....", "####.", "....#", "....#", "....#", "#...#", ".###."},
    {"..##.", ".#...", "#....", "#....", "####.", "#...#", "#...#", "#...#", ".###."},
    {"#####", "....#", "....#", "...#.", "...#.", "..#..", "..#..", ".#...", ".#..."},
    {".###.", "#...#", "#...#", "#...#", ".###.", "#...#", "#...#", "#...#", ".###."},
    {".###.", "#...#", "#...#", "#...#", ".####", "....#", "....#", "...#.", ".##.."},
}};

void PutLe16(std::vector<unsigned char>& out, std::uint32_t v) {
    out.push_back(static_cast<unsigned char>(v & 0xFF));
    out.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}

void PutLe32(std::vector<unsigned char>& out, std::uint32_t v) {
    PutLe16(out, v & 0xFFFF);
    PutLe16(out, v >> 16);
}

int ElementWidth(const detail::SymbolLayout& layout, const encoder::Element& e) {
    if (!e.wide) return layout.narrow;
    return e.bar ? layout.wideBar : layout.wideSpace;
}

}  // namespace

Bitmap::Bitmap(int width, int height) : width_(width), height_(height) {
    if (width <= 0 || height <= 0) throw std::invalid_argument("bitmap size must be positive");
    dark_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
}

bool Bitmap::IsDark(int x, int y) const {
    if (x < 0 || x >= width_ || y < 0 || y >= height_) return false;
    return dark_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                 static_cast<std::size_t>(x)] != 0;
}

void Bitmap::FillDark(int x0, int x1, int y0, int y1) {
    if (x0 < 0 || x1 >= width_ || x0 > x1 || y0 < 0 || y1 >= height_ || y0 > y1) {
        throw std::out_of_range("rectangle " + std::to_string(x0) + ".." + std::to_string(x1) +
                                " x " + std::to_string(y0) + ".." + std::to_string(y1) +
                                " outside the bitmap");
    }
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            dark_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                  static_cast<std::size_t>(x)] = 1;
        }
    }
}

std::vector<unsigned char> Bitmap::ToBmp(int pixelsPerMetre) const {
    constexpr std::uint32_t kHeaderSize = 14 + 40;
    const auto stride = (static_cast<std::uint32_t>(width_) * 3 + 3) / 4 * 4;
    const auto imageSize = stride * static_cast<std::uint32_t>(height_);

    std::vector<unsigned char> out;
    out.reserve(kHeaderSize + imageSize);
    out.push_back('B');
    out.push_back('M');
    PutLe32(out, kHeaderSize + imageSize);
    PutLe32(out, 0);  // reserved
    PutLe32(out, kHeaderSize);
    PutLe32(out, 40);  // BITMAPINFOHEADER
    PutLe32(out, static_cast<std::uint32_t>(width_));
    PutLe32(out, static_cast<std::uint32_t>(height_));  // positive: bottom-up
    PutLe16(out, 1);                                    // planes
    PutLe16(out, 24);                                   // bits per pixel
    PutLe32(out, 0);                                    // uncompressed
    PutLe32(out, imageSize);
    PutLe32(out, static_cast<std::uint32_t>(pixelsPerMetre));
    PutLe32(out, static_cast<std::uint32_t>(pixelsPerMetre));
    PutLe32(out, 0);  // colours used
    PutLe32(out, 0);  // important colours

    for (int y = height_ - 1; y >= 0; --y) {
        for (int x = 0; x < width_; ++x) {
            const unsigned char level = IsDark(x, y) ? 0 : 255;
            out.insert(out.end(), 3, level);  // blue, green, red
        }
        out.insert(out.end(), stride - static_cast<std::uint32_t>(width_) * 3, 0);
    }
    return out;
}

std::vector<int> GapWidths(const detail::SymbolLayout& layout,
                           const std::vector<encoder::Element>& elements) {
    int drawn = 0;
    int gaps = 0;
    for (const auto& e : elements) {
        if (e.gap) {
            ++gaps;
        } else {
            drawn += ElementWidth(layout, e);
        }
    }
    const auto& where = layout.where;
    const std::string name(where.text);
    const int spare = where.right - where.left + 1 - drawn;
    if (gaps == 0) {
        if (spare != 0) throw std::invalid_argument(name + ": no gaps to fill the columns");
        return {};
    }
    const int base = spare / gaps;
    const int extra = spare % gaps;
    if (spare < 0 || base < layout.narrow) {
        throw std::invalid_argument(name + ": does not fit columns " + std::to_string(where.left) +
                                    ".." + std::to_string(where.right));
    }
    std::vector<int> widths;
    widths.reserve(static_cast<std::size_t>(gaps));
    for (int i = 0; i < gaps; ++i) {
        // Spread the leftover pixels evenly instead of piling them up at one end.
        widths.push_back(base + (i + 1) * extra / gaps - i * extra / gaps);
    }
    return widths;
}

void DrawSymbol(Bitmap& bitmap, const detail::SymbolLayout& layout) {
    const auto elements = encoder::Elements(layout.where.text);
    const auto gaps = GapWidths(layout, elements);
    int x = layout.where.left;
    std::size_t gap = 0;
    for (const auto& e : elements) {
        const int width = e.gap ? gaps[gap++] : ElementWidth(layout, e);
        if (e.bar) bitmap.FillDark(x, x + width - 1, layout.where.top, layout.where.bottom);
        x += width;
    }
    if (x != layout.where.right + 1) {
        throw std::logic_error(std::string(layout.where.text) + ": ends at the wrong column");
    }
}

void DrawDigits(Bitmap& bitmap, std::string_view digits, int left, int right, int top) {
    if (digits.empty()) return;
    const int count = static_cast<int>(digits.size());
    const int width = count * kGlyphWidth + (count - 1) * kGlyphSpacing;
    int x = left + (right - left + 1 - width) / 2;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            throw std::invalid_argument("the digit font has no glyph for " + std::string(1, c));
        const auto& glyph = kDigitFont[static_cast<std::size_t>(c - '0')];
        for (int row = 0; row < kGlyphHeight; ++row) {
            for (int col = 0; col < kGlyphWidth; ++col) {
                if (glyph[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] == '#') {
                    bitmap.FillDark(x + col, x + col, top + row, top + row);
                }
            }
        }
        x += kGlyphWidth + kGlyphSpacing;
    }
}

}  // namespace scan39::samples::tools
