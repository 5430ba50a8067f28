#include "pictures.h"

#include <QFile>
#include <QImage>
#include <memory>
#include <mutex>

#include "io_p.h"
#include "scan39/host/errors.h"

namespace scan39::python {

namespace {

// What the loader's descriptions call pictures handed over as bytes.
const QString kDataName = QStringLiteral("图片数据");

// Qt's image readers share settings between threads (the loader's allocation limit), so
// pictures are decoded one at a time, as the command line does; reading runs in parallel.
std::mutex g_decodeLock;

// Messages follow the command line's language rule (the locale).
cli::Language MessageLanguage() {
    static const cli::Language language = cli::LanguageFromEnvironment();
    return language;
}

// Straight alpha over white, the same rounding as the loader uses for transparent pictures.
constexpr int Over(int c, int a) {
    return (c * a + 255 * (255 - a) + 127) / 255;
}

template <typename Pixel>
void ForEachPixel(const ArrayPixels& p, Pixel&& pixel) {
    for (std::ptrdiff_t y = 0; y < p.height; ++y) {
        const std::uint8_t* row = p.data + y * p.rowStride;
        for (std::ptrdiff_t x = 0; x < p.width; ++x) {
            const std::uint8_t* at = row + x * p.columnStride;
            int r = at[0], g = r, b = r;
            if (p.channels >= 3) {
                g = at[p.channelStride];
                b = at[2 * p.channelStride];
            }
            if (p.channels == 4) {
                const int a = at[3 * p.channelStride];
                r = Over(r, a);
                g = Over(g, a);
                b = Over(b, a);
            }
            pixel(x, y, r, g, b);
        }
    }
}

}  // namespace

PictureFailure::PictureFailure(int number, const QString& description, const QString& path)
    : std::runtime_error(description.toStdString()),
      number_(number),
      description_(description),
      path_(path) {}

host::PictureRef LoadPath(const QByteArray& encodedPath) {
    // The command line's own loading: the exact name, the same checks and messages.
    try {
        const std::lock_guard lock(g_decodeLock);
        return cli::LoadNamedPicture(encodedPath, false);
    } catch (const cli::LoadError& e) {
        throw PictureFailure(e.number, e.text(MessageLanguage()), QFile::decodeName(encodedPath));
    }
}

host::PictureRef LoadData(const QByteArray& bytes) {
    try {
        const std::lock_guard lock(g_decodeLock);
        return host::LoadPictureFromData(bytes, kDataName);
    } catch (const host::RuntimeError& e) {
        throw PictureFailure(e.number(), cli::FromRuntimeError(e).text(MessageLanguage()),
                             QString());
    }
}

std::mutex& DecodeLock() {
    return g_decodeLock;
}

const QString& DataName() {
    return kDataName;
}

GreyPicture GreyOf(const host::Picture& picture) {
    const QImage& image = picture.image();  // always RGB32
    GreyPicture out;
    const int w = image.width(), h = image.height();
    out.pixels.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        std::uint8_t* dst = out.pixels.data() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < w; ++x)
            dst[x] = reader::Grey(qRed(src[x]), qGreen(src[x]), qBlue(src[x]));
    }
    out.view = {out.pixels.data(), w, h, w};
    return out;
}

GreyPicture GreyOf(const ArrayPixels& p) {
    if (p.width > INT32_MAX || p.height > INT32_MAX) {
        throw std::length_error("the array is too large for the reader");
    }
    GreyPicture out;
    const int w = static_cast<int>(p.width), h = static_cast<int>(p.height);
    if (w == 0 || h == 0) {
        out.view = {nullptr, w, h, w};
        return out;
    }
    if (p.channels == 1 && p.columnStride == 1 && p.rowStride >= p.width) {
        out.view = {p.data, w, h, p.rowStride};  // no copy
        return out;
    }
    out.pixels.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    ForEachPixel(p, [&](std::ptrdiff_t x, std::ptrdiff_t y, int r, int g, int b) {
        out.pixels[static_cast<std::size_t>(y * w + x)] =
            p.channels == 1
                ? static_cast<std::uint8_t>(r)
                : reader::Grey(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                               static_cast<std::uint8_t>(b));
    });
    out.view = {out.pixels.data(), w, h, w};
    return out;
}

host::PictureRef PictureOf(const ArrayPixels& p) {
    // The loader's bound applies to arrays too: the control keeps a 32-bit copy.
    if (p.width > 0 && p.height > 0 &&
        (p.width > host::kMaxPicturePixels || p.height > host::kMaxPicturePixels ||
         p.width * p.height > host::kMaxPicturePixels)) {
        throw PictureFailure(
            host::kErrOutOfMemory,
            cli::Tr(MessageLanguage(), QStringLiteral("too large (at most %1 pixels are accepted)"),
                    QStringLiteral("内存溢出：图片太大（最多允许 %1 像素）"))
                .arg(host::kMaxPicturePixels),
            QString());
    }
    if (p.width == 0 || p.height == 0) {
        throw PictureFailure(host::kErrInvalidPicture,
                             cli::Tr(MessageLanguage(), QStringLiteral("empty, no pixels"),
                                     QStringLiteral("无效图片：数组是空的，没有像素")),
                             QString());
    }
    QImage image(static_cast<int>(p.width), static_cast<int>(p.height), QImage::Format_RGB32);
    if (image.isNull()) {
        const cli::LoadError e = cli::OutOfMemory();
        throw PictureFailure(e.number, e.text(MessageLanguage()), QString());
    }
    ForEachPixel(p, [&](std::ptrdiff_t x, std::ptrdiff_t y, int r, int g, int b) {
        reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)))[x] = qRgb(r, g, b);
    });
    return std::make_shared<const host::Picture>(std::move(image));
}

}  // namespace scan39::python
