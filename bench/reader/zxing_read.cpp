// zxing-cpp as a peer: reads ONE picture with Code 39 only and default hints, and prints each
// text on its own line. One process per picture, because Debian's zxing-cpp 1.4 aborts on an
// assertion for some pictures that hold several symbols; the caller counts a crash as not read.
// Exit status: 0 something was read, 1 nothing, 2 the picture could not be loaded.

#include <ZXing/ReadBarcode.h>
#include <QImage>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "scan39/reader.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PICTURE\n", argv[0]);
        return 2;
    }
    const QImage image =
        QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB888);
    if (image.isNull()) return 2;
    // The same grey as the reader sees, so both start from identical pixels.
    const int width = image.width();
    const int height = image.height();
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        const uchar* p = image.constScanLine(y);
        for (int x = 0; x < width; ++x, p += 3)
            grey[static_cast<std::size_t>(y) * width + x] = scan39::reader::Grey(p[0], p[1], p[2]);
    }
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::Code39);
    const auto results = ZXing::ReadBarcodes(
        ZXing::ImageView(grey.data(), width, height, ZXing::ImageFormat::Lum), hints);
    int found = 0;
    for (const auto& r : results) {
        if (!r.isValid()) continue;
        std::printf("%s\n", r.text().c_str());
        ++found;
    }
    return found ? 0 : 1;
}
