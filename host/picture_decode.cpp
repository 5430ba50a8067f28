#include <dlfcn.h>
#include <png.h>
#include <pthread.h>
#include <sys/mman.h>

#include <csetjmp>
#include <cstdarg>
#include <cstdio>
// After <cstdio>: the JPEG library's header needs FILE.
#include <jerror.h>
#include <jpeglib.h>

#include <QBuffer>
#include <QImageReader>
#include <QLoggingCategory>
#include <QTransform>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>

#include "picture_formats_p.h"
#include "scan39/host/picture.h"
#include "scan39/host/picture_error.h"

namespace scan39::host {

namespace {

// Qt refuses to allocate beyond this many megabytes while decoding: the largest accepted
// picture in the widest format Qt decodes into (16 bits a channel, 8 bytes a pixel), plus one
// megabyte, so that every picture within the size bound can be decoded.
constexpr int kAllocationLimitMegabytes = static_cast<int>((kMaxPicturePixels * 8 >> 20) + 1);

[[noreturn]] void ThrowTooLarge(const QString& what, qint64 width, qint64 height) {
    throw PictureError(PictureFault::TooLarge, {.what = what, .width = width, .height = height});
}

[[noreturn]] void ThrowOutOfMemory(const QString& what, QSize size = {}) {
    throw PictureError(PictureFault::OutOfMemory,
                       {.what = what, .width = size.width(), .height = size.height()});
}

[[noreturn]] void ThrowDamaged(const QString& what, const QString& detail) {
    throw PictureError(PictureFault::Damaged, {.what = what, .detail = detail});
}

[[noreturn]] void ThrowTruncated(const QString& what, Format format, const QString& detail) {
    throw PictureError(
        PictureFault::Truncated,
        {.what = what,
         .detail = QStringLiteral("%1 数据被截断（%2）").arg(FormatTitle(format), detail)});
}

// Qt's image readers share one process-wide allocation limit, and Qt converts a large picture
// on its thread pool: pictures go through them one at a time. A fork waits for the one in
// progress, so that the child (a PDF page being drawn, a worker of Python's multiprocessing)
// finds the lock free.
std::mutex gDecodeLock;

void LockForFork() {
    gDecodeLock.lock();
}
void UnlockAfterFork() {
    gDecodeLock.unlock();
}

std::unique_lock<std::mutex> DecodeLock() {
    static std::once_flag once;
    std::call_once(once, [] { pthread_atfork(LockForFork, UnlockAfterFork, UnlockAfterFork); });
    return std::unique_lock(gDecodeLock);
}

Q_LOGGING_CATEGORY(lcTiffLibrary, "qt.gui.imageio.tiff")

bool IsImageLibraryChatter(const QMessageLogContext& context, const QString& message) {
    const QLatin1String category(context.category ? context.category : "");
    return category.startsWith(QLatin1String("qt.gui.imageio")) ||
           message.startsWith(QLatin1String("libpng ")) ||
           message.startsWith(QLatin1String("QImage::setColor")) ||
           message.startsWith(QLatin1String("Corrupt JPEG data"));
}

std::atomic<QtMessageHandler> gPreviousHandler{nullptr};
std::atomic<bool> gFilterInstalled{false};
std::atomic<bool> gSilenced{false};
// Set while this thread decodes a picture: what the image libraries say then is about that
// picture, whose error the loader reports itself.
thread_local bool tDecoding = false;
// The JPEG library's warnings about the picture this thread decodes, as Qt's reader passed
// them on.
thread_local int tJpegWarnings = 0;

void DropImageLibraryChatter(QtMsgType type, const QMessageLogContext& context,
                             const QString& message) {
    if (tDecoding && context.category && std::strcmp(context.category, "qt.gui.imageio.jpeg") == 0)
        ++tJpegWarnings;
    if (type != QtFatalMsg && (tDecoding || gSilenced) && IsImageLibraryChatter(context, message))
        return;
    // Qt's default handler when none was installed before.
    if (const QtMessageHandler previous = gPreviousHandler) {
        previous(type, context, message);
    } else {  // only while the filter is being installed
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    }
}

// Puts the filter in front of the handler installed now: once when pictures are first decoded,
// and again for each SilenceImageLibraryMessages (the application may have installed its own).
void InstallChatterFilter(bool again) {
    if (gFilterInstalled.exchange(true) && !again) return;
    const QtMessageHandler current = qInstallMessageHandler(DropImageLibraryChatter);
    if (current != DropImageLibraryChatter) gPreviousHandler = current;
}

class Decoding {
  public:
    Decoding() {
        tDecoding = true;
        tJpegWarnings = 0;
    }
    Decoding(const Decoding&) = delete;
    Decoding& operator=(const Decoding&) = delete;
    ~Decoding() { tDecoding = false; }
};

// libtiff prints its warnings and errors on standard error unless it is given handlers, and
// Qt's TIFF plugin gives none. Once the plugin has loaded the library, its messages are sent
// through Qt's message handler like every other image library's.
extern "C" void TiffLibraryMessage(const char* module, const char* format, va_list arguments) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, arguments);
    qCWarning(lcTiffLibrary, "%s: %s", module ? module : "libtiff", text);
}

