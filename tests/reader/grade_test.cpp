// Print quality grading on symbols drawn with known grey levels, whose parameters follow from
// the formulas.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scan39/encoder.h"
#include "scan39/grade.h"
#include "scan39/reader.h"

namespace {

using namespace scan39;

// An upright symbol on whole pixels: bars at `bar`, wide spaces and quiet zones at `space`,
// narrow spaces at `narrowSpace`; `outside` beyond the quiet zones of `margin` X, `border`
// pixels of it to the picture's edge.
struct Label {
    std::string text = "GRADE39";
    int x = 4;
    double ratio = 3;
    int bar = 20, space = 235, narrowSpace = 235;
    int margin = 12, outside = 235;
    int marginLeft = -1;  // the left quiet zone in X where it differs from `margin`
    int voidGrey = -1;  // a light spot in the middle of the first wide bar
    int border = 20;
    double blurX = 0;  // a Gaussian blur across the bars, sigma in X
    double noise = 0;  // grey levels of noise, sigma, each pixel its own
    bool cut = false;  // the first wide bar cut through by a light line across all rows
    int spotGrey = -1;  // a spot in the middle of the first wide space, across all rows
    // The character (0: the start) whose first wide bar `cut` cuts and whose first wide space
    // the spot lies in.
    int faultAt = 0;
};

struct Drawn {
    int width = 0, height = 80;
    std::vector<std::uint8_t> pixels;
    std::vector<double> row;  // the label's row as drawn, blurred, before noise and rounding
    int at = 0;               // the first bar's leading edge in `row`
    reader::GreyView View() const { return {pixels.data(), width, height, width}; }
};

// Deterministic noise: a fixed generator, Box-Muller.
struct Noise {
    std::uint64_t state = 12345;
    double Uniform() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return (static_cast<double>(state >> 11) + 0.5) / 9007199254740992.0;
    }
    double Normal() {
        return std::sqrt(-2 * std::log(Uniform())) * std::cos(6.283185307179586 * Uniform());
    }
};

Drawn Draw(const Label& l) {
    const std::vector<encoder::Element> elements = encoder::Elements(l.text);
    Drawn d;
    std::vector<double> row(static_cast<std::size_t>(l.border), l.outside);
    const int left = l.marginLeft >= 0 ? l.marginLeft : l.margin;
    row.insert(row.end(), static_cast<std::size_t>(left * l.x), l.space);
    d.at = static_cast<int>(row.size());
    std::size_t voidAt = 0, cutAt = 0, spotAt = 0;
    int character = 0;
    for (const encoder::Element& e : elements) {
        const int w = e.wide ? static_cast<int>(std::lround(l.ratio * l.x)) : l.x;
        const int grey = e.bar ? l.bar : e.wide || e.gap ? l.space : l.narrowSpace;
        const std::size_t at = row.size();
        row.insert(row.end(), static_cast<std::size_t>(w), grey);
        if (e.bar && e.wide && voidAt == 0) voidAt = at + w / 2 - 1;
        if (character == l.faultAt && e.bar && e.wide && cutAt == 0) cutAt = at + w / 2 - 1;
        if (character == l.faultAt && !e.bar && e.wide && !e.gap && spotAt == 0)
            spotAt = at + w / 2 - 1;
        character += e.gap;
    }
    row.insert(row.end(), static_cast<std::size_t>(l.margin * l.x), l.space);
    row.insert(row.end(), static_cast<std::size_t>(l.border), l.outside);
    if (l.cut) row[cutAt] = row[cutAt + 1] = l.space;
    if (l.spotGrey >= 0) row[spotAt] = row[spotAt + 1] = l.spotGrey;
    if (l.blurX > 0) {
        // Each pixel the mean of the row under a Gaussian (pixels beyond the ends repeat them).
        const double sigma = l.blurX * l.x;
        const int reach = static_cast<int>(std::ceil(4 * sigma));
        std::vector<double> blurred(row.size());
        const int n = static_cast<int>(row.size());
        for (int i = 0; i < n; ++i) {
            double sum = 0, weight = 0;
            for (int t = -reach; t <= reach; ++t) {
                const double k = std::exp(-0.5 * t * t / (sigma * sigma));
                sum += k * row[std::clamp(i + t, 0, n - 1)];
                weight += k;
            }
            blurred[i] = sum / weight;
        }
        row = std::move(blurred);
    }
    d.width = static_cast<int>(row.size());
    d.pixels.assign(static_cast<std::size_t>(d.width * d.height),
                    static_cast<std::uint8_t>(l.outside));
    Noise noise;
    for (int y = 10; y < d.height - 10; ++y)
        for (int i = 0; i < d.width; ++i) {
            const double v = row[i] + (l.noise > 0 ? l.noise * noise.Normal() : 0);
            d.pixels[y * d.width + i] =
                static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
        }
    // Across the middle rows only, where the grading crosses it and lines above and below read.
    for (int y = 30; y < 50 && l.voidGrey >= 0; ++y)
        for (std::size_t i = voidAt; i < voidAt + 2; ++i)
            d.pixels[y * d.width + i] = static_cast<std::uint8_t>(l.voidGrey);
    d.row = std::move(row);
    return d;
}

