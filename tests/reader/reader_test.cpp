// The whole-picture reader on symbols drawn in code: each picture condition at its limit,
// pictures that must give nothing, the option tables and the view checks.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <ostream>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "code39_p.h"
#include "scan39/encoder.h"
#include "scan39/grade.h"
#include "scan39/pattern_table.h"
#include "scan39/reader.h"
#include "workspace_p.h"

namespace {

using namespace scan39;
using reader::Read;

struct Picture {
    int width = 480, height = 320;
    std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(480 * 320, 0);
    reader::GreyView View() const { return {pixels.data(), width, height, width}; }
};

// How to draw one symbol; lengths in narrow modules unless said otherwise.
struct Draw {
    std::string text = "CODE39";
    double module = 2.5;  // pixels
    double ratio = 2.5;
    int gap = 1;
    double angle = 0;  // reading direction, degrees
    double cx = 240, cy = 160;
    double height = 40;   // bar height, pixels
    double keystone = 0;  // bar height grows by this share from start to end
    double curve = 0;     // a label wrapped round a cylinder: angle at its ends, degrees
    double turn = 0;      // the same, the bars' ends turned this far from the camera, degrees
    double scratchAt =
        -1;             // a light diagonal streak across every bar row, at this share of the length
    int damaged = -1;   // a character blotted out over the full bar height
    double cropAt = 2;  // nothing drawn beyond this share of the length
    double spread = 0;  // modules of ink gained by every bar (lost when negative), half each side
    int samples = 3;    // per pixel each way, for the ink's coverage
    // A sheet that waved: the bars lean up to `lean` degrees in a wave along them, `period`
    // bar heights long, whose phase turns by `swing` radians from the centre to either end;
    // the rows bow by `bow` bar heights in an S along the symbol. `blobs`: dark blots touching
    // the bars' ends.
    double lean = 0, period = 1, swing = 0, bow = 0;
    bool blobs = false;
};

// Where a picture point (u along the symbol, v along the bars, from its centre) was on the
// flat sheet: the bow undone, then the wave.
std::pair<double, double> Unbend(const Draw& d, double halfLength, double u, double v) {
    if (d.lean == 0 && d.bow == 0) return {u, v};
    v -= d.bow * d.height * std::sin(std::numbers::pi * u / halfLength);
    const double period = d.period * d.height;
    const double amp = std::tan(d.lean * std::numbers::pi / 180) * period / (2 * std::numbers::pi);
    u -= amp * std::sin(2 * std::numbers::pi * v / period + d.swing * u / halfLength);
    return {u, v};
}

// Blots a fifth of the bars' height across, touching their top and bottom ends.
bool Blob(const Draw& d, double halfLength, double u, double v) {
    if (!d.blobs) return false;
    const double r = 0.1 * d.height;
    for (const auto& [cu, cv] : {std::pair{-0.4, -1.0}, {0.1, 1.0}, {0.5, -1.0}}) {
        const double x = u - cu * halfLength, y = v - cv * (0.5 * d.height + 0.8 * r);
        if (x * x / 2.25 + y * y < r * r) return true;
    }
    return false;
}

// Coverage of the dark bars in [0, 1] at a point of the symbol frame (u along, v across, pixels).
double Ink(const Draw& d, const std::vector<double>& edges, double halfLength, double u, double v) {
    if (d.curve > 0 || d.turn > 0) {
        const double r = d.turn > 0 ? halfLength / (d.turn * std::numbers::pi / 180)
                                    : halfLength / std::sin(d.curve * std::numbers::pi / 180);
        if (std::abs(u) >= r) return 0;
        u = r * std::asin(u / r);
    }
    const double t = (u + halfLength) / (2 * halfLength);
    const double half = 0.5 * d.height * (1 + d.keystone * (t - 0.5));
    if (std::abs(v) > half || t > d.cropAt) return 0;
    if (d.scratchAt >= 0 && std::abs(t - d.scratchAt - 0.1 * v / d.height) < 0.015) return 0;
    const auto it = std::upper_bound(edges.begin(), edges.end(), u + halfLength);
    const auto i = it - edges.begin();
    if (i == 0 || it == edges.end() || i % 2 == 0) return 0;
    if (d.damaged >= 0) {
        const int element = static_cast<int>(i - 1);
        if (element / 10 == d.damaged + 1 && element % 10 == 4) return 0;  // middle bar lost
    }
    return 1;
}

void DrawSymbol(Picture& p, const Draw& d, int ink = 0) {
    const int wide = static_cast<int>(std::lround(2 * d.ratio));
    const std::vector<int> runs = encoder::Runs(d.text, {2, wide, 2 * d.gap});
    std::vector<double> edges{0};
    for (int r : runs) edges.push_back(edges.back() + r * d.module / 2);
    const double halfLength = edges.back() / 2;
    for (std::size_t k = 0; k < edges.size(); ++k)  // bars start at even edges
        edges[k] += (k % 2 ? 0.5 : -0.5) * d.spread * d.module;
    const double a = d.angle * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            double cover = 0;
            const int n = d.samples;
            for (int sy = 0; sy < n; ++sy) {
                for (int sx = 0; sx < n; ++sx) {
                    const double px = x + (sx - 0.5 * (n - 1)) / n - d.cx;
                    const double py = y + (sy - 0.5 * (n - 1)) / n - d.cy;
                    const auto [u, v] = Unbend(d, halfLength, px * c + py * s, -px * s + py * c);
                    cover += Blob(d, halfLength, u, v) ? 1 : Ink(d, edges, halfLength, u, v);
                }
            }
            if (cover > 0) {
                auto& v = p.pixels[static_cast<std::size_t>(y) * p.width + x];
                v = static_cast<std::uint8_t>(std::lround(v + (ink - v) * cover / (n * n)));
            }
        }
    }
}

Picture Blank(int paper = 255) {
    Picture p;
    std::fill(p.pixels.begin(), p.pixels.end(), static_cast<std::uint8_t>(paper));
    return p;
}

void Blur(Picture& p, double sigma) {
    if (sigma <= 0) return;
    const int r = static_cast<int>(std::ceil(3 * sigma));
    std::vector<double> k(2 * r + 1);
    double sum = 0;
    for (int i = -r; i <= r; ++i) sum += k[i + r] = std::exp(-i * i / (2 * sigma * sigma));
    for (double& v : k) v /= sum;
    std::vector<double> tmp(p.pixels.size());
    auto at = [&](int x, int y) {
        return p.pixels[std::clamp(y, 0, p.height - 1) * p.width + std::clamp(x, 0, p.width - 1)];
    };
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            double v = 0;
            for (int i = -r; i <= r; ++i) v += k[i + r] * at(x + i, y);
            tmp[y * p.width + x] = v;
        }
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            double v = 0;
            for (int i = -r; i <= r; ++i)
                v += k[i + r] * tmp[std::clamp(y + i, 0, p.height - 1) * p.width + x];
            p.pixels[y * p.width + x] = static_cast<std::uint8_t>(std::lround(v));
        }
}

// Light falling to `share` of itself from left to right, then noise of about `sigma` levels.
void Light(Picture& p, double share, double sigma, std::uint32_t seed = 1) {
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            auto& v = p.pixels[y * p.width + x];
            double g = v * (1 - (1 - share) * x / (p.width - 1.0));
            double n = 0;
            for (int i = 0; i < 3; ++i) {
                seed = seed * 1664525u + 1013904223u;
                n += (seed >> 8) / 16777216.0 - 0.5;
            }
            g += 2 * sigma * n;  // three uniforms: variance 1/4, so 2 sigma * n has ~sigma
            v = static_cast<std::uint8_t>(std::clamp(std::lround(g), 0L, 255L));
        }
}

// A lamp's highlight on a glossy label: a band square to the symbol through its centre, `width`
// pixels across with sides `soft` pixels wide, lifting ink and paper alike towards white by
// `strength`.
void Highlight(Picture& p, const Draw& d, double strength, double width, double soft) {
    const double a = d.angle * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const double along = (x - d.cx) * c + (y - d.cy) * s;
            const double g = strength * 0.5 * (1 + std::tanh((width / 2 - std::abs(along)) / soft));
            auto& v = p.pixels[static_cast<std::size_t>(y) * p.width + x];
            v = static_cast<std::uint8_t>(std::lround(v + (255 - v) * g));
        }
}

// The ink printed through a clustered-dot screen at 45 degrees, `period` pixels, in a grey of
// `tone` coverage: solid dots that merge to a mesh on the bars.
void Screen(Picture& p, double period, double tone) {
    const double k = std::numbers::pi * std::numbers::sqrt2 / period;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            auto& v = p.pixels[static_cast<std::size_t>(y) * p.width + x];
            const double spot = 0.5 - (std::cos(k * (x + y)) + std::cos(k * (x - y))) / 4;
            v = spot < tone * (255 - v) / 255 ? 0 : 255;
        }
}