void RouteTiffLibraryMessages() {
    static std::atomic<bool> routed{false};
    static std::mutex mutex;
    if (routed) return;
    const std::lock_guard lock(mutex);
    if (routed) return;
    using Handler = void (*)(const char*, const char*, va_list);
    using Setter = Handler (*)(Handler);
    for (const char* name : {"libtiff.so.6", "libtiff.so.5"}) {
        // Only a library that is loaded already; kept loaded with its handlers.
        void* library = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
        if (!library) continue;
        const auto warnings = reinterpret_cast<Setter>(dlsym(library, "TIFFSetWarningHandler"));
        const auto errors = reinterpret_cast<Setter>(dlsym(library, "TIFFSetErrorHandler"));
        if (warnings) warnings(TiffLibraryMessage);
        if (errors) errors(TiffLibraryMessage);
        routed = true;
        return;
    }
}

[[noreturn]] void ThrowPngFailure(const QString& what, const png_image& png) {
    const QByteArray message(png.message);
    if (message.contains("memory")) ThrowOutOfMemory(what, QSize(int(png.width), int(png.height)));
    ThrowDamaged(what, QStringLiteral("PNG 数据：%1").arg(QString::fromLatin1(message)));
}

// A decoded picture's pixels are written once, row by row, and then read many times. On Linux
// they are allocated on 2 MiB boundaries and the kernel is asked for huge pages: a 12-megapixel
// photo then costs a handful of page faults instead of three thousand, which on a virtual
// machine is a sixth of reading it.
QImage BlankImage(int width, int height, QImage::Format format) {
    const qsizetype depth = QImage::toPixelFormat(format).bitsPerPixel();
    const qsizetype bytesPerLine = (width * depth + 31) / 32 * 4;
    const qsizetype bytes = bytesPerLine * height;
    constexpr qsizetype kHuge = 2 << 20;
    if (width <= 0 || height <= 0 || bytes < 2 * kHuge) return QImage(width, height, format);
    const qsizetype rounded = (bytes + kHuge - 1) / kHuge * kHuge;
    void* pixels = std::aligned_alloc(kHuge, static_cast<std::size_t>(rounded));
    if (!pixels) return {};
#ifdef MADV_HUGEPAGE
    ::madvise(pixels, static_cast<std::size_t>(rounded), MADV_HUGEPAGE);
#endif
    return QImage(
        static_cast<uchar*>(pixels), width, height, bytesPerLine, format,
        [](void* p) { std::free(p); }, pixels);
}

