#include "pictures.h"

#include <pthread.h>

#include <QFile>
#include <QImage>
#include <QThreadPool>
#include <memory>
#include <mutex>
#include <new>

#include "scan39/host/picture_error.h"

namespace scan39::python {

namespace {

// What the loader's descriptions call pictures handed over as bytes.
const QString kDataName = QStringLiteral("图片数据");

// Runs `work`; the loader's errors become PictureFailure.
template <typename Work>
void Failing(const QString& path, const QString& what, Work work) {
    try {
        work();
    } catch (const host::RuntimeError& e) {
        throw PictureFailure(e.number(), e.description(), path);
    } catch (const std::bad_alloc&) {
        throw PictureFailure(host::PictureError(host::PictureFault::OutOfMemory, {.what = what}),
                             path);
    }
}

// Qt converts large pictures on its thread pool, whose threads a forked child would not have
// but wait for: the pool ends them before a fork and starts new ones when next needed. The
// loader itself makes a fork wait for the picture it is decoding.
void EndPoolThreads() {
    if (QThreadPool* pool = QThreadPool::globalInstance()) pool->waitForDone();
}

// Runs a load; files are read, checked and decoded in parallel but for Qt's image readers,
// which the loader takes one picture at a time.
template <typename Load>
host::PictureRef Loaded(const QString& path, const QString& what, Load load) {
    static std::once_flag once;
    std::call_once(once, [] { pthread_atfork(EndPoolThreads, nullptr, nullptr); });
    host::PictureRef picture;
    Failing(path, what, [&] { picture = load(); });
    return picture;
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

PictureFailure::PictureFailure(const host::RuntimeError& error, const QString& path)
    : PictureFailure(error.number(), error.description(), path) {}

void CheckPixelCount(std::int64_t width, std::int64_t height) {
    if (width > host::kMaxPicturePixels || height > host::kMaxPicturePixels ||
        width * height > host::kMaxPicturePixels) {
        throw PictureFailure(
            host::PictureError(host::PictureFault::TooLarge,
                               {.what = QStringLiteral("图片"), .width = width, .height = height}),
            QString());
    }
}

host::PictureRef LoadPath(const QByteArray& encodedPath) {
    const QString path = QFile::decodeName(encodedPath);
    return Loaded(path, QString(), [&] {
        const host::PictureFile file = host::ReadNamedPictureFile(encodedPath);
        return host::LoadPictureFromData(file.bytes, file.what);
    });
}

host::PictureRef LoadData(const QByteArray& bytes) {
    return Loaded(QString(), kDataName,
                  [&] { return host::LoadPictureFromData(bytes, kDataName); });
}

Pages PagesOfPath(const QByteArray& encodedPath, int dpi) {
    Pages pages;
    pages.path = QFile::decodeName(encodedPath);
    Failing(pages.path, QString(), [&] {
        host::PictureFile file = host::ReadNamedPictureFile(encodedPath);
        pages.document = std::make_unique<host::Document>(std::move(file.bytes), file.what, dpi);
    });
    return pages;
}

Pages PagesOfData(const QByteArray& bytes, int dpi) {
    Pages pages;
    Failing(QString(), kDataName,
            [&] { pages.document = std::make_unique<host::Document>(bytes, kDataName, dpi); });
    return pages;
}

host::PictureRef LoadPage(const Pages& pages, int index) {
    const QString what = pages.path.isEmpty() ? kDataName : QString();
    // PDF pages are drawn in a child process, not through Qt's image readers.
    if (pages.document->isPdf()) {
        host::PictureRef page;
        Failing(pages.path, what, [&] { page = pages.document->loadPage(index); });
        return page;
    }
    return Loaded(pages.path, what, [&] { return pages.document->loadPage(index); });
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
    CheckPixelCount(p.width, p.height);
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
    CheckPixelCount(p.width, p.height);
    if (p.width == 0 || p.height == 0) {
        throw PictureFailure(
            host::PictureError(host::PictureFault::Empty, {.what = QStringLiteral("数组")}),
            QString());
    }
    QImage image(static_cast<int>(p.width), static_cast<int>(p.height), QImage::Format_RGB32);
    if (image.isNull()) {
        throw PictureFailure(
            host::PictureError(host::PictureFault::OutOfMemory, {.what = QStringLiteral("数组")}),
            QString());
    }
    ForEachPixel(p, [&](std::ptrdiff_t x, std::ptrdiff_t y, int r, int g, int b) {
        reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)))[x] = qRgb(r, g, b);
    });
    return std::make_shared<const host::Picture>(std::move(image));
}

}  // namespace scan39::python
