#pragma once
// What the reader module has of the picture loader: files and encoded bytes read as pictures
// and as pages of documents, the split, and the loader's bound and words for pixels that do not
// come through it. The one part of the module that needs Qt and Poppler: loading.cpp has it
// with them; arrays_only.cpp stands in for it in a build without them (SCAN39_WITH_QT=OFF),
// where arrays read as everywhere and every encoded picture is refused with NotInThisBuild.

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <string>

#include "arrays.h"
#include "sources.h"

namespace scan39::python {

// Whether this build reads files and encoded bytes (scan39._scan39.READS_FILES).
extern const bool kReadsFiles;

// The loader's own bound, for pixels that do not come through it (arrays, Pillow images):
// throws PictureFailure (error 7, in the loader's words) before anything is allocated.
void CheckPixelCount(std::int64_t width, std::int64_t height);

// The pages of a file or of encoded bytes: a PDF drawn at its resolution, a TIFF of several
// pages, or a picture as its one page.
class EncodedPages {
  public:
    virtual ~EncodedPages() = default;
    virtual int count() const = 0;
    // Page `index` (from 0) as the reader takes it; throws PictureFailure for this page alone.
    virtual GreyPicture grey(int index) const = 0;
};

// Opens the source's pages; called with the GIL released, `encoded` outlives the pages. Throws
// PictureFailure when no page can be had, NotInThisBuild without the loader.
std::unique_ptr<EncodedPages> OpenPages(const Encoded& encoded, int dpi, int fileSeconds);

// The one picture of a file or of encoded bytes as the loader gives it, in colour, then as the
// reader takes it (the benchmark of crossing into Python); called with the GIL released.
GreyPicture LoadedGrey(const Encoded& encoded);

// scan39.split: the files one after the other, the records as scan39 split --json writes them.
// Names as bytes, exactly as the file system knows them.
pybind11::list SplitFiles(const pybind11::list& inputs, const pybind11::bytes& out,
                          const pybind11::list& separators, const std::string& separatorPattern,
                          const std::string& nameFrom, bool keepSeparators, bool stopOnError,
                          bool dryRun, int dpi, bool fast);

// The process is on its way out: pages being drawn now and later stop with their time-limit
// error.
void StopLoadingForExit();

}  // namespace scan39::python
