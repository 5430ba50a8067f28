#pragma once
// The picture in octaves: each level the one before averaged over 2x2 pixels. A symbol is
// found at the level where its narrow module spans a few pixels: the block grid that locates
// regions sees modules of about 1 to 8 pixels, and a symbol that fills a photo has modules of
// 15 to 60. Levels are made once, and only when the search asks for them.

#include <cstdint>
#include <deque>

#include "big_array_p.h"
#include "scan39/geometry.h"
#include "scan39/image_view.h"

namespace scan39::reader::detail {

class Pyramid {
  public:
    explicit Pyramid(const GreyView& base) : views_{base} {}
    // Level `k` (0 is the picture itself), or nullptr once a level would have a side shorter
    // than `smallest` pixels.
    const GreyView* Level(int k, int smallest);
    // A point of level `k` in the picture's pixels: a level's pixel covers 2^k of the
    // picture's each way, its centre in the middle of them.
    static Point ToPicture(Point p, int k) {
        const double s = static_cast<double>(1 << k);
        return {p.x * s + 0.5 * (s - 1), p.y * s + 0.5 * (s - 1)};
    }

  private:
    std::deque<GreyView> views_;
    std::deque<BigArray<std::uint8_t>> pixels_;
};

// The picture averaged over 2x2 pixels (an odd last row or column is dropped), into `out`.
GreyView Halve(const GreyView& picture, BigArray<std::uint8_t>& out);

}  // namespace scan39::reader::detail
