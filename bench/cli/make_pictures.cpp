// Writes N pictures of one Code 39 symbol each (different texts, same layout) for the
// command-line benchmark, and prints the --box that reads them all.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <cstdio>
#include <random>
#include <string>

#include "scan39/encoder.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DIRECTORY COUNT\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const int count = std::atoi(argv[2]);
    constexpr int kChars = 10, kMargin = 40, kTop = 10, kBarHeight = 80;
    const scan39::encoder::Widths widths{2, 5, 2};
    // Letters and digits only, so every reader prints the text the same way.
    const std::string alphabet(scan39::encoder::kAlphabet.substr(0, 36));
    std::mt19937 random(39);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    int symbolWidth = 0;
    for (int n = 0; n < count; ++n) {
        std::string text;
        for (int i = 0; i < kChars; ++i) text += alphabet[pick(random)];
        const auto runs = scan39::encoder::Runs(text, widths);
        symbolWidth = 0;
        for (int r : runs) symbolWidth += r;
        QImage image(symbolWidth + 2 * kMargin, kBarHeight + 2 * kTop, QImage::Format_RGB888);
        image.fill(Qt::white);
        QPainter painter(&image);
        int x = kMargin;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            if (i % 2 == 0) painter.fillRect(x, kTop, runs[i], kBarHeight, Qt::black);
            x += runs[i];
        }
        painter.end();
        const QString name =
            QStringLiteral("%1/code39_%2.bmp").arg(dir).arg(n, 3, 10, QLatin1Char('0'));
        if (!image.save(name, "BMP")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
            return 1;
        }
    }
    // Press in the left margin a few pixels inside the bars, release in the right margin.
    std::printf("%d,%d,%d,%d\n", kMargin / 2, kTop + 5, kMargin + symbolWidth + kMargin / 2,
                kTop + 15);
    return 0;
}
