#include "scan39/grade.h"

#include <algorithm>
#include <array>
#include <cmath>

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
// Edge positions measured at the threshold move with ink spread and blur by a fraction of a
// module; a quiet zone printed at exactly 10 X must not fail on that.
constexpr double kQuietTolerance = 0.5;
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
    return v >= a ? 4 : v >= b ? 3 : v >= c ? 2 : v >= d ? 1 : 0;
}

// A profile along one line: reflectance from `margin` pixels before `a` to as far past `b`,
// within the picture; sa and sb are a and b in samples.
struct Sampled {
    ScanLine line;
    std::vector<float> r;
    double sa = 0, sb = 0;
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
    line.origin = {line.origin.x + from * dir.x, line.origin.y + from * dir.y};
    line.count = static_cast<int>((to - from) / step) + 1;
    SampleProfile(picture, line, s.r);
    for (float& v : s.r) v /= 255.0f;
    s.line = line;
    s.sa = (ta - from) / step;
    s.sb = s.sa + len / step;
    return s;
}

// A circular aperture of `diameter` samples moved along the profile: each sample becomes the
// mean under the disc, i.e. weighted by the disc's chord length across the line.
void Aperture(std::vector<float>& p, double diameter) {
    const double r = diameter / 2;
    const int reach = static_cast<int>(std::min(r, static_cast<double>(p.size())));
    if (reach < 1 || p.empty()) return;
    std::vector<double> k(static_cast<std::size_t>(reach) + 1);
    double sum = 0;
    for (int t = 0; t <= reach; ++t) {
        k[t] = std::sqrt(std::max(0.0, r * r - t * t));
        sum += t == 0 ? k[t] : 2 * k[t];
    }
    const int n = static_cast<int>(p.size());
    std::vector<float> out(p.size());
    for (int i = 0; i < n; ++i) {
        double v = k[0] * p[i];
        for (int t = 1; t <= reach; ++t)
            v += k[t] * (p[std::max(0, i - t)] + p[std::min(n - 1, i + t)]);
        out[i] = static_cast<float>(v / sum);
    }
    p = std::move(out);
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
// bar, the lightest of a space; and its non-uniformity, from the highest peak to the lowest
// valley inside it.
struct ElementMeasure {
    double r = 0;
    double ern = 0;
};

ElementMeasure MeasureElement(const std::vector<float>& p, double from, double to, bool dark) {
    const int n = static_cast<int>(p.size());
    const int i0 = std::max(0, static_cast<int>(std::ceil(from)));
    const int i1 = std::min(n - 1, static_cast<int>(std::floor(to)));
    if (i0 > i1) {
        const int mid = std::clamp(static_cast<int>(std::lround((from + to) / 2)), 0, n - 1);
        return {p[mid], 0};
    }
    ElementMeasure m;
    m.r = p[i0];
    for (int i = i0; i <= i1; ++i)
        m.r = dark ? std::min<double>(m.r, p[i]) : std::max<double>(m.r, p[i]);
    // The extremes against the element's own level: peaks inside a bar, valleys inside a space.
    for (int i = i0 + 1; i < i1; ++i) {
        const bool extreme =
            dark ? p[i] >= p[i - 1] && p[i] >= p[i + 1] : p[i] <= p[i - 1] && p[i] <= p[i + 1];
        if (extreme) m.ern = std::max(m.ern, std::abs(p[i] - m.r));
    }
    return m;
}

struct ProfileResult {
    ProfileGrade grade;
    bool decoded = false;
};

// One profile's parameters. `x` is the X dimension in pixels known so far, for the quiet zones
// of a profile that does not decode.
ProfileResult Measure(Sampled& s, const Symbol& symbol, double x, Workspace& scratch) {
    ProfileResult out;
    ProfileGrade& g = out.grade;
    const std::vector<float>& p = s.r;
    const double step = s.line.step;
    g.from = s.line.At(0);
    g.to = s.line.At(static_cast<float>(s.line.count - 1));
    g.step = step;
    g.begin = s.sa;
    g.end = s.sb;
    GradeParameters& q = g.parameters;
    const int n = static_cast<int>(p.size());
    if (n < 8) return out;

    // Rmin and Rmax over the symbol and its quiet zones; the global threshold between them.
    const double quiet = kQuietX * x / step;
    const int lo = std::max(0, static_cast<int>(s.sa - quiet));
    const int hi = std::min(n - 1, static_cast<int>(std::ceil(s.sb + quiet)));
    const auto [mn, mx] = std::minmax_element(p.begin() + lo, p.begin() + hi + 1);
    const double rmin = *mn, rmax = *mx, sc = rmax - rmin;
    g.threshold = rmin + sc / 2;
    q.minReflectance = {rmin, rmin <= 0.5 * rmax ? 4 : 0};
    q.symbolContrast = {sc, Band(sc, 0.70, 0.55, 0.40, 0.20)};

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
        const double slack = 2 * x / step;
        k0 = 0;
        while (k0 < m && edges[k0].pos < s.sa - slack) ++k0;
        k1 = m - 1;
        while (k1 >= 0 && edges[k1].pos > s.sb + slack) --k1;
    } else {
        g.begin = edges[k0].pos;
        g.end = edges[k1].pos;
    }
    q.decode = {out.decoded ? 1.0 : 0.0, out.decoded ? 4 : 0};

    if (k0 <= k1) {
        // Quiet zones: to the nearest crossing beyond the bars, or the end of what was seen.
        const double qx = out.decoded ? 0 : x;  // set below from the widths when decoded
        double xPx = qx;
        if (out.decoded) {
            const std::string chars = std::string(1, kStartStop) + best->chars + kStartStop;
            double narrowSum = 0, wideSum = 0;
            int narrowCount = 0, wideCount = 0;
            double worst = 1;
            for (std::size_t c = 0; c < chars.size(); ++c) {
                const int k = k0 + 10 * static_cast<int>(c);
                const auto mask = WideMask(static_cast<int>(kCharacters.find(chars[c])));
                std::array<double, 9> w{};
                double ns = 0, ws = 0;
                for (int j = 0; j < 9; ++j) {
                    w[j] = (edges[k + j + 1].pos - edges[k + j].pos) * step;
                    (mask >> (8 - j) & 1 ? ws : ns) += w[j];
                }
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
            xPx = narrowSum / narrowCount;
            g.xPx = xPx;
            g.ratio = (wideSum / wideCount) / xPx;
            worst = std::max(0.0, worst);
            q.decodability = {worst, Band(worst, 0.62, 0.50, 0.37, 0.25)};
        }
        const double before = (edges[k0].pos - bound(k0)) * step / xPx;
        const double after = (boundEnd(k1 + 1) - edges[k1].pos) * step / xPx;
        const double zone = std::min(before, after);
        q.quietZones = {zone, zone >= kQuietX - kQuietTolerance ? 4 : 0};

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
        q.minEdgeContrast = {ec, ec >= 0.15 ? 4 : 0};
        const double mod = sc > 0 ? ec / sc : 0;
        q.modulation = {mod, Band(mod, 0.70, 0.60, 0.50, 0.40)};
        const double defects = sc > 0 ? ern / sc : 1;
        q.defects = {defects, defects <= 0.15   ? 4
                              : defects <= 0.20 ? 3
                              : defects <= 0.25 ? 2
                              : defects <= 0.30 ? 1
                                                : 0};
    } else {
        q.defects = {1, 0};
    }

    const std::array<const GradeParameter*, 8> all{
        &q.decode,     &q.minReflectance, &q.symbolContrast, &q.minEdgeContrast,
        &q.modulation, &q.defects,        &q.decodability,   &q.quietZones};
    g.grade = 4;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i]->grade < g.grade) {
            g.grade = all[i]->grade;
            g.failing = static_cast<int>(i);
        }
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