// The picture shown on a screen and photographed: each screen pixel `pitch` pixels across,
// three upright stripes lit red, green and blue (as grey 0.3, 0.59 and 0.11 of its light) with
// dark gaps between, the grid turned by `angle` degrees; then the screen's `gamma` and a glare
// band of `glare` levels across the picture.
void PhotographedScreen(Picture& p, double pitch, double angle, double gamma, double glare) {
    constexpr std::array<double, 3> kWeight{0.3, 0.59, 0.11};
    constexpr double kFill = 0.75;
    constexpr int kSamples = 3;
    const double a = angle * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            double lit = 0;
            for (int sy = 0; sy < kSamples; ++sy)
                for (int sx = 0; sx < kSamples; ++sx) {
                    const double px = x + (sx + 0.5) / kSamples, py = y + (sy + 0.5) / kSamples;
                    const double u = (px * c + py * s) / pitch, v = (py * c - px * s) / pitch;
                    const double fu = u - std::floor(u), fv = v - std::floor(v);
                    const int stripe = static_cast<int>(3 * fu);
                    if (fv < kFill && 3 * fu - stripe < kFill) lit += kWeight[stripe];
                }
            lit *= 3 / (kFill * kFill * kSamples * kSamples);  // 1 on average
            auto& v = p.pixels[static_cast<std::size_t>(y) * p.width + x];
            double g = std::min(255.0, v * (0.15 + 0.85 * lit));
            g = 255 * std::pow(g / 255, gamma);
            const double d = (x - 0.5 * p.width) * 0.5 + (y - 0.5 * p.height) * 0.87;
            g += glare * std::exp(-d * d / (40.0 * 40.0));
            v = static_cast<std::uint8_t>(std::clamp(std::lround(g), 0L, 255L));
        }
}

// ---------------------------------------------------------------------------------------
// Conditions that must read.

struct Case {
    const char* name;
    Draw draw;
    int ink = 0, paper = 255;
    double blur = 0;  // in narrow modules
    double light = 1, noise = 0;
    double gloss = 0, glossWidth = 0, glossSoft = 2;  // a highlight's strength, width, sides
    double screen = 0;                                // a halftone screen's period, pixels
    // Shown on a screen and photographed: its pixels' pitch, grid angle, gamma and glare.
    double pitch = 0, pitchAngle = 0, gamma = 1, glare = 0;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class Reads : public testing::TestWithParam<Case> {};

TEST_P(Reads, TheTextOnceWithItsAngle) {
    const Case& c = GetParam();
    Picture p = Blank(c.paper);
    DrawSymbol(p, c.draw, c.ink);
    if (c.gloss > 0) Highlight(p, c.draw, c.gloss, c.glossWidth, c.glossSoft);
    if (c.screen > 0) Screen(p, c.screen, 0.6);
    if (c.pitch > 0) PhotographedScreen(p, c.pitch, c.pitchAngle, c.gamma, c.glare);
    Blur(p, c.blur * c.draw.module);
    Light(p, c.light, c.noise);
    const auto found = Read(p.View());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].text, c.draw.text);
    EXPECT_GE(found[0].lines, 2);
    const double da = std::fmod(std::abs(found[0].angle - c.draw.angle) + 360, 360);
    EXPECT_LT(std::min(da, 360 - da), 8) << found[0].angle;
}

Draw With(auto change) {
    Draw d;
    change(d);
    return d;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Conditions, Reads, testing::Values(
    Case{"Upright", {}},
    Case{"Rotated33", With([](Draw& d) { d.angle = 33; })},
    Case{"UpsideDown", With([](Draw& d) { d.angle = 180; })},
    Case{"Rotated251", With([](Draw& d) { d.angle = 251; })},
    Case{"Keystone", With([](Draw& d) { d.keystone = 0.1; d.angle = 8; })},
    Case{"Curved", With([](Draw& d) { d.curve = 25; })},
    Case{"CurvedSteep", With([](Draw& d) { d.curve = 70; d.module = 3; d.text = "STEEP-39"; })},
    // Round a narrow bottle: the ends turned 60 degrees away, where neighbouring characters
    // narrow by a third; a highlight that fades one character's bars to a tenth.
    Case{"BottleShortSymbol", With([](Draw& d) { d.turn = 60; d.module = 3.5; d.text = "C"; })},
    Case{"BottleLongSymbol", With([](Draw& d) { d.turn = 62; d.module = 3; d.text = "GLOSS-3"; })},
    Case{"Highlight", With([](Draw& d) { d.text = "SHINY"; d.module = 3; }), 0, 255, 0.4, 1, 3, 0.9, 40},
    // A window's reflection: sharp sides that fall inside bars, bars a fifth as dark within.
    Case{"HighlightSharpSides", With([](Draw& d) { d.text = "SHINY"; d.module = 3; d.cx = 236; }), 0, 255, 0.3, 1, 2, 0.8, 70, 0.3},
    Case{"Blurred", With([](Draw& d) { d.module = 2; }), 0, 255, 0.6},
    Case{"SmallModule", With([](Draw& d) { d.module = 1.3; d.text = "SMALL-1"; }), 0, 255, 0.3},
    Case{"SmallModuleBlurred", With([](Draw& d) { d.module = 1.3; d.text = "TINY-39"; }), 0, 255, 0.5, 1, 3},
    Case{"SmallModuleBlurredTurned", With([](Draw& d) { d.module = 1.4; d.angle = 197; }), 0, 255, 0.6, 1, 3},
    Case{"LowContrastUnevenLight", {}, 100, 160, 0, 0.5},
    Case{"Noisy", {}, 0, 255, 0.3, 1, 20},
    // Dim light: faint, and noise that breaks the edges on any single line and blurs the bars'
    // common direction at full resolution.
    Case{"DimNoisy", With([](Draw& d) { d.text = "DIM-39"; d.height = 60; }), 90, 150, 0.3, 1, 22},
    // Grey ink halftoned: dots about a narrow module apart break the edges of every line.
    Case{"Halftone", With([](Draw& d) { d.text = "DOTS-39"; d.module = 2.5; d.height = 50; }), 0, 255, 0.3, 1, 3, 0, 0, 2, 3},
    // A phone's screen photographed: its pixels a third of a module, their colour stripes
    // finer still, a grid turned against the camera's (moiré), the screen's gamma and a glare.
    Case{"PhotographedScreen", With([](Draw& d) { d.text = "PHONE-39"; d.module = 3; d.angle = 3; }), 0, 255, 0.05, 1, 2, 0, 0, 2, 0, 0.857, 5, 1.4, 60},
    Case{"PhotographedScreenUpright", With([](Draw& d) { d.text = "TV-1"; d.module = 3; d.angle = 92; }), 0, 255, 0.05, 1, 2, 0, 0, 2, 0, 0.857, 88, 0.6, 40},
    Case{"Ratio2NarrowQuietWideGaps", With([](Draw& d) { d.ratio = 2; d.gap = 3; d.cx = 158.5; })},
    Case{"LargeModules", With([](Draw& d) { d.text = "A"; d.module = 9; d.height = 150; d.angle = 2; })},
    Case{"Ratio3", With([](Draw& d) { d.ratio = 3; d.module = 2; })},
    Case{"Combined", With([](Draw& d) { d.angle = 147; d.keystone = 0.08; d.module = 2; }), 90, 170, 0.4, 0.6, 6},
    Case{"DiagonalScratch", With([](Draw& d) { d.scratchAt = 0.45; d.text = "SCRATCHED"; d.module = 2; })},
    // Short symbols blurred at low contrast: few edges per line, and tall bars for their length.
    Case{"OneCharacterBlurredFaint", With([](Draw& d) { d.text = "U"; d.module = 2.3; d.height = 35; d.angle = 194; d.keystone = 0.1; }), 170, 220, 0.6, 0.5, 2},
    Case{"ShortTallBlurredFaint", With([](Draw& d) { d.text = "DMN"; d.module = 2.6; d.height = 90; d.angle = 62; d.keystone = 0.1; }), 160, 220, 0.55, 0.5, 3},
    // As printed and scanned: light bars on dark, ink spread and thinned, the smallest modules.
    Case{"LightBarsOnDark", {}, 255, 0},
    Case{"LightBarsOnDarkTurned", With([](Draw& d) { d.angle = 121; d.module = 2; }), 230, 40, 0.3},
    Case{"InkSpread", With([](Draw& d) { d.spread = 0.3; d.ratio = 2.2; d.text = "SPREAD-WIDE"; })},
    Case{"InkThinned", With([](Draw& d) { d.spread = -0.3; d.ratio = 2.2; d.text = "THIN/39%"; })},
    Case{"Module115", With([](Draw& d) { d.module = 1.15; d.angle = 0; }), 0, 255, 0.2},
    Case{"Module115Vertical", With([](Draw& d) { d.module = 1.15; d.angle = 89.5; }), 0, 255, 0.2},
    Case{"Module115UpsideDown", With([](Draw& d) { d.module = 1.12; d.angle = 180.5; }), 0, 255, 0.2},
    // Sharp: each pixel holds parts of two elements, the same ones all along the bars.
    Case{"Module112Sharp", With([](Draw& d) { d.module = 1.12; d.ratio = 3; d.angle = 0; d.text = "JQM0DZBU"; d.samples = 12; })},
    Case{"Module115SharpVertical", With([](Draw& d) { d.module = 1.15; d.ratio = 3; d.angle = 90; d.text = "C7Y7LZ"; d.samples = 12; })},
    Case{"Module113SharpUpsideDown", With([](Draw& d) { d.module = 1.13; d.ratio = 3; d.angle = 180; d.text = "SHARP-1"; d.samples = 12; })}),
    [](const auto& row) { return std::string(row.param.name); });

