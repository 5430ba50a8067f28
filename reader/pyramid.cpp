#include "pyramid_p.h"

#include <cstring>

namespace scan39::reader::detail {
namespace {

// Two rows averaged over 2x2 pixels into `out`, `w` pixels of it. Four pixels at a time, from
// eight of each row in one 64-bit word: a 12 Mpx photo's first octave costs as much as the rest
// of its octaves together otherwise. Each 16-bit lane adds two neighbours of both rows (at most
// 4 x 255 + 2); the lanes' order follows the bytes' in either byte order, as the word is loaded
// and stored the same way.
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

GreyView Halve(const GreyView& picture, std::vector<std::uint8_t>& out) {
    const int w = picture.width / 2, h = picture.height / 2;
    out.resize(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* a = picture.data + 2 * y * picture.stride;
        HalveRows(a, a + picture.stride, &out[static_cast<std::size_t>(y) * w], w);
    }
    return {out.data(), w, h, w};
}

GreyView Quarter(const GreyView& picture, std::vector<std::uint8_t>& out) {
    const int half = picture.width / 2;
    const int w = half / 2, h = picture.height / 4;
    out.resize(static_cast<std::size_t>(w) * h);
    // The level between, two of its rows at a time: the same pixels as halving twice, without
    // writing the whole level between and reading it back.
    std::vector<std::uint8_t> upper(static_cast<std::size_t>(half) + 1),
        lower(static_cast<std::size_t>(half) + 1);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* a = picture.data + 4 * y * picture.stride;
        HalveRows(a, a + picture.stride, upper.data(), half);
        HalveRows(a + 2 * picture.stride, a + 3 * picture.stride, lower.data(), half);
        HalveRows(upper.data(), lower.data(), &out[static_cast<std::size_t>(y) * w], w);
    }
    return {out.data(), w, h, w};
}

const GreyView* Pyramid::Level(int k, int smallest) {
    if (k < 0) return nullptr;
    if (smallest < 1) smallest = 1;  // an empty level reads as one not made yet
    while (static_cast<int>(views_.size()) <= k) {
        views_.emplace_back();
        pixels_.emplace_back();
    }
    GreyView& v = views_[static_cast<std::size_t>(k)];
    if (v.data == nullptr) {
        // Two levels at a time where the one between is not at hand: a search that skips a
        // level never pays for it.
        const std::size_t i = static_cast<std::size_t>(k);
        if (k >= 2 && views_[i - 1].data == nullptr) {
            const GreyView* finer = Level(k - 2, smallest);
            if (finer == nullptr || finer->width / 4 < smallest || finer->height / 4 < smallest)
                return nullptr;
            v = Quarter(*finer, pixels_[i]);
        } else {
            const GreyView* finer = Level(k - 1, smallest);
            if (finer == nullptr || finer->width / 2 < smallest || finer->height / 2 < smallest)
                return nullptr;
            v = Halve(*finer, pixels_[i]);
        }
    }
    return v.width < smallest || v.height < smallest ? nullptr : &v;
}

}  // namespace scan39::reader::detail
