#include "scan39/documents/document.h"

#include <dlfcn.h>
#include <poppler-qt6.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <mutex>
#include <new>

#include "scan39/host/file_descriptor.h"
#include "scan39/host/picture_error.h"
#include "scanned_p.h"

namespace scan39::documents {

// Pages are pictures: the loader's types, errors and bounds throughout.
using namespace host;

namespace {

// The PDF library's notes on damaged files: the error record already says what is wrong.
Q_LOGGING_CATEGORY(lcPdf, "scan39.pdf", QtWarningMsg)

// A scanned page renders in well under a second. A page built to keep the renderer busy (an
// image of billions of declared pixels drawn in a corner) is given up after this long; the
// file's own time limit may stop it sooner.
constexpr qint64 kPageRenderMs = 30 * 1000;

// Memory a page's rendering may take beyond what the process already has: the PDF library's
// bitmap and our copy of it, and room for fonts and images.
constexpr qint64 kRenderMemoryBytes = qint64{1} << 30;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

void PdfLibraryMessage(const QString& message, const QVariant&) {
    qCDebug(lcPdf, "%s", qUtf8Printable(message));
}
void NoMessage(const QString&, const QVariant&) {}

// Every call into the PDF library in this process goes through this lock, and so does every
// fork, this file's page renderings and anyone else's (Python's multiprocessing): a fork waits
// for the call in progress, so the child finds the library's state whole and the lock free.
// A fresh lock in the child would not do: the library's own state could be half changed.
std::mutex gPdfLock;

void LockPdfForFork() {
    gPdfLock.lock();
}
void UnlockPdfAfterFork() {
    gPdfLock.unlock();
}

}  // namespace

std::mutex& PdfLock() {
    static std::once_flag once;
    std::call_once(once,
                   [] { pthread_atfork(LockPdfForFork, UnlockPdfAfterFork, UnlockPdfAfterFork); });
    return gPdfLock;
}

namespace {

std::atomic<bool> gExiting{false};

enum ChildExit : int { kRendered = 0, kNotDrawn = 3, kNoMemory = 4, kDamaged = 5, kTruncated = 6 };

// What the PDF library reported while the child drew its page, by the library's categories
// (its core's ErrorCategory; the Qt binding's callback drops the category, and a mere syntax
// warning about a harmless quirk must not fail a good page).
enum PdfErrorCategory : int {
    kSyntaxWarning,
    kSyntaxError,
    kConfig,
    kCommandLine,
    kIo,
    kNotAllowed,
    kUnimplemented,
    kInternal
};
volatile sig_atomic_t gPageDamaged = 0;
volatile sig_atomic_t gPageTruncated = 0;

void PdfCoreError(PdfErrorCategory category, long long, const char* message) {
    if (category != kSyntaxError && category != kIo && category != kInternal) return;
    gPageDamaged = 1;
    // The wording of the stream decoders when their data ends before the picture does.
    const QByteArray text = QByteArray(message ? message : "").toLower();
    if (text.contains("premature end") || text.contains("unexpected end") ||
        text.contains("end of file") || text.contains("eof"))
        gPageTruncated = 1;
}

// Points the library's reports at PdfCoreError; false where the library has no such entry.
bool HearPdfErrors() {
    using Callback = void (*)(PdfErrorCategory, long long, const char*);
    using Setter = void (*)(Callback);
    // poppler's setErrorCallback(void (*)(ErrorCategory, Goffset, const char*)).
    const auto set = reinterpret_cast<Setter>(
        dlsym(RTLD_DEFAULT, "_Z16setErrorCallbackPFv13ErrorCategoryxPKcE"));
    if (!set) return false;
    set(PdfCoreError);
    return true;
}

// The child's work: draw the page, put its rows into `fd` after a header of width and
// height, and leave without running anything of the parent's. It dies with the parent and
// by itself after `allowedMs`, should the parent not be there to stop it.
[[noreturn]] void RenderChild(const Poppler::Page& page, int dpi, int fd, qint64 width,
                              qint64 height, pid_t parent, qint64 allowedMs) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(kNotDrawn);  // the parent died before the line above
    const auto seconds = static_cast<unsigned>(allowedMs / 1000 + 2);
    const rlimit cpu{seconds, seconds + 1};
    setrlimit(RLIMIT_CPU, &cpu);
    alarm(seconds);
    Poppler::setDebugErrorFunction(NoMessage, QVariant());
    HearPdfErrors();
    if (!kSanitized) {
        // A hostile image may declare any size: the library's allocations stop at a bound.
        long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
            std::fclose(statm);
        }
        if (pages > 0) {
            const rlim_t bound = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) +
                                 rlim_t(kRenderMemoryBytes) + rlim_t(width * height * 8);
            const rlimit limit{bound, bound};
            setrlimit(RLIMIT_AS, &limit);
        }
    }
    try {
        QImage image = page.renderToImage(dpi, dpi);
        if (image.isNull()) _exit(kNotDrawn);
        // A page drawn in part is no page: its missing part may be where the symbol is.
        if (gPageTruncated) _exit(kTruncated);
        if (gPageDamaged) _exit(kDamaged);
        image = image.convertToFormat(QImage::Format_RGB32);
        if (image.isNull()) _exit(kNoMemory);
        const qint32 size[2] = {image.width(), image.height()};
        if (::write(fd, size, sizeof size) != ssize_t(sizeof size)) _exit(kNoMemory);
        const auto row = static_cast<size_t>(image.width()) * 4;
        for (int y = 0; y < image.height(); ++y) {
            const char* at = reinterpret_cast<const char*>(image.constScanLine(y));
            for (size_t done = 0; done < row;) {
                const ssize_t n = ::write(fd, at + done, row - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) _exit(kNoMemory);
                done += size_t(n);
            }
        }
        _exit(kRendered);
    } catch (...) {
        _exit(kNoMemory);
    }
}

