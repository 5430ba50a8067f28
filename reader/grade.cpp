#include "scan39/grade.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>

#include "code39_p.h"
#include "scan39/json_text.h"
#include "scanline_p.h"
#include "workspace_p.h"

namespace scan39::reader {
namespace {

using namespace detail;

constexpr int kScans = 10;
constexpr double kQuietX = 10;   // Code 39's quiet zone, in X
constexpr double kMarginX = 15;  // how far past the bars a profile reaches, in X
// Edges at the elements' own midpoints, X from the bars' centres and margins to the picture's
// own border put a quiet zone within 0.2 X of the truth at X >= 2 px when sharp, within 0.3 X
// under blur of up to 0.4 X; the tolerance absorbs that, so a zone printed at exactly 10 X
// passes and one of 9.6 X fails.
constexpr double kQuietTolerance = 0.3;
// Values are reflectances from 8-bit grey levels in float: a contrast of exactly 0.40 may
// compute a few 1e-8 short of it and must still grade as 0.40.
constexpr double kBandEps = 1e-6;
// A measured wide/narrow ratio is off by up to a few hundredths at X = 2 px: a label printed at
// 2.0 must not break the rule for that.
constexpr double kRatioTolerance = 0.05;
constexpr double kApertureShare = 0.8;  // of X
constexpr double kInchMm = 25.4;

double Dot(Point a, Point b) {
    return a.x * b.x + a.y * b.y;
}
Point Lerp(Point p, Point q, double t) {
    return {p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)};
}

// Bands where a higher value is better.
int Band(double v, double a, double b, double c, double d) {
    v += kBandEps;
    return v >= a ? 4 : v >= b ? 3 : v >= c ? 2 : v >= d ? 1 : 0;
}

// The interpolated grade: linear between the band limits, 4.0 from A's, 0.0 at `zero`; cut (not
// rounded) to a tenth, so only a value at A's limit shows 4.0.
double Tenth(double g) {
    return std::floor(std::clamp(g, 0.0, 4.0) * 10 + 1e-7) / 10;
}
double Fraction(double v, double a, double b, double c, double d, double zero) {
    v += kBandEps;
    const double limits[] = {zero, d, c, b, a};
    if (v >= a) return 4;
    for (int k = 3; k >= 0; --k)
        if (v >= limits[k]) return Tenth(k + (v - limits[k]) / (limits[k + 1] - limits[k]));
    return 0;
}
GradeParameter Higher(double v, double a, double b, double c, double d, double zero) {
    return {v, Band(v, a, b, c, d), Fraction(v, a, b, c, d, zero)};
}
GradeParameter PassFail(double v, bool pass) {
    return {v, pass ? 4 : 0, pass ? 4.0 : 0.0};
}
// Defects, where lower is better: 4 to 0.15, then a grade per 0.05; beyond 0.30 nothing.
GradeParameter Defects(double v) {
    const double w = v - kBandEps;
    const int band = w <= 0.15 ? 4 : w <= 0.20 ? 3 : w <= 0.25 ? 2 : w <= 0.30 ? 1 : 0;
    const double fraction = w <= 0.15 ? 4 : w > 0.30 ? 0 : Tenth(1 + (0.30 - w) / 0.05);
    return {v, band, fraction};
}

// How far from `p` along `dir` the picture's border lies: pixels are squares around their
// centres, so the border is half a pixel beyond the outermost centres.
double ToBorder(const GreyView& picture, Point p, Point dir) {
    double t = std::numeric_limits<double>::infinity();
    const auto axis = [&](double at, double d, double size) {
        if (d > 1e-12) t = std::min(t, (size - 0.5 - at) / d);
        if (d < -1e-12) t = std::min(t, (-0.5 - at) / d);
    };
    axis(p.x, dir.x, picture.width);
    axis(p.y, dir.y, picture.height);
    return std::max(0.0, t);
}

// A profile along one line: reflectance from `margin` pixels before `a` to as far past `b`,
// within the picture; sa and sb are a and b in samples. Where the picture's border cut the
// profile short, lead and trail are the samples from its ends to that border (a quiet zone
// reaches it); 0 where the margin did.
struct Sampled {
    ScanLine line;
    std::vector<float> r;
    double sa = 0, sb = 0;
    double lead = 0, trail = 0;
};

Sampled SampleAlong(const GreyView& picture, Point a, Point b, double margin, double step) {
    Sampled s;
    const double len = std::hypot(b.x - a.x, b.y - a.y);
    if (!(len > 1)) return s;
    const Point dir{(b.x - a.x) / len, (b.y - a.y) / len};
    ScanLine line = ClipLine(picture.width, picture.height, a, dir, static_cast<float>(step));
    if (line.count < 2) return s;
    const double ta = Dot({a.x - line.origin.x, a.y - line.origin.y}, dir);
    const double from = std::max(0.0, ta - margin);
    const double to = std::min((line.count - 1) * step, ta + len + margin);
    if (to - from < 8 * step) return s;
    const bool cutBefore = ta - margin <= 0,
               cutAfter = ta + len + margin >= (line.count - 1) * step;
    line.origin = {line.origin.x + from * dir.x, line.origin.y + from * dir.y};
    line.count = static_cast<int>((to - from) / step) + 1;
    SampleProfile(picture, line, s.r);
    for (float& v : s.r) v /= 255.0f;
    s.line = line;
    s.sa = (ta - from) / step;
    s.sb = s.sa + len / step;
    if (cutBefore) s.lead = ToBorder(picture, line.origin, {-dir.x, -dir.y}) / step;
    if (cutAfter)
        s.trail = ToBorder(picture, line.At(static_cast<float>(line.count - 1)), dir) / step;
    return s;
}

// The measuring aperture is a disc of `diameter` pixels: each sample becomes the mean of the
// picture under the disc centred on it, taken on a grid of the profile's step along the line
// and across it (rows parallel to the line), so noise averages in two dimensions as it does
// under a verifier's spot. Beyond the profile's ends its end samples repeat.
void DiscAperture(const GreyView& picture, Sampled& s, double diameter) {
    const int n = static_cast<int>(s.r.size());
    const double step = s.line.step, r = diameter / 2;
    if (n < 2 || !(r >= step)) return;
    // At most 33 rows: a disc of many samples is averaged well enough by fewer.
    const double rowStep = std::max(step, r / 16);
    const int rows = static_cast<int>(r / rowStep);
    const Point across{-s.line.dir.y, s.line.dir.x};
    std::vector<double> sum(static_cast<std::size_t>(n), 0.0),
        prefix(static_cast<std::size_t>(n) + 1);
    std::vector<float> row;
    double count = 0;
    for (int j = -rows; j <= rows; ++j) {
        const double v = j * rowStep;
        const int half = static_cast<int>(std::sqrt(std::max(0.0, r * r - v * v)) / step);
        if (j == 0) {
            row = s.r;
        } else {
            ScanLine shifted = s.line;
            shifted.origin = {s.line.origin.x + v * across.x, s.line.origin.y + v * across.y};
            SampleProfile(picture, shifted, row);
            for (float& x : row) x /= 255.0f;
        }
        for (int i = 0; i < n; ++i) prefix[i + 1] = prefix[i] + row[i];
        for (int i = 0; i < n; ++i) {
            const int lo = i - half, hi = i + half;
            sum[i] += prefix[std::min(hi, n - 1) + 1] - prefix[std::max(lo, 0)] +
                      std::max(0, -lo) * static_cast<double>(row[0]) +
                      std::max(0, hi - (n - 1)) * static_cast<double>(row[n - 1]);
        }
        count += 2 * half + 1;
    }
    for (int i = 0; i < n; ++i) s.r[i] = static_cast<float>(sum[i] / count);
}

// Whether a line's read is the symbol's text: as read, or after the check character and
// full-ASCII translation the reader applied.
bool SameText(const std::string& raw, const Symbol& symbol) {
    std::string text = raw;
    if (symbol.check == CheckState::kVerified) {
        if (!HasCheckCharacter(text)) return false;
        text.pop_back();
    }
    if (text == symbol.text) return true;
    const auto translated = FullAscii(text);
    return translated && *translated == symbol.text;
}

// Reflectance of one element from sample `from` to `to` (positions): the darkest sample of a
// bar, the lightest of a space, and where it lies; and its non-uniformity, from the highest peak
// to the lowest valley inside it.
struct ElementMeasure {
    double r = 0;
    double ern = 0;
    double at = 0;
};

ElementMeasure MeasureElement(const std::vector<float>& p, double from, double to, bool dark) {
    const int n = static_cast<int>(p.size());
    const int i0 = std::max(0, static_cast<int>(std::ceil(from)));
    const int i1 = std::min(n - 1, static_cast<int>(std::floor(to)));
    if (i0 > i1) {
        const int mid = std::clamp(static_cast<int>(std::lround((from + to) / 2)), 0, n - 1);
        return {p[mid], 0, static_cast<double>(mid)};
    }
    ElementMeasure m;
    m.r = p[i0];
    m.at = i0;
    for (int i = i0; i <= i1; ++i) {
        if (dark ? p[i] < m.r : p[i] > m.r) {
            m.r = p[i];
            m.at = i;
        }
    }
    // The extremes against the element's own level: peaks inside a bar, valleys inside a space.
    for (int i = i0 + 1; i < i1; ++i) {
        const bool extreme =
            dark ? p[i] >= p[i - 1] && p[i] >= p[i + 1] : p[i] <= p[i - 1] && p[i] <= p[i + 1];
        if (extreme) m.ern = std::max(m.ern, std::abs(p[i] - m.r));
    }
    return m;
}

// The edge between two elements where the profile crosses the midpoint of their own
// reflectances (Rs and Rb), between their extremes; of several crossings the one nearest the
// global threshold's. A grey narrow space then keeps its printed width, where the global
// threshold would cut it narrow.
double MidpointEdge(const std::vector<float>& p, const ElementMeasure& e0, const ElementMeasure& e1,
                    double near) {
    const double mid = (e0.r + e1.r) / 2;
    const int n = static_cast<int>(p.size());
    const int from = std::clamp(static_cast<int>(std::floor(std::min(e0.at, e1.at))), 0, n - 1);
    const int to = std::clamp(static_cast<int>(std::ceil(std::max(e0.at, e1.at))), 0, n - 1);
    double best = near, bestOff = std::numeric_limits<double>::infinity();
    for (int i = from; i < to; ++i) {
        const double d0 = p[i] - mid, d1 = p[i + 1] - mid;
        if ((d0 < 0) == (d1 < 0) || d0 == d1) continue;
        const double at = i + d0 / (d0 - d1);
        if (std::abs(at - near) < bestOff) {
            best = at;
            bestOff = std::abs(at - near);
        }
    }
    return best;
}

// The narrow element, wide element and gap between characters that place the bars' centres
// best (least squares, with the first edge as fourth unknown). A bar's centre stays where it
// is through ink spread and symmetric blur, which widen or narrow it from both sides; fitted
// over the whole symbol what remains of neighbouring elements' pull averages out, where
// widths measured at the edges come out a tenth of X too wide or narrow under blur.
struct CentreFit {
    std::array<std::array<double, 5>, 4> m{};  // normal equations, right side last
    void Add(const std::array<double, 4>& row, double centre) {
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) m[i][j] += row[i] * row[j];
            m[i][4] += row[i] * centre;
        }
    }
    // {narrow, wide, gap}; nothing when the bars do not tell them apart.
    std::optional<std::array<double, 3>> Solve() const {
        auto a = m;
        for (int c = 0; c < 4; ++c) {
            int pivot = c;
            for (int r = c + 1; r < 4; ++r)
                if (std::abs(a[r][c]) > std::abs(a[pivot][c])) pivot = r;
            if (!(std::abs(a[pivot][c]) > 1e-9 * std::max(1.0, std::abs(a[0][0])))) return {};
            std::swap(a[c], a[pivot]);
            for (int r = 0; r < 4; ++r) {
                if (r == c) continue;
                const double f = a[r][c] / a[c][c];
                for (int k = c; k < 5; ++k) a[r][k] -= f * a[c][k];
            }
        }
        return std::array<double, 3>{a[1][4] / a[1][1], a[2][4] / a[2][2], a[3][4] / a[3][3]};
    }
};