// PNG is read with libpng's own reader: its messages stay in the reader's record instead of
// on standard error, and a failed allocation is told apart from damaged data. A 16-bit
// picture without gamma information is taken as sRGB, as every viewer shows it.
// With `sizeOnly`, only the size is judged and nothing is decoded. A grey picture without
// transparency stays grey when the tone allows.
QImage DecodePng(const QByteArray& bytes, const QString& what, bool sizeOnly,
                 Tone tone = Tone::Colour) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.constData(),
                                          static_cast<png_size_t>(bytes.size()))) {
        if (sizeOnly) return {};
        ThrowPngFailure(what, png);
    }
    const qint64 width = png.width;
    const qint64 height = png.height;
    const bool alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    const bool grey = tone == Tone::Grey && !alpha && (png.format & PNG_FORMAT_FLAG_COLOR) == 0 &&
                      (png.format & PNG_FORMAT_FLAG_COLORMAP) == 0;
    if (width * height > kMaxPicturePixels) {
        png_image_free(&png);
        ThrowTooLarge(what, width, height);
    }
    if (sizeOnly) {
        png_image_free(&png);
        return {};
    }
    QImage image = BlankImage(static_cast<int>(width), static_cast<int>(height),
                              grey    ? QImage::Format_Grayscale8
                              : alpha ? QImage::Format_ARGB32
                                      : QImage::Format_RGB32);
    if (image.isNull()) {
        png_image_free(&png);
        ThrowOutOfMemory(what, QSize(static_cast<int>(width), static_cast<int>(height)));
    }
    png.format = grey                              ? PNG_FORMAT_GRAY
                 : Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? PNG_FORMAT_BGRA
                                                   : PNG_FORMAT_ARGB;
    png.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    // Frees the reader whether it succeeds or not.
    if (!png_image_finish_read(&png, nullptr, image.bits(),
                               static_cast<png_int_32>(image.bytesPerLine()), nullptr))
        ThrowPngFailure(what, png);
    return image;
}

// The JPEG library's errors jump back to the caller's setjmp instead of ending the process;
// its warnings are counted, not printed.
struct JpegErrors : jpeg_error_mgr {
    std::jmp_buf jump;
    bool warned = false;
    bool endedEarly = false;  // the data ran out, or hit a marker, before the last block
};

extern "C" void JpegError(j_common_ptr info) {
    std::longjmp(static_cast<JpegErrors*>(info->err)->jump, 1);
}

extern "C" void JpegMessage(j_common_ptr info, int level) {
    auto* errors = static_cast<JpegErrors*>(info->err);
    if (level >= 0) return;
    errors->warned = true;
    if (errors->msg_code == JWRN_HIT_MARKER || errors->msg_code == JWRN_JPEG_EOF)
        errors->endedEarly = true;
}

extern "C" void JpegOutput(j_common_ptr) {}

// Points the decoder's error handling at `errors`.
void RouteJpegErrors(jpeg_decompress_struct& info, JpegErrors& errors) {
    info.err = jpeg_std_error(&errors);
    errors.error_exit = JpegError;
    errors.emit_message = JpegMessage;
    errors.output_message = JpegOutput;
}