char GradeLetter(int grade) {
    static constexpr char kLetters[] = {'F', 'D', 'C', 'B', 'A'};
    return kLetters[std::clamp(grade, 0, 4)];
}

char MeanGradeLetter(double value) {
    return value >= 3.5 ? 'A' : value >= 2.5 ? 'B' : value >= 1.5 ? 'C' : value >= 0.5 ? 'D' : 'F';
}

SymbolGrade Grade(const ImageView& view, const Symbol& symbol, const GradeOptions& options) {
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
    const int characters =
        static_cast<int>(symbol.text.size()) + 2 + (symbol.check == CheckState::kVerified ? 1 : 0);
    // Corners far outside the picture must not make lengths that overflow sample counts.
    const double diagonal = std::hypot(picture.width, picture.height) + 1;
    double x = std::clamp(length / (14.5 * characters), 1.0, diagonal);
    if (!std::isfinite(x)) x = 1;
    for (const double f : {0.5, 0.3, 0.7}) {
        Sampled s = SampleAlong(picture, Lerp(c[0], c[3], f), Lerp(c[1], c[2], f),
                                std::max(20.0, 0.25 * length), 0.5);
        const ProfileResult r = Measure(s, symbol, x, scratch);
        if (!r.decoded) continue;
        x = r.grade.xPx;
        break;
    }
    result.aperturePx =
        std::min(options.aperturePx > 0 ? options.aperturePx : kApertureShare * x, diagonal);
    // Six samples to a narrow element place edges well within a tenth of it (they are
    // interpolated between samples) and resolve the aperture.
    const double step = std::clamp(x / 6, 0.1, 0.5);

    double gradeSum = 0, xSum = 0, ratioSum = 0;
    int decoded = 0;
    for (int i = 0; i < kScans; ++i) {
        const double f = 0.1 + 0.8 * (i + 0.5) / kScans;
        Sampled s = SampleAlong(picture, Lerp(c[0], c[3], f), Lerp(c[1], c[2], f),
                                kMarginX * x + result.aperturePx, step);
        Aperture(s.r, result.aperturePx / step);
        ProfileResult r = Measure(s, symbol, x, scratch);
        s.r.swap(r.grade.reflectance);
        gradeSum += r.grade.grade;
        if (r.decoded) {
            ++decoded;
            xSum += r.grade.xPx;
            ratioSum += r.grade.ratio;
        }
        result.profiles.push_back(std::move(r.grade));
    }
    result.value = gradeSum / kScans;
    result.overall = MeanGradeLetter(result.value);
    if (decoded > 0) {
        result.xDimensionPx = xSum / decoded;
        result.wideNarrowRatio = ratioSum / decoded;
    }
    // Each parameter as in the profile where it graded lowest (the worse value on a tie).
    for (int k = 0; k < 8; ++k) {
        const bool lowerBetter = k == 5;  // defects
        GradeParameter* worst = nullptr;
        for (ProfileGrade& p : result.profiles) {
            GradeParameter* v = ParameterAt(p.parameters, k);
            if (worst == nullptr || v->grade < worst->grade ||
                (v->grade == worst->grade &&
                 (lowerBetter ? v->value > worst->value : v->value < worst->value)))
                worst = v;
        }
        *ParameterAt(result.parameters, k) = *worst;
    }
    if (options.dpi > 0) {
        result.dpi = options.dpi;
        const double inches = result.xDimensionPx / options.dpi;
        result.xDimensionMm = inches * kInchMm;
        result.xDimensionMils = inches * 1000;
        result.minimumRatio = inches < 0.02 ? 2.2 : 2.0;
        result.ratioOk = decoded > 0 && result.wideNarrowRatio >= result.minimumRatio;
        result.quietZonesOk = decoded > 0 && result.parameters.quietZones.grade == 4;
    }
    return result;
}