struct ProfileResult {
    ProfileGrade grade;
    bool decoded = false;
};

// One profile's parameters. `x` is the X dimension in pixels known so far, for the quiet zones
// of a profile that does not decode.
// `slackX`: how far, in X, the bars may begin before or end after the corners where the profile
// does not decode.
ProfileResult Measure(Sampled& s, const Symbol& symbol, double x, Workspace& scratch,
                      double slackX = 2) {
    ProfileResult out;
    ProfileGrade& g = out.grade;
    const std::vector<float>& p = s.r;
    const double step = s.line.step;
    g.from = s.line.At(0);
    g.to = s.line.At(static_cast<float>(std::max(0, s.line.count - 1)));
    g.step = step;
    g.begin = s.sa;
    g.end = s.sb;
    GradeParameters& q = g.parameters;
    q.defects = GradeOf(5, 1);
    const int n = static_cast<int>(p.size());
    if (n < 8) return out;

    // Rmin and Rmax over the symbol and its quiet zones; the global threshold between them.
    const double quiet = kQuietX * x / step;
    const int lo = std::max(0, static_cast<int>(s.sa - quiet));
    const int hi = std::min(n - 1, static_cast<int>(std::ceil(s.sb + quiet)));
    const auto [mn, mx] = std::minmax_element(p.begin() + lo, p.begin() + hi + 1);
    const double rmin = *mn, rmax = *mx, sc = rmax - rmin;
    g.threshold = rmin + sc / 2;
    q.minReflectance = GradeOf(1, rmin, rmax);
    q.symbolContrast = GradeOf(2, sc);

    // Elements between the crossings of the threshold; element k ends at crossing k.
    std::vector<Edge> edges;
    for (int i = 0; i + 1 < n; ++i) {
        const bool d0 = p[i] < g.threshold, d1 = p[i + 1] < g.threshold;
        if (d0 == d1) continue;
        const float at = i + static_cast<float>((p[i] - g.threshold) / (p[i] - p[i + 1]));
        edges.push_back({at, d1, 0});
    }
    const int m = static_cast<int>(edges.size());
    const auto bound = [&](int k) {  // start of element k
        return k == 0 ? 0.0 : static_cast<double>(edges[k - 1].pos);
    };
    const auto boundEnd = [&](int k) {  // end of element k
        return k == m ? static_cast<double>(n - 1) : static_cast<double>(edges[k].pos);
    };
    const auto darkElement = [&](int k) {
        return k < m ? !edges[k].falling : edges[m - 1].falling;
    };
    std::vector<ElementMeasure> elements(static_cast<std::size_t>(m) + 1);
    for (int k = 0; k <= m && m > 0; ++k)
        elements[k] = MeasureElement(p, bound(k), boundEnd(k), darkElement(k));
    // The global threshold only finds the elements; each edge then lies at its two elements'
    // own midpoint.
    for (int k = 0; k < m; ++k)
        edges[k].pos =
            static_cast<float>(MidpointEdge(p, elements[k], elements[k + 1], edges[k].pos));
    for (int k = 0; k < m; ++k)
        edges[k].strength = static_cast<float>(std::abs(elements[k].r - elements[k + 1].r));

    // The reference decode: the reader's own, on these edges alone.
    std::vector<LineRead> reads;
    if (m >= 20) DecodeLine(edges, static_cast<float>(n - 1), reads, scratch);
    const LineRead* best = nullptr;
    const double near = (0.05 * (s.sb - s.sa) + 3 * x / step);
    for (const LineRead& r : reads) {
        // Forward reads only: one read backwards begins beyond its end.
        if (r.begin > r.end || r.chars.find('\0') != std::string::npos ||
            !SameText(r.chars, symbol))
            continue;
        const double off = std::abs(r.begin - s.sa);
        if (off < near && (best == nullptr || off < std::abs(best->begin - s.sa))) best = &r;
    }

    // The symbol's first and last edge: the read's, or those within the bars' expected span.
    int k0 = 0, k1 = -1;
    if (best != nullptr) {
        while (k0 < m && edges[k0].pos != best->begin) ++k0;
        k1 = k0;
        while (k1 < m && edges[k1].pos != best->end) ++k1;
        out.decoded = k1 < m && (k1 - k0 + 1) == 10 * static_cast<int>(best->chars.size() + 2);
    }
    if (!out.decoded) {
        const double slack = slackX * x / step;
        k0 = 0;
        while (k0 < m && edges[k0].pos < s.sa - slack) ++k0;
        k1 = m - 1;
        while (k1 >= 0 && edges[k1].pos > s.sb + slack) --k1;
    } else {
        g.begin = edges[k0].pos;
        g.end = edges[k1].pos;
    }
    q.decode = GradeOf(0, out.decoded ? 1.0 : 0.0);

    if (k0 <= k1) {
        double xPx = x;
        if (out.decoded) {
            const std::string chars = std::string(1, kStartStop) + best->chars + kStartStop;
            double narrowSum = 0, wideSum = 0;
            int narrowCount = 0, wideCount = 0;
            double worst = 1;
            CentreFit fit;
            std::array<double, 4> before{1, 0, 0, 0};
            for (std::size_t c = 0; c < chars.size(); ++c) {
                const int k = k0 + 10 * static_cast<int>(c);
                const auto mask = WideMask(static_cast<int>(kCharacters.find(chars[c])));
                std::array<double, 9> w{};
                double ns = 0, ws = 0;
                for (int j = 0; j < 9; ++j) {
                    w[j] = (edges[k + j + 1].pos - edges[k + j].pos) * step;
                    (mask >> (8 - j) & 1 ? ws : ns) += w[j];
                }
                // Each bar's centre: elements of each kind before it and half of itself.
                for (int j = 0; j < 9; ++j) {
                    const int kind = 1 + (mask >> (8 - j) & 1);
                    if (j % 2 == 0) {
                        std::array<double, 4> row = before;
                        row[kind] += 0.5;
                        fit.Add(row, (edges[k + j].pos + edges[k + j + 1].pos) / 2 * step);
                    }
                    before[kind] += 1;
                }
                before[3] += 1;  // the gap after the character
                narrowSum += ns, wideSum += ws, narrowCount += 6, wideCount += 3;
                // The character's threshold midway between its mean narrow and mean wide
                // element; each element's distance from it against half their difference.
                const double nm = ns / 6, wm = ws / 3, threshold = (nm + wm) / 2,
                             half = (wm - nm) / 2;
                for (int j = 0; j < 9; ++j) {
                    const double margin = mask >> (8 - j) & 1 ? w[j] - threshold : threshold - w[j];
                    worst = std::min(worst, half > 0 ? margin / half : 0.0);
                }
            }
            double narrow = narrowSum / narrowCount, wide = wideSum / wideCount;
            if (const auto fitted = fit.Solve();
                fitted && (*fitted)[0] > 0 && (*fitted)[1] > (*fitted)[0]) {
                narrow = (*fitted)[0];
                wide = (*fitted)[1];
            }
            xPx = narrow;
            g.xPx = xPx;
            g.ratio = wide / narrow;
            worst = std::max(0.0, worst);
            q.decodability = GradeOf(6, worst);
        }
        // The first and last bar's outer edges: under blur a narrow bar spreads past its
        // printed edges even at the midpoint, its centre does not; so from the centre by half
        // the fitted width where the profile decoded.
        double firstEdge = edges[k0].pos, lastEdge = edges[k1].pos;
        if (out.decoded) {
            const auto firstMask = WideMask(static_cast<int>(kCharacters.find(kStartStop)));
            const double firstWidth = (firstMask >> 8 & 1 ? g.ratio : 1) * xPx / step;
            const double lastWidth = (firstMask & 1 ? g.ratio : 1) * xPx / step;
            firstEdge = (edges[k0].pos + edges[k0 + 1].pos - firstWidth) / 2;
            lastEdge = (edges[k1 - 1].pos + edges[k1].pos + lastWidth) / 2;
        }
        // Quiet zones: from the symbol's outer edges to the next dark element's edge, or to
        // the picture's border when the profile reached it.
        const double left = k0 > 0 ? static_cast<double>(edges[k0 - 1].pos) : -s.lead;
        const double right = k1 + 1 < m ? static_cast<double>(edges[k1 + 1].pos) : n - 1 + s.trail;
        const double before = (firstEdge - left) * step / xPx;
        const double after = (right - lastEdge) * step / xPx;
        const double zone = std::min(before, after);
        q.quietZones = GradeOf(7, zone);

        // Edge contrast, modulation and defects over the symbol and its quiet zones (as far as
        // 10 X).
        const double reach = kQuietX * xPx / step;
        elements[k0] = MeasureElement(p, std::max(bound(k0), edges[k0].pos - reach), edges[k0].pos,
                                      darkElement(k0));
        elements[k1 + 1] =
            MeasureElement(p, edges[k1].pos, std::min(boundEnd(k1 + 1), edges[k1].pos + reach),
                           darkElement(k1 + 1));
        double ec = 1, ern = 0;
        for (int k = k0; k <= k1; ++k)
            ec = std::min(ec, std::abs(elements[k].r - elements[k + 1].r));
        for (int k = k0; k <= k1 + 1; ++k) ern = std::max(ern, elements[k].ern);
        q.minEdgeContrast = GradeOf(3, ec);
        q.modulation = GradeOf(4, sc > 0 ? ec / sc : 0);
        q.defects = GradeOf(5, sc > 0 ? ern / sc : 1);
    }

    const std::array<const GradeParameter*, 8> all{
        &q.decode,     &q.minReflectance, &q.symbolContrast, &q.minEdgeContrast,
        &q.modulation, &q.defects,        &q.decodability,   &q.quietZones};
    g.grade = 4;
    g.fractional = 4;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i]->grade < g.grade) {
            g.grade = all[i]->grade;
            g.failing = static_cast<int>(i);
        }
        g.fractional = std::min(g.fractional, all[i]->fractional);
    }
    return out;
}