// `aperture` in pixels, 0 for the default.
reader::SymbolGrade ReadAndGrade(const Label& l, double aperture = 0) {
    const Drawn d = Draw(l);
    const auto symbols = reader::Read(d.View());
    EXPECT_EQ(symbols.size(), 1u);
    if (symbols.empty()) return {};
    EXPECT_EQ(symbols[0].text, l.text);
    return reader::Grade(d.View(), symbols[0], {.aperturePx = aperture});
}

// The method worked on the drawn row itself (linear between pixel centres, no aperture): the
// global threshold finds the elements, each edge lies where the row crosses the midpoint of
// its two elements' extremes, and each character's decodability is its worst element's
// distance from the threshold between its mean narrow and mean wide element, over half their
// difference.
double DecodabilityOfRow(const Drawn& d, const Label& l) {
    const std::vector<double>& r = d.row;
    const auto [mn, mx] = std::minmax_element(r.begin(), r.end());
    const double threshold = (*mn + *mx) / 2;
    // Elements: runs on one side of the threshold, with their extreme sample.
    std::vector<int> extreme;
    std::vector<double> level;
    for (int i = 0; i < static_cast<int>(r.size());) {
        const bool dark = r[i] < threshold;
        int j = i, best = i;
        while (j < static_cast<int>(r.size()) && (r[j] < threshold) == dark) {
            if (dark ? r[j] < r[best] : r[j] > r[best]) best = j;
            ++j;
        }
        extreme.push_back(best);
        level.push_back(r[best]);
        i = j;
    }
    std::vector<double> edges;
    for (std::size_t k = 0; k + 1 < extreme.size(); ++k) {
        const double mid = (level[k] + level[k + 1]) / 2;
        for (int i = extreme[k]; i < extreme[k + 1]; ++i)
            if ((r[i] < mid) != (r[i + 1] < mid)) {
                edges.push_back(i + (r[i] - mid) / (r[i] - r[i + 1]));
                break;
            }
    }
    // edges[0] leaves the outside (or the quiet zone, without a border), so the symbol's
    // first edge is edges[1] with a border and edges[0] without.
    const std::size_t first = l.border > 0 && l.outside < threshold ? 1 : 0;
    const std::vector<encoder::Element> elements = encoder::Elements(l.text);
    double worst = 1;
    for (std::size_t c = 0; c * 10 < elements.size(); ++c) {
        double w[9], narrow = 0, wide = 0;
        for (int j = 0; j < 9; ++j) {
            w[j] = edges[first + c * 10 + j + 1] - edges[first + c * 10 + j];
            (elements[c * 10 + j].wide ? wide : narrow) += w[j];
        }
        narrow /= 6, wide /= 3;
        const double t = (narrow + wide) / 2, half = (wide - narrow) / 2;
        for (int j = 0; j < 9; ++j)
            worst = std::min(worst, (elements[c * 10 + j].wide ? w[j] - t : t - w[j]) / half);
    }
    return std::max(0.0, worst);
}

