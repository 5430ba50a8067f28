#pragma once
// Picture files built byte by byte, so that tests know exactly what every byte means.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QtEndian>
#include <functional>
#include <vector>

namespace scan39::host::test {

inline void PutLe16(QByteArray& b, quint32 v) {
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}
inline void PutLe32(QByteArray& b, quint32 v) {
    PutLe16(b, v & 0xFFFF);
    PutLe16(b, v >> 16);
}
inline void SetLe32(QByteArray& b, int pos, quint32 v) {
    for (int i = 0; i < 4; ++i) b[pos + i] = char((v >> (8 * i)) & 0xFF);
}

// Colour of pixel (x, y) in the test pattern: stripes of a few distinct colours.
inline QRgb PatternColor(int x, int y) {
    static const QRgb kColors[] = {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(255, 0, 0),
                                   qRgb(0, 0, 255)};
    return kColors[(x / 3 + y / 5) % 4];
}

// An uncompressed BMP with the short (40-byte) header. Indexed depths get a palette holding
// `palette`; pixels are given as palette indexes (bpp <= 8) or colours. `topDown` stores the
// rows first to last with a negative height.
inline QByteArray MakeBmp(int width, int height, int bpp, const std::vector<QRgb>& palette,
                          const std::function<quint32(int, int)>& pixel, bool topDown = false) {
    const int stride = (width * bpp + 31) / 32 * 4;
    const int paletteBytes = bpp <= 8 ? int(palette.size()) * 4 : 0;
    const int offBits = 14 + 40 + paletteBytes;
    QByteArray b;
    b.append("BM");
    PutLe32(b, offBits + stride * height);
    PutLe32(b, 0);
    PutLe32(b, offBits);
    PutLe32(b, 40);
    PutLe32(b, width);
    PutLe32(b, topDown ? quint32(-height) : quint32(height));
    PutLe16(b, 1);
    PutLe16(b, bpp);
    PutLe32(b, 0);  // no compression
    PutLe32(b, stride * height);
    PutLe32(b, 3780);
    PutLe32(b, 3780);
    PutLe32(b, bpp <= 8 ? quint32(palette.size()) : 0);
    PutLe32(b, 0);
    if (bpp <= 8) {
        for (QRgb c : palette) {
            b.append(char(qBlue(c)));
            b.append(char(qGreen(c)));
            b.append(char(qRed(c)));
            b.append(char(0));
        }
    }
    for (int r = 0; r < height; ++r) {
        const int y = topDown ? r : height - 1 - r;
        QByteArray row(stride, '\0');
        for (int x = 0; x < width; ++x) {
            const quint32 v = pixel(x, y);
            switch (bpp) {
                case 1:
                    if (v) row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
                    break;
                case 4:
                    row[x / 2] = char(row[x / 2] | (x % 2 ? v : v << 4));
                    break;
                case 8:
                    row[x] = char(v);
                    break;
                case 16: {  // 5-5-5
                    const quint32 w =
                        ((qRed(v) >> 3) << 10) | ((qGreen(v) >> 3) << 5) | (qBlue(v) >> 3);
                    row[x * 2] = char(w & 0xFF);
                    row[x * 2 + 1] = char(w >> 8);
                    break;
                }
                default: {  // 24, 32
                    const int n = bpp / 8;
                    row[x * n] = char(qBlue(v));
                    row[x * n + 1] = char(qGreen(v));
                    row[x * n + 2] = char(qRed(v));
                    break;
                }
            }
        }
        b.append(row);
    }
    return b;
}

// An 8-bit run-length BMP whose rows are given as runs of (count, index); rows are separated
// by end-of-line codes and the last is followed directly by the end-of-picture code.
inline QByteArray MakeRle8Bmp(int width, const std::vector<std::vector<std::pair<int, int>>>& rows,
                              const std::vector<QRgb>& palette) {
    QByteArray data;
    for (size_t r = 0; r < rows.size(); ++r) {
        for (auto [count, index] : rows[r]) {
            data.append(char(count));
            data.append(char(index));
        }
        data.append(char(0));
        data.append(char(r + 1 < rows.size() ? 0 : 1));
    }
    const int offBits = 14 + 40 + int(palette.size()) * 4;
    QByteArray b;
    b.append("BM");
    PutLe32(b, offBits + data.size());
    PutLe32(b, 0);
    PutLe32(b, offBits);
    PutLe32(b, 40);
    PutLe32(b, width);
    PutLe32(b, quint32(rows.size()));
    PutLe16(b, 1);
    PutLe16(b, 8);
    PutLe32(b, 1);  // RLE8
    PutLe32(b, data.size());
    PutLe32(b, 0);
    PutLe32(b, 0);
    PutLe32(b, quint32(palette.size()));
    PutLe32(b, 0);
    for (QRgb c : palette) {
        b.append(char(qBlue(c)));
        b.append(char(qGreen(c)));
        b.append(char(qRed(c)));
        b.append(char(0));
    }
    return b + data;
}

// A GIF with a 256-entry palette and LZW data written as plain codes (a clear code every 254
// pixels keeps the code width at 9 bits). `transparent` >= 0 adds a graphic control extension.
inline QByteArray MakeGif(int width, int height, const std::vector<QRgb>& palette,
                          const std::function<int(int, int)>& index, int transparent = -1) {
    QByteArray b("GIF89a");
    PutLe16(b, width);
    PutLe16(b, height);
    b.append(char(0xF7));  // global table of 256 colours
    b.append(char(0));
    b.append(char(0));
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < int(palette.size()) ? palette[i] : qRgb(0, 0, 0);
        b.append(char(qRed(c)));
        b.append(char(qGreen(c)));
        b.append(char(qBlue(c)));
    }
    if (transparent >= 0) {
        b.append("\x21\xF9\x04\x01", 4);
        PutLe16(b, 0);
        b.append(char(transparent));
        b.append(char(0));
    }
    b.append(char(0x2C));
    PutLe16(b, 0);
    PutLe16(b, 0);
    PutLe16(b, width);
    PutLe16(b, height);
    b.append(char(0));
    b.append(char(8));  // LZW minimum code size