std::string GradeJson(const SymbolGrade& g) {
    std::string j = "{\"overall\":\"";
    j += g.overall;
    j += "\",\"value\":" + JsonNumber(g.value, 1) + ",\"scans\":" + std::to_string(g.scans) +
         ",\"parameters\":{";
    GradeParameters p = g.parameters;
    for (int k = 0; k < 8; ++k) {
        const GradeParameter* v = ParameterAt(p, k);
        j += k ? ",\"" : "\"";
        j += kGradeParameterNames[k];
        j += "\":{\"value\":" + JsonNumber(v->value, k == 7 ? 1 : 2) + ",\"grade\":\"" +
             GradeLetter(v->grade) + "\"}";
    }
    j += "},\"x_dimension_px\":" + JsonNumber(g.xDimensionPx, 2) +
         ",\"wide_narrow_ratio\":" + JsonNumber(g.wideNarrowRatio, 2);
    if (g.dpi > 0) {
        j += ",\"dpi\":" + JsonNumber(g.dpi, 1) +
             ",\"x_dimension_mm\":" + JsonNumber(g.xDimensionMm, 3) +
             ",\"x_dimension_mils\":" + JsonNumber(g.xDimensionMils, 1) +
             ",\"code39_rules\":{\"wide_narrow_ratio\":{\"minimum\":" +
             JsonNumber(g.minimumRatio, 1) + ",\"ok\":" + (g.ratioOk ? "true" : "false") +
             "},\"quiet_zones\":{\"minimum_x\":10,\"ok\":" + (g.quietZonesOk ? "true" : "false") +
             "}}";
    }
    j += "}";
    return j;
}

}  // namespace scan39::reader