TEST(Grade, ContrastAndModulationFollowTheGreyLevels) {
    struct Case {
        int bar, space, narrowSpace;
        char symbolContrast, modulation, overall;
    };
    const Case cases[] = {
        {20, 235, 235, 'A', 'A', 'A'},
        {20, 230, 160, 'A', 'B', 'B'},  // narrow spaces darker: weaker edges
        {70, 200, 200, 'C', 'A', 'C'},
        {40, 110, 110, 'D', 'A', 'D'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bar << "/" << c.space << "/" << c.narrowSpace);
        const Label l{
            .bar = c.bar, .space = c.space, .narrowSpace = c.narrowSpace, .outside = c.space};
        // An aperture of half X: the pixels' own interpolation blurs a little more, and the
        // profiles must still reach each element's grey level for the formulas to hold.
        const reader::SymbolGrade g = ReadAndGrade(l, 0.5 * l.x);
        const double sc = (c.space - c.bar) / 255.0;
        EXPECT_NEAR(g.parameters.symbolContrast.value, sc, 0.02);
        EXPECT_NEAR(g.parameters.modulation.value, (c.narrowSpace - c.bar) / 255.0 / sc, 0.02);
        EXPECT_EQ(reader::GradeLetter(g.parameters.symbolContrast.grade), c.symbolContrast);
        EXPECT_EQ(reader::GradeLetter(g.parameters.modulation.grade), c.modulation);
        EXPECT_EQ(g.overall, c.overall);
        EXPECT_EQ(g.scans, 10);
        if (c.narrowSpace != c.space) continue;  // weaker narrow spaces measure narrower
        EXPECT_NEAR(g.xDimensionPx, l.x, 0.1);
        EXPECT_NEAR(g.wideNarrowRatio, l.ratio, 0.1);
        EXPECT_GT(g.parameters.decodability.value, 0.9);
    }
}

TEST(Grade, VoidInAWideBarRaisesDefects) {
    const reader::SymbolGrade clean = ReadAndGrade({});
    const reader::SymbolGrade voided = ReadAndGrade({.voidGrey = 90});
    EXPECT_LT(clean.parameters.defects.value, 0.05);
    EXPECT_GT(voided.parameters.defects.value, 0.15);
    EXPECT_LT(voided.parameters.defects.grade, clean.parameters.defects.grade);
    EXPECT_LT(voided.value, clean.value);
}

TEST(Grade, QuietZoneOfFiveXFails) {
    const reader::SymbolGrade g = ReadAndGrade({.margin = 5, .outside = 20});
    EXPECT_NEAR(g.parameters.quietZones.value, 5, 0.3);
    EXPECT_EQ(g.parameters.quietZones.grade, 0);
    EXPECT_EQ(g.overall, 'F');
    EXPECT_EQ(g.parameters.decode.grade, 4);  // it still reads: the quiet zone alone fails
}

// Each edge at its two elements' own midpoint: grey narrow spaces keep their printed width, and
// under blur the widths, and so decodability, are the method's, worked on the drawn row.
TEST(GradeEdges, DecodabilityIsTheMethodsOnTheDrawnRow) {
    struct Case {
        double blurX;
        int narrowSpace;
        double ratio;
    };
    const Case cases[] = {
        {0, 160, 3},   {0, 140, 3},   {0.2, 235, 3}, {0.4, 235, 3},
        {0.6, 235, 3}, {0.3, 160, 3}, {0.4, 235, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "blur " << c.blurX << " X, narrow spaces "
                                        << c.narrowSpace << ", ratio " << c.ratio);
        const Label l{.x = 5, .ratio = c.ratio, .narrowSpace = c.narrowSpace, .blurX = c.blurX};
        const Drawn d = Draw(l);
        const auto symbols = reader::Read(d.View());
        ASSERT_EQ(symbols.size(), 1u);
        // An aperture under the profile's step: the profile is the row itself.
        const reader::SymbolGrade g = reader::Grade(d.View(), symbols[0], {.aperturePx = 0.4});
        const double expected = DecodabilityOfRow(d, l);
        EXPECT_NEAR(g.parameters.decodability.value, expected, 0.03);
        EXPECT_EQ(g.parameters.decode.grade, 4);
        // Printed at their widths, edges at the midpoints give them back: 1.0, whatever grey.
        if (c.blurX == 0) {
            EXPECT_NEAR(expected, 1.0, 1e-9);
        }
    }
    // With the default aperture too: a grey narrow space at its width does not cost
    // decodability.
    const reader::SymbolGrade grey = ReadAndGrade({.narrowSpace = 160});
    EXPECT_GT(grey.parameters.decodability.value, 0.9);
    EXPECT_EQ(grey.parameters.decodability.grade, 4);
}