// Whether the coded data of a sequential JPEG ends before its last block. The JPEG library
// fills the missing part with grey and only warns, so Qt's reader returns a picture. The data
// is decoded again here at an eighth of the size (the entropy decoding, without most of the
// rest), where the library's warnings can be told apart. Progressive pictures keep every
// coefficient of the whole picture until the end and are not checked; anything else wrong is
// the full decode's to say.
bool JpegDataEndsEarly(const QByteArray& bytes) {
    JpegErrors check;
    jpeg_decompress_struct info;
    RouteJpegErrors(info, check);
    if (setjmp(check.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    if (info.progressive_mode) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.scale_num = 1;
    info.scale_denom = 8;
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    if (info.jpeg_color_space == JCS_YCbCr) info.out_color_space = JCS_GRAYSCALE;  // Y alone
    jpeg_start_decompress(&info);
    JSAMPARRAY row = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                               info.output_width * info.output_components, 1);
    while (info.output_scanline < info.output_height && !check.endedEarly)
        jpeg_read_scanlines(&info, row, 1);
    const bool endedEarly = check.endedEarly;
    jpeg_destroy_decompress(&info);
    return endedEarly;
}

// The EXIF orientation (1 to 8) in an APP1 segment's data, 1 when it says none. Only the first
// directory is looked at, where cameras put it; every offset is checked against the data.
int ExifOrientation(const unsigned char* data, unsigned length) {
    constexpr unsigned kHeader = 6;  // "Exif\0\0"
    if (length < kHeader + 8 || std::memcmp(data, "Exif\0\0", kHeader) != 0) return 1;
    const unsigned char* tiff = data + kHeader;
    const std::uint64_t size = length - kHeader;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return 1;
    const auto u16 = [&](std::uint64_t at) {
        return little ? unsigned(tiff[at]) | unsigned(tiff[at + 1]) << 8
                      : unsigned(tiff[at]) << 8 | unsigned(tiff[at + 1]);
    };
    const auto u32 = [&](std::uint64_t at) {
        return little ? std::uint64_t{u16(at)} | std::uint64_t{u16(at + 2)} << 16
                      : std::uint64_t{u16(at)} << 16 | std::uint64_t{u16(at + 2)};
    };
    if (u16(2) != 42) return 1;
    const std::uint64_t directory = u32(4);
    if (directory + 2 > size) return 1;
    const unsigned entries = u16(directory);
    for (unsigned i = 0; i < entries; ++i) {
        const std::uint64_t entry = directory + 2 + std::uint64_t{12} * i;
        if (entry + 12 > size) return 1;
        if (u16(entry) != 0x0112) continue;
        // A SHORT, whose value sits in the first two bytes of the value field.
        const unsigned value = u16(entry + 2) == 3 ? u16(entry + 8) : 1;
        return value >= 1 && value <= 8 ? int(value) : 1;
    }
    return 1;
}

// Turns the picture as the EXIF orientation says, as Qt's readers do with automatic
// transformation: mirrored first, then turned a quarter clockwise.
QImage Oriented(QImage image, int orientation) {
    // Mirror left-right, top-bottom, then turn, for orientations 1 to 8.
    struct Turn {
        bool mirror, flip, quarter;
    };
    static constexpr Turn kTurns[] = {
        {false, false, false}, {true, false, false}, {true, true, false}, {false, true, false},
        {false, true, true},   {false, false, true}, {true, false, true}, {true, true, true}};
    const Turn turn = kTurns[orientation - 1];
    if (turn.mirror || turn.flip) {
        image = image.mirrored(turn.mirror, turn.flip);
    }
    if (turn.quarter) image = image.transformed(QTransform().rotate(90));
    return image;
}

// A JPEG decoded straight to its luma by the JPEG library, beside Qt's reader. It takes only the
// plain case: YCbCr or grey data that decode without a single warning, within the size bound.
// Everything else (a truncated or damaged file, CMYK, a picture too large, a failed allocation)
// is left to the full decode, which judges and reports it as it always has. Each step has its
// own jump point, and only the library's C frames lie between a jump and its target.
class JpegGrey {
  public:
    explicit JpegGrey(const QByteArray& bytes) {
        RouteJpegErrors(info_, errors_);
        jpeg_create_decompress(&info_);
        jpeg_mem_src(&info_, reinterpret_cast<const unsigned char*>(bytes.constData()),
                     static_cast<unsigned long>(bytes.size()));
    }
    JpegGrey(const JpegGrey&) = delete;
    JpegGrey& operator=(const JpegGrey&) = delete;
    ~JpegGrey() { jpeg_destroy_decompress(&info_); }

    // The size of a picture this path can take, or nothing.
    std::optional<QSize> start() {
        if (setjmp(errors_.jump)) return std::nullopt;
        jpeg_save_markers(&info_, JPEG_APP0 + 1, 0xffff);
        if (jpeg_read_header(&info_, TRUE) != JPEG_HEADER_OK) return std::nullopt;
        // Read now: the saved segments are freed when the decoding finishes.
        orientation_ = ReadOrientation();
        if (info_.jpeg_color_space != JCS_YCbCr && info_.jpeg_color_space != JCS_GRAYSCALE)
            return std::nullopt;
        if (qint64{info_.image_width} * info_.image_height > kMaxPicturePixels) return std::nullopt;
        info_.out_color_space = JCS_GRAYSCALE;
        jpeg_start_decompress(&info_);
        if (errors_.warned || info_.output_components != 1) return std::nullopt;
        return QSize(static_cast<int>(info_.output_width), static_cast<int>(info_.output_height));
    }

    // Decodes into rows `stride` bytes apart; false after any error or warning.
    bool decode(unsigned char* pixels, qsizetype stride) {
        if (setjmp(errors_.jump)) return false;
        JSAMPROW rows[16];
        while (info_.output_scanline < info_.output_height) {
            const JDIMENSION first = info_.output_scanline;
            const JDIMENSION count = std::min<JDIMENSION>(16, info_.output_height - first);
            for (JDIMENSION i = 0; i < count; ++i) rows[i] = pixels + (first + i) * stride;
            if (jpeg_read_scanlines(&info_, rows, count) == 0) return false;
        }
        jpeg_finish_decompress(&info_);
        return !errors_.warned;
    }

    // The EXIF orientation, 1 to 8, known once started.
    int orientation() const { return orientation_; }

  private:
    int ReadOrientation() const {
        for (jpeg_saved_marker_ptr m = info_.marker_list; m; m = m->next) {
            if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 &&
                std::memcmp(m->data, "Exif\0\0", 6) == 0)
                return ExifOrientation(m->data, m->data_length);
        }
        return 1;
    }

    JpegErrors errors_;
    jpeg_decompress_struct info_;
    int orientation_ = 1;
};

