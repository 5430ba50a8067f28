// Pictures in other pixel formats turned into the grey the reader works on: once per picture,
// in a tight loop per format that the compiler vectorises (no call per pixel).

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "scan39/reader.h"

namespace scan39::reader {

namespace {

// One row of pixels of N bytes whose bytes R, G, B and A hold red, green, blue and alpha
// (A -1: none).
template <int N, int R, int G, int B, int A>
void ConvertRow(const std::uint8_t* __restrict p, std::uint8_t* __restrict o, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x) {
        std::uint32_t r = p[N * x + R], g = p[N * x + G], b = p[N * x + B];
        if constexpr (A >= 0) {
            // OverWhite() without its division: for w = c a + 255 (255 - a) + 128, at most
            // 65153, (w + w / 256) / 256 is what it divides by 255.
            const std::uint32_t a = p[N * x + A], white = 255 * (255 - a) + 128;
            const auto over = [&](std::uint32_t c) {
                const std::uint32_t v = c * a + white;
                return (v + (v >> 8)) >> 8;
            };
            r = over(r);
            g = over(g);
            b = over(b);
        }
        // Grey() with the division as a multiplication and a shift, equal for every r, g, b:
        // (78381 r + 153878 g + 29884 b + 131330) >> 18, the factors split into shifts and
        // 16-bit ones so that vectors multiply 16-bit lanes.
        const std::uint16_t r16 = static_cast<std::uint16_t>(r),
                            g16 = static_cast<std::uint16_t>(g),
                            b16 = static_cast<std::uint16_t>(b);
        const std::uint32_t sum = (r << 16) + (g << 17) + std::uint32_t{r16} * 12845u +
                                  std::uint32_t{g16} * 22806u + std::uint32_t{b16} * 29884u +
                                  131330u;
        o[x] = static_cast<std::uint8_t>(sum >> 18);
    }
}

template <int N, int A>
bool Opaque(const std::uint8_t* p, std::size_t width) {
    std::uint8_t all = 255;
    for (std::size_t x = 0; x < width; ++x) all &= p[N * x + A];
    return all == 255;
}

template <int N, int R, int G, int B, int A>
void ConvertRows(const ImageView& v, std::uint8_t* out) {
    const std::size_t width = static_cast<std::size_t>(v.width);
    for (int y = 0; y < v.height; ++y) {
        const std::uint8_t* p = v.data + y * v.stride;
        std::uint8_t* o = out + y * width;
        // Most pictures have no transparency, or only in places: opaque rows skip the alpha.
        if constexpr (A >= 0) {
            if (!Opaque<N, A>(p, width)) {
                ConvertRow<N, R, G, B, A>(p, o, width);
                continue;
            }
        }
        ConvertRow<N, R, G, B, -1>(p, o, width);
    }
}

void Convert(const ImageView& v, std::uint8_t* out) {
    constexpr bool kLittle = std::endian::native == std::endian::little;
    switch (v.format) {
        case PixelFormat::kGrey:
            break;  // never converted
        case PixelFormat::kRgb:
            ConvertRows<3, 0, 1, 2, -1>(v, out);
            break;
        case PixelFormat::kRgba:
            ConvertRows<4, 0, 1, 2, 3>(v, out);
            break;
        case PixelFormat::kBgra:
            ConvertRows<4, 2, 1, 0, 3>(v, out);
            break;
        case PixelFormat::kArgb32:
            if constexpr (kLittle) {
                ConvertRows<4, 2, 1, 0, 3>(v, out);
            } else {
                ConvertRows<4, 1, 2, 3, 0>(v, out);
            }
            break;
    }
}

// Throws for a view that is not well formed; false for a picture without pixels.
bool Check(const ImageView& picture) {
    const int bytes = BytesPerPixel(picture.format);
    if (bytes == 0) throw std::invalid_argument("unknown pixel format");
    if (picture.width < 0 || picture.height < 0)
        throw std::invalid_argument("picture size is negative");
    if (picture.width == 0 || picture.height == 0) return false;
    if (picture.data == nullptr) throw std::invalid_argument("picture has no pixels");
    if (picture.stride < static_cast<std::ptrdiff_t>(picture.width) * bytes)
        throw std::invalid_argument("row stride below width");
    return true;
}

}  // namespace

void ToGrey(const ImageView& picture, std::uint8_t* out) {
    if (!Check(picture)) return;
    if (picture.format != PixelFormat::kGrey) {
        Convert(picture, out);
        return;
    }
    for (int y = 0; y < picture.height; ++y)
        std::memcpy(out + static_cast<std::size_t>(y) * picture.width,
                    picture.data + y * picture.stride, static_cast<std::size_t>(picture.width));
}

GreyImage::GreyImage(const ImageView& picture) {
    if (!Check(picture) || picture.format == PixelFormat::kGrey) {
        view_ = {picture.data, picture.width, picture.height, picture.stride};
        return;
    }
    pixels_.resize(static_cast<std::size_t>(picture.width) *
                   static_cast<std::size_t>(picture.height));
    Convert(picture, pixels_.data());
    view_ = {pixels_.data(), picture.width, picture.height, picture.width};
}

}  // namespace scan39::reader
