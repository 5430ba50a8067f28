#pragma once
// Finding and reading every Code 39 symbol in a grey picture, with no selection box: any
// position, rotation and reading direction, and pictures as cameras take them (blur, tilt,
// uneven light, low contrast, noise, damage). Plain C++20, no Qt.
//
// The reader reports a text only when independent scan lines across the symbol agree on it;
// it would rather report nothing than a text that is not in the picture.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace scan39::reader {

// How the pixels of an ImageView lie in memory. Colour is 8 bits a channel; alpha is straight
// (not premultiplied).
enum class PixelFormat {
    kGrey,    // 1 byte: grey, 0 black
    kRgb,     // 3 bytes: R, G, B
    kRgba,    // 4 bytes: R, G, B, A (a browser canvas's pixels, PIL's RGBA)
    kBgra,    // 4 bytes: B, G, R, A
    kArgb32,  // a 32-bit word 0xAARRGGBB in the machine's byte order (QImage's RGB32 and ARGB32)
};

// Bytes of one pixel of `format`; 0 for a value that is not a PixelFormat.
constexpr int BytesPerPixel(PixelFormat format) {
    switch (format) {
        case PixelFormat::kGrey:
            return 1;
        case PixelFormat::kRgb:
            return 3;
        case PixelFormat::kRgba:
        case PixelFormat::kBgra:
        case PixelFormat::kArgb32:
            return 4;
    }
    return 0;
}

// An 8-bit grey picture that the caller owns: `height` rows of `width` pixels, row y starting
// at data + y * stride (stride >= width). 0 is black, 255 white.
struct GreyView {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
};

// A picture that the caller owns, in any of the pixel formats: `height` rows of `width` pixels,
// row y starting at data + y * stride bytes (stride >= width * BytesPerPixel(format)). The
// reader sees it as grey: transparent pixels are put over white first (a page or a label shows
// through as paper), then colour becomes Grey() below.
struct ImageView {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;  // in bytes
    PixelFormat format = PixelFormat::kGrey;

    constexpr ImageView() = default;
    constexpr ImageView(const std::uint8_t* pixels, int w, int h, std::ptrdiff_t rowStride,
                        PixelFormat pixelFormat = PixelFormat::kGrey)
        : data(pixels), width(w), height(h), stride(rowStride), format(pixelFormat) {}
    // Implicit: every call that takes a grey picture goes on taking one.
    constexpr ImageView(const GreyView& grey)
        : ImageView(grey.data, grey.width, grey.height, grey.stride) {}
};

// Writes the picture's grey levels as the reader sees them to `out`: width * height bytes, rows
// `width` apart (for a caller that owns the buffer). Throws std::invalid_argument as GreyImage.
void ToGrey(const ImageView& picture, std::uint8_t* out);

// An ImageView as the reader works on it: the caller's pixels in place when they are grey
// already, else converted once. For reading and grading one colour picture with a single
// conversion. Throws std::invalid_argument for a view that is not well formed (as Read does)
// and std::bad_alloc when the grey copy does not fit.
class GreyImage {
  public:
    explicit GreyImage(const ImageView& picture);
    GreyImage(const GreyImage&) = delete;
    GreyImage& operator=(const GreyImage&) = delete;
    GreyImage(GreyImage&&) = default;  // the view points into the moved buffer, which moves
    GreyImage& operator=(GreyImage&&) = default;

    const GreyView& view() const { return view_; }

  private:
    std::vector<std::uint8_t> pixels_;
    GreyView view_;
};

enum class CheckCharacter {
    kOff,       // every character is data
    kRequired,  // the last character is a mod 43 check: a symbol that fails it is not reported,
                // and the check character is stripped from the text
};

enum class Effort {
    kFast,      // a coarse search: upright and clean pictures, batch work
    kThorough,  // every angle, dense scan lines, vote across lines (the default)
};

enum class Polarity {
    kDarkBars,   // dark bars on a light ground (ink on paper)
    kLightBars,  // light bars on a dark ground (printed reversed, laser-marked metal)
    kBoth,       // either (the default)
};

struct ReadOptions {
    CheckCharacter checkCharacter = CheckCharacter::kOff;
    // Full ASCII: "$A".."$Z", "%A".."%Z", "/A".."/Z", "+A".."+Z" become the ASCII characters of
    // the standard table; a pair outside it makes the symbol unreadable.
    bool fullAscii = false;
    Effort effort = Effort::kThorough;
    Polarity polarity = Polarity::kBoth;
};

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

enum class CheckState {
    kNotChecked,  // no check character was asked for
    kVerified,    // the mod 43 check character matched and was stripped from the text
};

struct Symbol {
    std::string text;  // after full-ASCII translation and check-character stripping
    // Corners in picture pixels, in reading order: the start of the symbol on its top side,
    // the end on its top side, the end on its bottom side, the start on its bottom side
    // ("top" is to the left of the reading direction).
    std::array<Point, 4> corners{};
    // Reading direction in degrees, [0, 360): 0 reads left to right, 90 top to bottom (picture
    // coordinates, y down), 180 right to left.
    double angle = 0;
    int lines = 0;  // independent scan lines that agreed on the text
    CheckState check = CheckState::kNotChecked;
};

// Every Code 39 symbol in the picture, each once, in reading order (SortInReadingOrder). An
// empty picture (width or height 0) holds none. A colour picture is converted to grey for the
// read (see GreyImage to convert once for several calls). Throws std::invalid_argument for a
// view that is not well formed (null data with a non-zero size, negative sizes, stride below
// the width's bytes, an unknown format); never throws for the picture's contents.
std::vector<Symbol> Read(const ImageView& picture, const ReadOptions& options = {});

// Read's symbols, and whether the picture was searched whole. `truncated` is true only for a
// picture beyond any real sheet (tens of thousands of bar-like regions, or so much bar-like
// clutter that the effort's work bound ran out before every region had its first lines):
// symbols may then be missing.
struct ReadResult {
    std::vector<Symbol> symbols;
    bool truncated = false;
};

// Read, telling also whether the search was cut short.
ReadResult ReadAll(const ImageView& picture, const ReadOptions& options = {});

// Reading order, by each symbol's centre (the mean of its corners): rows from top to bottom,
// left to right within a row. A row is the symbols whose centres lie at most half a height
// below its topmost one's (the lower of the two symbols' heights, each the vertical extent of
// its corners), so labels side by side read left to right even when one sits a little lower.
// Symbols with the same centre go by text. Read and ReadAll return their symbols so ordered.
void SortInReadingOrder(std::vector<Symbol>& symbols);

// The grey level of an RGB pixel as the reader sees it (ITU-R BT.601 luma, rounded), so that
// every caller converts colour pictures alike.
constexpr std::uint8_t Grey(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return static_cast<std::uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}

// A colour channel of a pixel of straight alpha `a` put over white, rounded as the desktop
// loader does: what transparent parts of a picture become wherever it is read.
constexpr std::uint8_t OverWhite(std::uint8_t c, std::uint8_t a) {
    return static_cast<std::uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

}  // namespace scan39::reader