// A separator sheet that waved in the scanner: no straight line crosses every bar square, the
// regions of like direction break into slanted pieces, and along the lines that cross every bar
// the characters widen and narrow again. At the bends a mild wave reaches: bars leaning 20-32
// degrees, waves of 0.8-1.6 bar heights, the lean's phase turning by up to 4 radians along the
// symbol, rows bowed by up to a third of the bars' height; blots on the bars' ends.
Draw Waved(double lean, double period, double swing, double bow, bool blobs = true) {
    Draw d;
    d.text = "WAVE-39";
    d.height = 100;
    d.lean = lean, d.period = period, d.swing = swing, d.bow = bow, d.blobs = blobs;
    return d;
}

INSTANTIATE_TEST_SUITE_P(WavedSheets, Reads, testing::Values(
    Case{"Lean25", Waved(25, 1, 3, 0.25), 0, 255, 0.3, 1, 3},
    Case{"Lean32ShortWave", Waved(32, 0.8, 2, 0.2), 0, 255, 0.3, 1, 3},
    Case{"Lean20LongWaveFastSwing", Waved(20, 1.6, 4, 0.3, false), 0, 255, 0.3, 1, 3},
    Case{"Lean28NoSwing", Waved(28, 1.2, 0, 0.15), 0, 255, 0.3, 1, 3},
    Case{"Lean25LightBars", Waved(25, 1, 3, 0.25), 255, 0, 0.3, 1, 3},
    Case{"Lean25UpsideDown", With([](Draw& d) { d = Waved(25, 1.2, 3, 0.25); d.angle = 180; }), 0, 255, 0.3, 1, 3},
    Case{"Lean25Upright", With([](Draw& d) { d = Waved(25, 1.2, -2, 0.15); d.angle = 90; d.module = 2; d.text = "UPRIGHT"; }), 0, 255, 0.3, 1, 3}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

// Print that thinned every bar by 0.15-0.35 of a module (or spread one case), on modules of
// 1.3-3 pixels, 2:1 as many printers make them: a narrow bar of 1.3 px thinned by a third keeps
// under a pixel of ink, never as dark as the middle level. Dark and light bars, sharp and
// blurred by half a pixel.
std::vector<Case> Thinned() {
    static std::vector<std::string> names;  // the cases keep pointers into these
    names.reserve(64);
    std::vector<Case> cases;
    for (const double module : {1.3, 1.5, 2.0, 3.0})
        for (const double thin : {0.15, 0.25, 0.35, -0.3})
            for (const bool light : {false, true})
                for (const bool blurred : {false, true}) {
                    if (thin < 0 && module > 1.5) continue;  // spread: the smallest modules
                    names.push_back("Module" + std::to_string(std::lround(10 * module)) +
                                    (thin > 0 ? "Thinned" : "Spread") +
                                    std::to_string(std::lround(100 * std::abs(thin))) +
                                    (light ? "Light" : "Dark") + (blurred ? "Blurred" : "Sharp"));
                    Case c{names.back().c_str(), With([&](Draw& d) {
                               d.module = module;
                               d.ratio = 2;
                               d.spread = -thin;
                               d.text = module < 2.5 ? "K.HBUWI4AKQX" : "K.HB-39";
                               d.samples = 6;
                           })};
                    c.ink = light ? 215 : 35;
                    c.paper = light ? 35 : 215;
                    c.blur = blurred ? 0.5 / module : 0;
                    c.noise = 2;
                    cases.push_back(c);
                }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(ThinnedSmallModules, Reads, testing::ValuesIn(Thinned()),
                         [](const auto& row) { return std::string(row.param.name); });

// The symbol's length in pixels, and where the gap after its character `after` lies on it.
double Length(const Draw& d, int after = -1, double* gap = nullptr) {
    const auto runs =
        encoder::Runs(d.text, {2, static_cast<int>(std::lround(2 * d.ratio)), 2 * d.gap});
    double length = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (gap && static_cast<int>(i) == 10 * after + 9) *gap = length + runs[i] * d.module / 4;
        length += runs[i] * d.module / 2;
    }
    return length;
}

// A picture cut to the symbol with `margin` modules left and right: its edge is the quiet zone,
// for dark bars and for light ones (the margin then dark).
TEST(Reader, TightCropsRead) {
    for (double margin : {0.0, 1.0, 2.0}) {
        for (double angle : {0.0, 180.0}) {
            for (bool light : {false, true}) {
                Draw d = With([&](Draw& x) {
                    x.text = "HELLO-123";
                    x.module = 2;
                    x.angle = angle;
                    x.cy = 25;
                });
                Picture p;
                p.width = static_cast<int>(std::lround(Length(d) + 2 * margin * d.module));
                p.height = 50;
                p.pixels.assign(static_cast<std::size_t>(p.width * p.height), 255);
                d.cx = (p.width - 1) / 2.0;
                DrawSymbol(p, d);
                if (light)
                    for (auto& v : p.pixels) v = static_cast<std::uint8_t>(255 - v);
                const auto found = Read(p.View());
                ASSERT_EQ(found.size(), 1u) << margin << ' ' << angle << ' ' << light;
                EXPECT_EQ(found[0].text, "HELLO-123");
            }
        }
    }
}

// The picture's edge cuts the symbol, through a character or in the gap between two: what is
// left must not read, whole or as a shorter text.
TEST(Reader, NothingFromASymbolCutByThePicturesEdge) {
    Draw d = With([](Draw& x) {
        x.text = "EDGE-CUT39";
        x.module = 2;
    });
    const double length = Length(d);
    std::vector<double> cuts{0.3, 0.5, 0.7};
    for (int after : {3, 5, 7}) {
        double gap = 0;
        Length(d, after, &gap);
        cuts.push_back(gap / length);
    }
    for (double cut : cuts) {
        for (double angle : {0.0, 180.0}) {  // the left edge cuts off the start, or the stop
            Picture p = Blank();
            d.angle = angle;
            d.cx = length / 2 - cut * length - 0.5;
            DrawSymbol(p, d);
            EXPECT_TRUE(Read(p.View()).empty()) << cut << ' ' << angle;
        }
    }
}

TEST(Reader, SeveralSymbolsEachOnce) {
    Picture p = Blank();
    DrawSymbol(p, With([](Draw& d) {
                   d.text = "LEFT";
                   d.cx = 120;
                   d.angle = 90;
               }));
    DrawSymbol(p, With([](Draw& d) {
                   d.text = "RIGHT-2";
                   d.cx = 330;
                   d.cy = 90;
                   d.module = 2;
               }));
    DrawSymbol(p, With([](Draw& d) {
                   d.text = "TILT";
                   d.cx = 330;
                   d.cy = 240;
                   d.angle = -20;
                   d.module = 2;
               }));
    auto found = Read(p.View());
    std::vector<std::string> texts;
    for (const auto& s : found) texts.push_back(s.text);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"LEFT", "RIGHT-2", "TILT"}));
}

TEST(Reader, FastEffortReadsPlainPictures) {
    for (double angle : {0.0, 90.0, 200.0}) {
        Picture p = Blank();
        DrawSymbol(p, With([&](Draw& d) { d.angle = angle; }));
        const auto found = Read(p.View(), {.effort = reader::Effort::kFast});
        ASSERT_EQ(found.size(), 1u) << angle;
        EXPECT_EQ(found[0].text, "CODE39");
    }
}

TEST(Reader, CornersInReadingOrder) {
    // Reading right to left: the start is on the right, the top side below.
    Picture p = Blank();
    const Draw d = With([](Draw& x) {
        x.text = "AB";
        x.angle = 180;
        x.module = 3;
    });
    DrawSymbol(p, d);
    const auto found = Read(p.View());
    ASSERT_EQ(found.size(), 1u);
    const double half = (4 * 13.5 + 3) * 3 / 2;  // four characters of 13.5 modules, three gaps
    const reader::Point expected[4] = {
        {240 + half, 180}, {240 - half, 180}, {240 - half, 140}, {240 + half, 140}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(found[0].corners[i].x, expected[i].x, 3) << i;
        EXPECT_NEAR(found[0].corners[i].y, expected[i].y, 12)
            << i;  // lines stop short of the bar ends
    }
}

// Where the bars' outer corners are drawn, in reading order (top: left of the reading direction).
std::array<reader::Point, 4> DrawnCorners(const Draw& d) {
    const std::vector<int> runs =
        encoder::Runs(d.text, {2, static_cast<int>(std::lround(2 * d.ratio)), 2 * d.gap});
    double length = 0;
    for (int r : runs) length += r * d.module / 2;
    const double a = d.angle * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    auto at = [&](double t, double side) {  // t 0 at the start, 1 at the end; side -1 top
        const double u = (t - 0.5) * length;
        const double v = side * 0.5 * d.height * (1 + d.keystone * (t - 0.5));
        return reader::Point{d.cx + u * c - v * s, d.cy + u * s + v * c};
    };
    return {at(0, -1), at(1, -1), at(1, 1), at(0, 1)};
}

