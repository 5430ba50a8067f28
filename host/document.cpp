#include "scan39/host/document.h"

#include <poppler-qt6.h>

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <cmath>
#include <mutex>
#include <new>

#include "scan39/host/errors.h"

namespace scan39::host {

namespace {

// The PDF library's notes on damaged files: the error record already says what is wrong.
Q_LOGGING_CATEGORY(lcPdf, "scan39.pdf", QtWarningMsg)

// A page of a scan renders in well under a second; a page built to keep the renderer busy
// is given up after this long.
constexpr int kRenderSeconds = 60;

void PdfLibraryMessage(const QString& message, const QVariant&) {
    qCDebug(lcPdf, "%s", qUtf8Printable(message));
}

bool PastDeadline(const QVariant& deadline) {
    return QDeadlineTimer::current().deadline() >= deadline.toLongLong();
}

}  // namespace

struct Document::Pdf {
    std::unique_ptr<Poppler::Document> document;
};

bool IsPdf(const QByteArray& bytes) {
    return bytes.left(1024).contains("%PDF-");
}

Document::Document(QByteArray bytes, QString what, int dpi)
    : bytes_(std::move(bytes)), what_(std::move(what)), dpi_(dpi) {
    // Error 7, as for a picture too large: the work a file asks for is beyond the bound.
    const auto tooMany = [this](const QString& pages) {
        throw RuntimeError(kErrOutOfMemory,
                           QStringLiteral("内存溢出：%1页数太多（%2，最多允许 %3 页）")
                               .arg(what_, pages)
                               .arg(kMaxPages));
    };
    if (!IsPdf(bytes_)) {
        pages_ = PicturePageCount(bytes_, kMaxPages + 1);
        if (pages_ > kMaxPages) tooMany(QStringLiteral("超过 %1 页").arg(kMaxPages));
        return;
    }
    static std::once_flag quiet;
    std::call_once(quiet, [] { Poppler::setDebugErrorFunction(PdfLibraryMessage, QVariant()); });
    pdf_ = std::make_unique<Pdf>();
    pdf_->document = Poppler::Document::loadFromData(bytes_);
    if (!pdf_->document)
        ThrowPictureInvalid(QStringLiteral("%1已损坏（PDF 数据无法读出）").arg(what_));
    if (pdf_->document->isLocked())
        ThrowPictureInvalid(QStringLiteral("%1已加密（打开这个 PDF 需要密码）").arg(what_));
    const int pages = pdf_->document->numPages();
    if (pages <= 0) ThrowPictureInvalid(QStringLiteral("%1已损坏（PDF 中没有页面）").arg(what_));
    // The page count the file claims; the walk over its pages is bounded before it starts.
    if (pages > kMaxPages) tooMany(QStringLiteral("%1 页").arg(pages));
    pages_ = pages;
    pdf_->document->setRenderHint(Poppler::Document::Antialiasing);
    pdf_->document->setRenderHint(Poppler::Document::TextAntialiasing);
}

Document::~Document() = default;

PictureRef Document::loadPage(int index) const {
    const QString what =
        pages_ > 1 ? QStringLiteral("%1第 %2 页").arg(what_).arg(index + 1) : what_;
    if (!pdf_)
        return pages_ > 1 ? LoadPicturePage(bytes_, what, index)
                          : LoadPictureFromData(bytes_, what);
    try {
        const std::unique_ptr<Poppler::Page> page = pdf_->document->page(index);
        if (!page) ThrowPictureInvalid(QStringLiteral("%1已损坏（PDF 页面无法读出）").arg(what));
        // The size in pixels is judged from the page's box, before anything is drawn.
        const QSizeF points = page->pageSizeF();
        const double width = std::ceil(points.width() * dpi_ / 72.0);
        const double height = std::ceil(points.height() * dpi_ / 72.0);
        if (!std::isfinite(width) || !std::isfinite(height) || width < 1 || height < 1)
            ThrowPictureInvalid(QStringLiteral("%1已损坏（PDF 页面尺寸无效）").arg(what));
        if (width * height > double(kMaxPicturePixels))
            ThrowPictureTooLarge(what, width > 1e15 ? 0 : qint64(width),
                                 height > 1e15 ? 0 : qint64(height));
        const QDeadlineTimer deadline{std::chrono::seconds{kRenderSeconds}};
        const QImage image =
            page->renderToImage(dpi_, dpi_, -1, -1, -1, -1, Poppler::Page::Rotate0, nullptr,
                                nullptr, PastDeadline, QVariant(deadline.deadline()));
        if (deadline.hasExpired())
            ThrowPictureInvalid(
                QStringLiteral("%1太复杂（%2 秒内未能绘制完成）").arg(what).arg(kRenderSeconds));
        if (image.isNull()) {
            // The renderer says nothing about why; a page it could not hold in memory is told
            // apart by trying that allocation.
            if (QImage(int(width), int(height), QImage::Format_RGB32).isNull())
                ThrowPictureOutOfMemory(what, QSize(int(width), int(height)));
            ThrowPictureInvalid(QStringLiteral("%1已损坏（PDF 页面无法绘制）").arg(what));
        }
        if (qint64{image.width()} * image.height() > kMaxPicturePixels)
            ThrowPictureTooLarge(what, image.width(), image.height());
        QImage rgb = image.convertToFormat(QImage::Format_RGB32);
        if (rgb.isNull()) throw std::bad_alloc();
        return std::make_shared<const Picture>(std::move(rgb));
    } catch (const std::bad_alloc&) {
        ThrowPictureOutOfMemory(what, QSize());
    }
}

}  // namespace scan39::host
