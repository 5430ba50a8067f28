// A TIFF's part: each page's directory copied tag by tag (resolution included) and its strips
// or tiles copied as they are compressed in the original, never decoded.

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "scan39/documents/split.h"

namespace scan39::documents {

namespace {

// A TIFF in memory, for libtiff's client procedures: the input read in place, the output
// grown as libtiff writes.
struct Memory {
    QByteArray* bytes;
    toff_t at = 0;
    bool writable = false;
    std::string error;
};

tmsize_t ReadProc(thandle_t h, void* to, tmsize_t size) {
    auto* m = static_cast<Memory*>(h);
    if (m->at >= toff_t(m->bytes->size())) return 0;
    const tmsize_t n = std::min<tmsize_t>(size, tmsize_t(toff_t(m->bytes->size()) - m->at));
    std::memcpy(to, m->bytes->constData() + m->at, size_t(n));
    m->at += toff_t(n);
    return n;
}

tmsize_t WriteProc(thandle_t h, void* from, tmsize_t size) {
    auto* m = static_cast<Memory*>(h);
    if (!m->writable) return -1;
    const toff_t end = m->at + toff_t(size);
    if (end > toff_t(m->bytes->size())) m->bytes->resize(qsizetype(end));
    std::memcpy(m->bytes->data() + m->at, from, size_t(size));
    m->at = end;
    return size;
}

toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
    auto* m = static_cast<Memory*>(h);
    toff_t base = 0;
    if (whence == SEEK_CUR) base = m->at;
    if (whence == SEEK_END) base = toff_t(m->bytes->size());
    m->at = base + offset;
    return m->at;
}

int CloseProc(thandle_t) {
    return 0;
}
toff_t SizeProc(thandle_t h) {
    return toff_t(static_cast<Memory*>(h)->bytes->size());
}
int MapProc(thandle_t, void**, toff_t*) {
    return 0;
}
void UnmapProc(thandle_t, void*, toff_t) {}

int ErrorProc(TIFF*, void* user, const char* module, const char* format, va_list args) {
    auto* m = static_cast<Memory*>(user);
    if (m->error.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        m->error = std::string(module ? module : "TIFF") + ": " + text;
    }
    return 1;
}
int WarningProc(TIFF*, void*, const char*, const char*, va_list) {
    return 1;  // the original's quirks are copied as they are, not judged
}

struct Closer {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffPtr = std::unique_ptr<TIFF, Closer>;

TiffPtr Open(Memory& memory, const char* mode) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, ErrorProc, &memory);
    TIFFOpenOptionsSetWarningHandlerExtR(options, WarningProc, &memory);
    TIFF* tiff = TIFFClientOpenExt("tiff", mode, &memory, ReadProc, WriteProc, SeekProc, CloseProc,
                                   SizeProc, MapProc, UnmapProc, options);
    TIFFOpenOptionsFree(options);
    return TiffPtr(tiff);
}

[[noreturn]] void Fail(const Memory& in, const Memory& out, const std::string& what) {
    const std::string& detail = !out.error.empty() ? out.error : in.error;
    throw std::runtime_error(what + (detail.empty() ? "" : " (" + detail + ")"));
}

template <typename T>
void CopyScalar(TIFF* in, TIFF* out, ttag_t tag) {
    T value{};
    if (TIFFGetField(in, tag, &value)) TIFFSetField(out, tag, value);
}

void CopyCounted(TIFF* in, TIFF* out, ttag_t tag) {
    uint32_t count = 0;
    void* data = nullptr;
    if (TIFFGetField(in, tag, &count, &data) && data) TIFFSetField(out, tag, count, data);
}

