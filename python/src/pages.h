#pragma once
// Every page of a file or of encoded bytes read by the reader: a PDF's pages, a TIFF's, or a
// picture's one. Runs with the GIL released.

#include <QByteArray>
#include <optional>
#include <string>
#include <vector>

#include "pictures.h"
#include "scan39/reader.h"

namespace scan39::python {

struct PageSymbols {
    int page = 0;  // from 1 in a source of several pages; 0 for a source of one
    std::vector<reader::Symbol> symbols;
    std::vector<std::string> grades;      // each symbol's grade as JSON, when asked for
    std::optional<PictureFailure> error;  // this page could not be loaded
    bool truncated = false;               // the search did not cover the whole page
};

// Throws PictureFailure when no page can be had (the file is missing, damaged, encrypted, or
// the source's only page cannot be loaded); a page of several that fails carries its error.
std::vector<PageSymbols> ReadPagesOfPath(const QByteArray& encodedPath, int dpi,
                                         const reader::ReadOptions& options, bool grade);
std::vector<PageSymbols> ReadPagesOfData(const QByteArray& bytes, int dpi,
                                         const reader::ReadOptions& options, bool grade);

// The symbols of a grey picture, with the JSON of each one's grade when asked for.
void ReadGrey(const reader::GreyView& view, const reader::ReadOptions& options, bool grade,
              PageSymbols& into);

}  // namespace scan39::python