// Quiet zones against the drawn truth: to the picture's edge or to a dark surround, sharp and
// blurred, at X from 2 px; 10 X passes and 9 X fails. Within 0.2 X sharp or under blur to
// 0.3 X; blur of more spreads a narrow first bar and confuses narrow and wide, 0.3 X at 0.4 X.
TEST(GradeQuietZones, MeasuredNearTheTruth) {
    struct Case {
        int x, margin, border, outside;
        double blurX, tolerance;
        int grade;
    };
    const Case cases[] = {
        {2, 10, 0, 235, 0, 0.2, 4},   {2, 9, 0, 235, 0, 0.2, 0},    {4, 10, 0, 235, 0, 0.2, 4},
        {4, 9, 0, 235, 0, 0.2, 0},    {4, 10, 20, 20, 0, 0.2, 4},   {4, 9, 20, 20, 0, 0.2, 0},
        {5, 12, 20, 20, 0.2, 0.2, 4}, {5, 12, 20, 20, 0.3, 0.2, 4}, {5, 12, 20, 20, 0.4, 0.3, 4},
        {5, 10, 20, 20, 0.4, 0.3, 4}, {5, 12, 20, 20, 0.6, 0.5, 4}, {3, 10, 0, 235, 0.3, 0.2, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "X " << c.x << ", " << c.margin << " X, border "
                                        << c.border << ", blur " << c.blurX << " X");
        const reader::SymbolGrade g = ReadAndGrade({.x = c.x,
                                                    .margin = c.margin,
                                                    .outside = c.outside,
                                                    .border = c.border,
                                                    .blurX = c.blurX});
        EXPECT_NEAR(g.parameters.quietZones.value, c.margin, c.tolerance);
        EXPECT_EQ(g.parameters.quietZones.grade, c.grade);
        EXPECT_EQ(g.quietZoneRuleOk, c.grade == 4);
        EXPECT_NEAR(g.xDimensionPx, c.x, 0.03 * c.x);
    }
}

// Noise in every pixel: the disc aperture averages it across rows as well as along them, so
// defects stay those of the noise under the whole disc: for noise of sigma s grey levels, a
// disc of 0.8 X = 4 px holds about 12.6 pixels, s / sqrt(12.6) = 0.28 s; a peak to valley
// inside an element of four such sigmas is 1.1 s, against a contrast of 215.
TEST(GradeAperture, NoiseAveragesOverTheDisc) {
    for (const double sigma : {8.0, 16.0, 24.0}) {
        SCOPED_TRACE(sigma);
        const reader::SymbolGrade g = ReadAndGrade({.x = 5, .noise = sigma});
        EXPECT_LT(g.parameters.defects.value, 4 * 0.28 * sigma / 215 + 0.02);
        EXPECT_EQ(g.parameters.defects.grade, 4);
    }
}