GradeParameter* ParameterAt(GradeParameters& p, int i) {
    GradeParameter* all[] = {&p.decode,          &p.minReflectance, &p.symbolContrast,
                             &p.minEdgeContrast, &p.modulation,     &p.defects,
                             &p.decodability,    &p.quietZones};
    return all[i];
}

}  // namespace

GradeParameter GradeOf(int parameter, double v, double rmax) {
    switch (parameter) {
        case 0:
            return PassFail(v, v >= 1);
        case 1:
            return PassFail(v, v <= 0.5 * rmax + kBandEps);
        case 2:
            return Higher(v, 0.70, 0.55, 0.40, 0.20, 0.15);
        case 3:
            return PassFail(v, v + kBandEps >= 0.15);
        case 4:
            return Higher(v, 0.70, 0.60, 0.50, 0.40, 0.30);
        case 5:
            return Defects(v);
        case 6:
            return Higher(v, 0.62, 0.50, 0.37, 0.25, 0.20);
        case 7:
            return PassFail(v, v + kBandEps >= kQuietX - kQuietTolerance);
        default:
            return {v, 0, 0};
    }
}

char GradeLetter(int grade) {
    static constexpr char kLetters[] = {'F', 'D', 'C', 'B', 'A'};
    return kLetters[std::clamp(grade, 0, 4)];
}

