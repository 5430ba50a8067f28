#include "pyramid_p.h"

namespace scan39::reader::detail {

GreyView Halve(const GreyView& picture, std::vector<std::uint8_t>& out) {
    const int w = picture.width / 2, h = picture.height / 2;
    out.assign(static_cast<std::size_t>(w) * h, 0);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* a = picture.data + 2 * y * picture.stride;
        const std::uint8_t* b = a + picture.stride;
        std::uint8_t* row = &out[static_cast<std::size_t>(y) * w];
        for (int x = 0; x < w; ++x)
            row[x] = static_cast<std::uint8_t>(
                (a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) / 4);
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
