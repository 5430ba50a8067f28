// Picture bytes from an untrusted file: they load as a picture or fail with a run-time error,
// and nothing else may happen (no other exception, no memory error, no allocation beyond the
// loader's bound).
//
// With SCAN39_FUZZ_SEEDS=<dir> in the environment the target writes its seed corpus there
// and exits instead.

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <vector>

#include "fuzz_gui_p.h"
#include "fuzz_support_p.h"
#include "scan39/host/errors.h"
#include "scan39/host/picture.h"

namespace {

using scan39::fuzz::Fail;

void Le16(QByteArray& b, quint32 v) {
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}
void Le32(QByteArray& b, quint32 v) {
    Le16(b, v & 0xFFFF);
    Le16(b, v >> 16);
}

// Bars and spaces of a few widths with a grey band: enough structure for every encoder.
QImage Stripes(int width, int height, QImage::Format format) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    int x = 2;
    for (int i = 0; x < width - 2; ++i) {
        const int w = 1 + (i % 3);
        if (i % 2 == 0) painter.fillRect(x, 0, w, height - 2, Qt::black);
        x += w;
    }
    painter.fillRect(0, height - 2, width, 2, QColor(200, 200, 200));
    painter.end();
    return image.convertToFormat(format);
}

QByteArray Save(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format, quality)) Fail("a seed picture could not be written");
    return bytes;
}

QByteArray Progressive(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    if (!writer.write(image)) Fail("a seed picture could not be written");
    return bytes;
}

// A run-length BMP (8 or 4 bits a pixel) of `width` x `height` built from `rle`, the pixel
// data that follows a two-colour palette.
QByteArray RleBmp(int width, int height, int bits, const QByteArray& rle) {
    const quint32 colours = 2;
    const quint32 offBits = 14 + 40 + colours * 4;
    QByteArray b("BM");
    Le32(b, offBits + rle.size());
    Le32(b, 0);
    Le32(b, offBits);
    Le32(b, 40);
    Le32(b, width);
    Le32(b, height);
    Le16(b, 1);
    Le16(b, bits);
    Le32(b, bits == 8 ? 1 : 2);
    Le32(b, rle.size());
    Le32(b, 2835);
    Le32(b, 2835);
    Le32(b, colours);
    Le32(b, 0);
    Le32(b, 0x000000);
    Le32(b, 0xFFFFFF);
    b.append(rle);
    return b;
}

QByteArray Rle8Seed() {
    // Per row: a run, a literal of three pixels (padded to a word), a delta, end of line;
    // then end of picture.
    QByteArray rle;
    for (int row = 0; row < 3; ++row) {
        rle.append("\x04\x01", 2);
        rle.append("\x00\x03\x00\x01\x00\x00", 6);
        rle.append("\x00\x02\x01\x00", 4);
        rle.append("\x00\x00", 2);
    }
    rle.append("\x00\x01", 2);
    return RleBmp(10, 3, 8, rle);
}

QByteArray Rle4Seed() {
    QByteArray rle;
    rle.append("\x06\x10", 2);  // alternating pixels
    rle.append("\x00\x04\x01\x10", 4);
    rle.append("\x00\x00", 2);
    rle.append("\x0A\x11", 2);
    rle.append("\x00\x01", 2);
    return RleBmp(10, 2, 4, rle);
}

