#include "pyramid_p.h"

#include <cstring>

namespace scan39::reader::detail {
namespace {

// Two rows averaged over 2x2 pixels into `out`, `w` pixels of it. Four pixels at a time, from
// eight of each row in one 64-bit word: the first octave of a 12 Mpx photo is most of the
// pyramid's cost. Each 16-bit lane adds two neighbours of both rows (at most 4 x 255 + 2); the
// lanes' order follows the bytes' in either byte order, as the word is loaded and stored the
// same way.
void HalveRows(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int w) {
    constexpr std::uint64_t kLow = 0x00FF00FF00FF00FFull;
    constexpr std::uint64_t kRound = 0x0002000200020002ull;
    const int wide = w / 4 * 4;
    for (int x = 0; x < wide; x += 4) {
        std::uint64_t top, bottom;
        std::memcpy(&top, a + 2 * x, 8);
        std::memcpy(&bottom, b + 2 * x, 8);
        const std::uint64_t sums =
            (top & kLow) + ((top >> 8) & kLow) + (bottom & kLow) + ((bottom >> 8) & kLow) + kRound;
        const std::uint64_t means = (sums >> 2) & kLow;
        const std::uint64_t packed = means | (means >> 8);  // lanes 0-1, 2-3 side by side
        const auto four =
            static_cast<std::uint32_t>((packed & 0xFFFF) | ((packed >> 16) & 0xFFFF0000));
        std::memcpy(out + x, &four, 4);
    }
    for (int x = wide; x < w; ++x)
        out[x] =
            static_cast<std::uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) / 4);
}

}  // namespace

GreyView Halve(const GreyView& picture, BigArray<std::uint8_t>& out) {
    const int w = picture.width / 2, h = picture.height / 2;
    out = BigArray<std::uint8_t>(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* a = picture.data + 2 * y * picture.stride;
        HalveRows(a, a + picture.stride, &out[static_cast<std::size_t>(y) * w], w);
    }
    return {out.data(), w, h, w};
}

const GreyView* Pyramid::Level(int k, int smallest) {
    while (static_cast<int>(views_.size()) <= k) {
        const GreyView& last = views_.back();
        if (last.width / 2 < smallest || last.height / 2 < smallest) return nullptr;
        pixels_.emplace_back();
        views_.push_back(Halve(last, pixels_.back()));
    }
    const GreyView& v = views_[static_cast<std::size_t>(k)];
    return v.width < smallest || v.height < smallest ? nullptr : &v;
}

}  // namespace scan39::reader::detail
