#include "scanline_p.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>

namespace scan39::reader::detail {
namespace {

// An edge must reach this share of the strongest edge within kNearby samples: narrow
// elements next to wide ones lose much of their contrast to blur, noise on a flat stretch
// loses more.
constexpr float kRelativeSlope = 0.18f;
// Less for the sharp smallest modules: a narrow element between two pixels keeps little slope.
constexpr float kRelativeSlopeSharp = 0.08f;
constexpr int kNearby = 24;

}  // namespace

ScanLine LineBetween(Point from, Point to, float step) {
    ScanLine line;
    line.step = step;
    const double length = std::hypot(to.x - from.x, to.y - from.y);
    if (length < 1) return line;
    line.origin = from;
    line.dir = {(to.x - from.x) / length, (to.y - from.y) / length};
    line.count = static_cast<int>(length / step) + 1;
    return line;
}

ScanLine ClipLine(int width, int height, Point through, Point dir, float step) {
    double t0 = -std::numeric_limits<double>::infinity();
    double t1 = std::numeric_limits<double>::infinity();
    auto clip = [&](double p, double d, double hi) {
        if (std::abs(d) < 1e-12) {
            if (p < 0 || p > hi) t0 = 1, t1 = 0;
            return;
        }
        double a = (0 - p) / d, b = (hi - p) / d;
        if (a > b) std::swap(a, b);
        t0 = std::max(t0, a);
        t1 = std::min(t1, b);
    };
    clip(through.x, dir.x, width - 1);
    clip(through.y, dir.y, height - 1);
    ScanLine line;
    line.dir = dir;
    line.step = step;
    if (!(t1 > t0)) return line;
    line.origin = {through.x + t0 * dir.x, through.y + t0 * dir.y};
    line.count = static_cast<int>((t1 - t0) / step) + 1;
    return line;
}

namespace {

template <bool kClamp>
void Sample(const GreyView& picture, const ScanLine& line, float* out) {
    const int w = picture.width, h = picture.height;
    const float dx = static_cast<float>(line.step * line.dir.x);
    const float dy = static_cast<float>(line.step * line.dir.y);
    const float ox = static_cast<float>(line.origin.x), oy = static_cast<float>(line.origin.y);
    const float maxX = static_cast<float>(w - 1), maxY = static_cast<float>(h - 1);
    for (int i = 0; i < line.count; ++i) {
        float x = ox + i * dx, y = oy + i * dy;
        if constexpr (kClamp) {
            x = std::clamp(x, 0.0f, maxX);
            y = std::clamp(y, 0.0f, maxY);
        }
        const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
        const int x1 = x0 + (x0 + 1 < w), y1 = y0 + (y0 + 1 < h);
        const float fx = x - x0, fy = y - y0;
        const std::uint8_t* r0 = picture.data + y0 * picture.stride;
        const std::uint8_t* r1 = picture.data + y1 * picture.stride;
        const float top = r0[x0] + fx * (r0[x1] - r0[x0]);
        const float bottom = r1[x0] + fx * (r1[x1] - r1[x0]);
        out[i] = top + fy * (bottom - top);
    }
}

}  // namespace

void SampleProfile(const GreyView& picture, const ScanLine& line, std::vector<float>& out) {
    out.resize(static_cast<std::size_t>(line.count));
    if (line.count == 0) return;
    // The clipped line lies inside; clamps only absorb rounding at its ends, and positions
    // move monotonically along it, so where both ends are inside no sample needs one.
    const auto inside = [&](int i) {
        const float x =
            static_cast<float>(line.origin.x) + i * static_cast<float>(line.step * line.dir.x);
        const float y =
            static_cast<float>(line.origin.y) + i * static_cast<float>(line.step * line.dir.y);
        return x >= 0 && y >= 0 && x <= static_cast<float>(picture.width - 1) &&
               y <= static_cast<float>(picture.height - 1);
    };
    if (inside(0) && inside(line.count - 1))
        Sample<false>(picture, line, out.data());
    else
        Sample<true>(picture, line, out.data());
}

void SampleBand(const GreyView& picture, const ScanLine& line, int halfRows,
                std::vector<float>& out, Workspace& ws) {
    SampleProfile(picture, line, out);
    if (halfRows <= 0 || line.count == 0) return;
    std::vector<float>& row = ws.bandRow;
    row.resize(out.size());
    for (int j = -halfRows; j <= halfRows; ++j) {
        if (j == 0) continue;
        ScanLine shifted = line;
        shifted.origin = {line.origin.x - j * line.dir.y, line.origin.y + j * line.dir.x};
        // Parallel lines may leave the picture near its border: clamped, they repeat the rim.
        Sample<true>(picture, shifted, row.data());
        for (std::size_t i = 0; i < out.size(); ++i) out[i] += row[i];
    }
    const float scale = 1.0f / static_cast<float>(2 * halfRows + 1);
    for (float& v : out) v *= scale;
}

void Sharpen(std::vector<float>& p, float sigma, float amount, Workspace& ws) {
    const int n = static_cast<int>(p.size());
    const int radius = std::max(1, static_cast<int>(3 * sigma));
    // A recovery pass sharpens every line with the same blur: its kernel once per read.
    std::vector<float>& kernel = ws.kernel;
    float& kernelSigma = ws.kernelSigma;
    float& sum = ws.kernelSum;
    if (kernelSigma != sigma || static_cast<int>(kernel.size()) != radius + 1) {
        kernel.resize(static_cast<std::size_t>(radius) + 1);
        sum = 0;
        for (int k = 0; k <= radius; ++k) {
            kernel[k] = std::exp(-0.5f * k * k / (sigma * sigma));
            sum += k == 0 ? kernel[k] : 2 * kernel[k];
        }
        kernelSigma = sigma;
    }
    // The profile continues flat beyond its ends; padded so, every tap is a plain load and the
    // loop over the samples runs innermost, which the compiler vectorises.
    std::vector<float>& padded = ws.padded;
    std::vector<float>& blurred = ws.blurred;
    padded.resize(p.size() + 2 * static_cast<std::size_t>(radius));
    if (n == 0) return;
    std::fill_n(padded.begin(), radius, p.front());
    std::copy(p.begin(), p.end(), padded.begin() + radius);
    std::fill_n(padded.begin() + radius + n, radius, p.back());
    blurred.resize(p.size());
    const float* q = padded.data() + radius;
    float* b = blurred.data();
    for (int i = 0; i < n; ++i) b[i] = kernel[0] * q[i];
    for (int k = 1; k <= radius; ++k) {
        const float c = kernel[k];
        for (int i = 0; i < n; ++i) b[i] += c * (q[i - k] + q[i + k]);
    }
    for (int i = 0; i < n; ++i) p[i] += amount * (p[i] - b[i] / sum);
}

namespace {

// The least and greatest of p over [i - far, i - near] (negative for a window ahead), clamped
// to the profile, for every i: the window only moves forward, so queues of indices whose values
// rise (for the least) and fall (for the greatest) hold them.
void SlidingExtremes(const std::vector<float>& p, int near, int far, std::vector<float>& lo,
                     std::vector<float>& hi, Workspace& ws) {
    const int n = static_cast<int>(p.size());
    lo.resize(p.size());
    hi.resize(p.size());
    std::deque<int>& rising = ws.rising;
    std::deque<int>& falling = ws.falling;
    rising.clear();
    falling.clear();
    int next = 0;  // the first index not yet queued
    for (int i = 0; i < n; ++i) {
        const int from = std::clamp(i - far, 0, n - 1), to = std::clamp(i - near, 0, n - 1);
        for (; next <= to; ++next) {
            while (!rising.empty() && p[rising.back()] >= p[next]) rising.pop_back();
            while (!falling.empty() && p[falling.back()] <= p[next]) falling.pop_back();
            rising.push_back(next);
            falling.push_back(next);
        }
        while (rising.front() < from) rising.pop_front();
        while (falling.front() < from) falling.pop_front();
        lo[i] = p[rising.front()];
        hi[i] = p[falling.front()];
    }
}

}  // namespace

void LevelLocally(std::vector<float>& p, float narrow, float floor, float share, Workspace& ws) {
    const int n = static_cast<int>(p.size());
    // Sides reach this many narrow elements: a wide bar and a space at least. They start half
    // a narrow element off the sample, so that a ramp into a highlight is judged by the levels
    // beyond it.
    constexpr float kReach = 6;
    const int window = static_cast<int>(kReach * narrow), gap = static_cast<int>(0.5f * narrow);
    if (n < 50 || window < 2 * gap + 2) return;
    std::vector<float>& out = ws.levelled;
    std::array<std::vector<float>, 2>& lo = ws.lows;
    std::array<std::vector<float>, 2>& hi = ws.highs;
    out.assign(p.begin(), p.end());
    // Noise on paper is no contrast: a side needs a share of the line's whole span too.
    std::nth_element(out.begin(), out.begin() + n / 50, out.end());
    const float darkest = out[n / 50];
    std::nth_element(out.begin(), out.begin() + n - 1 - n / 50, out.end());
    floor = std::max(floor, share * (out[n - 1 - n / 50] - darkest));
    SlidingExtremes(p, gap, window, lo[0], hi[0], ws);
    SlidingExtremes(p, -window, -gap, lo[1], hi[1], ws);
    // A side crosses bars where its levels go from one quarter of its span to the other and
    // back: paper shaded or lit unevenly has a span too, but crosses once at most.
    const auto bars = [&](int k, int i, int from, int to) {
        const float l = lo[k][i], h = hi[k][i];
        if (h - l < floor) return false;
        const float low = l + 0.25f * (h - l), high = h - 0.25f * (h - l);
        int state = 0, turns = 0;
        for (int j = std::max(0, from); j <= std::min(n - 1, to) && turns < 2; ++j) {
            const int now = p[j] < low ? -1 : p[j] > high ? 1 : 0;
            if (now != 0 && now != state) turns += state != 0, state = now;
        }
        return turns >= 2;
    };
    for (int i = 0; i < n; ++i) {
        const bool before = bars(0, i, i - window, i - gap),
                   after = bars(1, i, i + gap, i + window);
        if (!before && !after) {
            out[i] = 0;
            continue;
        }
        const int k = before && after ? (hi[0][i] - lo[0][i] <= hi[1][i] - lo[1][i] ? 0 : 1)
                                      : (before ? 0 : 1);
        const float mid = 0.5f * (lo[k][i] + hi[k][i]);
        out[i] = std::clamp(254 * (p[i] - mid) / (hi[k][i] - lo[k][i]), -127.0f, 127.0f);
    }
    p.swap(out);
}

void FindEdges(const std::vector<float>& p, float minSlope, std::vector<Edge>& edges, Workspace& ws,
               bool sharpSmall) {
    const float relative = sharpSmall ? kRelativeSlopeSharp : kRelativeSlope;
    edges.clear();
    const int n = static_cast<int>(p.size());
    if (n < 7) return;
    // Slope of the profile smoothed by [1 2 1] / 4, over two samples; the profile continues
    // flat beyond its ends, so that an edge right at the picture's border still shows.
    std::vector<float>& d = ws.slopes;
    d.assign(p.size(), 0);
    auto clamped = [&](int i) { return p[std::clamp(i, 0, n - 1)]; };
    d[1] = 0.25f * (clamped(3) + 2 * p[2] - 2 * p[0] - clamped(-1));
    for (int i = 2; i + 2 < n; ++i)
        d[i] = 0.25f * (p[i + 2] + 2 * p[i + 1] - 2 * p[i - 1] - p[i - 2]);
    d[n - 2] = 0.25f * (clamped(n) + 2 * p[n - 1] - 2 * p[n - 3] - clamped(n - 4));

    std::vector<SlopePeak>& c = ws.peaks;
    c.clear();
    for (int i = 2; i + 2 < n; ++i) {
        const float v = d[i];
        if (std::abs(v) < minSlope) continue;
        const bool peak = v > 0 ? (v >= d[i - 1] && v > d[i + 1]) : (v <= d[i - 1] && v < d[i + 1]);
        if (!peak) continue;
        const float den = d[i - 1] - 2 * v + d[i + 1];
        const float off =
            den != 0 ? std::clamp(0.5f * (d[i - 1] - d[i + 1]) / den, -0.5f, 0.5f) : 0;
        c.push_back({i + off, v});
    }
    // Relative threshold against the strongest slope within kNearby samples: the window's
    // both ends only move forward, so a queue of falling strengths holds its maximum.
    std::vector<SlopePeak>& kept = ws.keptPeaks;
    kept.clear();
    std::vector<std::size_t>& strongest = ws.strongest;  // indices into c, slopes falling
    strongest.clear();
    std::size_t head = 0, hi = 0;
    for (std::size_t i = 0; i < c.size(); ++i) {
        while (hi < c.size() && c[hi].pos <= c[i].pos + kNearby) {
            while (strongest.size() > head &&
                   std::abs(c[strongest.back()].slope) <= std::abs(c[hi].slope))
                strongest.pop_back();
            strongest.push_back(hi++);
        }
        while (c[strongest[head]].pos < c[i].pos - kNearby) ++head;
        if (std::abs(c[i].slope) >= relative * std::abs(c[strongest[head]].slope))
            kept.push_back(c[i]);
    }
    // Edges alternate. Two in a row the same way and close together are one edge split by
    // noise, or a weak element lost between them: keep the stronger. Far apart, they are steps into
    // and out of a middle level, such as a grey label margin between white surroundings and a bar:
    // that level is the quiet zone, so a zero-width element of the other kind marks its far end. It
    // also keeps any character across it from being read.
    float lastSlope = 0;
    for (const SlopePeak& k : kept) {
        const bool falling = k.slope < 0;
        if (!edges.empty() && edges.back().falling == falling) {
            if (k.pos - edges.back().pos <= kNearby) {
                if (std::abs(k.slope) > lastSlope) {
                    edges.back() = {k.pos, falling, std::abs(k.slope)};
                    lastSlope = std::abs(k.slope);
                }
                continue;
            }
            const float at = falling ? edges.back().pos : k.pos;
            edges.push_back({at, !falling, std::max(lastSlope, std::abs(k.slope))});
        }
        edges.push_back({k.pos, falling, std::abs(k.slope)});
        lastSlope = std::abs(k.slope);
    }
}

void PlaceEdgesAtMidLevel(const std::vector<float>& p, std::vector<Edge>& edges, Workspace& ws) {
    const int n = static_cast<int>(p.size());
    const std::size_t m = edges.size();
    std::vector<float>& placed = ws.placed;
    placed.resize(m);
    for (std::size_t k = 0; k < m; ++k) {
        placed[k] = edges[k].pos;
        if (edges[k].strength <= 0) continue;  // the picture's edge, no crossing to find
        const int at = static_cast<int>(edges[k].pos);
        const int lo = std::max(0, at - kNearby), hi = std::min(n - 1, at + kNearby);
        const auto [dark, light] = std::minmax_element(p.begin() + lo, p.begin() + hi + 1);
        const float mid = 0.5f * (*dark + *light);
        // The crossing nearest the edge, between its neighbours.
        const int from = k > 0 ? static_cast<int>(edges[k - 1].pos) + 1 : 0;
        const int to = k + 1 < m ? static_cast<int>(edges[k + 1].pos) : n - 1;
        float best = -1, off = 0;
        for (int i = std::max(0, from); i < std::min(to, n - 1); ++i) {
            const float a = p[i] - mid, b = p[i + 1] - mid;
            const bool crosses = edges[k].falling ? (a >= 0 && b < 0) : (a < 0 && b >= 0);
            if (!crosses) continue;
            const float x = i + a / (a - b);
            if (best < 0 || std::abs(x - edges[k].pos) < off)
                best = x, off = std::abs(x - edges[k].pos);
        }
        if (best >= 0) placed[k] = best;
    }
    for (std::size_t k = 0; k < m; ++k)
        if (k == 0 || placed[k] > edges[k - 1].pos) edges[k].pos = placed[k];
}

void PlaceEdgesByInk(const std::vector<float>& p, std::vector<Edge>& edges, Workspace& ws) {
    // Levels over this many edges either side: a character's, so that a wide bar, whose core
    // holds full ink, lies among them.
    constexpr int kLevelEdges = 9;
    // Paper and ink this few levels apart hold too little contrast to share out.
    constexpr float kLeastContrast = 8;
    const int n = static_cast<int>(p.size());
    const int m = static_cast<int>(edges.size());
    if (m < 4 || n < 2) return;
    std::vector<float>& placed = ws.placed;
    std::vector<float>& near = ws.elementWidths;
    placed.resize(static_cast<std::size_t>(m));
    for (int k = 0; k < m; ++k) placed[k] = edges[k].pos;
    const auto at = [&](float x) { return std::clamp(static_cast<int>(x), 0, n - 1); };
    for (int k = 0; k + 1 < m; ++k) {
        if (!edges[k].falling) continue;
        const int first = std::max(0, k - kLevelEdges), last = std::min(m - 1, k + 1 + kLevelEdges);
        // Beyond its slope edges the ink reaches no farther than a typical element nearby: a
        // quiet zone's paper, whose noise darkens nothing, stays out.
        near.clear();
        for (int j = first; j < last; ++j) near.push_back(edges[j + 1].pos - edges[j].pos);
        std::nth_element(near.begin(), near.begin() + near.size() / 2, near.end());
        const float reach = near[near.size() / 2];
        const float lo =
            std::max(edges[k].pos - reach, k > 0 ? 0.5f * (edges[k - 1].pos + edges[k].pos) : 0);
        const float hi = std::min(
            edges[k + 1].pos + reach,
            k + 2 < m ? 0.5f * (edges[k + 1].pos + edges[k + 2].pos) : static_cast<float>(n - 1));
        const auto [dark, light] = std::minmax_element(p.begin() + at(edges[first].pos),
                                                       p.begin() + at(edges[last].pos) + 1);
        if (*light - *dark < kLeastContrast) continue;
        const float scale = 1 / (*light - *dark);
        // Samples stand for the stretch half a sample either side; the window's ends take
        // their share.
        double ink = 0, moment = 0;
        const int from = static_cast<int>(std::ceil(lo - 0.5f));
        const int to = static_cast<int>(std::floor(hi + 0.5f));
        for (int i = std::max(0, from); i <= std::min(n - 1, to); ++i) {
            const double share = std::min(i + 0.5, double{hi}) - std::max(i - 0.5, double{lo});
            if (share <= 0) continue;
            const double f = share * std::clamp((*light - p[i]) * scale, 0.0f, 1.0f);
            ink += f;
            moment += f * i;
        }
        if (!(ink > 0)) continue;
        const double centre = moment / ink;
        placed[k] = static_cast<float>(centre - 0.5 * ink);
        placed[k + 1] = static_cast<float>(centre + 0.5 * ink);
    }
    // Placements that would cross a neighbour's keep their slope edges.
    for (int k = 0; k < m; ++k) {
        const float before = k > 0 ? edges[k - 1].pos : -1e30f;
        const float after = k + 1 < m ? placed[k + 1] : 1e30f;
        if (placed[k] > before && placed[k] < after) edges[k].pos = placed[k];
    }
}

}  // namespace scan39::reader::detail
