// The reader at every scale: one symbol whose narrow module spans 1 to 55 pixels, of 1, 3 and
// 20 characters, at 0, 30 and 90 degrees, sharp and blurred over half a module. Symbols that
// fill the picture are found at a coarser octave of it; each must read once, with its text.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "scan39/encoder.h"
#include "scan39/reader.h"

namespace {

using namespace scan39;

// Pictures larger than this are skipped: a 55-pixel module makes a 20-character symbol about
// 18,000 pixels long, and a tilted one needs a canvas of its bounding box.
constexpr long long kMostPixels = 16'000'000;

// Lines sampled every half pixel resolve narrow modules down to about 1.3 pixels; a finer
// symbol must at least give no false text.
constexpr double kFinestModule = 1.3;

struct Canvas {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
    reader::GreyView View() const { return {pixels.data(), width, height, width}; }
};

// Edges along the symbol in pixels, from its first bar's start, and its length.
std::vector<double> Edges(const std::string& text, double module) {
    const std::vector<int> runs = encoder::Runs(text, {2, 5, 2});  // half modules, ratio 2.5
    std::vector<double> edges{0};
    for (int r : runs) edges.push_back(edges.back() + r * module / 2);
    return edges;
}

// The symbol centred on a canvas that holds it and ten modules of paper round it, or an empty
// canvas when that would exceed kMostPixels.
Canvas Draw(const std::string& text, double module, double angleDegrees) {
    const std::vector<double> edges = Edges(text, module);
    const double length = edges.back();
    const double height = std::max(12 * module, 0.15 * length);
    const double a = angleDegrees * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    const double outerL = length + 20 * module, outerH = height + 20 * module;
    Canvas p;
    p.width = static_cast<int>(std::ceil(std::abs(c) * outerL + std::abs(s) * outerH)) + 2;
    p.height = static_cast<int>(std::ceil(std::abs(s) * outerL + std::abs(c) * outerH)) + 2;
    if (static_cast<long long>(p.width) * p.height > kMostPixels) return {};
    p.pixels.assign(static_cast<std::size_t>(p.width) * p.height, 220);
    const int n = module < 3 ? 4 : 2;  // samples per pixel each way
    const double cx = 0.5 * p.width, cy = 0.5 * p.height;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            int cover = 0;
            for (int sy = 0; sy < n; ++sy) {
                for (int sx = 0; sx < n; ++sx) {
                    const double px = x + (sx + 0.5) / n - 0.5 - cx;
                    const double py = y + (sy + 0.5) / n - 0.5 - cy;
                    const double u = px * c + py * s + 0.5 * length, v = -px * s + py * c;
                    if (u <= 0 || u >= length || std::abs(v) > 0.5 * height) continue;
                    const auto i = std::upper_bound(edges.begin(), edges.end(), u) - edges.begin();
                    cover += i % 2;  // bars start at even edges
                }
            }
            if (cover > 0)
                p.pixels[static_cast<std::size_t>(y) * p.width + x] =
                    static_cast<std::uint8_t>(std::lround(220 - 180.0 * cover / (n * n)));
        }
    }
    return p;
}

// A Gaussian blur of `sigma` pixels: the kernel itself when small, three box blurs of the
// same variance when large (they cost the same at any size).
void Blur(Canvas& p, double sigma) {
    const int w = p.width, h = p.height;
    std::vector<float> f(p.pixels.begin(), p.pixels.end()), line;
    const auto pass = [&](int count, int length, std::ptrdiff_t step, std::ptrdiff_t next,
                          const std::vector<float>& kernel) {
        const int r = static_cast<int>(kernel.size() / 2);
        for (int k = 0; k < count; ++k) {
            float* base = f.data() + k * next;
            line.assign(length, 0);
            for (int i = 0; i < length; ++i) {
                float sum = 0;
                for (int j = -r; j <= r; ++j)
                    sum += kernel[j + r] * base[std::clamp(i + j, 0, length - 1) * step];
                line[i] = sum;
            }
            for (int i = 0; i < length; ++i) base[i * step] = line[i];
        }
    };
    std::vector<std::vector<float>> kernels;
    if (sigma <= 3) {
        const int r = static_cast<int>(std::ceil(3 * sigma));
        std::vector<float> k(2 * r + 1);
        float sum = 0;
        for (int i = -r; i <= r; ++i) sum += k[i + r] = std::exp(-i * i / (2 * sigma * sigma));
        for (float& v : k) v /= sum;
        kernels.push_back(k);
    } else {
        const int r = static_cast<int>(std::lround(0.5 * (std::sqrt(4 * sigma * sigma + 1) - 1)));
        kernels.assign(3, std::vector<float>(2 * r + 1, 1.0f / (2 * r + 1)));
    }
    // A box this wide is a running sum in effect; the few large ones here stay within seconds.
    for (const auto& k : kernels) {
        pass(h, w, 1, w, k);
        pass(w, h, w, 1, k);
    }
    for (std::size_t i = 0; i < f.size(); ++i)
        p.pixels[i] = static_cast<std::uint8_t>(std::clamp(std::lround(f[i]), 0L, 255L));
}

using Case = std::tuple<double, int, double, bool>;  // module, characters, angle, blurred

class Scale : public testing::TestWithParam<Case> {};

TEST_P(Scale, ReadsOnceWithItsText) {
    const auto [module, characters, angle, blurred] = GetParam();
    const std::string text = std::string("A1Z0123456789BCDEFGHIJ").substr(0, characters);
    Canvas p = Draw(text, module, angle);
    if (p.pixels.empty()) GTEST_SKIP() << "the picture would exceed 16 Mpx";
    if (blurred) Blur(p, 0.5 * module);
    const std::vector<reader::Symbol> symbols = reader::Read(p.View());
    if (module < kFinestModule) {  // below the lines' resolution: nothing, or nothing false
        for (const reader::Symbol& s : symbols) EXPECT_EQ(s.text, text);
        return;
    }
    ASSERT_EQ(symbols.size(), 1u) << p.width << "x" << p.height;
    EXPECT_EQ(symbols[0].text, text);
}

std::string Name(const testing::TestParamInfo<Case>& info) {
    const auto& [module, characters, angle, blurred] = info.param;
    return "module" + std::to_string(static_cast<int>(module * 10)) + "_" +
           std::to_string(characters) + "chars_" + std::to_string(static_cast<int>(angle)) +
           "deg" + (blurred ? "_blurred" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Modules, Scale,
    testing::Combine(testing::Values(1.0, 1.5, 2.0, 3.0, 5.0, 8.0, 13.0, 21.0, 34.0, 55.0),
                     testing::Values(1, 3, 20), testing::Values(0.0, 30.0, 90.0),
                     testing::Bool()),
    Name);

}  // namespace
