#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <QBuffer>
#include <QImageReader>
#include <QSet>
#include <algorithm>
#include <cmath>

#include "scan39/host/picture.h"
#include "scan39/host/picture_error.h"
#include "scanned_p.h"

namespace scan39::documents {

bool JpegComplete(const QByteArray& jpeg) {
    qsizetype end = jpeg.size();
    while (end > 0 && (jpeg[end - 1] == '\0' || QChar::isSpace(uchar(jpeg[end - 1])))) --end;
    return end >= 4 && uchar(jpeg[end - 2]) == 0xFF && uchar(jpeg[end - 1]) == 0xD9;
}

namespace {

// Whether a content stream only places pictures and shows invisible text: no paths, no
// visible text, no inline pictures, no shadings. Counts the pictures placed.
class OnlyPictures : public QPDFObjectHandle::ParserCallbacks {
  public:
    bool plain = true;
    int placed = 0;

    void handleObject(QPDFObjectHandle object) override {
        if (!object.isOperator()) {
            last_ = object;
            return;
        }
        const std::string op = object.getOperatorValue();
        static const QSet<QByteArray> kHarmless = {
            "q",  "Q",  "cm",  "gs",  "BT",  "ET", "Tf", "Td", "TD", "Tm", "Tz", "TL", "Tc", "Tw",
            "Ts", "T*", "BDC", "BMC", "EMC", "MP", "DP", "w",  "J",  "j",  "M",  "d",  "ri", "i"};
        if (op == "Do") {
            ++placed;
        } else if (op == "Tr") {
            invisible_ = last_.isInteger() && last_.getIntValue() == 3;
        } else if (op == "Tj" || op == "TJ" || op == "'" || op == "\"") {
            if (!invisible_) stop();
        } else if (!kHarmless.contains(QByteArray::fromStdString(op))) {
            stop();
        }
    }
    void handleEOF() override {}

  private:
    void stop() {
        plain = false;
        terminateParsing();
    }
    QPDFObjectHandle last_;
    bool invisible_ = false;
};

bool IsDct(QPDFObjectHandle filter) {
    if (filter.isArray() && filter.getArrayNItems() == 1) filter = filter.getArrayItem(0);
    return filter.isName() && filter.getName() == "/DCTDecode";
}

}  // namespace

void QpdfReady() {
    static std::once_flag once;
    std::call_once(once, [] {
        const std::lock_guard lock(PdfLock());
        const QPDF first;
    });
}

std::vector<bool> PagesWithCutJpeg(const QByteArray& pdf, int pages) {
    QpdfReady();
    try {
        QPDF file;
        file.setSuppressWarnings(true);
        file.processMemoryFile("input", pdf.constData(), size_t(pdf.size()));
        const auto all = QPDFPageDocumentHelper(file).getAllPages();
        if (all.size() != size_t(pages)) return {};  // not the pages the renderer sees
        std::vector<bool> cut(all.size(), false);
        for (size_t i = 0; i < all.size(); ++i) {
            QPDFPageObjectHelper page = all[i];
            page.forEachImage(true, [&](QPDFObjectHandle& image, QPDFObjectHandle&,
                                        const std::string&) {
                if (cut[i] || !IsDct(image.getDict().getKey("/Filter"))) return;
                const auto raw = image.getRawStreamData();
                cut[i] = !JpegComplete(QByteArray::fromRawData(
                    reinterpret_cast<const char*>(raw->getBuffer()), qsizetype(raw->getSize())));
            });
        }
        return cut;
    } catch (const std::exception&) {
        return {};
    }
}

struct ScannedPdf::Impl {
    QPDF pdf;
    std::vector<QPDFPageObjectHelper> pages;
};

ScannedPdf::ScannedPdf(const QByteArray& pdf) {
    QpdfReady();
    try {
        auto impl = std::make_unique<Impl>();
        impl->pdf.setSuppressWarnings(true);
        impl->pdf.processMemoryFile("input", pdf.constData(), size_t(pdf.size()));
        QPDFPageDocumentHelper helper(impl->pdf);
        helper.pushInheritedAttributesToPage();
        impl->pages = helper.getAllPages();
        impl_ = std::move(impl);
    } catch (const std::exception&) {
        impl_.reset();  // drawn page by page as any PDF
    }
}

ScannedPdf::~ScannedPdf() = default;

std::optional<QImage> ScannedPdf::page(int index, int dpi, const QString& what) const {
    if (!impl_ || index < 0 || size_t(index) >= impl_->pages.size()) return std::nullopt;
    QByteArray jpeg;
    double pageWidth = 0, pageHeight = 0;
    try {
        QPDFPageObjectHelper page = impl_->pages[size_t(index)];
        const auto images = page.getImages();
        auto xobjects = page.getObjectHandle().getKey("/Resources").getKey("/XObject");
        // One picture and nothing else to be seen.
        if (images.size() != 1 || !xobjects.isDictionary() || xobjects.getKeys().size() != 1)
            return std::nullopt;
        QPDFObjectHandle image = images.begin()->second;
        QPDFObjectHandle dict = image.getDict();
        if (!IsDct(dict.getKey("/Filter")) || dict.hasKey("/SMask") || dict.hasKey("/Mask") ||
            (dict.getKey("/ImageMask").isBool() && dict.getKey("/ImageMask").getBoolValue()))
            return std::nullopt;
        OnlyPictures check;
        page.parseContents(&check);
        if (!check.plain || check.placed != 1) return std::nullopt;
        const auto box = page.getMediaBox().getArrayAsRectangle();
        pageWidth = std::abs(box.urx - box.llx);
        pageHeight = std::abs(box.ury - box.lly);
        const auto raw = image.getRawStreamData();
        jpeg =
            QByteArray(reinterpret_cast<const char*>(raw->getBuffer()), qsizetype(raw->getSize()));
    } catch (const std::exception&) {
        return std::nullopt;  // drawn as any page, which says what is wrong with it
    }
    if (!JpegComplete(jpeg)) {
        throw host::PictureError(
            host::PictureFault::Truncated,
            {.what = what, .detail = QStringLiteral("PDF 页面中的 JPEG 图像数据被截断")});
    }
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    const QSize size = reader.size();
    if (!size.isValid() || pageWidth <= 0 || pageHeight <= 0) return std::nullopt;
    if (qint64(size.width()) * size.height() > host::kMaxPicturePixels) return std::nullopt;
    // The picture's own resolution over the page; libjpeg scales by 1/2, 1/4 and 1/8 as it
    // decodes, so the largest of those that keeps `dpi` is nearly free.
    const double own =
        std::max(size.width(), size.height()) * 72.0 / std::max(pageWidth, pageHeight);
    int denominator = 1;
    while (denominator < 8 && own / (denominator * 2) >= dpi) denominator *= 2;
    if (denominator > 1)
        reader.setScaledSize(QSize((size.width() + denominator - 1) / denominator,
                                   (size.height() + denominator - 1) / denominator));
    QImage picture = reader.read();
    if (picture.isNull()) return std::nullopt;
    return picture.convertToFormat(QImage::Format_Grayscale8);
}

}  // namespace scan39::documents
