#pragma once
// Pictures as the Python side hands them over, turned into what the reader and the control
// take: a grey view for the reader, a loaded picture for the control. Nothing here touches
// Python objects, so all of it runs with the GIL released.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "scan39/documents/document.h"
#include "scan39/host/errors.h"
#include "scan39/host/picture.h"
#include "scan39/reader.h"

namespace scan39::python {

// A picture that could not be had: the run-time error number and the loader's description.
class PictureFailure : public std::runtime_error {
  public:
    PictureFailure(int number, const QString& description, const QString& path);
    // The loader's error, its description rendered from its reason.
    PictureFailure(const host::RuntimeError& error, const QString& path);
    int number() const { return number_; }
    const QString& description() const { return description_; }
    const QString& path() const { return path_; }  // empty for pictures from bytes or arrays

  private:
    int number_;
    QString description_;
    QString path_;
};

// Pixels of a NumPy array: `channels` is 1 (grey), 3 (RGB) or 4 (RGBA, straight alpha).
// Strides are in bytes and may be negative or zero.
struct ArrayPixels {
    const std::uint8_t* data = nullptr;
    std::ptrdiff_t height = 0, width = 0;
    int channels = 1;
    std::ptrdiff_t rowStride = 0, columnStride = 0, channelStride = 0;
};

// A picture as the reader takes it: its grey view, and what that view points into when the
// pixels had to be laid out in rows first (an array with other strides).
struct GreyPicture {
    std::vector<std::uint8_t> packed;
    std::optional<reader::GreyImage> grey;
    const reader::GreyView& view() const { return grey->view(); }
};

// The loader's own bound, for pixels that do not come through the loader (arrays, Pillow
// images): throws PictureFailure (error 7) before anything is allocated.
void CheckPixelCount(std::int64_t width, std::int64_t height);

// Through the loader: a file by its name, or encoded bytes.
host::PictureRef LoadPath(const QByteArray& encodedPath);
host::PictureRef LoadData(const QByteArray& bytes);

// The pages of a file by its name, or of encoded bytes: a PDF drawn at `dpi`, a TIFF of
// several pages, or a picture as its one page. Throws PictureFailure when no page can be had.
struct Pages {
    std::unique_ptr<documents::Document> document;
    QString path;  // empty for bytes
};
Pages PagesOfPath(const QByteArray& encodedPath, int dpi,
                  int timeLimitSeconds = documents::kDefaultFileSeconds);
Pages PagesOfData(const QByteArray& bytes, int dpi,
                  int timeLimitSeconds = documents::kDefaultFileSeconds);
// Page `index` (from 0), grey when `tone` allows; throws PictureFailure for this page alone.
host::PictureRef LoadPage(const Pages& pages, int index, host::Tone tone);

GreyPicture GreyOf(const host::Picture& picture);
// Hands the array's pixels to the reader in place when they lie in rows, else a copy that does.
GreyPicture GreyOf(const ArrayPixels& pixels);
// The array as the loader would have produced it from a file: RGB32, alpha over white.
host::PictureRef PictureOf(const ArrayPixels& pixels);

}  // namespace scan39::python