// Every tag of the page that describes its pixels or the page itself; the strip or tile
// layout and offsets are written anew by libtiff.
void CopyTags(TIFF* in, TIFF* out, int index, int count) {
    for (ttag_t tag :
         {TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_ROWSPERSTRIP, TIFFTAG_TILEWIDTH,
          TIFFTAG_TILELENGTH, TIFFTAG_GROUP3OPTIONS, TIFFTAG_GROUP4OPTIONS})
        CopyScalar<uint32_t>(in, out, tag);
    // Compression first among the rest: it chooses the codec whose own tags follow.
    for (ttag_t tag :
         {TIFFTAG_COMPRESSION, TIFFTAG_BITSPERSAMPLE, TIFFTAG_PHOTOMETRIC, TIFFTAG_FILLORDER,
          TIFFTAG_ORIENTATION, TIFFTAG_SAMPLESPERPIXEL, TIFFTAG_PLANARCONFIG,
          TIFFTAG_RESOLUTIONUNIT, TIFFTAG_PREDICTOR, TIFFTAG_THRESHHOLDING, TIFFTAG_SAMPLEFORMAT,
          TIFFTAG_YCBCRPOSITIONING, TIFFTAG_INKSET})
        CopyScalar<uint16_t>(in, out, tag);
    for (ttag_t tag :
         {TIFFTAG_XRESOLUTION, TIFFTAG_YRESOLUTION, TIFFTAG_XPOSITION, TIFFTAG_YPOSITION})
        CopyScalar<float>(in, out, tag);
    for (ttag_t tag : {TIFFTAG_DOCUMENTNAME, TIFFTAG_IMAGEDESCRIPTION, TIFFTAG_MAKE, TIFFTAG_MODEL,
                       TIFFTAG_PAGENAME, TIFFTAG_SOFTWARE, TIFFTAG_DATETIME, TIFFTAG_ARTIST,
                       TIFFTAG_HOSTCOMPUTER, TIFFTAG_COPYRIGHT})
        CopyScalar<const char*>(in, out, tag);
    for (ttag_t tag : {TIFFTAG_JPEGTABLES, TIFFTAG_ICCPROFILE, TIFFTAG_XMLPACKET})
        CopyCounted(in, out, tag);
    uint16_t bits = 0;
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (TIFFGetField(in, TIFFTAG_BITSPERSAMPLE, &bits) &&
        TIFFGetField(in, TIFFTAG_COLORMAP, &red, &green, &blue))
        TIFFSetField(out, TIFFTAG_COLORMAP, red, green, blue);
    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    if (TIFFGetField(in, TIFFTAG_EXTRASAMPLES, &extraCount, &extra))
        TIFFSetField(out, TIFFTAG_EXTRASAMPLES, extraCount, extra);
    uint16_t sub[2] = {0, 0};
    if (TIFFGetField(in, TIFFTAG_YCBCRSUBSAMPLING, &sub[0], &sub[1]))
        TIFFSetField(out, TIFFTAG_YCBCRSUBSAMPLING, sub[0], sub[1]);
    float* reference = nullptr;
    if (TIFFGetField(in, TIFFTAG_REFERENCEBLACKWHITE, &reference) && reference)
        TIFFSetField(out, TIFFTAG_REFERENCEBLACKWHITE, reference);
    TIFFSetField(out, TIFFTAG_SUBFILETYPE, uint32_t(FILETYPE_PAGE));
    TIFFSetField(out, TIFFTAG_PAGENUMBER, uint16_t(index), uint16_t(count));
}

}  // namespace

QByteArray TiffPart(const QByteArray& tiff, const std::vector<int>& pages) {
    QByteArray input = tiff;  // shared, never written: libtiff reads through ReadProc
    QByteArray output;
    Memory in{&input, 0, false, {}};
    Memory out{&output, 0, true, {}};
    const TiffPtr reader = Open(in, "rm");
    if (!reader) Fail(in, out, "the TIFF cannot be opened");
    // Large inputs may need 64-bit offsets in their parts too.
    TiffPtr writer = Open(out, tiff.size() > (qsizetype{1} << 31) ? "w8" : "w");
    if (!writer) Fail(in, out, "the TIFF part cannot be made");
    std::vector<char> buffer;
    for (size_t k = 0; k < pages.size(); ++k) {
        const int page = pages[k];
        if (!TIFFSetDirectory(reader.get(), tdir_t(page)))
            Fail(in, out, "page " + std::to_string(page + 1) + " of the TIFF cannot be read");
        uint16_t compression = COMPRESSION_NONE;
        TIFFGetField(reader.get(), TIFFTAG_COMPRESSION, &compression);
        if (compression == COMPRESSION_OJPEG)
            Fail(in, out,
                 "page " + std::to_string(page + 1) +
                     " is in old-style JPEG, which cannot be copied as it is");
        CopyTags(reader.get(), writer.get(), int(k), int(pages.size()));
        const bool tiled = TIFFIsTiled(reader.get());
        const uint32_t pieces =
            tiled ? TIFFNumberOfTiles(reader.get()) : TIFFNumberOfStrips(reader.get());
        for (uint32_t i = 0; i < pieces; ++i) {
            int error = 0;
            const uint64_t size = TIFFGetStrileByteCountWithErr(reader.get(), i, &error);
            if (error || size > uint64_t(tiff.size()))
                Fail(in, out, "page " + std::to_string(page + 1) + " of the TIFF is damaged");
            buffer.resize(size_t(size));
            const tmsize_t got =
                size == 0 ? 0
                : tiled   ? TIFFReadRawTile(reader.get(), i, buffer.data(), tmsize_t(size))
                          : TIFFReadRawStrip(reader.get(), i, buffer.data(), tmsize_t(size));
            if (got != tmsize_t(size))
                Fail(in, out, "page " + std::to_string(page + 1) + " of the TIFF is truncated");
            const tmsize_t put = tiled ? TIFFWriteRawTile(writer.get(), i, buffer.data(), got)
                                       : TIFFWriteRawStrip(writer.get(), i, buffer.data(), got);
            if (put != got) Fail(in, out, "the TIFF part cannot be written");
        }
        if (!TIFFWriteDirectory(writer.get())) Fail(in, out, "the TIFF part cannot be written");
    }
    TIFFClose(writer.release());
    if (!out.error.empty()) Fail(in, out, "the TIFF part cannot be written");
    return output;
}

}  // namespace scan39::documents