// The picture as grey, or nothing when the full decode must judge it.
std::optional<QImage> DecodeJpegGrey(const QByteArray& bytes) {
    JpegGrey jpeg(bytes);
    const std::optional<QSize> size = jpeg.start();
    if (!size) return std::nullopt;
    QImage image = BlankImage(size->width(), size->height(), QImage::Format_Grayscale8);
    if (image.isNull() || !jpeg.decode(image.bits(), image.bytesPerLine())) return std::nullopt;
    const int orientation = jpeg.orientation();
    if (orientation == 1) return image;
    QImage turned = Oriented(std::move(image), orientation);
    if (turned.isNull()) return std::nullopt;
    return turned;
}

// Transparent parts are shown over white, the light ground a barcode needs around it.
QImage ToRgb32(const QImage& image) {
    if (!image.hasAlphaChannel()) return image.convertToFormat(QImage::Format_RGB32);
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull()) return argb;
    QImage out(argb.size(), QImage::Format_RGB32);
    if (out.isNull()) return out;
    for (int y = 0; y < argb.height(); ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            const int a = qAlpha(src[x]);
            const auto over = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
            dst[x] = qRgb(over(qRed(src[x])), over(qGreen(src[x])), over(qBlue(src[x])));
        }
    }
    return out;
}

