#pragma once
// Pictures as the caller holds them: views of pixels the reader does not own, in the pixel
// formats it accepts, and how colour becomes the grey it reads. Plain C++20, no Qt.

#include <cstddef>
#include <cstdint>

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
