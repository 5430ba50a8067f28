#include "scan39/host/picture.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdarg>
#include <cstdio>
// After <cstdio>: the JPEG library's header needs FILE.
#include <jerror.h>
#include <jpeglib.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QLoggingCategory>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_set>
#include <vector>

#include "file_descriptor_p.h"
#include "scan39/host/errors.h"

namespace scan39::host {

namespace {

// A file larger than the biggest acceptable uncompressed picture (32 bits a pixel) plus room
// for headers and palettes cannot be a picture we accept; it is never read into memory.
constexpr qint64 kMaxPictureFileBytes = kMaxPicturePixels * 4 + 1024 * 1024;

// Qt refuses to allocate beyond this many megabytes while decoding: the largest accepted
// picture in the widest format Qt decodes into (16 bits a channel, 8 bytes a pixel), plus one
// megabyte, so that every picture within the size bound can be decoded.
constexpr int kAllocationLimitMegabytes = static_cast<int>((kMaxPicturePixels * 8 >> 20) + 1);

enum class Format { Bmp, Jpeg, Gif, Png, Tiff, Webp };

const char* FormatName(Format f) {
    switch (f) {
        case Format::Bmp:
            return "bmp";
        case Format::Jpeg:
            return "jpeg";
        case Format::Gif:
            return "gif";
        case Format::Png:
            return "png";
        case Format::Tiff:
            return "tiff";
        case Format::Webp:
            return "webp";
    }
    return "";
}

QString FormatTitle(Format f) {
    return QString::fromLatin1(FormatName(f)).toUpper();
}

// What the structural walk found wrong with the bytes.
struct Problem {
    enum Kind { Truncated, Damaged, TooLarge } kind;
    QString detail;
    qint64 width = 0;  // for TooLarge: the size found in the data
    qint64 height = 0;
};

class Bytes {
  public:
    explicit Bytes(const QByteArray& b)
        : p_(reinterpret_cast<const unsigned char*>(b.constData())), n_(b.size()) {}
    qint64 size() const { return n_; }
    bool has(qint64 pos, qint64 count) const { return pos >= 0 && count >= 0 && pos <= n_ - count; }
    unsigned char u8(qint64 pos) const { return p_[pos]; }
    quint32 le16(qint64 pos) const { return p_[pos] | (p_[pos + 1] << 8); }
    quint32 le32(qint64 pos) const {
        return quint32(p_[pos]) | (quint32(p_[pos + 1]) << 8) | (quint32(p_[pos + 2]) << 16) |
               (quint32(p_[pos + 3]) << 24);
    }
    quint32 be16(qint64 pos) const { return (p_[pos] << 8) | p_[pos + 1]; }
    quint32 be32(qint64 pos) const {
        return (quint32(p_[pos]) << 24) | (quint32(p_[pos + 1]) << 16) |
               (quint32(p_[pos + 2]) << 8) | quint32(p_[pos + 3]);
    }
    bool startsWith(const char* sig, qint64 len) const {
        return has(0, len) && std::memcmp(p_, sig, static_cast<size_t>(len)) == 0;
    }

