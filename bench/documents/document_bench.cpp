// A4 pages drawn at 300 dpi the way scan39 draws them (each in a child process): a scanned
// page, one 300-dpi picture of text and a symbol, and the same page as vector text and bars.

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>

#include "scan39/encoder.h"
#include "scan39/documents/document.h"

namespace {

// Text lines and a Code 39 symbol, in the painter's units (one unit = 1/300 inch).
void DrawPage(QPainter& p) {
    QFont font;
    font.setPixelSize(36);
    p.setFont(font);
    for (int y = 700; y < 3300; y += 55)
        p.drawText(200, y,
                   QStringLiteral("Invoice 2024-%1: the quick brown fox jumps over the "
                                  "lazy dog, total amount 1,234.56")
                       .arg(y));
    const auto runs = scan39::encoder::Runs("COVER-0042", {4, 10, 4});
    qreal x = 300;
    for (std::size_t i = 0; i < runs.size(); x += runs[i++])
        if (i % 2 == 0) p.fillRect(QRectF(x, 200, runs[i], 240), Qt::black);
}

QByteArray A4Pdf(bool scanned) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF());
    writer.setResolution(300);
    QPainter p(&writer);
    if (scanned) {
        QImage page(2480, 3508, QImage::Format_Grayscale8);
        page.fill(Qt::white);
        QPainter onPage(&page);
        DrawPage(onPage);
        onPage.end();
        p.drawImage(QRect(0, 0, 2480, 3508), page);
    } else {
        DrawPage(p);
    }
    p.end();
    return bytes;
}

void BM_A4Page(benchmark::State& state) {
    const scan39::documents::Document document(A4Pdf(state.range(0) == 1), QStringLiteral("page"),
                                          scan39::documents::kDefaultDpi);
    for (auto _ : state) benchmark::DoNotOptimize(document.loadPage(0));
    state.SetLabel(state.range(0) == 1 ? "scanned" : "vector");
}
BENCHMARK(BM_A4Page)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
