#pragma once
// The picture formats the loader reads, told apart by their first bytes, and the walk over each
// format's structure that finds a cut-off or damaged file before Qt's readers see it.

#include <QByteArray>
#include <QString>
#include <cstring>
#include <optional>
#include <vector>

namespace scan39::host {

enum class Format { Bmp, Jpeg, Gif, Png, Tiff, Webp };

// Qt's name for the format ("bmp", "jpeg", ...), and as messages show it ("BMP", "JPEG", ...).
const char* FormatName(Format f);
QString FormatTitle(Format f);

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
    // The first `value` at or after `pos`, or size() when there is none.
    qint64 find(unsigned char value, qint64 pos) const {
        if (pos >= n_) return n_;
        const void* at = std::memchr(p_ + pos, value, static_cast<size_t>(n_ - pos));
        return at ? static_cast<const unsigned char*>(at) - p_ : n_;
    }
    bool startsWith(const char* sig, qint64 len) const {
        return has(0, len) && std::memcmp(p_, sig, static_cast<size_t>(len)) == 0;
    }

  private:
    const unsigned char* p_;
    qint64 n_;
};

std::optional<Format> DetectFormat(const Bytes& b);

// Whether a bitmap's information header can be this long: the layouts the loader reads.
bool IsBmpInfoHeaderSize(quint32 size);

// Where a TIFF's directories (its pages) start, following the chain from the header: at most
// `limit`, and none twice, so a chain that loops ends where it would repeat. One that points
// past the end of the file counts: that page is missing, and says so when it is loaded.
std::vector<qint64> TiffDirectories(const Bytes& b, qint64 limit);

// The kind of samples of the TIFF directory at `ifd` when no reader here decodes them (32 or
// 64 bits a sample, integer or floating point), as the reason says it; empty for any other.
QString TiffUnsupportedSamples(const Bytes& b, qint64 ifd);

// Qt's readers fill a partial picture from a cut-off file without reporting an error, so each
// format's structure is walked first to make sure every byte the picture needs is there.
// `page` counts a TIFF's pages from 0.
std::optional<Problem> CheckStructure(Format f, const Bytes& b, int page);

}  // namespace scan39::host