char MeanGradeLetter(double value) {
    return value >= 3.5 ? 'A' : value >= 2.5 ? 'B' : value >= 1.5 ? 'C' : value >= 0.5 ? 'D' : 'F';
}

namespace {

// `characters` counts start and stop, and the check character where the reader stripped it;
// `slackX` as for Measure.
SymbolGrade GradeSymbol(const ImageView& view, const Symbol& symbol, int characters,
                        const GradeOptions& options, double slackX = 2) {
    const GreyImage grey(view);
    const GreyView& picture = grey.view();
    SymbolGrade result;
    result.scans = kScans;
    Workspace scratch;  // this grading's scratch, freed with it
    const auto& c = symbol.corners;
    const Point mid0 = Lerp(c[0], c[3], 0.5), mid1 = Lerp(c[1], c[2], 0.5);
    const double length = std::hypot(mid1.x - mid0.x, mid1.y - mid0.y);

    // X first from a line without an aperture (the middle one, or one a little above or below
    // where damage spoils it), or from the length when none decodes (about 14.5 modules to a
    // character at a ratio of 2.5).
    // Corners far outside the picture must not make lengths that overflow sample counts.
    const double diagonal = std::hypot(picture.width, picture.height) + 1;
    double x = std::clamp(length / (14.5 * characters), 1.0, diagonal);
    if (!std::isfinite(x)) x = 1;
    for (const double f : {0.5, 0.3, 0.7}) {
        Sampled s = SampleAlong(picture, Lerp(c[0], c[3], f), Lerp(c[1], c[2], f),
                                std::max(20.0, 0.25 * length), 0.5);
        const ProfileResult r = Measure(s, symbol, x, scratch, slackX);
        if (!r.decoded) continue;
        x = r.grade.xPx;
        break;
    }
    result.aperturePx =
        std::min(options.aperturePx > 0 ? options.aperturePx : kApertureShare * x, diagonal);
    // Six samples to a narrow element place edges well within a tenth of it (they are
    // interpolated between samples) and resolve the aperture.
    const double step = std::clamp(x / 6, 0.1, 0.5);

    double gradeSum = 0, fractionalSum = 0, xSum = 0, ratioSum = 0;
    int decoded = 0;
    for (int i = 0; i < kScans; ++i) {
        const double f = 0.1 + 0.8 * (i + 0.5) / kScans;
        Sampled s = SampleAlong(picture, Lerp(c[0], c[3], f), Lerp(c[1], c[2], f),
                                kMarginX * x + result.aperturePx, step);
        DiscAperture(picture, s, result.aperturePx);
        ProfileResult r = Measure(s, symbol, x, scratch, slackX);
        s.r.swap(r.grade.reflectance);
        gradeSum += r.grade.grade;
        fractionalSum += r.grade.fractional;
        if (r.decoded) {
            ++decoded;
            xSum += r.grade.xPx;
            ratioSum += r.grade.ratio;
        }
        result.profiles.push_back(std::move(r.grade));
    }
    result.value = gradeSum / kScans;
    result.overall = MeanGradeLetter(result.value);
    result.fractionalValue = fractionalSum / kScans;
    result.fractionalOverall = MeanGradeLetter(result.fractionalValue);
    result.decoded = decoded;
    if (decoded > 0) {
        result.xDimensionPx = xSum / decoded;
        result.wideNarrowRatio = ratioSum / decoded;
    }
    // Each parameter as in the profile where it graded lowest; on a tie the worse value (the
    // higher one for Rmin and defects, where less is better).
    for (int k = 0; k < 8; ++k) {
        const bool lowerBetter = k == 1 || k == 5;
        GradeParameter* worst = nullptr;
        for (ProfileGrade& p : result.profiles) {
            GradeParameter* v = ParameterAt(p.parameters, k);
            if (worst == nullptr || v->grade < worst->grade ||
                (v->grade == worst->grade &&
                 (v->fractional < worst->fractional ||
                  (v->fractional == worst->fractional &&
                   (lowerBetter ? v->value > worst->value : v->value < worst->value)))))
                worst = v;
        }
        *ParameterAt(result.parameters, k) = *worst;
    }
    const double minimumRatio =
        options.dpi > 0 && result.xDimensionPx / options.dpi < 0.02 ? 2.2 : 2.0;
    result.ratioRuleOk = decoded > 0 && result.wideNarrowRatio >= minimumRatio - kRatioTolerance &&
                         result.wideNarrowRatio <= 3.0 + kRatioTolerance;
    result.quietZoneRuleOk = decoded > 0 && result.parameters.quietZones.grade == 4;
    if (options.dpi > 0) {
        result.dpi = options.dpi;
        const double inches = result.xDimensionPx / options.dpi;
        result.xDimensionMm = inches * kInchMm;
        result.xDimensionMils = inches * 1000;
        result.minimumRatio = minimumRatio;
        result.ratioOk = decoded > 0 && result.wideNarrowRatio >= minimumRatio - kRatioTolerance;
        result.quietZonesOk = result.quietZoneRuleOk;
    }
    return result;
}

}  // namespace

