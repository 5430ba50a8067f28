#pragma once
// Scanned PDF pages read without drawing them: a page that is nothing but one JPEG picture
// (and perhaps an invisible text layer, as OCR leaves it) is that picture, which libjpeg
// decodes at a half, a quarter or an eighth of its size far faster than the page is drawn.

#include <QByteArray>
#include <QImage>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace scan39::documents {

// The lock every call into a PDF library goes through, and every fork (document.cpp).
std::mutex& PdfLock();

// QPDF's process-wide state (its logger and the like, made on its first use) made once, under
// the PDF lock: a fork while another thread was making it would leave the child waiting for it
// for ever. Every use of QPDF calls this first.
void QpdfReady();

// Whether JPEG data ends as a whole JPEG does, in an EOI marker (FF D9), allowing padding
// (whitespace, zeros) after it.
bool JpegComplete(const QByteArray& jpeg);

// For each of the PDF's `pages`, whether a JPEG picture on it (on the page or in a form it
// draws) is cut short. Empty when QPDF cannot read the file: the renderer then judges it.
std::vector<bool> PagesWithCutJpeg(const QByteArray& pdf, int pages);

class ScannedPdf {
  public:
    explicit ScannedPdf(const QByteArray& pdf);  // never throws: no page is then a scan
    ~ScannedPdf();
    ScannedPdf(const ScannedPdf&) = delete;
    ScannedPdf& operator=(const ScannedPdf&) = delete;

    // The page's picture at about `dpi` (never less, when the picture has as much), grey;
    // nothing when the page is more than one JPEG (it must be drawn). Throws PictureError
    // (Truncated) when the page's JPEG is cut short.
    std::optional<QImage> page(int index, int dpi, const QString& what) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace scan39::documents