struct CornerCase {
    const char* name;
    Draw draw;
    double blur = 0;         // in narrow modules
    double tolerance = 1.5;  // pixels
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const CornerCase& c, std::ostream* os) {
    *os << c.name;
}

class Corners : public testing::TestWithParam<CornerCase> {};

TEST_P(Corners, AtTheBarEndsInReadingOrder) {
    const CornerCase& c = GetParam();
    Picture p = Blank();
    DrawSymbol(p, c.draw);
    Blur(p, c.blur * c.draw.module);
    const auto found = Read(p.View());
    ASSERT_EQ(found.size(), 1u);
    const auto expected = DrawnCorners(c.draw);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(found[0].corners[i].x, expected[i].x, c.tolerance) << i;
        EXPECT_NEAR(found[0].corners[i].y, expected[i].y, c.tolerance) << i;
    }
    EXPECT_GE(found[0].angle, 0);
    EXPECT_LT(found[0].angle, 360);
    const double da = std::fmod(std::abs(found[0].angle - c.draw.angle) + 360, 360);
    EXPECT_LT(std::min(da, 360 - da), 1) << found[0].angle;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Symbols, Corners, testing::Values(
    CornerCase{"Upright", {}},
    CornerCase{"Reversed", With([](Draw& d) { d.angle = 180; })},
    CornerCase{"Rotated33", With([](Draw& d) { d.angle = 33; d.height = 60; })},
    CornerCase{"Rotated251Tall", With([](Draw& d) { d.angle = 251; d.height = 90; d.module = 2; })},
    CornerCase{"JustBelow360", With([](Draw& d) { d.angle = 359.97; })},
    CornerCase{"Keystone", With([](Draw& d) { d.keystone = 0.1; d.angle = 98; }), 0, 3},
    CornerCase{"Blurred", With([](Draw& d) { d.module = 2; d.angle = 300; }), 0.5},
    CornerCase{"Scratched", With([](Draw& d) { d.scratchAt = 0.45; d.text = "SCRATCHED"; d.module = 2; })}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

// ---------------------------------------------------------------------------------------
// Pictures that must give nothing.

TEST(Reader, NothingFromNoiseTexturesStripesAndBlobs) {
    std::vector<Picture> pictures;
    Picture noise = Blank(128);
    Light(noise, 1, 60);
    pictures.push_back(noise);
    Picture stripes = Blank();
    for (int y = 0; y < stripes.height; ++y)
        for (int x = 0; x < stripes.width; ++x)
            stripes.pixels[y * stripes.width + x] =
                static_cast<std::uint8_t>(128 + 100 * std::sin(x * 0.9 + y * 0.2));
    pictures.push_back(stripes);
    // Bars of random widths from one to three modules: Code 39's look without its rules.
    Picture bars = Blank();
    std::uint32_t seed = 7;
    for (int x = 40, dark = 1; x < 440; dark ^= 1) {
        seed = seed * 1664525u + 1013904223u;
        const int w = 3 * (1 + static_cast<int>((seed >> 16) % 3));
        for (int y = 100; y < 200 && dark; ++y)
            for (int i = x; i < x + w && i < 440; ++i) bars.pixels[y * bars.width + i] = 0;
        x += w;
    }
    pictures.push_back(bars);
    // The same bars on a sheet that waved, blots on their ends.
    Picture wavy = Blank();
    Draw bend = With([](Draw& d) {
        d = Waved(25, 1, 3, 0.25);
        d.cy = 150;
    });
    for (int y = 0; y < wavy.height; ++y)
        for (int x = 0; x < wavy.width; ++x) {
            const auto [u, v] = Unbend(bend, 200, x - bend.cx, y - bend.cy);
            const int fx = static_cast<int>(std::lround(u + bend.cx));
            const int fy = static_cast<int>(std::lround(v + bend.cy));
            if (Blob(bend, 200, u, v) ||
                (fx >= 0 && fy >= 0 && fx < bars.width && fy < bars.height &&
                 bars.pixels[fy * bars.width + fx] == 0))
                wavy.pixels[y * wavy.width + x] = 0;
        }
    pictures.push_back(wavy);
    // Text-like blobs: short strokes in rows.
    Picture text = Blank();
    for (int i = 0; i < 400; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const int x0 = 20 + (i % 40) * 11, y0 = 30 + (i / 40) * 28, h = 6 + (seed >> 20) % 12;
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + 2 + static_cast<int>((seed >> 12) % 3); ++x)
                text.pixels[y * text.width + x] = 20;
    }
    pictures.push_back(text);
    // Wavy stripes, and the bars and the strokes shown on a photographed screen, whose pixel
    // grid makes a picture busy enough to be searched again smoothed.
    Picture waves = Blank();
    for (int y = 0; y < waves.height; ++y)
        for (int x = 0; x < waves.width; ++x)
            waves.pixels[y * waves.width + x] =
                static_cast<std::uint8_t>(128 + 110 * std::sin(0.8 * x + 6 * std::sin(y * 0.05)));
    pictures.push_back(waves);
    for (std::size_t i : {std::size_t{2}, std::size_t{4}}) {
        pictures.push_back(pictures[i]);
        PhotographedScreen(pictures.back(), 1.0, 4, 1.2, 50);
    }
    for (std::size_t i = 0, n = pictures.size(); i < n; ++i) {  // and light on dark
        pictures.push_back(pictures[i]);
        for (auto& v : pictures.back().pixels) v = static_cast<std::uint8_t>(255 - v);
    }
    for (const Picture& p : pictures) {
        EXPECT_TRUE(Read(p.View()).empty());
        EXPECT_TRUE(Read(p.View(), {.effort = reader::Effort::kFast}).empty());
    }
}

// Thinned print on small modules reaches the placement by ink even where no line saw a start
// or stop character: bars of random widths and strokes of text, thinned, and a thinned symbol
// damaged or cut in half must give nothing.
TEST(Reader, NothingFromThinnedBarsTextOrBrokenSymbols) {
    std::vector<Picture> pictures;
    for (const double module : {1.3, 1.6, 2.2}) {
        Picture bars = Blank(215);
        std::uint32_t seed = 11 + static_cast<std::uint32_t>(10 * module);
        double x = 60;
        for (int dark = 1; x < 420; dark ^= 1) {
            seed = seed * 1664525u + 1013904223u;
            const double w = module * (1 + static_cast<int>((seed >> 16) % 3)) +
                             (dark ? -0.3 * module : 0.3 * module);
            if (dark)
                for (int y = 120; y < 200; ++y)
                    for (int i = static_cast<int>(x); i < x + w + 1 && i < 420; ++i) {
                        const double cover =
                            std::clamp(std::min(i + 1.0, x + w) - std::max(i + 0.0, x), 0.0, 1.0);
                        auto& v = bars.pixels[y * bars.width + i];
                        v = static_cast<std::uint8_t>(std::lround(v - (v - 35) * cover));
                    }
            x += w;
        }
        Light(bars, 1, 2);
        pictures.push_back(bars);
    }
    Picture text = Blank(215);
    std::uint32_t seed = 5;
    for (int i = 0; i < 600; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const int x0 = 20 + (i % 60) * 7, y0 = 30 + (i / 60) * 26, h = 5 + (seed >> 20) % 10;
        for (int y = y0; y < y0 + h; ++y) text.pixels[y * text.width + x0] = 120;
    }
    Light(text, 1, 2);
    pictures.push_back(text);
    for (const Draw& d : {With([](Draw& x) {
                              x.damaged = 2;
                              x.module = 1.4;
                              x.spread = -0.3;
                              x.ratio = 2;
                          }),
                          With([](Draw& x) {
                              x.cropAt = 0.55;
                              x.module = 1.5;
                              x.spread = -0.35;
                              x.ratio = 2;
                          })}) {
        Picture p = Blank(215);
        DrawSymbol(p, d, 35);
        Light(p, 1, 2);
        pictures.push_back(p);
    }
    for (std::size_t i = 0, n = pictures.size(); i < n; ++i) {  // and light on dark
        pictures.push_back(pictures[i]);
        for (auto& v : pictures.back().pixels) v = static_cast<std::uint8_t>(255 - v);
    }
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const auto found = Read(pictures[i].View());
        EXPECT_TRUE(found.empty()) << "picture " << i << ": " << found[0].text;
    }
}

TEST(Reader, NothingFromADamagedCharacterOrHalfASymbol) {
    Picture damaged = Blank();
    DrawSymbol(damaged, With([](Draw& d) { d.damaged = 2; }));
    EXPECT_TRUE(Read(damaged.View()).empty());
    Picture half = Blank();
    DrawSymbol(half, With([](Draw& d) { d.cropAt = 0.55; }));
    EXPECT_TRUE(Read(half.View()).empty());
}

