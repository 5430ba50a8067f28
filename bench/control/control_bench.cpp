// Scan through the control (Image1's shown row handed to the decoder's row path) against the
// decoder's row path alone on the very same row: the difference is the control's overhead.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPainter>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "scan39/encoder.h"
#include "scan39/host/picture_box.h"
#include "scan39/scan.h"
#include "scan39/uo_scan.h"

namespace {

using scan39::Uo_Scan;

struct Case {
    std::unique_ptr<Uo_Scan> control;
    float x1, y1, x2, y2;  // the drag, in twips
    const char* text;
};

// A picture 5000 pixels wide holding one long symbol across nearly all of it.
constexpr char kWideText[] = "SCAN39-WIDE-PICTURE-0123456789";

scan39::host::PictureRef WidePicture() {
    const auto runs = scan39::encoder::Runs(kWideText, {10, 25, 10});
    QImage image(5000, 60, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    int x = 150;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (i % 2 == 0) painter.fillRect(x, 5, runs[i], 50, Qt::black);
        x += runs[i];
    }
    return std::make_shared<const scan39::host::Picture>(image);
}

Case& DefaultCase() {
    static Case c{std::make_unique<Uo_Scan>(), 60, 300, 3690, 600, "1234567"};
    return c;
}

Case& WideCase() {
    static Case c = [] {
        Case w{std::make_unique<Uo_Scan>(), 60, 300, 4990 * 15, 600, kWideText};
        w.control->setPicture(WidePicture());
        return w;
    }();
    return c;
}

Case& Prepared(bool wide) {
    Case& c = wide ? WideCase() : DefaultCase();
    c.control->InitProperties();
    c.control->Image1_MouseDown(c.x1, c.y1);
    c.control->Image1_MouseMove(c.x2, c.y2);
    c.control->Image1_MouseUp();
    return c;
}

void Check(benchmark::State& state, bool ok) {
    if (!ok) state.SkipWithError("the symbol was not decoded");
}

// Uo_Scan::Scan: reads Image1's shown row, then the decoder's row path.
void BM_ControlScan(benchmark::State& state) {
    Case& c = Prepared(state.range(0) != 0);
    Check(state, c.control->Scan() == 0 && c.control->Value() == QLatin1String(c.text));
    for (auto _ : state) benchmark::DoNotOptimize(c.control->Scan());
    state.SetLabel(state.range(0) ? "5000 px wide" : "default picture");
}

// The decoder's row path alone, over a copy of the same shown row.
void BM_DecoderRowPath(benchmark::State& state) {
    Case& c = Prepared(state.range(0) != 0);
    auto* image1 = c.control->Image1();
    const scan39::ScanLine line{c.control->xa(), c.control->xb(), c.control->ya()};
    std::vector<std::vector<std::int32_t>> rows(static_cast<std::size_t>(image1->shownHeight()));
    for (int y = 0; y < image1->shownHeight(); ++y) {
        const auto r = image1->shownRow(y);
        rows[static_cast<std::size_t>(y)].assign(r.begin(), r.end());
    }
    scan39::PixelRowSource source;
    source.width = image1->shownWidth();
    source.height = image1->shownHeight();
    source.row = [&rows](std::int32_t y) {
        return std::span<const std::int32_t>(rows[static_cast<std::size_t>(y)]);
    };
    scan39::PatternTable table{};
    scan39::BuildPatternTable(table);
    std::string value;
    Check(state, scan39::Scan(line, source, table, value) == 0 && value == c.text);
    for (auto _ : state) benchmark::DoNotOptimize(scan39::Scan(line, source, table, value));
    state.SetLabel(state.range(0) ? "5000 px wide" : "default picture");
}

// The per-twip walk through Point, for scale.
void BM_PointWalk(benchmark::State& state) {
    Case& c = Prepared(state.range(0) != 0);
    auto* image1 = c.control->Image1();
    const scan39::ScanLine line{c.control->xa(), c.control->xb(), c.control->ya()};
    const scan39::PixelReader read = [image1](std::int32_t x, std::int32_t y) {
        return std::optional<std::int32_t>(image1->Point(float(x), float(y)));
    };
    scan39::PatternTable table{};
    scan39::BuildPatternTable(table);
    std::string value;
    Check(state, scan39::Scan(line, read, table, value) == 0 && value == c.text);
    for (auto _ : state) benchmark::DoNotOptimize(scan39::Scan(line, read, table, value));
    state.SetLabel(state.range(0) ? "5000 px wide" : "default picture");
}

// What one picture costs the command-line scanner after loading: the drag (clear, draw the
// box) and the scan.
void BM_DragAndScan(benchmark::State& state) {
    Case& c = Prepared(state.range(0) != 0);
    for (auto _ : state) {
        c.control->Image1_MouseDown(c.x1, c.y1);
        c.control->Image1_MouseMove(c.x2, c.y2);
        c.control->Image1_MouseUp();
        benchmark::DoNotOptimize(c.control->Scan());
    }
    Check(state, c.control->Value() == QLatin1String(c.text));
    state.SetLabel(state.range(0) ? "5000 px wide" : "default picture");
}

BENCHMARK(BM_ControlScan)->Arg(0)->Arg(1);
BENCHMARK(BM_DecoderRowPath)->Arg(0)->Arg(1);
BENCHMARK(BM_PointWalk)->Arg(0)->Arg(1);
BENCHMARK(BM_DragAndScan)->Arg(0)->Arg(1);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The cases hold widgets; they must go before the application does.
    DefaultCase().control.reset();
    WideCase().control.reset();
    return 0;
}
