#pragma once
// Pictures the product embeds, made at build time from code (the encoder and a tiny digit
// font), never stored as binary files in the repository.

#include <cstdint>
#include <span>
#include <string_view>

namespace scan39::samples {

// The control's designed default picture: 250 x 86 pixels, 24-bit bottom-up BMP of 64726
// bytes, Code 39 "1234567" with the digits printed below the bars.
std::span<const unsigned char> ControlDefaultPicture();

// The window's sample picture: 564 x 393 pixels, 24-bit BMP at 96 dpi, eight symbols in
// five bands, no human-readable text.
std::span<const unsigned char> FormSamplePicture();

// Where a symbol of the sample picture lies, in pixels (inclusive bounds of its bars).
struct SampleSymbol {
    int band;  // 1..5
    std::string_view text;
    int left, right, top, bottom;
};

// The eight symbols of FormSamplePicture(), band by band, left to right.
std::span<const SampleSymbol> FormSampleSymbols();

// The symbol of ControlDefaultPicture() (band 0): "1234567", columns 8..239, rows 6..70.
SampleSymbol ControlDefaultSymbol();

}  // namespace scan39::samples