TEST(Reader, NothingFromDamagedOrHalfSymbolsTooBlurredForPlainLines) {
    // These reach the pass that sharpens blurred profiles, which must not invent the rest.
    for (const Draw& d : {With([](Draw& x) {
                              x.damaged = 2;
                              x.module = 1.4;
                          }),
                          With([](Draw& x) {
                              x.damaged = 0;
                              x.module = 2;
                              x.angle = 70;
                          }),
                          With([](Draw& x) {
                              x.cropAt = 0.55;
                              x.module = 1.4;
                          })}) {
        Picture p = Blank();
        DrawSymbol(p, d);
        Blur(p, 0.6 * d.module);
        EXPECT_TRUE(Read(p.View()).empty()) << d.damaged << ' ' << d.cropAt;
    }
}

// ---------------------------------------------------------------------------------------
// Options and tables.

TEST(Reader, CheckCharacterRequired) {
    struct Row {
        const char* drawn;
        const char* text;  // "" when it must not be reported
    };
    // 'C','O','D','E' = 12+24+13+14 = 63 -> 63 % 43 = 20 -> 'K'.
    for (const Row& r : {Row{"CODEK", "CODE"}, Row{"CODEL", ""}}) {
        Picture p = Blank();
        DrawSymbol(p, With([&](Draw& d) { d.text = r.drawn; }));
        const auto found = Read(p.View(), {.checkCharacter = reader::CheckCharacter::kRequired});
        if (*r.text == 0) {
            EXPECT_TRUE(found.empty()) << r.drawn;
            continue;
        }
        ASSERT_EQ(found.size(), 1u) << r.drawn;
        EXPECT_EQ(found[0].text, r.text);
        EXPECT_EQ(found[0].check, reader::CheckState::kVerified);
    }
}

TEST(Reader, FullAsciiTable) {
    struct Row {
        const char* in;
        std::string out;
        bool ok;
    };
    const Row rows[] = {
        {"+A+Z", "az", true},
        {"$A$Z", "\x01\x1a", true},
        {"%U", std::string(1, '\0'), true},
        {"%A%E", "\x1b\x1f", true},
        {"%F%J", ";?", true},
        {"%K%O", "[_", true},
        {"%P%T", "{\x7f", true},
        {"%V%W", "@`", true},
        {"/A/L/O/Z", "!,/:", true},
        {"AB-. 12", "AB-. 12", true},
        {"$1", "", false},
        {"/P", "", false},
        {"ABC+", "", false},
        {"%%", "", false},
    };
    for (const Row& r : rows) {
        const auto out = reader::detail::FullAscii(r.in);
        EXPECT_EQ(out.has_value(), r.ok) << r.in;
        if (out && r.ok) {
            EXPECT_EQ(*out, r.out) << r.in;
        }
    }
    Picture p = Blank();
    DrawSymbol(p, With([](Draw& d) { d.text = "+A%F"; }));
    auto found = Read(p.View(), {.fullAscii = true});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].text, "a;");
    EXPECT_EQ(reader::AimIdentifier(found[0]), "]A4");
    // The option alone does not make a symbol without pairs full ASCII.
    Picture plain = Blank();
    DrawSymbol(plain, With([](Draw& d) { d.text = "AB"; }));
    found = Read(plain.View(), {.fullAscii = true});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(reader::AimIdentifier(found[0]), "]A0");
}

// A line across "*GL0SS*" whose characters are drawn at these widths: a label turning away
// narrows towards its ends, characters pieced from unrelated bars vary either way.
TEST(Reader, CharacterWidthsAlongALine) {
    struct Row {
        const char* name;
        std::array<double, 7> scale;
        bool reads;
    };
    const Row rows[] = {
        {"level", {1, 1, 1, 1, 1, 1, 1}, true},
        {"both ends turned away", {0.6, 0.85, 1, 1, 1, 0.85, 0.6}, true},
        {"one end turned away", {1, 1, 1, 0.95, 0.8, 0.62, 0.45}, true},
        {"narrower in the middle", {1, 1, 1, 0.75, 1, 1, 1}, false},
        {"wider in the middle", {1, 1, 0.75, 1, 0.75, 1, 1}, false},
        {"steeper than a label turns", {0.6, 1, 1, 1, 1, 1, 0.6}, false},
        // Across a sheet that waved, the bars slant more here and less there: widths fall and
        // rise again smoothly, each step close to the one before it.
        {"waved, narrow in the middle", {1, 0.8, 0.7, 0.75, 0.9, 1.1, 1.3}, true},
        {"waved, wide in the middle", {0.8, 0.95, 1.15, 1.3, 1.15, 0.95, 0.8}, true},
        {"waved, rising again at the end", {1.2, 1, 0.9, 0.88, 0.9, 1, 1.2}, true},
        {"zigzag", {1, 0.8, 1, 0.8, 1, 0.8, 1}, false},
        {"level, then a jump back", {1, 1, 0.78, 0.78, 1, 1, 1}, false},
    };
    const std::vector<int> runs = encoder::Runs("GL0SS", {4, 10, 4});
    for (const Row& r : rows) {
        std::vector<reader::detail::Edge> edges;
        float pos = 100;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            edges.push_back({pos, i % 2 == 0, 100});
            pos += static_cast<float>(runs[i] * r.scale[i / 10]);
        }
        edges.push_back({pos, false, 100});
        std::vector<reader::detail::LineRead> out;
        reader::detail::Workspace ws;
        reader::detail::DecodeLine(edges, pos + 100, out, ws);
        const bool read =
            std::any_of(out.begin(), out.end(), [](const auto& l) { return l.chars == "GL0SS"; });
        EXPECT_EQ(read, r.reads) << r.name;
    }
}

// A line across "*AB1C2*" whose middle characters cannot be read: a start paired with a stop
// across them counts them from the pitch, but never to fewer than their intact edges show; a
// blot that took their edges leaves the pitch alone to count.
TEST(Reader, CharactersCountedAcrossAnUnreadableStretch) {
    struct Row {
        const char* name;
        std::vector<int> unreadable;  // characters (0 is the start) with nine equal elements
        double scale;                 // of those characters' widths
        bool blot;                    // their elements one dark run instead
        std::string partial;          // the read with unreadable characters as '\0', or ""
        bool screen = false;          // five of their elements split by a screen's weak edges
    };
    using namespace std::string_literals;
    const Row rows[] = {
        {"one unreadable", {3}, 1, false, "AB\0C2"s},
        {"two unreadable", {2, 3}, 1, false, "A\0\0C2"s},
        // Squeezed to the width of one (a symbol bent along the line): the pitch counts one,
        // the edges two, and no text may lose a character that is there.
        {"two unreadable squeezed to one", {2, 3}, 0.55, false, ""},
        {"one blotted out", {3}, 1, true, "AB\0C2"s},
        // Weak edges that come to a whole character by chance count nothing.
        {"one unreadable under a screen", {3}, 1, false, "AB\0C2"s, true},
    };
    const std::vector<int> runs = encoder::Runs("AB1C2", {4, 10, 4});
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<reader::detail::Edge> edges;
        float pos = 100;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const int c = static_cast<int>(i / 10);
            const bool hit =
                std::find(r.unreadable.begin(), r.unreadable.end(), c) != r.unreadable.end();
            const bool element = i % 10 != 9;
            float width = static_cast<float>(runs[i]);
            if (hit && element) width = static_cast<float>((r.blot ? runs[i] : 6) * r.scale);
            // A blot: one dark run over the character, its inner edges gone.
            if (!(hit && r.blot && element && i % 10 != 0)) edges.push_back({pos, i % 2 == 0, 100});
            if (hit && r.screen && element && i % 2 == 0) {  // a light dot across the bar
                edges.push_back({pos + width / 3, false, 10});
                edges.push_back({pos + 2 * width / 3, true, 10});
            }
            pos += width;
        }
        edges.push_back({pos, false, 100});
        std::vector<reader::detail::LineRead> out;
        reader::detail::Workspace ws;
        reader::detail::DecodeLine(edges, pos + 100, out, ws);
        const bool partial = std::any_of(out.begin(), out.end(),
                                         [&](const auto& l) { return l.chars == r.partial; });
        if (!r.partial.empty()) {
            EXPECT_TRUE(partial);
        }
        for (const auto& l : out) {
            if (l.chars.find('\0') != std::string::npos) {
                EXPECT_EQ(l.chars, r.partial);
            }
        }
    }
}