  private:
    const unsigned char* p_;
    qint64 n_;
};

std::optional<Format> DetectFormat(const Bytes& b) {
    if (b.startsWith("BM", 2)) return Format::Bmp;
    if (b.startsWith("\xFF\xD8\xFF", 3)) return Format::Jpeg;
    if (b.startsWith("GIF87a", 6) || b.startsWith("GIF89a", 6)) return Format::Gif;
    if (b.startsWith("\x89PNG\r\n\x1A\n", 8)) return Format::Png;
    if (b.startsWith("II*\0", 4) || b.startsWith("MM\0*", 4)) return Format::Tiff;
    if (b.startsWith("RIFF", 4) && b.has(8, 4) && b.u8(8) == 'W' && b.u8(9) == 'E' &&
        b.u8(10) == 'B' && b.u8(11) == 'P')
        return Format::Webp;
    return std::nullopt;
}

Problem Truncated(QString detail) {
    return {Problem::Truncated, std::move(detail)};
}
Problem Damaged(QString detail) {
    return {Problem::Damaged, std::move(detail)};
}

Problem CutAt(qint64 needed, qint64 have) {
    return Truncated(QStringLiteral("至少需要 %1 字节，只有 %2 字节").arg(needed).arg(have));
}

// Qt's readers fill a partial picture from a cut-off file without reporting an error, so each
// format's structure is walked first to make sure every byte the picture needs is there.

std::optional<Problem> CheckBmp(const Bytes& b) {
    const qint64 n = b.size();
    if (!b.has(0, 18)) return CutAt(18, n);
    const quint32 offBits = b.le32(10);
    const quint32 headerSize = b.le32(14);
    qint64 width = 0;
    qint64 height = 0;
    quint32 bits = 0;
    quint32 compression = 0;
    quint32 colorsUsed = 0;
    if (headerSize == 12) {
        if (!b.has(0, 14 + 12)) return CutAt(14 + 12, n);
        width = static_cast<qint16>(b.le16(18));
        height = static_cast<qint16>(b.le16(20));
        bits = b.le16(24);
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 ||
               headerSize == 108 || headerSize == 124) {
        if (!b.has(0, 14 + headerSize)) return CutAt(14 + headerSize, n);
        width = static_cast<qint32>(b.le32(18));
        height = static_cast<qint32>(b.le32(22));
        bits = b.le16(28);
        compression = b.le32(30);
        colorsUsed = b.le32(46);
    } else {
        return Damaged(QStringLiteral("不支持的 BMP 信息头长度 %1").arg(headerSize));
    }
    const bool rle = (compression == 1 && bits == 8) || (compression == 2 && bits == 4);
    const bool bitfields = compression == 3 && (bits == 16 || bits == 32);
    if (!(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32) ||
        !(compression == 0 || rle || bitfields)) {
        return Damaged(QStringLiteral("不支持的位深 %1 或压缩方式 %2").arg(bits).arg(compression));
    }
    if (height < 0) height = -height;
    if (width <= 0 || height <= 0) {
        return Damaged(QStringLiteral("宽度 %1、高度 %2 无效").arg(width).arg(height));
    }
    if (width * height > kMaxPicturePixels) return Problem{Problem::TooLarge, {}, width, height};

    qint64 tables = 14 + headerSize;
    if (headerSize == 40 && bitfields) tables += 12;  // colour masks follow the short header
    if (bits <= 8) {
        const qint64 colors = colorsUsed != 0 ? colorsUsed : (qint64{1} << bits);
        if (colors > 256) return Damaged(QStringLiteral("调色板有 %1 种颜色").arg(colors));
        tables += colors * (headerSize == 12 ? 3 : 4);
    }
    if (tables > n) return CutAt(tables, n);
    const qint64 dataStart = std::max<qint64>(offBits, tables);

    if (!rle) {
        const qint64 stride = (width * bits + 31) / 32 * 4;
        const qint64 needed = dataStart + stride * height;
        if (needed > n) {
            return Truncated(
                QStringLiteral("像素数据需要 %1 字节，文件只有 %2 字节").arg(needed).arg(n));
        }
        return std::nullopt;
    }

    // Run-length data: complete when it reaches its end-of-picture code or its last row.
    qint64 pos = dataStart;
    qint64 row = 0;
    while (true) {
        if (!b.has(pos, 2))
            return Truncated(QStringLiteral("压缩像素数据在第 %1 字节处中断").arg(n));
        const unsigned count = b.u8(pos);
        const unsigned code = b.u8(pos + 1);
        pos += 2;
        if (count != 0) continue;
        if (code == 0) {
            if (++row >= height) return std::nullopt;
        } else if (code == 1) {
            return std::nullopt;
        } else if (code == 2) {
            if (!b.has(pos, 2))
                return Truncated(QStringLiteral("压缩像素数据在第 %1 字节处中断").arg(n));
            row += b.u8(pos + 1);
            pos += 2;
            if (row >= height) return std::nullopt;
        } else {
            qint64 literal = compression == 1 ? code : (code + 1) / 2;
            literal += literal & 1;  // runs are padded to whole 16-bit words
            pos += literal;
            if (pos > n) return Truncated(QStringLiteral("压缩像素数据在第 %1 字节处中断").arg(n));
        }
    }
}

// Each scan of a progressive JPEG is a pass over the whole picture, so a small file with
// thousands of scans keeps the decoder busy for minutes. Real encoders write a dozen or so.
constexpr int kMaxJpegScans = 100;
// The system JPEG library keeps comment and application segments in a list it walks to the
// end for every new one: 100,000 empty comments take seconds. Camera files hold a few dozen.
constexpr int kMaxJpegSegments = 1000;

bool IsJpegFrameHeader(unsigned marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

std::optional<Problem> CheckJpeg(const Bytes& b) {
    const qint64 n = b.size();
    const Problem missingEnd = Truncated(QStringLiteral("缺少 JPEG 结束标记"));
    qint64 pos = 2;
    int scans = 0;
    int segments = 0;
    while (true) {
        // Decoders skip stray bytes between segments; so does this walk.
        while (pos < n && b.u8(pos) != 0xFF) ++pos;
        while (pos < n && b.u8(pos) == 0xFF) ++pos;
        if (pos >= n) return missingEnd;
        const unsigned marker = b.u8(pos++);
        if (marker == 0xD9) {
            if (scans == 0) return Damaged(QStringLiteral("没有图像数据"));
            return std::nullopt;
        }
        if (++segments > kMaxJpegSegments) {
            return Damaged(QStringLiteral("标记段超过 %1 个").arg(kMaxJpegSegments));
        }
        if (marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (!b.has(pos, 2)) return missingEnd;
        const qint64 length = b.be16(pos);
        if (length < 2) return Damaged(QStringLiteral("段长度 %1 无效").arg(length));
        if (!b.has(pos, length)) return CutAt(pos + length, n);
        // The JPEG library gives up on sides above 65500 before Qt learns the size, so the
        // frame header is read here to call such a picture too large rather than damaged.
        if (IsJpegFrameHeader(marker) && length >= 7) {
            const qint64 height = b.be16(pos + 3);
            const qint64 width = b.be16(pos + 5);
            if (width * height > kMaxPicturePixels)
                return Problem{Problem::TooLarge, {}, width, height};
        }
        pos += length;
        if (marker != 0xDA) continue;
        if (++scans > kMaxJpegScans) {
            return Damaged(QStringLiteral("扫描段超过 %1 个").arg(kMaxJpegScans));
        }
        // Entropy-coded data: 0xFF is followed by 0x00 (stuffing), a restart marker or fill;
        // anything else starts the next marker.
        qint64 i = pos;
        for (; i + 1 < n; ++i) {
            if (b.u8(i) != 0xFF) continue;
            const unsigned next = b.u8(i + 1);
            if (next == 0x00 || next == 0xFF || (next >= 0xD0 && next <= 0xD7)) continue;
            break;
        }
        if (i + 1 >= n) return missingEnd;
        pos = i;
    }
}

// Whether an image's LZW data, starting at `pos` (the minimum code size, then sub-blocks),
// gives all of its `pixels`. Qt's reader leaves the rest of an image whose data ends early
// blank; only the lengths of the dictionary's strings are followed here, not the strings.
bool GifDataComplete(const Bytes& b, qint64 pos, qint64 pixels) {
    const qint64 n = b.size();
    if (pos >= n) return false;
    const unsigned minSize = b.u8(pos++);
    if (minSize < 1 || minSize > 11) return false;
    const unsigned clear = 1u << minSize;
    const unsigned end = clear + 1;
    std::vector<quint32> length(4096, 1);
    unsigned size = minSize + 1;
    unsigned next = clear + 2;
    qint64 previous = -1;
    qint64 out = 0;
    quint32 bits = 0;
    unsigned held = 0;
    qint64 block = 0;  // bytes left in the current sub-block
    while (out < pixels) {
        while (held < size) {
            if (block == 0) {
                if (pos >= n) return false;
                block = b.u8(pos++);
                if (block == 0 || !b.has(pos, block)) return false;  // the data ends here
            }
            bits |= quint32{b.u8(pos++)} << held;
            held += 8;
            --block;
        }
        const unsigned code = bits & ((1u << size) - 1);
        bits >>= size;
        held -= size;
        if (code == clear) {
            size = minSize + 1;
            next = clear + 2;
            previous = -1;
            continue;
        }
        if (code == end) return false;
        if (previous < 0) {
            if (code >= clear) return false;
            ++out;
        } else {
            if (code > next) return false;
            const quint32 added = length[static_cast<std::size_t>(previous)] + 1;
            out += code == next ? added : length[code];
            if (next < 4096) {
                length[next++] = added;
                if (next == (1u << size) && size < 12) ++size;
            }
        }
        previous = code;
    }
    return true;
}

std::optional<Problem> CheckGif(const Bytes& b) {
    const qint64 n = b.size();
    if (!b.has(0, 13)) return CutAt(13, n);
    // Qt reports the first frame's size but draws every frame on a canvas of the screen size.
    const qint64 screenWidth = b.le16(6);
    const qint64 screenHeight = b.le16(8);
    if (screenWidth * screenHeight > kMaxPicturePixels) {
        return Problem{Problem::TooLarge, {}, screenWidth, screenHeight};
    }
    qint64 pos = 13;
    const unsigned screenFlags = b.u8(10);
    if (screenFlags & 0x80) pos += qint64{3} << ((screenFlags & 7) + 1);

    auto skipSubBlocks = [&]() -> bool {
        while (true) {
            if (pos >= n) return false;
            const unsigned size = b.u8(pos++);
            if (size == 0) return true;
            pos += size;
        }
    };
    const Problem cut = Truncated(QStringLiteral("第一幅图像的数据不完整"));
    // The loader shows the first image; once its data is all there the picture is whole, even
    // if a later frame or the trailer is missing.
    while (true) {
        if (pos >= n) return cut;
        const unsigned block = b.u8(pos++);
        if (block == 0x21) {  // extension: label, then sub-blocks
            ++pos;
            if (!skipSubBlocks()) return cut;
        } else if (block == 0x2C) {  // image descriptor
            if (!b.has(pos, 9)) return cut;
            const qint64 w = b.le16(pos + 4);
            const qint64 h = b.le16(pos + 6);
            const unsigned flags = b.u8(pos + 8);
            pos += 9;
            if (flags & 0x80) pos += qint64{3} << ((flags & 7) + 1);
            if (w * h > kMaxPicturePixels) return Problem{Problem::TooLarge, {}, w, h};
            if (!GifDataComplete(b, pos, w * h)) return cut;
            ++pos;  // LZW minimum code size
            if (!skipSubBlocks()) return cut;
            return std::nullopt;
        } else if (block == 0x3B) {
            return Damaged(QStringLiteral("没有图像"));
        } else {
            return Damaged(QStringLiteral("第 %1 字节处有未知的数据块 0x%2")
                               .arg(pos - 1)
                               .arg(block, 2, 16, QLatin1Char('0')));
        }
    }
}

std::optional<Problem> CheckPng(const Bytes& b) {
    qint64 pos = 8;
    while (true) {
        if (!b.has(pos, 8)) return Truncated(QStringLiteral("缺少 PNG 结束块"));
        const qint64 length = b.be32(pos);
        if (length > 0x7FFFFFFF) return Damaged(QStringLiteral("数据块长度无效"));
        const bool end = b.u8(pos + 4) == 'I' && b.u8(pos + 5) == 'E' && b.u8(pos + 6) == 'N' &&
                         b.u8(pos + 7) == 'D';
        pos += 8;
        if (!b.has(pos, length + 4)) return Truncated(QStringLiteral("缺少 PNG 结束块"));
        pos += length + 4;
        if (end) return std::nullopt;
    }
}

// Where a TIFF's directories (its pages) start, following the chain from the header: at most
// `limit`, and none twice, so a chain that loops ends where it would repeat. One that points
// past the end of the file counts: that page is missing, and says so when it is loaded.
std::vector<qint64> TiffDirectories(const Bytes& b, qint64 limit) {
    const bool little = b.u8(0) == 'I';
    const auto u16 = [&](qint64 pos) { return little ? b.le16(pos) : b.be16(pos); };
    const auto u32 = [&](qint64 pos) { return little ? b.le32(pos) : b.be32(pos); };
    std::vector<qint64> found;
    std::unordered_set<qint64> seen;
    qint64 ifd = b.has(0, 8) ? u32(4) : 0;
    while (ifd != 0 && qint64(found.size()) < limit && seen.insert(ifd).second) {
        found.push_back(ifd);
        if (!b.has(ifd, 2)) break;
        const qint64 next = ifd + 2 + qint64{u16(ifd)} * 12;
        if (!b.has(next, 4)) break;
        ifd = u32(next);
    }
    return found;
}

// The page's directory and every strip or tile it points at must lie within the file.
std::optional<Problem> CheckTiff(const Bytes& b, int page) {
    const qint64 n = b.size();
    const bool little = b.u8(0) == 'I';
    const auto u16 = [&](qint64 pos) { return little ? b.le16(pos) : b.be16(pos); };
    const auto u32 = [&](qint64 pos) { return little ? b.le32(pos) : b.be32(pos); };
    if (!b.has(0, 8)) return CutAt(8, n);
    qint64 ifd = u32(4);
    if (page > 0) {
        const std::vector<qint64> directories = TiffDirectories(b, qint64{page} + 1);
        if (qint64(directories.size()) <= page)
            return Truncated(QStringLiteral("第 %1 页的目录不在文件中").arg(page + 1));
        ifd = directories[static_cast<std::size_t>(page)];
    }
    if (!b.has(ifd, 2)) return CutAt(ifd + 2, n);
    const qint64 entries = u16(ifd);
    if (!b.has(ifd + 2, entries * 12)) return CutAt(ifd + 2 + entries * 12, n);
    // Tag -> (count, where its values are) for the offsets and byte counts.
    struct Array {
        qint64 count = 0, pos = 0;
        unsigned type = 0;
    };
    Array offsets, counts;
    for (qint64 i = 0; i < entries; ++i) {
        const qint64 e = ifd + 2 + i * 12;
        const unsigned tag = u16(e);
        const unsigned type = u16(e + 2);
        const qint64 count = u32(e + 4);
        if (type != 3 && type != 4) continue;
        const qint64 bytes = count * (type == 3 ? 2 : 4);
        Array a{count, bytes <= 4 ? e + 8 : qint64{u32(e + 8)}, type};
        if (tag == 273 || tag == 324) offsets = a;
        if (tag == 279 || tag == 325) counts = a;
    }
    if (offsets.count != counts.count)
        return Damaged(QStringLiteral("数据块的偏移与长度个数不一致"));
    const qint64 width = offsets.type == 3 ? 2 : 4;
    if (!b.has(offsets.pos, offsets.count * width) ||
        !b.has(counts.pos, counts.count * (counts.type == 3 ? 2 : 4)))
        return Truncated(QStringLiteral("数据块表在文件之外"));
    for (qint64 i = 0; i < offsets.count; ++i) {
        const qint64 at = offsets.type == 3 ? u16(offsets.pos + 2 * i) : u32(offsets.pos + 4 * i);
        const qint64 size = counts.type == 3 ? u16(counts.pos + 2 * i) : u32(counts.pos + 4 * i);
        if (!b.has(at, size)) return CutAt(at + size, n);
    }
    return std::nullopt;
}

std::optional<Problem> CheckWebp(const Bytes& b) {
    const qint64 needed = qint64{b.le32(4)} + 8;  // the RIFF chunk holds the whole picture
    if (needed > b.size()) return CutAt(needed, b.size());
    return std::nullopt;
}

std::optional<Problem> CheckStructure(Format f, const Bytes& b, int page) {
    switch (f) {
        case Format::Bmp:
            return CheckBmp(b);
        case Format::Jpeg:
            return CheckJpeg(b);
        case Format::Gif:
            return CheckGif(b);
        case Format::Png:
            return CheckPng(b);
        case Format::Tiff:
            return CheckTiff(b, page);
        case Format::Webp:
            return CheckWebp(b);
    }
    return std::nullopt;
}

[[noreturn]] void ThrowTooLarge(const QString& what, qint64 width, qint64 height) {
    QString size;
    if (width > 0 && height > 0) size = QStringLiteral("%1 × %2 像素，").arg(width).arg(height);
    throw RuntimeError(kErrOutOfMemory, QStringLiteral("内存溢出：%1太大（%2最多允许 %3 像素）")
                                            .arg(what, size, QString::number(kMaxPicturePixels)));
}

[[noreturn]] void ThrowOutOfMemory(const QString& what, QSize size) {
    const QString pixels =
        size.isValid() ? QStringLiteral("（%1 × %2 像素）").arg(size.width()).arg(size.height())
                       : QString();
    throw RuntimeError(kErrOutOfMemory,
                       QStringLiteral("内存不足：无法为%1%2分配内存").arg(what, pixels));
}

[[noreturn]] void ThrowInvalid(const QString& text) {
    throw RuntimeError(kErrInvalidPicture, QStringLiteral("无效图片：") + text);
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
    ThrowInvalid(
        QStringLiteral("%1已损坏（PNG 数据：%2）").arg(what, QString::fromLatin1(message)));
}

// PNG is read with libpng's own reader: its messages stay in the reader's record instead of
// on standard error, and a failed allocation is told apart from damaged data. A 16-bit
// picture without gamma information is taken as sRGB, as every viewer shows it.
// With `sizeOnly`, only the size is judged and nothing is decoded.
QImage DecodePng(const QByteArray& bytes, const QString& what, bool sizeOnly) {
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
    if (width * height > kMaxPicturePixels) {
        png_image_free(&png);
        ThrowTooLarge(what, width, height);
    }
    if (sizeOnly) {
        png_image_free(&png);
        return {};
    }
    QImage image(static_cast<int>(width), static_cast<int>(height),
                 alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) {
        png_image_free(&png);
        ThrowOutOfMemory(what, QSize(static_cast<int>(width), static_cast<int>(height)));
    }
    png.format = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? PNG_FORMAT_BGRA : PNG_FORMAT_ARGB;
    png.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    // Frees the reader whether it succeeds or not.
    if (!png_image_finish_read(&png, nullptr, image.bits(),
                               static_cast<png_int_32>(image.bytesPerLine()), nullptr))
        ThrowPngFailure(what, png);
    return image;
}

struct JpegCheck : jpeg_error_mgr {
    std::jmp_buf jump;
    bool endedEarly;
};

extern "C" void JpegCheckError(j_common_ptr info) {
    std::longjmp(static_cast<JpegCheck*>(info->err)->jump, 1);
}

extern "C" void JpegCheckMessage(j_common_ptr info, int level) {
    auto* check = static_cast<JpegCheck*>(info->err);
    if (level < 0 && (check->msg_code == JWRN_HIT_MARKER || check->msg_code == JWRN_JPEG_EOF))
        check->endedEarly = true;
}

extern "C" void JpegCheckOutput(j_common_ptr) {}

// Whether the coded data of a sequential JPEG ends before its last block. The JPEG library
// fills the missing part with grey and only warns, so Qt's reader returns a picture. The data
// is decoded again here at an eighth of the size (the entropy decoding, without most of the
// rest), where the library's warnings can be told apart. Progressive pictures keep every
// coefficient of the whole picture until the end and are not checked; anything else wrong is
// the full decode's to say.
bool JpegDataEndsEarly(const QByteArray& bytes) {
    JpegCheck check;
    jpeg_decompress_struct info;
    info.err = jpeg_std_error(&check);
    check.error_exit = JpegCheckError;
    check.emit_message = JpegCheckMessage;
    check.output_message = JpegCheckOutput;
    check.endedEarly = false;
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
PictureRef Decode(const QByteArray& bytes, const QString& what, int page = 0) {
    const Bytes b(bytes);
    if (b.size() == 0) ThrowInvalid(QStringLiteral("%1是空的，没有图片数据").arg(what));
    const std::optional<Format> format = DetectFormat(b);
    if (!format)
        ThrowInvalid(QStringLiteral("%1不是 BMP、JPEG、GIF 或 PNG 图片（也不是 TIFF 或 WebP 图片）")
                         .arg(what));

    InstallChatterFilter(false);
    const Decoding decoding;
    QImageReader::setAllocationLimit(kAllocationLimitMegabytes);

    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, FormatName(*format));
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(true);

    // The walk comes first: asking Qt for the size already makes the JPEG library read every
    // segment before the first scan. A cut-off file may still declare a size too large.
    const std::optional<Problem> problem = CheckStructure(*format, b, page);
    if (problem && problem->kind == Problem::TooLarge) {
        ThrowTooLarge(what, problem->width, problem->height);
    }
    if (problem && problem->kind == Problem::Damaged) {
        ThrowInvalid(QStringLiteral("%1已损坏（%2 数据：%3）")
                         .arg(what, FormatTitle(*format), problem->detail));
    }

    if (*format == Format::Png) {
        if (problem) {
            DecodePng(bytes, what, true);
            ThrowInvalid(
                QStringLiteral("%1不完整，PNG 数据被截断（%2）").arg(what, problem->detail));
        }
        QImage rgb = ToRgb32(DecodePng(bytes, what, false));
        if (rgb.isNull()) ThrowOutOfMemory(what, QSize());
        return std::make_shared<const Picture>(std::move(rgb));
    }
    if (*format == Format::Tiff && reader.canRead()) RouteTiffLibraryMessages();
    if (page > 0 && !problem && !reader.jumpToImage(page)) {
        ThrowInvalid(QStringLiteral("%1已损坏（找不到第 %2 页）").arg(what).arg(page + 1));
    }

    // The size the header declares, judged before anything is decoded. A top-down BMP reports
    // a negative height.
    // libtiff reports a directory outside the file while the size is read: a truncated TIFF
    // is refused before that.
    QSize declared;
    if (!problem || *format != Format::Tiff) declared = reader.size();
    const bool sizeKnown = declared != QSize();
    const qint64 declaredWidth = std::abs(qint64{declared.width()});
    const qint64 declaredHeight = std::abs(qint64{declared.height()});
    if (sizeKnown && declaredWidth * declaredHeight > kMaxPicturePixels) {
        ThrowTooLarge(what, declaredWidth, declaredHeight);
    }
    if (problem) {
        ThrowInvalid(QStringLiteral("%1不完整，%2 数据被截断（%3）")
                         .arg(what, FormatTitle(*format), problem->detail));
    }
    if (!sizeKnown || declaredWidth == 0 || declaredHeight == 0) {
        ThrowInvalid(
            QStringLiteral("%1已损坏（无法读出 %2 图片的尺寸）").arg(what, FormatTitle(*format)));
    }

    // Qt's JPEG reader passes on the library's first warning, so a decode it heard nothing
    // from ended with every block: the usual case, at no cost. After any warning, or with its
    // warnings switched off, the data are checked. The filter goes in front of whatever handler
    // the application installed since, to hear them.
    static const QLoggingCategory jpegWarnings("qt.gui.imageio.jpeg");
    if (*format == Format::Jpeg) InstallChatterFilter(true);
    QImage image;
    const bool read = reader.read(&image);
    if (!read || image.isNull()) {
        if (reader.error() == QImageReader::UnsupportedFormatError) {
            ThrowInvalid(QStringLiteral("本程序无法读取 %1 图片（缺少图像格式插件），%2")
                             .arg(FormatTitle(*format), what));
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
        ThrowInvalid(QStringLiteral("%1已损坏（%2 数据无法解码）").arg(what, FormatTitle(*format)));
    }
    if (*format == Format::Jpeg && (tJpegWarnings > 0 || !jpegWarnings.isWarningEnabled()) &&
        JpegDataEndsEarly(bytes)) {
        ThrowInvalid(
            QStringLiteral("%1不完整，JPEG 数据被截断（图像数据在最后一块之前结束）").arg(what));
    }
    if (qint64{image.width()} * image.height() > kMaxPicturePixels) {
        ThrowTooLarge(what, image.width(), image.height());
    }
    QImage rgb = ToRgb32(image);
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
        ThrowOutOfMemory(what, QSize());
    }
}

[[noreturn]] void ThrowOpenError(int error, const QString& what) {
    switch (error) {
        case ENOENT:
            throw RuntimeError(kErrFileNotFound, QStringLiteral("文件未找到：%1").arg(what));
        case ENOTDIR:
            throw RuntimeError(kErrPathNotFound,
                               QStringLiteral("路径未找到：%1的路径中有一段不是文件夹").arg(what));
        case EACCES:
        case EPERM:
            // Also a folder on the way that may not be searched: the file may well exist.
            throw RuntimeError(kErrPermissionDenied,
                               QStringLiteral("没有访问权限：无法读取%1").arg(what));
        case ENOMEM:
            ThrowOutOfMemory(what, QSize());
        default:
            throw RuntimeError(kErrPathFileAccess,
                               QStringLiteral("路径/文件访问错误：无法打开%1（%2）")
                                   .arg(what, QString::fromLocal8Bit(std::strerror(error))));
    }
}

// Reads the file behind `fd` to its end, but never more than `limit` + 1 bytes.
QByteArray ReadAll(int fd, qint64 expected, qint64 limit, const QString& what) {
    QByteArray bytes;
    bytes.reserve(std::min(expected, limit) + 1);
    char chunk[64 * 1024];
    while (bytes.size() <= limit) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            throw RuntimeError(kErrPathFileAccess,
                               QStringLiteral("路径/文件访问错误：读取%1时出错").arg(what));
        }
        bytes.append(chunk, std::min<qint64>(got, limit + 1 - bytes.size()));
    }
    return bytes;
}

QByteArray ReadFile(const QString& name, const QString& what) {
    if (name.isEmpty()) {
        throw RuntimeError(kErrFileNotFound, QStringLiteral("文件未找到：没有给出文件名"));
    }
    if (name.contains(QChar(u'\0'))) {
        throw RuntimeError(kErrFileNotFound, QStringLiteral("文件未找到：文件名中含有空字符"));
    }
    // Opened once and judged by what was opened: a name checked first and opened afterwards
    // may meanwhile name a pipe, which would block. Non-blocking, the open itself never waits.
    const QByteArray native = QFile::encodeName(name);
    int fd = -1;
    do {
        fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) ThrowOpenError(errno, what);
    const FileDescriptor file(fd);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) ThrowOpenError(errno, what);
    if (!S_ISREG(info.st_mode)) {
        // Directories, devices and pipes: never read (a pipe could block, a device never end).
        throw RuntimeError(kErrPathFileAccess,
                           QStringLiteral("路径/文件访问错误：%1不是普通文件").arg(what));
    }
    const auto tooLarge = [&](qint64 size) {
        throw RuntimeError(
            kErrOutOfMemory,
            QStringLiteral("内存溢出：%1太大（%2 字节）").arg(what, QString::number(size)));
    };
    if (info.st_size > kMaxPictureFileBytes) tooLarge(info.st_size);
    // Files under /proc and /sys say they are empty and still have content: read to the end.
    const QByteArray bytes = ReadAll(file.get(), info.st_size, kMaxPictureFileBytes, what);
    if (bytes.size() > kMaxPictureFileBytes) tooLarge(bytes.size());
    return bytes;
}

QString FileWhat(const QString& path, PathBlanks blanks, QString* name) {
    *name = path;
    if (blanks == PathBlanks::Ignore) {
        while (name->endsWith(u' ')) name->chop(1);
    }
    return QStringLiteral("文件“%1”").arg(QDir::toNativeSeparators(*name));
}

}  // namespace