// The rows the child left in `fd`, when they are what was asked for.
QImage ReadRendered(int fd, qint64 width, qint64 height) {
    qint32 size[2] = {0, 0};
    if (::pread(fd, size, sizeof size, 0) != ssize_t(sizeof size)) return {};
    // The library rounds the page's size its own way: a pixel more or less is the same page.
    if (size[0] <= 0 || size[1] <= 0 || std::abs(size[0] - width) > 2 ||
        std::abs(size[1] - height) > 2 || qint64{size[0]} * size[1] > kMaxPicturePixels)
        return {};
    QImage image(size[0], size[1], QImage::Format_RGB32);
    if (image.isNull()) throw std::bad_alloc();
    const auto row = static_cast<size_t>(size[0]) * 4;
    off_t at = sizeof size;
    for (int y = 0; y < size[1]; ++y, at += off_t(row)) {
        if (::pread(fd, image.scanLine(y), row, at) != ssize_t(row)) return {};
    }
    return image;
}

}  // namespace

struct Document::Pdf {
    std::unique_ptr<Poppler::Document> document;
    // Pages whose JPEG pictures end early: the renderer's JPEG decoder draws what there is
    // and says nothing, where the same JPEG alone is "truncated".
    std::vector<bool> cutJpeg;
    ~Pdf() {
        const std::lock_guard lock(PdfLock());
        document.reset();
    }
};

void StopDocumentsForExit() {
    gExiting = true;
}

bool IsPdf(const QByteArray& bytes) {
    // A picture that merely holds the marker in its first kilobyte stays a picture.
    return bytes.left(1024).contains("%PDF-") && !IsPictureData(bytes);
}

Document::Document(QByteArray bytes, QString what, int dpi, int timeLimitSeconds)
    : bytes_(std::move(bytes)),
      what_(std::move(what)),
      dpi_(dpi),
      timeLimitSeconds_(timeLimitSeconds) {
    clock_.start();
    // Error 7, as for a picture too large: the work a file asks for is beyond the bound.
    // `pages` is 0 when only the bound is known to be passed.
    const auto tooMany = [this](qint64 pages) {
        throw PictureError(PictureFault::TooManyPages, {.what = what_, .count = pages});
    };
    const auto damaged = [this](const QString& detail) {
        throw PictureError(PictureFault::Damaged, {.what = what_, .detail = detail});
    };
    if (!IsPdf(bytes_)) {
        pages_ = PicturePageCount(bytes_, kMaxPages + 1);
        if (pages_ > kMaxPages) tooMany(0);
        return;
    }
    pdf_ = std::make_unique<Pdf>();
    int pages = 0;
    {
        const std::lock_guard lock(PdfLock());
        static std::once_flag quiet;
        std::call_once(quiet,
                       [] { Poppler::setDebugErrorFunction(PdfLibraryMessage, QVariant()); });
        pdf_->document = Poppler::Document::loadFromData(bytes_);
        if (!pdf_->document) damaged(QStringLiteral("PDF 数据无法读出"));
        if (pdf_->document->isLocked())
            throw PictureError(PictureFault::Encrypted, {.what = what_});
        pages = pdf_->document->numPages();
        pdf_->document->setRenderHint(Poppler::Document::Antialiasing);
        pdf_->document->setRenderHint(Poppler::Document::TextAntialiasing);
    }
    if (pages <= 0) damaged(QStringLiteral("PDF 中没有页面"));
    // The count the file claims: the walk over its pages is bounded before it starts.
    if (pages > kMaxPages) tooMany(pages);
    pages_ = pages;
    pdf_->cutJpeg = PagesWithCutJpeg(bytes_, pages);
}

Document::~Document() = default;