// Code 39's published characters, written out here rather than taken from the code's table:
// each character's nine elements, bar first, w wide and n narrow, and its mod 43 check value
// (its place in kCheckOrder).
struct Published {
    char character;
    const char* elements;
};
constexpr Published kPublished[] = {
    {'0', "nnnwwnwnn"}, {'1', "wnnwnnnnw"}, {'2', "nnwwnnnnw"}, {'3', "wnwwnnnnn"},
    {'4', "nnnwwnnnw"}, {'5', "wnnwwnnnn"}, {'6', "nnwwwnnnn"}, {'7', "nnnwnnwnw"},
    {'8', "wnnwnnwnn"}, {'9', "nnwwnnwnn"}, {'A', "wnnnnwnnw"}, {'B', "nnwnnwnnw"},
    {'C', "wnwnnwnnn"}, {'D', "nnnnwwnnw"}, {'E', "wnnnwwnnn"}, {'F', "nnwnwwnnn"},
    {'G', "nnnnnwwnw"}, {'H', "wnnnnwwnn"}, {'I', "nnwnnwwnn"}, {'J', "nnnnwwwnn"},
    {'K', "wnnnnnnww"}, {'L', "nnwnnnnww"}, {'M', "wnwnnnnwn"}, {'N', "nnnnwnnww"},
    {'O', "wnnnwnnwn"}, {'P', "nnwnwnnwn"}, {'Q', "nnnnnnwww"}, {'R', "wnnnnnwwn"},
    {'S', "nnwnnnwwn"}, {'T', "nnnnwnwwn"}, {'U', "wwnnnnnnw"}, {'V', "nwwnnnnnw"},
    {'W', "wwwnnnnnn"}, {'X', "nwnnwnnnw"}, {'Y', "wwnnwnnnn"}, {'Z', "nwwnwnnnn"},
    {'-', "nwnnnnwnw"}, {'.', "wwnnnnwnn"}, {' ', "nwwnnnwnn"}, {'$', "nwnwnwnnn"},
    {'/', "nwnwnnnwn"}, {'+', "nwnnnwnwn"}, {'%', "nnnwnwnwn"}, {'*', "nwnnwnwnn"},
};
constexpr std::string_view kCheckOrder = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";

std::uint16_t PublishedMask(const char* elements) {
    std::uint16_t mask = 0;
    for (const char* e = elements; *e; ++e)
        mask = static_cast<std::uint16_t>(mask << 1 | (*e == 'w'));
    return mask;
}

// The reader's character table, its classifier and its line decoder, and the decoder's pattern
// table, each against the published characters.
TEST(Reader, CharactersAsPublished) {
    ASSERT_EQ(std::size(kPublished), 44u);
    ASSERT_EQ(reader::detail::kCharacters.size(), 44u);
    PatternTable table;
    BuildPatternTable(table);
    int rowsChecked = 0;
    for (const Published& p : kPublished) {
        SCOPED_TRACE(std::string(1, p.character));
        const std::uint16_t mask = PublishedMask(p.elements);
        const int i = static_cast<int>(reader::detail::kCharacters.find(p.character));
        ASSERT_GE(i, 0);
        EXPECT_EQ(reader::detail::WideMask(i), mask);
        const auto check = kCheckOrder.find(p.character);
        EXPECT_EQ(reader::detail::CheckValue(p.character),
                  check == std::string_view::npos ? -1 : static_cast<int>(check));
        if (p.character != '*') {
            EXPECT_EQ(i, static_cast<int>(check));
        }
        // Widths at a ratio of 2.5, off by a little either way.
        std::array<float, 9> widths{};
        for (std::size_t k = 0; k < 9; ++k)
            widths[k] = (p.elements[k] == 'w' ? 10.0f : 4.0f) + (k % 2 ? 0.4f : -0.4f);
        EXPECT_EQ(reader::detail::ClassifyCharacter(widths.data()), i);
        // Between start and stop on a line of its own, with quiet zones.
        if (p.character != '*') {
            std::vector<reader::detail::Edge> edges;
            float pos = 100;
            for (const char* element :
                 {kPublished[43].elements, p.elements, kPublished[43].elements}) {
                for (std::size_t k = 0; k < 9; ++k) {
                    edges.push_back({pos, k % 2 == 0, 100});
                    pos += element[k] == 'w' ? 10.0f : 4.0f;
                }
                edges.push_back({pos, false, 100});  // the last bar's end
                pos += 4;                            // a narrow gap between characters
            }
            std::vector<reader::detail::LineRead> out;
            reader::detail::Workspace ws;
            reader::detail::DecodeLine(edges, pos + 100, out, ws);
            ASSERT_EQ(out.size(), 1u);
            EXPECT_EQ(out[0].chars, std::string(1, p.character));
        }
        for (int r = 0; r < kFilledRows; ++r) {
            if (table[r][kCharacterColumn][0] != p.character) continue;
            std::uint16_t decoderMask = 0;
            for (char e : table[r][kElementsColumn])
                decoderMask = static_cast<std::uint16_t>(decoderMask << 1 | (e == '6' || e == '1'));
            EXPECT_EQ(decoderMask, mask);
            if (p.character != '*') {
                EXPECT_EQ(std::stoi(table[r][kCheckValueColumn]), static_cast<int>(check));
            }
            ++rowsChecked;
        }
    }
    EXPECT_EQ(rowsChecked, 44);
}

TEST(Reader, ViewsThatAreNotWellFormed) {
    const std::uint8_t px[4] = {};
    EXPECT_THROW(Read({px, -1, 2, 2}), std::invalid_argument);
    EXPECT_THROW(Read({nullptr, 2, 2, 2}), std::invalid_argument);
    EXPECT_THROW(Read({px, 2, 2, 1}), std::invalid_argument);
    EXPECT_TRUE(Read({nullptr, 0, 0, 0}).empty());
    EXPECT_TRUE(Read({px, 1, 1, 1}).empty());
    EXPECT_TRUE(Read({px, 4, 1, 4}).empty());
    // Colour views: the stride counts bytes, the format must be one of the list.
    EXPECT_THROW(Read({px, 1, 1, 3, reader::PixelFormat::kRgba}), std::invalid_argument);
    EXPECT_THROW(Read({nullptr, 1, 1, 3, reader::PixelFormat::kRgb}), std::invalid_argument);
    EXPECT_THROW(Read({px, 1, 1, 4, static_cast<reader::PixelFormat>(9)}), std::invalid_argument);
    EXPECT_THROW(reader::GreyImage({px, 2, 1, 7, reader::PixelFormat::kBgra}),
                 std::invalid_argument);
    EXPECT_TRUE(Read({px, 1, 1, 4, reader::PixelFormat::kArgb32}).empty());
}

// A picture in a pixel format, rows padded with bytes that must not be read.
struct ColourPicture {
    reader::PixelFormat format;
    std::vector<std::uint8_t> bytes;
    int width = 0, height = 0;
    std::ptrdiff_t stride = 0;
    reader::ImageView View() const { return {bytes.data(), width, height, stride, format}; }
};

// Lays out `rgba(x, y)` in `format`: 32-bit ARGB as machine words, so its byte order is the
// machine's whatever it is.
template <typename Rgba>
ColourPicture Laid(reader::PixelFormat format, int width, int height, Rgba rgba) {
    const int n = reader::BytesPerPixel(format);
    ColourPicture p{format, {}, width, height, width * n + 5};
    p.bytes.assign(static_cast<std::size_t>(p.stride * height), 0x5a);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::array<std::uint8_t, 4> c = rgba(x, y);
            std::uint8_t* at = p.bytes.data() + y * p.stride + x * n;
            const std::uint32_t word = std::uint32_t{c[3]} << 24 | c[0] << 16 | c[1] << 8 | c[2];
            switch (format) {
                case reader::PixelFormat::kGrey:
                    *at = c[0];
                    break;
                case reader::PixelFormat::kRgb:
                    std::copy_n(c.begin(), 3, at);
                    break;
                case reader::PixelFormat::kRgba:
                    std::copy_n(c.begin(), 4, at);
                    break;
                case reader::PixelFormat::kBgra:
                    for (int i = 0; i < 4; ++i) at[i] = c[i == 3 ? 3 : 2 - i];
                    break;
                case reader::PixelFormat::kArgb32:
                    std::memcpy(at, &word, 4);
                    break;
            }
        }
    }
    return p;
}

constexpr reader::PixelFormat kFormats[] = {reader::PixelFormat::kGrey, reader::PixelFormat::kRgb,
                                            reader::PixelFormat::kRgba, reader::PixelFormat::kBgra,
                                            reader::PixelFormat::kArgb32};

bool HasAlpha(reader::PixelFormat f) {
    return reader::BytesPerPixel(f) == 4;
}

TEST(Reader, EveryPixelFormatGivesTheGreyOfItsColoursOverWhite) {
    // 37 wide: a tail after every whole vector; alpha from clear to opaque.
    constexpr int kWidth = 37, kHeight = 3;
    for (const reader::PixelFormat format : kFormats) {
        const auto rgba = [&](int x, int y) {
            const auto v = [&](int k) { return static_cast<std::uint8_t>((x * k + y * 91) & 255); };
            const bool grey = format == reader::PixelFormat::kGrey;
            return std::array<std::uint8_t, 4>{v(37), grey ? v(37) : v(53), grey ? v(37) : v(11),
                                               HasAlpha(format) ? v(29) : std::uint8_t{255}};
        };
        const ColourPicture p = Laid(format, kWidth, kHeight, rgba);
        const reader::GreyImage grey(p.View());
        std::vector<std::uint8_t> out(kWidth * kHeight);
        reader::ToGrey(p.View(), out.data());
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const auto c = rgba(x, y);
                const auto over = [&](int i) { return reader::OverWhite(c[i], c[3]); };
                const std::uint8_t expected = reader::Grey(over(0), over(1), over(2));
                const reader::GreyView& v = grey.view();
                EXPECT_EQ(v.data[y * v.stride + x], expected)
                    << int(format) << ' ' << x << ',' << y;
                EXPECT_EQ(out[y * kWidth + x], expected) << int(format) << ' ' << x << ',' << y;
            }
        }
    }
}