QByteArray ReadPictureFile(const QString& path, PathBlanks blanks, QString* what) {
    QString name;
    const QString described = FileWhat(path, blanks, &name);
    if (what != nullptr) *what = described;
    return ReadFile(name, described);
}

PictureRef LoadPictureFromData(const QByteArray& bytes, const QString& what) {
    return OutOfMemoryIsAnError(what, [&] { return Decode(bytes, what); });
}

PictureRef LoadPicture(const QString& path, PathBlanks blanks) {
    QString name;
    const QString what = FileWhat(path, blanks, &name);
    return OutOfMemoryIsAnError(what, [&] { return Decode(ReadFile(name, what), what); });
}

PictureRef LoadPicturePage(const QByteArray& bytes, const QString& what, int page) {
    return OutOfMemoryIsAnError(what, [&] { return Decode(bytes, what, page); });
}

bool IsPictureData(const QByteArray& bytes) {
    return DetectFormat(Bytes(bytes)).has_value();
}

int PicturePageCount(const QByteArray& bytes, int limit) {
    const Bytes b(bytes);
    if (DetectFormat(b) != Format::Tiff) return 1;
    return std::max(1, static_cast<int>(TiffDirectories(b, limit).size()));
}

void ThrowPictureTooLarge(const QString& what, qint64 width, qint64 height) {
    ThrowTooLarge(what, width, height);
}
void ThrowPictureOutOfMemory(const QString& what, QSize size) {
    ThrowOutOfMemory(what, size);
}
void ThrowPictureInvalid(const QString& text) {
    ThrowInvalid(text);
}

void SilenceImageLibraryMessages() {
    gSilenced = true;
    InstallChatterFilter(true);
}

}  // namespace scan39::host