SymbolGrade Grade(const ImageView& view, const Symbol& symbol, const GradeOptions& options) {
    return GradeSymbol(
        view, symbol,
        static_cast<int>(symbol.text.size()) + 2 + (symbol.check == CheckState::kVerified ? 1 : 0),
        options);
}

SymbolGrade Grade(const ImageView& view, const UnreadSymbol& unread, const GradeOptions& options) {
    Symbol symbol;  // no text: no profile decodes to one
    symbol.corners = unread.corners;
    symbol.angle = unread.angle;
    // Its lines placed the first and last bar's edges themselves: a quiet zone short by more
    // than half an X must not pass for the bars' own end.
    return GradeSymbol(view, symbol, std::max(1, unread.characters) + 2, options, 0.5);
}

const char* UnreadFailing(const UnreadSymbol& symbol) {
    return symbol.quietZoneShort ? kGradeParameterNames[7] : kGradeParameterNames[0];
}

namespace {

std::string ParametersJson(const GradeParameters& parameters) {
    GradeParameters p = parameters;
    std::string j = "{";
    for (int k = 0; k < 8; ++k) {
        const GradeParameter* v = ParameterAt(p, k);
        j += k ? ",\"" : "\"";
        j += kGradeParameterNames[k];
        j += "\":{\"value\":" + JsonNumber(v->value, k == 7 ? 1 : 2) + ",\"grade\":\"" +
             GradeLetter(v->grade) + "\",\"fractional\":" + JsonNumber(v->fractional, 1) + "}";
    }
    return j + "}";
}

// A measured number, or null where nothing was measured.
std::string Measured(double v, int decimals) {
    return v > 0 && std::isfinite(v) ? JsonNumber(v, decimals) : "null";
}

}  // namespace

