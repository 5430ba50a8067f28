#include "pictures.h"

#include <pthread.h>

#include <QFile>
#include <QImage>
#include <QThreadPool>
#include <memory>
#include <mutex>
#include <new>

#include "loading.h"
#include "released.h"
#include "scan39/host/picture_error.h"
#include "scan39/host/reader_view.h"

namespace scan39::python {

namespace {

// What the loader's descriptions call pictures handed over as bytes.
const QString kDataName = QStringLiteral("图片数据");

// A file's name is the exception's `filename`: messages say what is wrong, as the command line's.
constexpr host::NameRules kNamedByCaller{.nameInMessages = false};

// Runs `work`; the loader's errors become PictureFailure.
template <typename Work>
void Failing(const QString& path, const QString& what, Work work) {
    try {
        work();
    } catch (const host::RuntimeError& e) {
        throw FailureOf(e, path);
    } catch (const std::bad_alloc&) {
        throw FailureOf(host::PictureError(host::PictureFault::OutOfMemory, {.what = what}), path);
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

template <typename Pixel>
void ForEachPixel(const ArrayPixels& p, Pixel&& pixel) {
    for (std::ptrdiff_t y = 0; y < p.height; ++y) {
        const std::uint8_t* row = p.data + y * p.rowStride;
        for (std::ptrdiff_t x = 0; x < p.width; ++x) {
            const std::uint8_t* at = row + x * p.columnStride;
            std::uint8_t r = at[0], g = r, b = r;
            if (p.channels >= 3) {
                g = at[p.channelStride];
                b = at[2 * p.channelStride];
            }
            if (p.channels == 4) {
                const std::uint8_t a = at[3 * p.channelStride];
                r = reader::OverWhite(r, a);
                g = reader::OverWhite(g, a);
                b = reader::OverWhite(b, a);
            }
            pixel(x, y, r, g, b);
        }
    }
}

template <typename Load>
host::PictureRef Unlocked(Load load) {
    const GilReleased unlocked;
    return load();
}

}  // namespace

// The loader's reason in the user's language, as the command line words it.
PictureFailure FailureOf(const host::RuntimeError& error, const QString& path) {
    const QString description = dynamic_cast<const host::PictureError*>(&error)
                                    ? static_cast<const host::PictureError&>(error).message(
                                          host::MessageLanguageFromEnvironment())
                                    : error.description();
    return PictureFailure(
        error.number(), description.toStdString(), path.toStdString(),
        error.number() == host::kErrFileNotFound || error.number() == host::kErrPathNotFound);
}

host::PictureRef LoadPath(const QByteArray& encodedPath) {
    const QString path = QFile::decodeName(encodedPath);
    return Loaded(path, QString(), [&] {
        const host::PictureFile file = host::ReadNamedPictureFile(encodedPath, kNamedByCaller);
        return host::LoadPictureFromData(file.bytes, file.what);
    });
}

host::PictureRef LoadData(const QByteArray& bytes) {
    return Loaded(QString(), kDataName,
                  [&] { return host::LoadPictureFromData(bytes, kDataName); });
}

Pages PagesOfPath(const QByteArray& encodedPath, int dpi, int timeLimitSeconds) {
    Pages pages;
    pages.path = QFile::decodeName(encodedPath);
    Failing(pages.path, QString(), [&] {
        host::PictureFile file = host::ReadNamedPictureFile(encodedPath, kNamedByCaller);
        pages.document = std::make_unique<documents::Document>(std::move(file.bytes), file.what, dpi,
                                                          timeLimitSeconds);
    });
    return pages;
}

Pages PagesOfData(const QByteArray& bytes, int dpi, int timeLimitSeconds) {
    Pages pages;
    Failing(QString(), kDataName, [&] {
        pages.document = std::make_unique<documents::Document>(bytes, kDataName, dpi, timeLimitSeconds);
    });
    return pages;
}

host::PictureRef LoadPage(const Pages& pages, int index, host::Tone tone) {
    const QString what = pages.path.isEmpty() ? kDataName : QString();
    // PDF pages are drawn in a child process, not through Qt's image readers.
    if (pages.document->isPdf()) {
        host::PictureRef page;
        Failing(pages.path, what, [&] { page = pages.document->loadPage(index, tone); });
        return page;
    }
    return Loaded(pages.path, what, [&] { return pages.document->loadPage(index, tone); });
}

GreyPicture GreyOf(host::PictureRef picture) {
    GreyPicture out;
    out.grey.emplace(host::ReaderView(picture->image()));  // RGB32, or grey when asked
    out.loaded = std::move(picture);
    return out;
}

host::PictureRef PictureOf(const ArrayPixels& p) {
    CheckPixelCount(p.width, p.height);
    if (p.width == 0 || p.height == 0) {
        throw FailureOf(
            host::PictureError(host::PictureFault::Empty, {.what = QStringLiteral("数组")}),
            QString());
    }
    QImage image(static_cast<int>(p.width), static_cast<int>(p.height), QImage::Format_RGB32);
    if (image.isNull()) {
        throw FailureOf(
            host::PictureError(host::PictureFault::OutOfMemory, {.what = QStringLiteral("数组")}),
            QString());
    }
    ForEachPixel(
        p, [&](std::ptrdiff_t x, std::ptrdiff_t y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
            reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)))[x] = qRgb(r, g, b);
        });
    return std::make_shared<const host::Picture>(std::move(image));
}

Source SourceOf(const pybind11::handle& source) {
    Source s;
    if (const auto encoded = EncodedOf(source)) {
        const QByteArray bytes(encoded->data.data(), static_cast<qsizetype>(encoded->data.size()));
        s.picture = Unlocked([&] { return encoded->path ? LoadPath(bytes) : LoadData(bytes); });
    } else {
        Array a = ArrayOf(source);
        s.pixels = a.pixels;
        s.array = std::move(a.array);
    }
    return s;
}

}  // namespace scan39::python