    QByteArray lzw;
    quint32 acc = 0;
    int bits = 0;
    auto put = [&](int code) {
        acc |= quint32(code) << bits;
        bits += 9;
        while (bits >= 8) {
            lzw.append(char(acc & 0xFF));
            acc >>= 8;
            bits -= 8;
        }
    };
    int sinceClear = 0;
    put(256);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (sinceClear == 254) {
                put(256);
                sinceClear = 0;
            }
            put(index(x, y));
            ++sinceClear;
        }
    }
    put(257);
    if (bits > 0) lzw.append(char(acc & 0xFF));
    for (int pos = 0; pos < lzw.size(); pos += 255) {
        const QByteArray chunk = lzw.mid(pos, 255);
        b.append(char(chunk.size()));
        b.append(chunk);
    }
    b.append(char(0));
    b.append(char(0x3B));
    return b;
}

inline QByteArray Encode(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

inline quint32 Crc32(const QByteArray& data) {
    quint32 crc = 0xFFFFFFFFu;
    for (char ch : data) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// Rewrites the size in a PNG's header chunk, with a correct checksum, so that only the size
// is a lie.
inline QByteArray WithPngSize(QByteArray png, quint32 width, quint32 height) {
    auto setBe32 = [&png](int pos, quint32 v) {
        for (int i = 0; i < 4; ++i) png[pos + i] = char((v >> (24 - 8 * i)) & 0xFF);
    };
    setBe32(16, width);
    setBe32(20, height);
    setBe32(29, Crc32(png.mid(12, 17)));
    return png;
}

inline QImage PatternImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.setPixel(x, y, PatternColor(x, y));
    return image;
}

}  // namespace scan39::host::test
