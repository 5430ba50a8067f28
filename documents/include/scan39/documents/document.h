#pragma once
// Files of pages: a PDF, rendered page by page, or a picture, of which a TIFF may hold several.
// Each page is loaded on its own, within the picture loader's bounds, so one damaged or
// oversized page costs only itself.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <memory>

#include "scan39/documents/limits.h"
#include "scan39/host/picture.h"

namespace scan39::documents {

// Whether the bytes are a PDF: its header within the first kilobyte, as readers accept it, in
// bytes that are not one of the loader's pictures.
bool IsPdf(const QByteArray& bytes);

// Stops the pages being drawn now and every later one, each with its time-limit error: the
// process is on its way out (Python's interpreter exits while a thread still reads a file).
void StopDocumentsForExit();

class Document {
  public:
    // Takes the file's bytes; `what` names the source in error descriptions, as for
    // LoadPictureFromData. Throws PictureError for a file whose pages cannot be had at all: a
    // PDF that is damaged, encrypted or empty, or a file of more than kMaxPages pages. A picture
    // is never judged here; its faults show when its page is loaded.
    Document(QByteArray bytes, QString what, int dpi = kDefaultDpi,
             int timeLimitSeconds = kDefaultFileSeconds);
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    int pageCount() const { return pages_; }
    // A PDF's pages are rendered by the PDF library; every other file's go through Qt's image
    // readers, as LoadPictureFromData decodes them.
    bool isPdf() const { return pdf_ != nullptr; }

    // Page `index` (from 0) as an RGB32 picture (or grey, as `tone` allows). Throws
    // PictureError for this page alone: 481 damaged, truncated, or not read in the file's time
    // limit, 7 larger than kMaxPicturePixels at the
    // document's resolution (refused before it is rendered) or out of memory. Not safe to call
    // from two threads at once. With `fitDpi`, a PDF page too large at the document's
    // resolution is drawn instead at the largest one (at least kMinDpi) that keeps it within
    // kMaxPicturePixels, and *fitDpi receives the resolution drawn at (0 for a picture).
    host::PictureRef loadPage(int index, host::Tone tone = host::Tone::Colour, int* fitDpi = nullptr) const;

  private:
    struct Pdf;
    QByteArray bytes_;
    QString what_;
    int dpi_;
    int timeLimitSeconds_;
    QElapsedTimer clock_;  // from the start of the file's reading
    int pages_ = 1;
    std::unique_ptr<Pdf> pdf_;
};

}  // namespace scan39::documents