// Band limits exactly: a value at a limit takes the better band; the interpolated grade runs
// linearly between limits, cut to a tenth.
TEST(GradeBands, LimitsAndInterpolation) {
    struct Case {
        int parameter;
        double value, rmax;
        char letter;
        double fractional;
    };
    const Case cases[] = {
        {2, 0.70, 1, 'A', 4.0},  {2, 0.6999, 1, 'B', 3.9}, {2, 0.55, 1, 'B', 3.0},
        {2, 0.625, 1, 'B', 3.5}, {2, 0.40, 1, 'C', 2.0},   {2, 0.3999, 1, 'D', 1.9},
        {2, 0.20, 1, 'D', 1.0},  {2, 0.175, 1, 'F', 0.5},  {2, 0.15, 1, 'F', 0.0},
        {2, 0.10, 1, 'F', 0.0},  {4, 0.65, 1, 'B', 3.5},   {4, 0.50, 1, 'C', 2.0},
        {4, 0.35, 1, 'F', 0.5},  {4, 0.30, 1, 'F', 0.0},   {6, 0.62, 1, 'A', 4.0},
        {6, 0.56, 1, 'B', 3.5},  {6, 0.37, 1, 'C', 2.0},   {6, 0.25, 1, 'D', 1.0},
        {6, 0.225, 1, 'F', 0.5}, {5, 0.15, 1, 'A', 4.0},   {5, 0.175, 1, 'B', 3.5},
        {5, 0.20, 1, 'B', 3.0},  {5, 0.25, 1, 'C', 2.0},   {5, 0.30, 1, 'D', 1.0},
        {5, 0.31, 1, 'F', 0.0},  {1, 0.40, 0.8, 'A', 4.0}, {1, 0.41, 0.8, 'F', 0.0},
        {3, 0.15, 1, 'A', 4.0},  {3, 0.1499, 1, 'F', 0.0}, {7, 9.7, 1, 'A', 4.0},
        {7, 9.69, 1, 'F', 0.0},  {0, 1, 1, 'A', 4.0},      {0, 0, 1, 'F', 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << reader::kGradeParameterNames[c.parameter] << " " << c.value);
        const reader::GradeParameter p = reader::GradeOf(c.parameter, c.value, c.rmax);
        EXPECT_EQ(reader::GradeLetter(p.grade), c.letter);
        EXPECT_NEAR(p.fractional, c.fractional, 1e-9);
    }
    // Drawn at a limit: 102 grey levels are exactly 0.40 of 255, 51 exactly 0.20.
    struct Drawn2 {
        int bar, space;
        char letter;
    };
    for (const Drawn2 c : {Drawn2{100, 202, 'C'}, Drawn2{20, 122, 'C'}, Drawn2{20, 199, 'A'},
                           Drawn2{20, 198, 'B'}}) {
        SCOPED_TRACE(testing::Message() << c.bar << "/" << c.space);
        const reader::SymbolGrade g = ReadAndGrade(
            {.bar = c.bar, .space = c.space, .narrowSpace = c.space, .outside = c.space});
        EXPECT_EQ(reader::GradeLetter(g.parameters.symbolContrast.grade), c.letter);
    }
}

// Rmin, lower is better: the symbol shows the profile with the highest, even where all pass.
TEST(GradeReport, EachParameterShowsItsWorstProfile) {
    const Label l{};
    Drawn d = Draw(l);
    Label lighter = l;
    lighter.bar = 60;
    const Drawn lower = Draw(lighter);
    for (int y = 40; y < 70; ++y)
        std::copy_n(lower.pixels.begin() + y * d.width, d.width, d.pixels.begin() + y * d.width);
    const auto symbols = reader::Read(d.View());
    ASSERT_EQ(symbols.size(), 1u);
    const reader::SymbolGrade g = reader::Grade(d.View(), symbols[0]);
    EXPECT_EQ(g.parameters.minReflectance.grade, 4);
    EXPECT_NEAR(g.parameters.minReflectance.value, 60 / 255.0, 0.01);
    EXPECT_NEAR(g.parameters.symbolContrast.value, (235 - 60) / 255.0, 0.01);
    // The JSON carries each profile's own grades, and the interpolated ones.
    const std::string json = reader::GradeJson(g);
    EXPECT_NE(json.find("\"profiles\":[{\"grade\":\"A\",\"fractional\":"), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"fractional\":{\"overall\":\"A\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"rules\":{\"wide_narrow_ratio\":{\"minimum\":2,\"maximum\":3,"
                        "\"ok\":true},\"quiet_zones\":{\"minimum_x\":10,\"ok\":true}}"),
              std::string::npos)
        << json;
}

// A symbol located where no line decodes (a bar cut through from top to bottom): F, with decode
// the failing parameter of every profile and X unknown, never 0.
TEST(GradeReport, SymbolWhoseLinesDoNotDecodeGetsF) {
    const Label l{.cut = true};
    const Drawn d = Draw(l);
    EXPECT_TRUE(reader::Read(d.View()).empty());
    const double length = (d.width - 2 * l.border - 2 * l.margin * l.x);
    reader::Symbol s;
    s.text = l.text;
    s.corners = {{{static_cast<double>(d.at), 10},
                  {d.at + length, 10},
                  {d.at + length, 70},
                  {static_cast<double>(d.at), 70}}};
    const reader::SymbolGrade g = reader::Grade(d.View(), s);
    EXPECT_EQ(g.overall, 'F');
    EXPECT_EQ(g.fractionalOverall, 'F');
    EXPECT_EQ(g.decoded, 0);
    for (const reader::ProfileGrade& p : g.profiles) {
        EXPECT_EQ(p.grade, 0);
        EXPECT_STREQ(reader::kGradeParameterNames[p.failing], "decode");
    }
    const std::string json = reader::GradeJson(g);
    EXPECT_NE(json.find("\"x_dimension_px\":null,\"wide_narrow_ratio\":null"), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"failing\":\"decode\""), std::string::npos);
}

