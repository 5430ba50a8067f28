// Scan over one picture row holding "ABC123": the row path, the per-unit reference walk and,
// when available, zxing-cpp on the same pixels.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scan39/encoder.h"
#include "scan39/scan.h"

#ifdef SCAN39_HAVE_ZXING
#include <ZXing/ReadBarcode.h>
#endif

namespace {

constexpr int kUnitsPerPixel = 15;
constexpr int kMargin = 60;
const std::string kText = "ABC123";

struct Fixture {
    std::vector<std::int32_t> row;  // 738 pixels
    scan39::PatternTable table;
    scan39::ScanLine line;

    Fixture() {
        const auto runs = scan39::encoder::Runs(kText, {.narrow = 6, .wide = 12, .gap = 6});
        row = scan39::encoder::Row(runs, kMargin, kMargin);
        scan39::BuildPatternTable(table);
        // From the first pixel to one pixel beyond the picture, whose -1 ends the quiet zone
        // as the red edge of the selection box would.
        const auto width = static_cast<std::int32_t>(row.size());
        line = {.xa = -scan39::kLineStartOffset, .xb = width * kUnitsPerPixel, .ya = -20};
    }

    scan39::PixelRowSource Source() const {
        return {.row = [this](std::int32_t) { return std::span<const std::int32_t>(row); },
                .width = static_cast<std::int32_t>(row.size()),
                .height = 1,
                .unitsPerPixel = kUnitsPerPixel};
    }

    scan39::PixelReader Reader() const {
        return [this](std::int32_t x, std::int32_t y) -> std::optional<std::int32_t> {
            const std::int64_t col = scan39::UnitToPixel(x, kUnitsPerPixel);
            const std::int64_t r = scan39::UnitToPixel(y, kUnitsPerPixel);
            if (r != 0 || col < 0 || col >= static_cast<std::int64_t>(row.size())) return -1;
            return row[static_cast<std::size_t>(col)];
        };
    }
};

const Fixture& TheFixture() {
    static const Fixture fixture;
    return fixture;
}

template <typename Source>
void RunScan(benchmark::State& state, const Source& source) {
    const Fixture& f = TheFixture();
    std::string value;
    if (scan39::Scan(f.line, source, f.table, value) != scan39::kScanDecoded || value != kText) {
        state.SkipWithError("the row does not decode");
        return;
    }
    for (auto _ : state) {
        const std::int16_t result = scan39::Scan(f.line, source, f.table, value);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(value);
    }
    state.counters["samples"] =
        static_cast<double>(std::int64_t{f.line.xb} - f.line.xa - scan39::kLineStartOffset + 1);
}

void BM_ScanRowPath(benchmark::State& state) {
    RunScan(state, TheFixture().Source());
}
BENCHMARK(BM_ScanRowPath);

void BM_ScanReferenceWalk(benchmark::State& state) {
    RunScan(state, TheFixture().Reader());
}
BENCHMARK(BM_ScanReferenceWalk);

#ifdef SCAN39_HAVE_ZXING
void BM_ZXingPeer(benchmark::State& state) {
    const Fixture& f = TheFixture();
    std::vector<std::uint8_t> lum;
    for (std::int32_t colour : f.row) lum.push_back(scan39::IsDark(colour) ? 0 : 255);
    const ZXing::ImageView image(lum.data(), static_cast<int>(lum.size()), 1,
                                 ZXing::ImageFormat::Lum);
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::Code39)
        .setMinLineCount(1)
        .setTryRotate(false)
        .setTryHarder(false)
        .setTryDownscale(false);
    if (ZXing::ReadBarcode(image, hints).text() != kText) {
        state.SkipWithError("zxing does not decode the row");
        return;
    }
    for (auto _ : state) {
        auto result = ZXing::ReadBarcode(image, hints);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_ZXingPeer);
#endif

}  // namespace

BENCHMARK_MAIN();
