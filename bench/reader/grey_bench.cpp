// What handing a colour picture to the reader costs: the conversion to grey of a 12-megapixel
// picture in each pixel format, next to the loop callers used to run themselves (a call of
// Grey() per QImage RGB32 pixel). The grey buffer is reused: the conversion alone is timed.
//
//   scan39_grey_bench [benchmark flags]

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "scan39/reader.h"

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

// Bytes of a photo-like picture: noise, 4 bytes a pixel, opaque.
const std::vector<std::uint8_t>& Bytes() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> b(static_cast<std::size_t>(kWidth) * kHeight * 4);
        std::mt19937 random(39);
        for (auto& v : b) v = static_cast<std::uint8_t>(random());
        for (std::size_t i = 3; i < b.size(); i += 4) b[i] = 255;
        return b;
    }();
    return bytes;
}

void Convert(benchmark::State& state, scan39::reader::PixelFormat format) {
    const int n = scan39::reader::BytesPerPixel(format);
    const scan39::reader::ImageView view{Bytes().data(), kWidth, kHeight,
                                         static_cast<std::ptrdiff_t>(kWidth) * n, format};
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(kWidth) * kHeight);
    for (auto _ : state) {
        scan39::reader::ToGrey(view, grey.data());
        benchmark::DoNotOptimize(grey.data());
    }
}

// The callers' own loop as it was: words 0xffRRGGBB, a call of Grey() per pixel.
void CallersLoop(benchmark::State& state) {
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(kWidth) * kHeight);
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            const std::uint8_t* row = Bytes().data() + static_cast<std::size_t>(y) * kWidth * 4;
            std::uint8_t* to = grey.data() + static_cast<std::size_t>(y) * kWidth;
            for (int x = 0; x < kWidth; ++x) {
                std::uint32_t word;
                std::memcpy(&word, row + 4 * x, 4);
                to[x] = scan39::reader::Grey(static_cast<std::uint8_t>(word >> 16),
                                             static_cast<std::uint8_t>(word >> 8),
                                             static_cast<std::uint8_t>(word));
            }
        }
        benchmark::DoNotOptimize(grey.data());
    }
}

using scan39::reader::PixelFormat;
BENCHMARK(CallersLoop)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, Argb32, PixelFormat::kArgb32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, Rgba, PixelFormat::kRgba)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, Rgb, PixelFormat::kRgb)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