// Code 39's wide/narrow rule, 2.0 to 3.0, on the measured ratio (0.05 allowed for measuring).
TEST(GradeRules, WideNarrowRatio) {
    struct Case {
        double ratio;
        bool ok;
    };
    for (const Case c : {Case{2.0, true}, Case{2.4, true}, Case{3.0, true}, Case{1.8, false},
                         Case{3.4, false}}) {
        SCOPED_TRACE(c.ratio);
        const reader::SymbolGrade g = ReadAndGrade({.x = 5, .ratio = c.ratio});
        EXPECT_NEAR(g.wideNarrowRatio, c.ratio, 0.05);
        EXPECT_EQ(g.ratioRuleOk, c.ok);
        EXPECT_NE(reader::GradeJson(g).find(std::string("\"maximum\":3,\"ok\":") +
                                            (c.ok ? "true" : "false")),
                  std::string::npos);
    }
}

TEST(Grade, ResolutionGivesXInMillimetresAndTheRatioRule) {
    const Drawn d = Draw({.ratio = 2});
    const auto symbols = reader::Read(d.View());
    ASSERT_EQ(symbols.size(), 1u);
    // 4 px at 300 dpi: 0.34 mm, 13.3 mils, below 0.02 in.: a ratio of 2 is too small.
    const reader::SymbolGrade g = reader::Grade(d.View(), symbols[0], {.dpi = 300});
    EXPECT_NEAR(g.xDimensionMm, 0.339, 0.01);
    EXPECT_NEAR(g.xDimensionMils, 13.3, 0.3);
    EXPECT_EQ(g.minimumRatio, 2.2);
    EXPECT_FALSE(g.ratioOk);
    EXPECT_TRUE(g.quietZonesOk);
    const std::string json = reader::GradeJson(g);
    EXPECT_NE(json.find("\"code39_rules\":{\"wide_narrow_ratio\":{\"minimum\":2.2,\"ok\":false}"),
              std::string::npos)
        << json;
}

}  // namespace