// An uncompressed GIF of `width` x `height` from palette indexes 0/1: 9-bit LZW codes with a
// clear code often enough that the code size never grows.
QByteArray Gif(int width, int height, const std::function<int(int, int)>& pixel, bool localPalette,
               bool interlaced) {
    QByteArray b("GIF89a");
    Le16(b, width);
    Le16(b, height);
    b.append(char(localPalette ? 0x00 : 0xF7));  // global table of 256 colours, or none
    b.append('\0');
    b.append('\0');
    auto palette = [&] {
        for (int i = 0; i < 256; ++i) {
            const char c = i == 0 ? '\0' : '\xFF';
            b.append(c);
            b.append(c);
            b.append(c);
        }
    };
    if (!localPalette) palette();
    b.append("\x21\xF9\x04\x00\x00\x00\x00\x00", 8);  // graphic control extension
    b.append('\x2C');
    Le16(b, 0);
    Le16(b, 0);
    Le16(b, width);
    Le16(b, height);
    b.append(char((localPalette ? 0x87 : 0x00) | (interlaced ? 0x40 : 0x00)));
    if (localPalette) palette();
    b.append('\x08');  // LZW minimum code size

    std::vector<int> codes;
    constexpr int kClear = 256;
    constexpr int kEnd = 257;
    codes.push_back(kClear);
    int sinceClear = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (sinceClear == 250) {
                codes.push_back(kClear);
                sinceClear = 0;
            }
            codes.push_back(pixel(x, y));
            ++sinceClear;
        }
    }
    codes.push_back(kEnd);
    QByteArray data;
    quint32 acc = 0;
    int bits = 0;
    for (int c : codes) {
        acc |= quint32(c) << bits;
        bits += 9;
        while (bits >= 8) {
            data.append(char(acc & 0xFF));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) data.append(char(acc & 0xFF));
    for (qsizetype i = 0; i < data.size(); i += 255) {
        const QByteArray block = data.mid(i, 255);
        b.append(char(block.size()));
        b.append(block);
    }
    b.append('\0');
    b.append('\x3B');
    return b;
}

void WriteSeeds(const std::filesystem::path& dir) {
    const QImage stripes = Stripes(24, 8, QImage::Format_RGB32);
    const auto bar = [](int x, int) { return (x / 2) % 2 == 0 ? 0 : 1; };
    const std::vector<std::pair<const char*, QByteArray>> seeds = {
        {"mono.bmp", Save(stripes.convertToFormat(QImage::Format_Mono), "BMP")},
        {"indexed8.bmp", Save(stripes.convertToFormat(QImage::Format_Indexed8), "BMP")},
        {"rgb24.bmp", Save(stripes.convertToFormat(QImage::Format_RGB888), "BMP")},
        {"argb32.bmp", Save(stripes.convertToFormat(QImage::Format_ARGB32), "BMP")},
        {"rle8.bmp", Rle8Seed()},
        {"rle4.bmp", Rle4Seed()},
        {"baseline.jpg", Save(stripes, "JPG", 90)},
        {"progressive.jpg", Progressive(stripes)},
        {"grey.jpg", Save(stripes.convertToFormat(QImage::Format_Grayscale8), "JPG", 50)},
        {"stripes.png", Save(stripes, "PNG")},
        {"alpha.png", Save(stripes.convertToFormat(QImage::Format_ARGB32), "PNG")},
        {"indexed.png", Save(stripes.convertToFormat(QImage::Format_Indexed8), "PNG")},
        {"global.gif", Gif(24, 8, bar, false, false)},
        {"local_interlaced.gif", Gif(12, 9, bar, true, true)},
    };
    for (const auto& [name, bytes] : seeds) scan39::fuzz::WriteSeed(dir, name, bytes);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scan39::fuzz::StartOffscreenGui();
    scan39::fuzz::WriteSeedsIfAsked(WriteSeeds);
    return 0;
}

namespace {

// What loading gives: the error number, or 0 and the picture's size.
struct Outcome {
    int error = 0;
    QSize size;
    bool operator==(const Outcome&) const = default;
};

Outcome Load(const QByteArray& bytes, scan39::host::Tone tone) {
    using scan39::host::Tone;
    try {
        const scan39::host::PictureRef picture =
            scan39::host::LoadPictureFromData(bytes, QStringLiteral("fuzz"), tone);
        if (!picture) Fail("loaded without a picture");
        const QImage& image = picture->image();
        const bool greyAllowed = tone == Tone::Grey && image.format() == QImage::Format_Grayscale8;
        if (image.isNull() || (image.format() != QImage::Format_RGB32 && !greyAllowed)) {
            Fail("the picture is not an RGB32 raster");
        }
        if (qint64{image.width()} * image.height() > scan39::host::kMaxPicturePixels) {
            Fail("the picture is larger than the loader allows");
        }
        return {0, image.size()};
    } catch (const scan39::host::RuntimeError& e) {
        if (e.description().isEmpty()) Fail("a run-time error without a description");
        return {e.number(), {}};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // The reader's grey decode must judge every file as the colour one does.
    if (!(Load(bytes, scan39::host::Tone::Colour) == Load(bytes, scan39::host::Tone::Grey)))
        Fail("grey and colour loads disagree");
    return 0;
}