PictureRef Document::loadPage(int index, Tone tone, int* fitDpi) const {
    const QString what = pages_ > 1 ? QStringLiteral("%1第 %2 页")
                                          .arg(what_.isEmpty() ? QStringLiteral("文件") : what_,
                                               QString::number(index + 1))
                                    : what_;
    if (fitDpi) *fitDpi = 0;
    const auto outOfTime = [&] {
        throw PictureError(PictureFault::OutOfTime, {.what = what, .count = timeLimitSeconds_});
    };
    // Counted from the start of the file's reading: a file that was slow to open has less left.
    const qint64 remaining = qint64{timeLimitSeconds_} * 1000 - clock_.elapsed();
    if (remaining <= 0 || gExiting) outOfTime();
    if (!pdf_)
        return pages_ > 1 ? LoadPicturePage(bytes_, what, index, tone)
                          : LoadPictureFromData(bytes_, what, tone);
    if (size_t(index) < pdf_->cutJpeg.size() && pdf_->cutJpeg[size_t(index)]) {
        throw PictureError(
            PictureFault::Truncated,
            {.what = what, .detail = QStringLiteral("PDF 页面中的 JPEG 图像数据被截断")});
    }
    const auto tooSlow = [&] {
        throw PictureError(PictureFault::TooComplex, {.what = what, .count = kPageRenderMs / 1000});
    };
    const auto damaged = [&](const QString& detail) {
        throw PictureError(PictureFault::Damaged, {.what = what, .detail = detail});
    };
    const auto outOfMemory = [&](qint64 width = 0, qint64 height = 0) {
        throw PictureError(PictureFault::OutOfMemory,
                           {.what = what, .width = width, .height = height});
    };
    try {
        std::unique_ptr<Poppler::Page> page;
        QSizeF points;
        {
            const std::lock_guard lock(PdfLock());
            page = pdf_->document->page(index);
            if (page) points = page->pageSizeF();
        }
        const auto release = qScopeGuard([&] {
            const std::lock_guard lock(PdfLock());
            page.reset();
        });
        if (!page) damaged(QStringLiteral("PDF 页面无法读出"));
        // The size in pixels is judged from the page's box, before anything is drawn.
        int dpi = dpi_;
        const auto pixels = [&](double pointsAcross) {
            return std::ceil(pointsAcross * dpi / 72.0);
        };
        double width = pixels(points.width());
        double height = pixels(points.height());
        if (!std::isfinite(width) || !std::isfinite(height) || width < 1 || height < 1)
            damaged(QStringLiteral("PDF 页面尺寸无效"));
        if (fitDpi && width * height > double(kMaxPicturePixels)) {
            // The largest resolution at which the page's pixels stay within the bound (the
            // sizes round up, hence the step down until they do).
            dpi = std::max(
                kMinDpi,
                static_cast<int>(std::floor(72.0 * std::sqrt(double(kMaxPicturePixels) /
                                                             (points.width() * points.height())))));
            for (; dpi > kMinDpi &&
                   pixels(points.width()) * pixels(points.height()) > double(kMaxPicturePixels);
                 --dpi) {
            }
            width = pixels(points.width());
            height = pixels(points.height());
        }
        if (fitDpi) *fitDpi = dpi;
        if (width * height > double(kMaxPicturePixels)) {
            throw PictureError(PictureFault::TooLarge,
                               {.what = what,
                                .width = width > 1e15 ? 0 : qint64(width),
                                .height = height > 1e15 ? 0 : qint64(height)});
        }

        // Drawn in a child process: the PDF library stops the whole process when an
        // allocation fails, and a page may hold anything. The child is stopped after its time.
        const FileDescriptor rows(memfd_create("scan39-page", MFD_CLOEXEC));
        if (rows.get() < 0) outOfMemory();
        QElapsedTimer clock;
        clock.start();
        const qint64 allowed = std::min(kPageRenderMs, remaining);
        const pid_t parent = getpid();
        // The PDF lock is taken by the fork itself (see PdfLock).
        const pid_t child = fork();
        if (child == 0) {
            RenderChild(*page, dpi, rows.get(), qint64(width), qint64(height), parent, allowed);
        }
        if (child < 0) outOfMemory();
        int status = 0;
        bool stopped = false;
        while (true) {
            const pid_t done = waitpid(child, &status, WNOHANG);
            if (done == child || (done < 0 && errno != EINTR)) break;
            if (!stopped && (clock.elapsed() > allowed || gExiting)) {
                kill(child, SIGKILL);
                stopped = true;
            }
            QThread::msleep(2);
        }
        if (stopped && (allowed < kPageRenderMs || gExiting)) outOfTime();
        if (stopped) tooSlow();
        if (WIFEXITED(status) && WEXITSTATUS(status) == kNoMemory)
            outOfMemory(qint64(width), qint64(height));
        if (WIFEXITED(status) && WEXITSTATUS(status) == kTruncated) {
            throw PictureError(
                PictureFault::Truncated,
                {.what = what, .detail = QStringLiteral("PDF 页面的数据被截断，无法完整绘制")});
        }
        if (WIFEXITED(status) && WEXITSTATUS(status) == kDamaged)
            damaged(QStringLiteral("PDF 页面的内容有错，无法完整绘制"));
        if (!WIFEXITED(status) || WEXITSTATUS(status) != kRendered)
            damaged(QStringLiteral("PDF 页面无法绘制"));
        QImage image = ReadRendered(rows.get(), qint64(width), qint64(height));
        if (image.isNull()) damaged(QStringLiteral("PDF 页面无法绘制"));
        return std::make_shared<const Picture>(std::move(image));
    } catch (const std::bad_alloc&) {
        throw PictureError(PictureFault::OutOfMemory, {.what = what});
    }
}

}  // namespace scan39::documents
