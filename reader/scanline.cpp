#include "scanline_p.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace scan39::reader::detail {
namespace {

// An edge must reach this share of the strongest edge within kNearby samples: narrow
// elements next to wide ones lose much of their contrast to blur, noise on a flat stretch
// loses more.
constexpr float kRelativeSlope = 0.18f;
constexpr int kNearby = 24;

}  // namespace

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

void SampleProfile(const GreyView& picture, const ScanLine& line, std::vector<float>& out) {
    out.resize(static_cast<std::size_t>(line.count));
    const int w = picture.width, h = picture.height;
    const float dx = static_cast<float>(line.step * line.dir.x);
    const float dy = static_cast<float>(line.step * line.dir.y);
    const float maxX = static_cast<float>(w - 1), maxY = static_cast<float>(h - 1);
    for (int i = 0; i < line.count; ++i) {
        // The clipped line lies inside; the clamps only absorb rounding at its ends.
        const float x = std::clamp(static_cast<float>(line.origin.x) + i * dx, 0.0f, maxX);
        const float y = std::clamp(static_cast<float>(line.origin.y) + i * dy, 0.0f, maxY);
        const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
        const int x1 = x0 + (x0 + 1 < w), y1 = y0 + (y0 + 1 < h);
        const float fx = x - x0, fy = y - y0;
        const std::uint8_t* r0 = picture.data + y0 * picture.stride;
        const std::uint8_t* r1 = picture.data + y1 * picture.stride;
        const float top = r0[x0] + fx * (r0[x1] - r0[x0]);
        const float bottom = r1[x0] + fx * (r1[x1] - r1[x0]);
        out[static_cast<std::size_t>(i)] = top + fy * (bottom - top);
    }
}

void Sharpen(std::vector<float>& p, float sigma, float amount) {
    const int n = static_cast<int>(p.size());
    const int radius = std::max(1, static_cast<int>(3 * sigma));
    std::vector<float> kernel(static_cast<std::size_t>(radius) + 1);
    float sum = 0;
    for (int k = 0; k <= radius; ++k) {
        kernel[k] = std::exp(-0.5f * k * k / (sigma * sigma));
        sum += k == 0 ? kernel[k] : 2 * kernel[k];
    }
    std::vector<float> blurred(p.size());
    for (int i = 0; i < n; ++i) {
        float v = kernel[0] * p[i];
        for (int k = 1; k <= radius; ++k)
            v += kernel[k] * (p[std::max(0, i - k)] + p[std::min(n - 1, i + k)]);
        blurred[i] = v / sum;
    }
    for (int i = 0; i < n; ++i) p[i] += amount * (p[i] - blurred[i]);
}

void FindEdges(const std::vector<float>& p, float minSlope, std::vector<Edge>& edges) {
    edges.clear();
    const int n = static_cast<int>(p.size());
    if (n < 7) return;
    // Slope of the profile smoothed by [1 2 1] / 4, over two samples; the profile continues
    // flat beyond its ends, so that an edge right at the picture's border still shows.
    std::vector<float> d(p.size(), 0);
    auto clamped = [&](int i) { return p[std::clamp(i, 0, n - 1)]; };
    for (int i = 1; i + 1 < n; ++i)
        d[i] = 0.25f * (clamped(i + 2) + 2 * p[i + 1] - 2 * p[i - 1] - clamped(i - 2));

    struct Candidate {
        float pos;
        float slope;
    };
    std::vector<Candidate> c;
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
    // Relative threshold against the strongest slope nearby (sliding window over candidates).
    std::vector<Candidate> kept;
    kept.reserve(c.size());
    std::size_t lo = 0, hi = 0;
    for (std::size_t i = 0; i < c.size(); ++i) {
        while (c[lo].pos < c[i].pos - kNearby) ++lo;
        while (hi < c.size() && c[hi].pos <= c[i].pos + kNearby) ++hi;
        float strongest = 0;
        for (std::size_t j = lo; j < hi; ++j) strongest = std::max(strongest, std::abs(c[j].slope));
        if (std::abs(c[i].slope) >= kRelativeSlope * strongest) kept.push_back(c[i]);
    }
    // Edges alternate. Two in a row the same way and close together are one edge split by
    // noise, or a weak element lost between them: keep the stronger. Far apart, they are steps into
    // and out of a middle level, such as a grey label margin between white surroundings and a bar:
    // that level is the quiet zone, so a zero-width element of the other kind marks its far end. It
    // also keeps any character across it from being read.
    float lastSlope = 0;
    for (const Candidate& k : kept) {
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

}  // namespace scan39::reader::detail
