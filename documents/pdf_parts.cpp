// A PDF's part: its page objects copied into a new file with everything they refer to
// (contents, images, fonts, the text layer, annotations), every stream's data as it is in the
// original, nothing decoded, nothing compressed again.

// The headers' smart pointers are std::shared_ptr.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <stdexcept>

#include "scan39/documents/split.h"
#include "scanned_p.h"

namespace scan39::documents {

QByteArray PdfPart(const QByteArray& pdf, const std::vector<int>& pages) {
    QpdfReady();
    try {
        QPDF in;
        in.setSuppressWarnings(true);
        in.processMemoryFile("input", pdf.constData(), size_t(pdf.size()));
        QPDFPageDocumentHelper inPages(in);
        // A page's size, rotation and resources may be inherited from the page tree: the
        // copy must hold them itself.
        inPages.pushInheritedAttributesToPage();
        const std::vector<QPDFPageObjectHelper> all = inPages.getAllPages();
        QPDF out;
        out.emptyPDF();
        QPDFPageDocumentHelper outPages(out);
        for (int page : pages) {
            if (page < 0 || size_t(page) >= all.size())
                throw std::runtime_error("the PDF has no page " + std::to_string(page + 1));
            outPages.addPage(all[size_t(page)], false);
        }
        QPDFWriter writer(out);
        writer.setOutputMemory();
        writer.setDecodeLevel(qpdf_dl_none);
        writer.setCompressStreams(false);
        writer.setMinimumPDFVersion(in.getPDFVersion());
        // The same parts of the same file give the same bytes.
        writer.setDeterministicID(true);
        writer.write();
        const std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
        return QByteArray(reinterpret_cast<const char*>(buffer->getBuffer()),
                          qsizetype(buffer->getSize()));
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("the PDF's pages cannot be copied: ") + e.what());
    }
}

}  // namespace scan39::documents
