#include "search_p.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "scanline_p.h"

namespace scan39::reader::detail {
namespace {

// The two profiles lie this share of the region's half width either side of its centre line.
constexpr double kLikenessOffset = 0.6;
// Pixels compared at least, and at least this many must overlap at any shift.
constexpr int kLikenessLength = 16;
constexpr int kLikenessOverlap = 8;
// Shifts tried: a tenth of the offset (a direction ~6 degrees off) and a little, within a bound.
constexpr double kLikenessTurn = 0.1;
constexpr int kLikenessMinShift = 2;
constexpr int kLikenessMaxShift = 24;

}  // namespace

// How much a region looks like bars rather than print or texture: the best normalised
// correlation of two grey profiles along its direction, a good part of its width apart, over
// small shifts (a direction a few degrees off). Bars repeat from one line to the next; text,
// tables and texture do not.
double BarLikeness(const GreyView& picture, const Region& r) {
    const Point normal{-r.dir.y, r.dir.x};
    const double off = kLikenessOffset * r.halfWidth;
    const int n = std::max(kLikenessLength, static_cast<int>(2 * r.halfLength));
    std::array<std::vector<float>, 2> p;
    for (int k = 0; k < 2; ++k) {
        const double o = k ? off : -off;
        ScanLine line = ClipLine(picture.width, picture.height,
                                 {r.centre.x + o * normal.x, r.centre.y + o * normal.y}, r.dir, 1);
        if (line.count < kLikenessOverlap) return 0;
        line.count = std::min(line.count, n);
        SampleProfile(picture, line, p[k]);
        // Slopes rather than levels: a few long ruled lines or a shade across the page
        // would otherwise outweigh everything between them.
        for (std::size_t i = 0; i + 2 < p[k].size(); ++i) p[k][i] = p[k][i + 2] - p[k][i];
        if (p[k].size() >= 2) p[k].resize(p[k].size() - 2);
    }
    const int m = static_cast<int>(std::min(p[0].size(), p[1].size()));
    const int shift =
        std::min(kLikenessMaxShift, kLikenessMinShift + static_cast<int>(kLikenessTurn * off));
    double best = 0;
    for (int s = -shift; s <= shift; ++s) {
        double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
        int count = 0;
        for (int i = std::max(0, -s); i < m && i + s < m; ++i, ++count) {
            const double x = p[0][i], y = p[1][i + s];
            sa += x, sb += y, saa += x * x, sbb += y * y, sab += x * y;
        }
        if (count < kLikenessOverlap) continue;
        const double va = saa - sa * sa / count, vb = sbb - sb * sb / count;
        if (va <= 0 || vb <= 0) continue;
        best = std::max(best, (sab - sa * sb / count) / std::sqrt(va * vb));
    }
    return best;
}

}  // namespace scan39::reader::detail
