#pragma once
// Pictures through the loader, as the scanning control and the reader module's files take them:
// loaded pictures, pages of documents, and arrays as the loader would have loaded them. Needs
// Qt Gui and documents, so only the full build has it (with loading.cpp). Nothing here touches
// Python objects but SourceOf, so the rest runs with the GIL released.

// Python's headers before Qt's, whose `slots` macro they would trip over.
#include "sources.h"

#include <QByteArray>
#include <QString>
#include <memory>

#include "arrays.h"
#include "scan39/documents/document.h"
#include "scan39/host/errors.h"
#include "scan39/host/picture.h"

namespace scan39::python {

// The loader's error as the module raises it, its description rendered from its reason.
PictureFailure FailureOf(const host::RuntimeError& error, const QString& path);

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

// The picture as the reader takes it; a grey one is read in place, and kept while it is.
GreyPicture GreyOf(host::PictureRef picture);
// The array as the loader would have produced it from a file: RGB32, alpha over white.
host::PictureRef PictureOf(const ArrayPixels& pixels);

// Exactly one of `picture` (loaded from a file or bytes) and `pixels` (an array's, kept alive
// by `array`) is set.
struct Source {
    host::PictureRef picture;
    std::optional<ArrayPixels> pixels;
    pybind11::object array;
};
// Resolves a source: str and os.PathLike are paths, bytes, bytearray and memoryview encoded
// pictures, numpy.ndarray pixels (uint8; H x W, H x W x 3 or H x W x 4). Files and bytes are
// loaded with the GIL released. Throws TypeError/ValueError for what it cannot take,
// PictureFailure for what the loader refuses or an array beyond its bound.
Source SourceOf(const pybind11::handle& source);

}  // namespace scan39::python