// The conversion computes Grey() and OverWhite() its own way, for speed: every colour, and
// every channel value under every alpha, must come out the same.
TEST(Reader, EveryColourAndAlphaConvertAsGreyAndOverWhite) {
    std::vector<std::uint8_t> rgb(3 << 24), out(1 << 24);
    for (std::size_t i = 0; i < out.size(); ++i)
        for (int c = 0; c < 3; ++c) rgb[3 * i + c] = static_cast<std::uint8_t>(i >> (8 * c));
    reader::ToGrey({rgb.data(), 4096, 4096, 3 * 4096, reader::PixelFormat::kRgb}, out.data());
    for (std::size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], reader::Grey(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2])) << i;
    // Grey levels (r = g = b) under each alpha: what is left is OverWhite() alone.
    std::vector<std::uint8_t> rgba(4 << 16);
    for (std::size_t i = 0; i < out.size() >> 8; ++i) {
        std::fill_n(rgba.begin() + 4 * i, 3, static_cast<std::uint8_t>(i));
        rgba[4 * i + 3] = static_cast<std::uint8_t>(i >> 8);
    }
    reader::ToGrey({rgba.data(), 256, 256, 4 * 256, reader::PixelFormat::kRgba}, out.data());
    for (int a = 0; a < 256; ++a)
        for (int c = 0; c < 256; ++c)
            ASSERT_EQ(out[256 * a + c], reader::OverWhite(c, a)) << c << ' ' << a;
}

TEST(Reader, EveryPixelFormatReadsAndGradesAsGrey) {
    Picture p = Blank();
    DrawSymbol(p, {.angle = 20});
    const auto expected = Read(p.View());
    ASSERT_EQ(expected.size(), 1u);
    const double grade = reader::Grade(p.View(), expected[0]).value;
    for (const reader::PixelFormat format : kFormats) {
        // The paper clear black where there is alpha: only put over white is it paper again.
        const ColourPicture colour = Laid(format, p.width, p.height, [&](int x, int y) {
            const std::uint8_t g = p.pixels[y * p.width + x];
            const bool clear = HasAlpha(format) && g == 255;
            return std::array<std::uint8_t, 4>{
                clear ? std::uint8_t{0} : g, clear ? std::uint8_t{0} : g,
                clear ? std::uint8_t{0} : g, clear ? std::uint8_t{0} : std::uint8_t{255}};
        });
        const auto found = Read(colour.View());
        ASSERT_EQ(found.size(), 1u) << int(format);
        EXPECT_EQ(found[0].text, expected[0].text);
        EXPECT_EQ(found[0].corners, expected[0].corners);
        EXPECT_EQ(reader::Grade(colour.View(), found[0]).value, grade);
    }
}

// ---------------------------------------------------------------------------------------
// Whole sheets: every symbol however many, and a page of print that reads nothing.

// An A4 sheet at 150 dpi, white.
Picture Sheet() {
    Picture p;
    p.width = 1240;
    p.height = 1754;
    p.pixels.assign(static_cast<std::size_t>(p.width) * p.height, 255);
    return p;
}

// An upright symbol of whole-pixel modules with its left end at (x, y).
void DrawUpright(Picture& p, const std::string& text, int x, int y, int module, int height,
                 int wide = 0) {
    bool dark = true;
    for (int run : encoder::Runs(text, {module, wide > 0 ? wide : 5 * module / 2, module})) {
        for (int yy = y; dark && yy < y + height; ++yy)
            std::fill_n(p.pixels.begin() + static_cast<std::ptrdiff_t>(yy) * p.width + x, run, 0);
        x += run;
        dark = !dark;
    }
}

// Every text drawn read once, nothing else, and the search not cut short.
void ExpectEachReadOnce(const reader::ReadResult& result, std::vector<std::string> drawn) {
    std::vector<std::string> texts;
    for (const auto& s : result.symbols) texts.push_back(s.text);
    std::sort(texts.begin(), texts.end());
    std::sort(drawn.begin(), drawn.end());
    EXPECT_EQ(texts, drawn);
    EXPECT_FALSE(result.truncated);
}

struct SheetCase {
    int labels;
    reader::Effort effort;
    int pitch = 165;  // pixels from one row of labels to the next
    int height = 60;  // of the bars
};

void PrintTo(const SheetCase& c, std::ostream* os) {
    *os << c.labels << "_labels_" << (c.effort == reader::Effort::kFast ? "fast" : "thorough")
        << "_pitch" << c.pitch;
}

class Sheets : public testing::TestWithParam<SheetCase> {};

TEST_P(Sheets, EverySymbolRead) {
    const auto [labels, effort, pitch, height] = GetParam();
    Picture p = Sheet();
    std::vector<std::string> drawn;
    for (int i = 0; i < labels; ++i) {
        drawn.push_back("L" + std::to_string(100 + i) + "-" + static_cast<char>('A' + i % 26));
        DrawUpright(p, drawn.back(), 60 + (i % 3) * 400, 20 + (i / 3) * pitch, 2, height);
    }
    ExpectEachReadOnce(reader::ReadAll(p.View(), {.effort = effort}), drawn);
}

INSTANTIATE_TEST_SUITE_P(Reader, Sheets,
                         testing::Values(SheetCase{17, reader::Effort::kFast},
                                         SheetCase{20, reader::Effort::kFast},
                                         SheetCase{30, reader::Effort::kFast},
                                         SheetCase{17, reader::Effort::kThorough},
                                         SheetCase{20, reader::Effort::kThorough},
                                         SheetCase{30, reader::Effort::kThorough},
                                         // Stacked closer than their length: 9 pixels apart.
                                         SheetCase{150, reader::Effort::kFast, 33, 24},
                                         SheetCase{150, reader::Effort::kThorough, 33, 24}));

// Long symbols stacked on a sheet, far less apart than they are long: each reads, however long
// it is against its bars' height (a line through a region at a degree off its direction would
// leave such bars before it reaches the ends).
struct StackCase {
    int symbols;
    int characters;
    int module;  // pixels
    int height;  // of the bars
    int pitch;   // from one symbol to the next
    int wide;    // pixels of a wide element
};

void PrintTo(const StackCase& c, std::ostream* os) {
    *os << c.symbols << "x" << c.characters << "_chars_module" << c.module << "_height" << c.height;
}

class StackedLongSymbols : public testing::TestWithParam<StackCase> {};

TEST_P(StackedLongSymbols, EveryOneReads) {
    const StackCase& c = GetParam();
    std::mt19937 random(static_cast<unsigned>(c.symbols * 100 + c.characters + c.module));
    const std::string alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. ";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    Picture p;
    p.width = 200 + (c.characters + 2) * 16 * c.module;
    p.height = 200 + c.symbols * c.pitch;
    p.pixels.assign(static_cast<std::size_t>(p.width) * p.height, 255);
    std::vector<std::string> drawn;
    for (int i = 0; i < c.symbols; ++i) {
        std::string text;
        while (static_cast<int>(text.size()) < c.characters) text += alphabet[pick(random)];
        // Spaces at the ends would be trimmed from the text read back.
        text.front() = 'A' + static_cast<char>(i), text.back() = 'Z';
        drawn.push_back(text);
        DrawUpright(p, text, 100, 100 + i * c.pitch, c.module, c.height, c.wide);
    }
    ExpectEachReadOnce(reader::ReadAll(p.View(), {}), drawn);
}

INSTANTIATE_TEST_SUITE_P(
    Reader, StackedLongSymbols,
    testing::Values(StackCase{5, 78, 2, 40, 150, 4}, StackCase{8, 60, 2, 40, 150, 4},
                    StackCase{8, 78, 2, 40, 150, 4}, StackCase{5, 78, 2, 40, 150, 5},
                    StackCase{5, 78, 3, 50, 120, 6}, StackCase{5, 40, 1, 20, 100, 2}));

// An A4 sheet of labels at 300 dpi, three columns, each label's text printed under its bars,
// the whole sheet blurred: every label reads as it does alone, or, near the limit of blur,
// nearly every one and the read says it was cut short. Labels a row apart lie nearer than a
// symbol's length, there are too many for the free samples, and the text below makes each
// region half as tall again as its bars.
struct BlurredSheetCase {
    int rows;
    double blur;  // pixels
    int wide;     // pixels of a wide element, modules of 3
    bool text;    // marks like letters below the bars
    int least;    // labels that must read
};

void PrintTo(const BlurredSheetCase& c, std::ostream* os) {
    *os << 3 * c.rows << "_labels_blur" << c.blur << "_wide" << c.wide
        << (c.text ? "_text" : "_bare");
}

class BlurredSheets : public testing::TestWithParam<BlurredSheetCase> {};