namespace {

// Corners that make no sense for the picture give an F, never a crash or a hang.
TEST(Grade, CornersOutsideThePictureGiveF) {
    const Drawn d = Draw({});
    for (const double far : {-1e9, 1e12, std::nan("")}) {
        reader::Symbol s;
        s.text = "GRADE39";
        s.corners = {{{far, 10}, {far, 20}, {30, 40}, {0, 70}}};
        const reader::SymbolGrade g = reader::Grade(d.View(), s, {.aperturePx = 1e300});
        EXPECT_EQ(g.overall, 'F');
        EXPECT_EQ(g.profiles.size(), 10u);
    }
}

// Symbols the reader locates but cannot read, only when asked: each graded F, with the
// parameter that kept it from being read, where the lines saw it. Lines must see both the start
// and the stop: a symbol whose start or stop no line reads is not located.
TEST(GradeUnread, LocatedSymbolsGetFAndTheirFailingParameter) {
    struct Case {
        const char* name;
        Label label;
        const char* failing;
    };
    const Case cases[] = {
        {"bar cut through", {.cut = true, .faultAt = 3}, "decode"},
        {"spot above the threshold", {.spotGrey = 20, .faultAt = 3}, "decode"},
        {"spot in the last character", {.spotGrey = 20, .faultAt = 7}, "decode"},
        {"left quiet zone of 2 X", {.outside = 20, .marginLeft = 2}, "quiet_zones"},
        {"left quiet zone of 3 X", {.outside = 20, .marginLeft = 3}, "quiet_zones"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Drawn d = Draw(c.label);
        EXPECT_TRUE(reader::Read(d.View()).empty());
        // A plain read looks for none.
        EXPECT_TRUE(reader::ReadAll(d.View()).unread.empty());
        const reader::ReadResult r = reader::ReadAll(d.View(), {.locateUnread = true});
        EXPECT_TRUE(r.symbols.empty());
        if (r.unread.size() != 1) {
            ADD_FAILURE() << r.unread.size() << " unread symbols";
            continue;
        }
        const reader::UnreadSymbol& u = r.unread[0];
        EXPECT_EQ(u.characters, static_cast<int>(c.label.text.size()));
        EXPECT_GE(u.lines, 8);
        EXPECT_STREQ(reader::UnreadFailing(u), c.failing);
        // The bars from start to stop, reading left to right.
        const int left = c.label.marginLeft >= 0 ? c.label.marginLeft : c.label.margin;
        const double length = d.width - 2.0 * c.label.border - (c.label.margin + left) * c.label.x;
        EXPECT_NEAR(u.corners[0].x, d.at, 2 * c.label.x);
        EXPECT_NEAR(u.corners[1].x, d.at + length, 2 * c.label.x);
        EXPECT_LT(std::min(u.angle, 360 - u.angle), 1);
        const reader::SymbolGrade g = reader::Grade(d.View(), u);
        EXPECT_EQ(g.overall, 'F');
        EXPECT_EQ(g.fractionalOverall, 'F');
        EXPECT_EQ(g.decoded, 0);
        EXPECT_EQ(g.parameters.decode.grade, 0);
        if (std::string(c.failing) == "quiet_zones") {
            EXPECT_EQ(g.parameters.quietZones.grade, 0);
            EXPECT_LT(g.parameters.quietZones.value, 9.7);
        }
    }
}

// A run of characters with both quiet zones short gives no unread symbol: other symbologies'
// bars spell such runs by chance.
TEST(GradeUnread, NoneWithBothQuietZonesShort) {
    const Drawn d = Draw({.margin = 2, .outside = 20});
    const reader::ReadResult r = reader::ReadAll(d.View(), {.locateUnread = true});
    EXPECT_TRUE(r.symbols.empty());
    EXPECT_TRUE(r.unread.empty());
}

// Marks that are no symbol give no unread one: print, bars at random, stripes.
TEST(GradeUnread, NoneWhereNoSymbolIs) {
    struct Case {
        const char* name;
        int width, height;
        std::function<int(int x, int y)> grey;
    };
    // Bars and spaces of 1 to 9 pixels at random.
    const auto randomBars = [](std::uint64_t seed) {
        std::vector<std::uint8_t> row;
        Noise n{seed};
        bool dark = false;
        while (row.size() < 900) {
            const int w = 1 + static_cast<int>(n.Uniform() * 9);
            row.insert(row.end(), static_cast<std::size_t>(w), dark ? 25 : 230);
            dark = !dark;
        }
        return row;
    };
    const std::vector<std::uint8_t> bars1 = randomBars(7), bars2 = randomBars(99);
    const Case cases[] = {
        // Text-like marks: short strokes of a few widths in rows of "words".
        {"text-like marks", 900, 240,
         [](int x, int y) {
             const int line = y / 30, in = y % 30;
             const int word = (x + 37 * line) / 70, stroke = (x + 37 * line) % 70;
             const bool ink = in >= 8 && in < 24 && stroke < 56 &&
                              ((stroke * 7 + word * 13 + line * 5) % 11 < 3 + (word + line) % 3);
             return ink ? 30 : 225;
         }},
        {"random bars", 900, 160, [&](int x, int) { return static_cast<int>(bars1[x]); }},
        {"random bars, another draw", 900, 160,
         [&](int x, int) { return static_cast<int>(bars2[x]); }},
        {"stripes", 900, 160, [](int x, int) { return x % 10 < 4 ? 25 : 230; }},
        {"stripes of two widths", 900, 160,
         [](int x, int) { return x % 24 < 4 || (x % 24 >= 12 && x % 24 < 20) ? 25 : 230; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(c.width * c.height));
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                pixels[static_cast<std::size_t>(y * c.width + x)] =
                    static_cast<std::uint8_t>(c.grey(x, y));
        const reader::GreyView view{pixels.data(), c.width, c.height, c.width};
        const reader::ReadResult r = reader::ReadAll(view, {.locateUnread = true});
        EXPECT_TRUE(r.symbols.empty());
        EXPECT_TRUE(r.unread.empty());
    }
}

}  // namespace
