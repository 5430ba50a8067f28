#pragma once
// Drawing for the build-time picture generator: a black-and-white raster, Code 39 symbols
// drawn from the encoder's elements, a small digit font, and the 24-bit BMP file form.

#include <cstdint>
#include <string_view>
#include <vector>

#include "../layout_p.h"
#include "scan39/encoder.h"

namespace scan39::samples::tools {

class Bitmap {
  public:
    Bitmap(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    bool IsDark(int x, int y) const;
    // Darkens columns x0..x1 of rows y0..y1, inclusive; throws std::out_of_range when the
    // rectangle does not lie inside the bitmap.
    void FillDark(int x0, int x1, int y0, int y1);

    // Uncompressed 24-bit bottom-up BMP: black (0,0,0) for dark, white (255,255,255) else.
    std::vector<unsigned char> ToBmp(int pixelsPerMetre) const;

  private:
    int width_;
    int height_;
    std::vector<std::uint8_t> dark_;
};

// Widths of the inter-character gaps that make the symbol span its columns exactly, spread
// as evenly as whole pixels allow. Throws std::invalid_argument when the symbol cannot fit
// (its gaps would come out narrower than its narrow elements, or it is too wide).
std::vector<int> GapWidths(const detail::SymbolLayout& layout,
                           const std::vector<encoder::Element>& elements);

// Draws the bars of the symbol over its rows and columns.
void DrawSymbol(Bitmap& bitmap, const detail::SymbolLayout& layout);

// Prints decimal digits with the 5 x 9 font, `top` being the first row of the glyphs, the
// text centred between columns `left` and `right`. Throws for anything but a digit.
void DrawDigits(Bitmap& bitmap, std::string_view digits, int left, int right, int top);

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 9;
inline constexpr int kGlyphSpacing = 4;

}  // namespace scan39::samples::tools