TEST_P(BlurredSheets, EveryLabelReads) {
    const BlurredSheetCase& c = GetParam();
    constexpr int kModule = 3, kBars = 60, kPitch = 137, kColumn = 760;
    std::mt19937 random(static_cast<unsigned>(c.rows * 10 + c.wide));
    const std::string alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-.";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(4, 8), stroke(0, 9);
    Picture p;
    p.width = 2480;
    p.height = 3508;
    p.pixels.assign(static_cast<std::size_t>(p.width) * p.height, 255);
    std::vector<std::string> drawn;
    for (int i = 0; i < 3 * c.rows; ++i) {
        std::string text;
        for (int n = length(random); n > 0; --n) text += alphabet[pick(random)];
        drawn.push_back(text);
        const int symbol = static_cast<int>(text.size() + 2) * (7 * kModule + 3 * c.wide);
        const int x = 100 + (i % 3) * kColumn + (kColumn - symbol) / 2;
        const int y = 130 + (i / 3) * kPitch;
        DrawUpright(p, text, x, y, kModule, kBars, c.wide);
        if (!c.text) continue;
        // A letter's strokes, 2 pixels wide and 18 high, under each character.
        const int cell = 14, left = x + (symbol - cell * static_cast<int>(text.size() + 2)) / 2;
        for (int k = 0; k < static_cast<int>(text.size() + 2) * 2; ++k)
            for (int yy = y + kBars + 4; yy < y + kBars + 22; ++yy)
                std::fill_n(p.pixels.begin() + static_cast<std::ptrdiff_t>(yy) * p.width + left +
                                k * cell / 2 + stroke(random) % 4,
                            2, 0);
    }
    Blur(p, c.blur);
    const reader::ReadResult result = reader::ReadAll(p.View(), {});
    std::multiset<std::string> left(drawn.begin(), drawn.end());
    for (const reader::Symbol& s : result.symbols) {
        const auto at = left.find(s.text);
        ASSERT_NE(at, left.end()) << s.text << " not drawn, or read twice";
        left.erase(at);
    }
    EXPECT_GE(static_cast<int>(result.symbols.size()), c.least);
    EXPECT_EQ(result.truncated, !left.empty()) << left.size() << " labels unread";
}

INSTANTIATE_TEST_SUITE_P(Reader, BlurredSheets,
                         testing::Values(BlurredSheetCase{24, 1.5, 6, true, 72},
                                         BlurredSheetCase{24, 1.5, 8, true, 72},
                                         BlurredSheetCase{24, 1.2, 6, true, 72},
                                         BlurredSheetCase{24, 1.5, 6, false, 72},
                                         BlurredSheetCase{8, 1.5, 6, true, 24},
                                         // Half a module and more: read by recovery alone.
                                         BlurredSheetCase{24, 1.85, 6, true, 68},
                                         BlurredSheetCase{24, 1.9, 6, true, 68}));

// One symbol on an A4 page at 300 dpi, white but for it, in a corner: from modules the picture's
// own block grids see to those only a coarser octave sees, and at the sizes where one takes over
// from the other. Each reads once, wherever on the page.
struct PageCase {
    const char* name;
    std::string text;
    double module;  // pixels
    double angle;   // degrees
    bool right, bottom;
    double blur = 0;  // in narrow modules
};

void PrintTo(const PageCase& c, std::ostream* os) {
    *os << c.name;
}

class OnAPage : public testing::TestWithParam<PageCase> {};

TEST_P(OnAPage, ReadOnce) {
    const PageCase& c = GetParam();
    Draw d;
    d.text = c.text;
    d.module = c.module;
    d.angle = c.angle;
    d.height = std::max(40.0, 8 * c.module);
    // Drawn on a tile round the symbol and its quiet zones, then laid in the page's corner.
    const double length = Length(d) + 20 * c.module;
    const double a = c.angle * std::numbers::pi / 180;
    Picture tile;
    tile.width =
        static_cast<int>(std::abs(std::cos(a)) * length + std::abs(std::sin(a)) * d.height) + 8;
    tile.height =
        static_cast<int>(std::abs(std::sin(a)) * length + std::abs(std::cos(a)) * d.height) + 8;
    tile.pixels.assign(static_cast<std::size_t>(tile.width) * tile.height, 255);
    d.cx = 0.5 * tile.width;
    d.cy = 0.5 * tile.height;
    DrawSymbol(tile, d);
    Blur(tile, c.blur * c.module);
    Picture page;
    page.width = 2480;
    page.height = 3508;
    page.pixels.assign(static_cast<std::size_t>(page.width) * page.height, 255);
    ASSERT_LE(tile.width, page.width);
    ASSERT_LE(tile.height, page.height);
    const int x0 = c.right ? page.width - tile.width : 0;
    const int y0 = c.bottom ? page.height - tile.height : 0;
    for (int y = 0; y < tile.height; ++y)
        std::copy_n(tile.pixels.begin() + static_cast<std::ptrdiff_t>(y) * tile.width, tile.width,
                    page.pixels.begin() + static_cast<std::ptrdiff_t>(y0 + y) * page.width + x0);
    const reader::ReadResult result = reader::ReadAll(page.View());
    ASSERT_EQ(result.symbols.size(), 1u) << tile.width << "x" << tile.height;
    EXPECT_EQ(result.symbols[0].text, c.text);
    EXPECT_FALSE(result.truncated);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Reader, OnAPage, testing::Values(
    PageCase{"SmallTopLeft", "SMALL-PAGE", 2, 0, false, false},
    PageCase{"SmallBottomRightTurned", "SMALL-PAGE", 2, 90, true, true},
    PageCase{"SmallBlurredTopRight", "S1", 1.5, 180, true, false, 0.4},
    // Where the picture's coarse block grid gives way to octave 2 (modules of 4 pixels there).
    PageCase{"Module8BottomLeft", "MID-8", 8, 0, false, true},
    PageCase{"Module16TopLeftTilted", "M16", 16, 30, false, false},
    PageCase{"Module16BlurredBottomRight", "M16", 16, 0, true, true, 0.5},
    // Octave 4's: a symbol as wide as the page.
    PageCase{"Module36TopRight", "B", 36, 0, true, false}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

// A halftoned symbol that only an octave's averaging resolves, beside a plain one that reads at
// the picture's own scale: the octaves are searched all the same.
struct MixedCase {
    double module, period, tone, blur;  // the halftoned symbol's; blur in its modules
};

void PrintTo(const MixedCase& c, std::ostream* os) {
    *os << "module" << c.module << "_period" << c.period << "_tone" << c.tone << "_blur" << c.blur;
}

class BesideAPlainSymbol : public testing::TestWithParam<MixedCase> {};

TEST_P(BesideAPlainSymbol, AHalftonedOneReads) {
    const MixedCase c = GetParam();
    Picture p;
    p.width = 640;
    p.height = 480;
    p.pixels.assign(static_cast<std::size_t>(p.width) * p.height, 255);
    Draw dots;
    dots.text = "DOTS-39";
    dots.module = c.module;
    dots.cx = 320;
    dots.cy = 120;
    dots.height = 60;
    DrawSymbol(p, dots);
    Screen(p, c.period, c.tone);
    Blur(p, c.blur * c.module);
    Draw plain;
    plain.text = "PLAIN";
    plain.cx = 320;
    plain.cy = 360;
    plain.height = 50;
    DrawSymbol(p, plain);
    std::vector<std::string> texts;
    for (const auto& s : Read(p.View())) texts.push_back(s.text);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"DOTS-39", "PLAIN"}));
}

INSTANTIATE_TEST_SUITE_P(Reader, BesideAPlainSymbol,
                         testing::Values(MixedCase{2.5, 2.0, 0.6, 0}, MixedCase{3.0, 3.0, 0.5, 0},
                                         MixedCase{3.0, 2.5, 0.5, 0.2},
                                         MixedCase{3.5, 3.5, 0.4, 0.2}));

// Paragraphs of letter-like strokes and a ruled table: nothing read, and searched whole.
TEST(Reader, NothingFromAPageOfPrint) {
    Picture p = Sheet();
    std::uint32_t seed = 15;
    auto next = [&] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    for (int line = 0; line < 40; ++line) {
        const int y0 = 80 + line * 30;
        for (int x0 = 80; x0 < 1140;) {
            for (int letters = 3 + next() % 6; letters > 0; --letters, x0 += 12) {
                // A letter: a stem or two, maybe an ascender, maybe a bar across.
                const int stems = 1 + next() % 2, rise = next() % 3 == 0 ? 7 : 0;
                for (int k = 0; k < stems; ++k)
                    for (int y = y0 - rise; y < y0 + 12; ++y)
                        for (int x = x0 + 7 * k; x < x0 + 7 * k + 2; ++x)
                            p.pixels[y * p.width + x] = 20;
                if (next() % 2)
                    for (int x = x0; x < x0 + 9; ++x)
                        p.pixels[(y0 + next() % 12) * p.width + x] = 20;
            }
            x0 += 10;
        }
    }
    for (int r = 0; r <= 8; ++r)
        std::fill_n(p.pixels.begin() + (1320 + r * 40) * p.width + 80, 1080, 0);
    for (int c = 0; c <= 6; ++c)
        for (int y = 1320; y <= 1640; ++y) p.pixels[y * p.width + 80 + c * 180] = 0;
    for (const reader::Effort effort : {reader::Effort::kFast, reader::Effort::kThorough}) {
        const reader::ReadResult result = reader::ReadAll(p.View(), {.effort = effort});
        EXPECT_TRUE(result.symbols.empty());
        EXPECT_FALSE(result.truncated);
    }
}

}  // namespace