// `page` counts a TIFF's pages from 0; every other format has one.
PictureRef Decode(const QByteArray& bytes, const QString& what, int page, Tone tone) {
    const Bytes b(bytes);
    if (b.size() == 0) throw PictureError(PictureFault::Empty, {.what = what});
    const std::optional<Format> format = DetectFormat(b);
    if (!format) throw PictureError(PictureFault::NotAPicture, {.what = what});

    InstallChatterFilter(false);
    const Decoding decoding;

    // The walk comes first: asking Qt for the size already makes the JPEG library read every
    // segment before the first scan. A cut-off file may still declare a size too large.
    const std::optional<Problem> problem = CheckStructure(*format, b, page);
    if (problem && problem->kind == Problem::TooLarge) {
        ThrowTooLarge(what, problem->width, problem->height);
    }
    if (problem && problem->kind == Problem::Damaged) {
        ThrowDamaged(what,
                     QStringLiteral("%1 数据：%2").arg(FormatTitle(*format), problem->detail));
    }

    if (*format == Format::Png) {
        if (problem) {
            DecodePng(bytes, what, true);
            ThrowTruncated(what, *format, problem->detail);
        }
        QImage decoded = DecodePng(bytes, what, false, tone);
        if (decoded.format() == QImage::Format_Grayscale8)
            return std::make_shared<const Picture>(std::move(decoded));
        QImage rgb = ToRgb32(decoded);
        if (rgb.isNull()) ThrowOutOfMemory(what);
        return std::make_shared<const Picture>(std::move(rgb));
    }

    // A picture for the reader skips the colour work; it needs no lock, Qt's readers are not used.
    if (*format == Format::Jpeg && tone == Tone::Grey && page == 0 && !problem) {
        if (std::optional<QImage> grey = DecodeJpegGrey(bytes))
            return std::make_shared<const Picture>(std::move(*grey));
    }

    QImage image;
    {
        const auto lock = DecodeLock();
        QImageReader::setAllocationLimit(kAllocationLimitMegabytes);
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, FormatName(*format));
        reader.setDecideFormatFromContent(false);
        reader.setAutoTransform(true);

        if (*format == Format::Tiff && reader.canRead()) RouteTiffLibraryMessages();
        if (page > 0 && !problem && !reader.jumpToImage(page)) {
            ThrowDamaged(what, QStringLiteral("找不到第 %1 页").arg(page + 1));
        }

        // The size the header declares, judged before anything is decoded. A top-down BMP
        // reports a negative height.
        // libtiff reports a directory outside the file while the size is read: a truncated
        // TIFF is refused before that.
        QSize declared;
        if (!problem || *format != Format::Tiff) declared = reader.size();
        const bool sizeKnown = declared != QSize();
        const qint64 declaredWidth = std::abs(qint64{declared.width()});
        const qint64 declaredHeight = std::abs(qint64{declared.height()});
        if (sizeKnown && declaredWidth * declaredHeight > kMaxPicturePixels) {
            ThrowTooLarge(what, declaredWidth, declaredHeight);
        }
        if (problem) ThrowTruncated(what, *format, problem->detail);
        if (!sizeKnown || declaredWidth == 0 || declaredHeight == 0) {
            ThrowDamaged(what, QStringLiteral("无法读出 %1 图片的尺寸").arg(FormatTitle(*format)));
        }

        // Qt's JPEG reader passes on the library's first warning; the filter goes in front of
        // whatever handler the application installed since, to hear it.
        if (*format == Format::Jpeg) InstallChatterFilter(true);
        const bool read = reader.read(&image);
        if (!read || image.isNull()) {
            if (reader.error() == QImageReader::UnsupportedFormatError) {
                throw PictureError(PictureFault::PluginMissing,
                                   {.what = what, .format = FormatTitle(*format)});
            }
            // Qt reports a refused or failed allocation like broken data; tell them apart by
            // trying the allocation the reader needed.
            const QImage::Format decodedFormat = reader.imageFormat() == QImage::Format_Invalid
                                                     ? QImage::Format_ARGB32
                                                     : reader.imageFormat();
            const qint64 needed = declaredWidth * declaredHeight *
                                  QImage::toPixelFormat(decodedFormat).bitsPerPixel() / 8;
            if (needed > qint64{kAllocationLimitMegabytes} << 20) {
                ThrowTooLarge(what, declaredWidth, declaredHeight);
            }
            const QSize pixels(static_cast<int>(declaredWidth), static_cast<int>(declaredHeight));
            if (QImage(pixels, decodedFormat).isNull()) ThrowOutOfMemory(what, pixels);
            if (*format == Format::Tiff) {
                const std::vector<qint64> directories = TiffDirectories(b, qint64{page} + 1);
                const QString samples =
                    qint64(directories.size()) > page
                        ? TiffUnsupportedSamples(b, directories[std::size_t(page)])
                        : QString();
                if (!samples.isEmpty()) {
                    throw PictureError(PictureFault::Unsupported,
                                       {.what = what, .format = samples});
                }
            }
            ThrowDamaged(what, QStringLiteral("%1 数据无法解码").arg(FormatTitle(*format)));
        }
    }
    // A decode the JPEG library did not warn about ended with every block: the usual case, at
    // no cost. After any warning, or with its warnings switched off, the data are checked.
    static const QLoggingCategory jpegWarnings("qt.gui.imageio.jpeg");
    if (*format == Format::Jpeg && (tJpegWarnings > 0 || !jpegWarnings.isWarningEnabled()) &&
        JpegDataEndsEarly(bytes)) {
        ThrowTruncated(what, *format, QStringLiteral("图像数据在最后一块之前结束"));
    }
    if (qint64{image.width()} * image.height() > kMaxPicturePixels) {
        ThrowTooLarge(what, image.width(), image.height());
    }
    QImage rgb;
    {
        const auto lock = DecodeLock();  // a large picture is converted on Qt's thread pool
        rgb = ToRgb32(image);
    }
    // Within the size bound, but the machine had no memory for the converted copy.
    if (rgb.isNull()) ThrowOutOfMemory(what, image.size());
    return std::make_shared<const Picture>(std::move(rgb));
}

