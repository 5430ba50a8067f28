#include "picture_formats_p.h"

#include <algorithm>
#include <unordered_set>

#include "scan39/host/picture.h"

namespace scan39::host {

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

bool IsBmpInfoHeaderSize(quint32 size) {
    return size == 12 || size == 40 || size == 52 || size == 56 || size == 64 || size == 108 ||
           size == 124;
}

namespace {

Problem Truncated(QString detail) {
    return {Problem::Truncated, std::move(detail)};
}
Problem Damaged(QString detail) {
    return {Problem::Damaged, std::move(detail)};
}

Problem CutAt(qint64 needed, qint64 have) {
    return Truncated(QStringLiteral("至少需要 %1 字节，只有 %2 字节").arg(needed).arg(have));
}

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
    } else if (IsBmpInfoHeaderSize(headerSize)) {
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
        pos = b.find(0xFF, pos);
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
        qint64 i = b.find(0xFF, pos);
        for (; i + 1 < n; i = b.find(0xFF, i + 1)) {
            const unsigned next = b.u8(i + 1);
            if (next != 0x00 && next != 0xFF && (next < 0xD0 || next > 0xD7)) break;
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

}  // namespace

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

QString TiffUnsupportedSamples(const Bytes& b, qint64 ifd) {
    const bool little = b.u8(0) == 'I';
    const auto u16 = [&](qint64 pos) { return little ? b.le16(pos) : b.be16(pos); };
    const auto u32 = [&](qint64 pos) { return little ? b.le32(pos) : b.be32(pos); };
    if (!b.has(ifd, 2)) return {};
    const qint64 entries = u16(ifd);
    unsigned bits = 1, kind = 1;  // the defaults: one bit, unsigned integers
    for (qint64 i = 0; i < entries && b.has(ifd + 2 + i * 12, 12); ++i) {
        const qint64 e = ifd + 2 + i * 12;
        const unsigned tag = u16(e);
        if ((tag != 258 && tag != 339) || u16(e + 2) != 3) continue;
        // The first sample's value: in the entry for up to two, elsewhere for more.
        const qint64 at = u32(e + 4) <= 2 ? e + 8 : qint64{u32(e + 8)};
        if (!b.has(at, 2)) continue;
        (tag == 258 ? bits : kind) = u16(at);
    }
    if (bits < 32) return {};
    // Said the same way in both languages, as format names are.
    const QString what = kind == 3   ? QStringLiteral("floating-point")
                         : kind == 2 ? QStringLiteral("signed integer")
                                     : QStringLiteral("integer");
    return QStringLiteral("TIFF, %1-bit %2 samples").arg(bits).arg(what);
}

namespace {

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
}  // namespace

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

}  // namespace scan39::host