std::string GradeJson(const SymbolGrade& g) {
    std::string j = "{\"overall\":\"";
    j += g.overall;
    j += "\",\"value\":" + JsonNumber(g.value, 1) + ",\"scans\":" + std::to_string(g.scans) +
         ",\"parameters\":" + ParametersJson(g.parameters);
    j += ",\"x_dimension_px\":" + Measured(g.xDimensionPx, 2) +
         ",\"wide_narrow_ratio\":" + Measured(g.wideNarrowRatio, 2);
    if (g.dpi > 0) {
        j += ",\"dpi\":" + JsonNumber(g.dpi, 1) +
             ",\"x_dimension_mm\":" + Measured(g.xDimensionMm, 3) +
             ",\"x_dimension_mils\":" + Measured(g.xDimensionMils, 1) +
             ",\"code39_rules\":{\"wide_narrow_ratio\":{\"minimum\":" +
             JsonNumber(g.minimumRatio, 1) + ",\"ok\":" + (g.ratioOk ? "true" : "false") +
             "},\"quiet_zones\":{\"minimum_x\":10,\"ok\":" + (g.quietZonesOk ? "true" : "false") +
             "}}";
    }
    j += ",\"fractional\":{\"overall\":\"";
    j += g.fractionalOverall;
    j += "\",\"value\":" + JsonNumber(g.fractionalValue, 2) +
         "},\"decoded\":" + std::to_string(g.decoded) +
         ",\"rules\":{\"wide_narrow_ratio\":{\"minimum\":" +
         JsonNumber(g.dpi > 0 ? g.minimumRatio : 2.0, 1) +
         ",\"maximum\":3,\"ok\":" + (g.ratioRuleOk ? "true" : "false") +
         "},\"quiet_zones\":{\"minimum_x\":10,\"ok\":" + (g.quietZoneRuleOk ? "true" : "false") +
         "}},\"profiles\":[";
    for (std::size_t i = 0; i < g.profiles.size(); ++i) {
        const ProfileGrade& p = g.profiles[i];
        j += i ? ",{\"grade\":\"" : "{\"grade\":\"";
        j += GradeLetter(p.grade);
        j += "\",\"fractional\":" + JsonNumber(p.fractional, 1) + ",\"failing\":";
        j += p.failing >= 0 ? std::string("\"") + kGradeParameterNames[p.failing] + "\"" : "null";
        j += ",\"parameters\":" + ParametersJson(p.parameters) + "}";
    }
    j += "]}";
    return j;
}

}  // namespace scan39::reader
