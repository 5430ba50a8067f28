#include "search_p.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "scanline_p.h"

namespace scan39::reader::detail {
namespace {

// The two profiles lie this share of the region's half width either side of its centre line.
constexpr double kLikenessOffset = 0.6;
// Lines closer in for bars that fill only a band of their region, as blurred labels' bars
// with their text below do; they must lie so many edges apart that text's letters within
// one line do not pass, and count only as alike as bars are.
constexpr double kCloseOffset = 0.3;
constexpr double kCloseEdges = 4;
// Pixels compared at least, and at least this many must overlap at any shift.
constexpr int kLikenessLength = 16;
constexpr int kLikenessOverlap = 8;
// Shifts tried: a tenth of the offset (a direction ~6 degrees off) and a little, within a bound.
constexpr double kLikenessTurn = 0.1;
constexpr int kLikenessMinShift = 2;
constexpr int kLikenessMaxShift = 24;

}  // namespace

// Edges along a profile of slopes: runs of steep slope of one sign, each steeper than this
// share of the steepest.
constexpr float kEdgeShare = 0.25f;

int Edges(const std::vector<float>& slopes) {
    float steepest = 0;
    for (float v : slopes) steepest = std::max(steepest, std::abs(v));
    const float least = kEdgeShare * steepest;
    int edges = 0, sign = 0;
    for (float v : slopes) {
        const int now = v >= least ? 1 : v <= -least ? -1 : 0;
        if (now != 0 && now != sign) ++edges, sign = now;
    }
    return edges;
}

// The likeness of two lines `share` of the region's half width either side of its centre
// line; 0 where they lie closer than `edgeSpacings` times the mean spacing of edges along
// them.
double LikenessAt(const GreyView& picture, const Region& r, double share, double edgeSpacings) {
    const Point normal{-r.dir.y, r.dir.x};
    const double off = share * r.halfWidth;
    const int n = std::max(kLikenessLength, static_cast<int>(2 * r.halfLength));
    // Both lines over the region's own length: from its start, or from the later of the two
    // points where they enter the picture, so that their samples stay side by side.
    std::array<ScanLine, 2> lines;
    std::array<double, 2> centre;  // where along each line the region's middle lies
    double from = -0.5 * n;
    for (int k = 0; k < 2; ++k) {
        const double o = k ? off : -off;
        const Point through{r.centre.x + o * normal.x, r.centre.y + o * normal.y};
        lines[k] = ClipLine(picture.width, picture.height, through, r.dir, 1);
        if (lines[k].count < kLikenessOverlap) return 0;
        centre[k] =
            (through.x - lines[k].origin.x) * r.dir.x + (through.y - lines[k].origin.y) * r.dir.y;
        from = std::max(from, -centre[k]);
    }
    std::array<std::vector<float>, 2> p;
    for (int k = 0; k < 2; ++k) {
        ScanLine& line = lines[k];
        const int skip = std::max(0, static_cast<int>(std::lround(centre[k] + from)));
        line.origin = {line.origin.x + skip * r.dir.x, line.origin.y + skip * r.dir.y};
        line.count = std::min(line.count - skip, n);
        if (line.count < kLikenessOverlap) return 0;
        SampleProfile(picture, line, p[k]);
        // Slopes rather than levels: a few long ruled lines or a shade across the page
        // would otherwise outweigh everything between them.
        for (std::size_t i = 0; i + 2 < p[k].size(); ++i) p[k][i] = p[k][i + 2] - p[k][i];
        if (p[k].size() >= 2) p[k].resize(p[k].size() - 2);
    }
    const int m = static_cast<int>(std::min(p[0].size(), p[1].size()));
    if (2 * off * std::max(1, Edges(p[0])) < edgeSpacings * m) return 0;
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

// How much a region looks like bars rather than print or texture: the best normalised
// correlation of two grey profiles along its direction, a good part of its width apart, over
// small shifts (a direction a few degrees off). Bars repeat from one line to the next; text,
// tables and texture do not.
double BarLikeness(const GreyView& picture, const Region& r) {
    const double wide = LikenessAt(picture, r, kLikenessOffset, 0);
    if (wide >= kBarLikeSure || r.halfLength < r.halfWidth) return wide;
    const double close = LikenessAt(picture, r, kCloseOffset, kCloseEdges);
    return close >= kBarLikeSure ? close : wide;
}

}  // namespace scan39::reader::detail