// Runs a load step; running out of memory anywhere in it (Qt's containers throw bad_alloc) is
// error 7 for this picture, not the end of the program.
template <typename Step>
PictureRef OutOfMemoryIsAnError(const QString& what, Step step) {
    try {
        return step();
    } catch (const std::bad_alloc&) {
        ThrowOutOfMemory(what);
    }
}

}  // namespace

PictureRef LoadPictureFromData(const QByteArray& bytes, const QString& what, Tone tone) {
    return OutOfMemoryIsAnError(what, [&] { return Decode(bytes, what, 0, tone); });
}

PictureRef LoadPicturePage(const QByteArray& bytes, const QString& what, int page, Tone tone) {
    return OutOfMemoryIsAnError(what, [&] {
        // The TIFF reader walks to a page by reading every directory before it, and a directory
        // may hold thousands of tags: reading each page of a file so costs the square of its
        // pages. A copy whose header points at the page's own directory makes it the first.
        const Bytes b(bytes);
        if (page > 0 && DetectFormat(b) == Format::Tiff && b.has(0, 8)) {
            const std::vector<qint64> directories = TiffDirectories(b, qint64{page} + 1);
            const qint64 at =
                qint64(directories.size()) > page ? directories[std::size_t(page)] : 0;
            if (at > 0 && b.has(at, 2)) {
                QByteArray alone = bytes;
                const bool little = bytes[0] == 'I';
                for (int i = 0; i < 4; ++i)
                    alone[4 + i] = char(at >> (little ? 8 * i : 8 * (3 - i)) & 0xff);
                return Decode(alone, what, 0, tone);
            }
        }
        return Decode(bytes, what, page, tone);
    });
}

bool IsPictureData(const QByteArray& bytes) {
    const Bytes b(bytes);
    const std::optional<Format> format = DetectFormat(b);
    // Many a text starts with "BM"; a bitmap's header goes on to say which layout follows.
    if (format == Format::Bmp) return b.has(14, 4) && IsBmpInfoHeaderSize(b.le32(14));
    return format.has_value();
}

QByteArray PictureFormatName(const QByteArray& bytes) {
    const std::optional<Format> format = DetectFormat(Bytes(bytes));
    return format ? QByteArray(FormatName(*format)) : QByteArray();
}

int PicturePageCount(const QByteArray& bytes, int limit) {
    const Bytes b(bytes);
    if (DetectFormat(b) != Format::Tiff) return 1;
    return std::max(1, static_cast<int>(TiffDirectories(b, limit).size()));
}

void SilenceImageLibraryMessages() {
    gSilenced = true;
    InstallChatterFilter(true);
}

}  // namespace scan39::host
