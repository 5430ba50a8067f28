// scan39 without a box: every symbol of each picture through the reader, several pictures at
// a time, results in the order of the arguments.

#include <QImage>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "annotate_p.h"
#include "grade_p.h"
#include "runner_p.h"
#include "scan39/host/reader_view.h"
#include "scan39/reader.h"
#include "scan39/record_json.h"

namespace scan39::cli {

namespace {

struct PictureResult {
    std::optional<LoadError> error;
    std::vector<reader::Symbol> symbols;
    std::vector<GradeSummary> grades;  // one per symbol with --grade
    // With --grade: symbols located but not read, each with its grade (F).
    std::vector<reader::UnreadSymbol> unread;
    std::vector<GradeSummary> unreadGrades;
    bool truncated = false;            // the reader did not search the whole picture
    int width = 0;
    int height = 0;
    std::optional<QString> annotateFailure;
    // With --oneshot, the annotated copy waits here until the result is printed: a picture
    // read ahead of the one that ends the run gets no copy.
    struct PendingCopy {
        QImage picture;
        QByteArray format;
        QByteArray base;
    };
    std::optional<PendingCopy> pendingCopy;
    int page = 0;   // from 1 in a file of several pages; 0 for a file of one
    int pages = 0;  // with page: how many the file has
    // A PDF page too large at the resolution asked: the lower one it was drawn at.
    int reducedDpi = 0;
};

reader::ReadOptions ReaderOptions(const Options& o) {
    reader::ReadOptions r;
    r.checkCharacter =
        o.checkDigit ? reader::CheckCharacter::kRequired : reader::CheckCharacter::kOff;
    r.fullAscii = o.fullAscii;
    r.effort = o.fastEffort ? reader::Effort::kFast : reader::Effort::kThorough;
    r.polarity = o.polarity;
    r.locateUnread = o.grade;  // a verifier grades what it cannot read too
    return r;
}

// `load` is given the tone the picture is needed in: colour only to draw the annotation on, and
// says the resolution a PDF page was drawn at (0 for a picture).
PictureResult ReadPicture(const Options& options,
                          const std::function<host::PictureRef(host::Tone, int*)>& load,
                          const QByteArray& format, const AnnotateFolder& folder,
                          const QByteArray& annotateBase) {
    PictureResult result;
    try {
        int drawnDpi = 0;
        QImage picture =
            load(annotateBase.isEmpty() ? host::Tone::Grey : host::Tone::Colour, &drawnDpi)
                ->image();
        const int askedDpi = options.dpi > 0 ? options.dpi : documents::kDefaultDpi;
        // Grades in mm and mils follow the resolution the page was really drawn at.
        std::optional<Options> redrawn;
        if (drawnDpi > 0 && drawnDpi < askedDpi) {
            result.reducedDpi = drawnDpi;
            if (options.dpi > 0) {
                redrawn = options;
                redrawn->dpi = drawnDpi;
            }
        }
        result.width = picture.width();
        result.height = picture.height();
        std::optional<reader::GreyImage> grey(std::in_place, host::ToReaderView(picture));
        // Held no longer than needed: only the annotation draws on it, unless the reader reads
        // its grey pixels in place.
        if (annotateBase.isEmpty() && picture.format() != QImage::Format_Grayscale8)
            picture = QImage();
        const reader::GreyView& view = grey->view();
        reader::ReadResult read = reader::ReadAll(view, ReaderOptions(options));
        result.symbols = std::move(read.symbols);
        result.truncated = read.truncated;
        result.grades = GradeSymbols(view, result.symbols, redrawn ? *redrawn : options);
        result.unread = std::move(read.unread);
        result.unreadGrades = GradeUnread(view, result.unread, redrawn ? *redrawn : options);
        grey.reset();
        if (!annotateBase.isEmpty()) {
            Annotate(picture, result.symbols, result.grades, options.language);
            if (options.oneshot)
                result.pendingCopy = {std::move(picture), format, annotateBase};
            else
                result.annotateFailure =
                    WriteAnnotated(picture, format, folder, annotateBase, options.language);
        }
    } catch (const LoadError& e) {
        result = {};
        result.error = e;
    } catch (const std::bad_alloc&) {
        result = {};
        result.error = OutOfMemory();
    } catch (const std::exception& e) {
        // Never expected; a record for this picture still beats losing the whole batch.
        result = {};
        const QString what = QString::fromLocal8Bit(e.what());
        result.error = LoadError{0, QStringLiteral("internal error: ") + what,
                                 QStringLiteral("内部错误：") + what};
    }
    return result;
}

// Every page of the file, each read as a picture of its own; the one record of a file whose
// pages cannot be had.
std::vector<PictureResult> ReadFile(const Options& options, const QByteArray& name,
                                    const AnnotateFolder& folder, const QByteArray& annotateBase,
                                    const std::atomic<bool>& stop) {
    std::optional<NamedPages> pages;
    PictureResult failed;
    try {
        pages.emplace(name, true, options.dpi > 0 ? options.dpi : documents::kDefaultDpi,
                      options.fileSeconds > 0 ? options.fileSeconds : documents::kDefaultFileSeconds);
    } catch (const LoadError& e) {
        failed.error = e;
    } catch (const std::bad_alloc&) {
        failed.error = OutOfMemory();
    }
    if (failed.error) return {failed};
    const int count = pages->count();
    if (count == 1)
        return {ReadPicture(
            options, [&](host::Tone tone, int* dpi) { return pages->load(0, tone, dpi); },
            pages->format(), folder, annotateBase)};
    std::vector<PictureResult> results;
    for (int i = 0; i < count && !stop; ++i) {
        // "name-p2.png" beside "name.png" in the folder.
        const QByteArray pageBase =
            annotateBase.isEmpty() ? annotateBase : annotateBase + "-p" + QByteArray::number(i + 1);
        results.push_back(ReadPicture(
            options, [&](host::Tone tone, int* dpi) { return pages->load(i, tone, dpi); },
            QByteArray(), folder, pageBase));
        results.back().page = i + 1;
        results.back().pages = count;
    }
    return results;
}

QString NothingFound(const Options& o, const PictureResult& r) {
    const Language l = o.language;
    return Tr(l,
              QStringLiteral("no Code 39 symbol found (searched %1×%2 pixels at every position "
                             "and angle, %3; check character %4, full ASCII %5)"),
              QStringLiteral("未找到 Code 39 条码（已在 %1×%2 像素中按所有位置和角度查找，%3；"
                             "检验字符%4，全 ASCII %5）"))
        .arg(r.width)
        .arg(r.height)
        .arg(o.fastEffort ? Tr(l, QStringLiteral("fast effort"), QStringLiteral("快速查找"))
                          : Tr(l, QStringLiteral("thorough effort"), QStringLiteral("细致查找")),
             o.checkDigit ? Tr(l, QStringLiteral("required"), QStringLiteral("必须正确"))
                          : Tr(l, QStringLiteral("off"), QStringLiteral("不校验")),
             o.fullAscii ? Tr(l, QStringLiteral("on"), QStringLiteral("开"))
                         : Tr(l, QStringLiteral("off"), QStringLiteral("关")));
}

// Prints one picture's result; returns its exit status.
int Print(const Options& o, const QByteArray& name, bool prefix, const PictureResult& r, Sink& out,
          Sink& err) {
    int status = kExitDecoded;
    // A page of a file of several is always named, whatever else is read.
    const QByteArray label = r.page == 0 ? Shown(name)
                                         : Shown(name) + Tr(o.language, QStringLiteral(" page %1"),
                                                            QStringLiteral(" 第 %1 页"))
                                                             .arg(r.page)
                                                             .toUtf8();
    const QByteArray lead = prefix || r.page != 0 ? label + ": " : QByteArray();
    // Only the first symbol with --oneshot: the run ends with it.
    const std::size_t shown = o.oneshot ? std::min<std::size_t>(r.symbols.size(), 1)
                                        : r.symbols.size();
    if (o.json) {
        const QByteArray error = r.error ? r.error->text(o.language).toUtf8() : QByteArray();
        std::vector<std::string> grades, unreadGrades;
        for (const GradeSummary& g : r.grades) grades.push_back(g.json);
        for (const GradeSummary& g : r.unreadGrades) unreadGrades.push_back(g.json);
        reader::Record record;
        record.file = std::string_view(name.constData(), static_cast<std::size_t>(name.size()));
        record.page = r.page;
        record.pages = r.pages;
        if (r.error)
            record.error =
                std::string_view(error.constData(), static_cast<std::size_t>(error.size()));
        record.symbols = std::span(r.symbols).first(shown);
        record.grades = std::span(grades).first(std::min(grades.size(), shown));
        record.truncated = r.truncated;
        record.unread = r.unread;
        record.unreadGrades = unreadGrades;
        out << QByteArray::fromStdString(reader::RecordJson(record)) << '\n';
    }
    // Never on standard output in text: a line there is a text read.
    if (!o.json && !r.error)
        for (std::size_t k = 0; k < r.unread.size() && k < r.unreadGrades.size(); ++k)
            err << lead << UnreadDetails(r.unread[k], r.unreadGrades[k], o.language) << '\n';
    if (r.error) {
        if (!o.json) err << label << ": " << r.error->text(o.language) << '\n';
        status = kExitError;
    } else if (r.symbols.empty()) {
        // Symbols located but unread were named above: the picture still gave no text.
        if (!o.json && !o.quiet && r.unread.empty()) err << lead << NothingFound(o, r) << '\n';
        status = kExitNotDecoded;
    } else if (o.raw) {
        for (std::size_t k = 0; k < shown; ++k)
            out << QByteArray::fromStdString(r.symbols[k].text) << '\n';
    } else if (!o.json) {
        for (std::size_t k = 0; k < shown; ++k) {
            out << lead << Shown(r.symbols[k].text);
            if (k < r.grades.size()) out << '\t' << GradeDetails(r.grades[k], o.language);
            out << '\n';
        }
    }
    if (r.truncated && !r.error) {
        // Never silent: symbols may be missing, so the picture cannot count as read whole.
        err << Shown(name) << ": "
            << Tr(o.language,
                  QStringLiteral(
                      "the search stopped before covering the whole picture (far more "
                      "bar-like regions than a real sheet holds, or bars too blurred to read "
                      "in the time they get); symbols may be missing"),
                  QStringLiteral("查找未覆盖整幅图片（类似条码的区域远多于实际页面，"
                                 "或条码过于模糊，限时内未能读出）；可能漏读条码"))
            << '\n';
        status = std::max(status, static_cast<int>(kExitNotDecoded));
    }
    if (r.reducedDpi > 0 && !o.quiet) {
        // The page is read all the same, only less finely than asked.
        err << label << ": "
            << Tr(o.language,
                  QStringLiteral("drawn at %1 dpi, not %2: the most at which the page stays "
                                 "within %3 pixels"),
                  QStringLiteral("按 %1 dpi 绘制，而非 %2：页面不超过 %3 像素的最大分辨率"))
                   .arg(r.reducedDpi)
                   .arg(o.dpi > 0 ? o.dpi : documents::kDefaultDpi)
                   .arg(host::kMaxPicturePixels)
            << '\n';
    }
    if (r.annotateFailure) {
        err << label << ": " << *r.annotateFailure << '\n';
        status = kExitError;
    }
    return status;
}

}  // namespace

int RunAutomatic(const Options& options, const NextName& next, bool prefix, Sink& out, Sink& err,
                 bool* found) {
    AnnotateFolder folder;
    if (const auto failure = folder.open(options)) {
        err << *failure;
        return kExitError;
    }
    const QList<QByteArray> annotateBases = AnnotateBases(options);
    const int jobs = options.jobs > 0 ? options.jobs : std::max(1, QThread::idealThreadCount());

    // The names are taken one at a time as workers come free; a picture's small result waits
    // here for its turn, and no worker runs further ahead of the printed ones than `window`,
    // so a list of any length needs no more memory than that.
    struct Slot {
        QByteArray name;
        QByteArray notes;  // for stderr, before the picture's results
        std::optional<std::vector<PictureResult>> results;
        bool end = false;  // no picture: the notes after the last name
    };
    std::size_t window = 4 * static_cast<std::size_t>(jobs) + 16;
    // Each result read ahead holds its annotated picture until printed.
    if (options.oneshot && !annotateBases.isEmpty()) window = 2 * static_cast<std::size_t>(jobs);
    std::mutex mutex;
    std::condition_variable ready, room;
    std::deque<Slot> queue;
    std::size_t first = 0;  // the index of queue.front()
    bool ended = false;
    std::atomic<bool> stop{false};
    // One worker at a time takes a name (reading a list may wait on a pipe); the printing
    // goes on meanwhile.
    std::mutex naming;
    const auto work = [&] {
        while (true) {
            std::unique_lock named(naming);
            {
                std::unique_lock lock(mutex);
                room.wait(lock, [&] { return stop || ended || queue.size() < window; });
                if (stop || ended) return;
            }
            Slot slot;
            const bool more = next(slot.name, slot.notes);
            std::unique_lock lock(mutex);
            const std::size_t index = first + queue.size();
            if (!more) {
                slot.end = true;
                slot.results.emplace();
                ended = true;
                queue.push_back(std::move(slot));
                ready.notify_all();
                room.notify_all();
                return;
            }
            const QByteArray name = slot.name;
            queue.push_back(std::move(slot));
            lock.unlock();
            named.unlock();
            std::vector<PictureResult> r = ReadFile(
                options, name, folder, annotateBases.value(static_cast<qsizetype>(index)), stop);
            lock.lock();
            queue[index - first].results = std::move(r);
            ready.notify_all();
        }
    };
    std::vector<std::thread> workers;
    try {
        for (int w = 0; w < jobs; ++w) workers.emplace_back(work);
    } catch (const std::system_error&) {
        // No room for another thread (a memory limit): the ones started do the work, or this
        // one when none could start, every result then waiting for the printing below.
        if (workers.empty()) {
            window = std::numeric_limits<std::size_t>::max();
            work();
        }
    }

    int status = kExitDecoded;
    while (true) {
        Slot slot;
        {
            std::unique_lock lock(mutex);
            ready.wait(lock, [&] { return !queue.empty() && queue.front().results.has_value(); });
            slot = std::move(queue.front());
            queue.pop_front();
            ++first;
            room.notify_all();
        }
        err << slot.notes;
        if (slot.end) break;
        bool done = false;
        for (PictureResult& r : *slot.results) {
            if (r.pendingCopy) {
                r.annotateFailure = WriteAnnotated(r.pendingCopy->picture, r.pendingCopy->format,
                                                   folder, r.pendingCopy->base, options.language);
                r.pendingCopy.reset();
            }
            status = std::max(status, Print(options, slot.name, prefix, r, out, err));
            if (options.oneshot && !r.error && !r.symbols.empty()) {
                done = true;
                break;
            }
        }
        if (!out.flush() || !err.flush()) break;
        if (done) {
            if (found) *found = true;
            status = kExitDecoded;
            break;
        }
    }
    {
        const std::lock_guard lock(mutex);
        stop = true;
        room.notify_all();
    }
    for (auto& t : workers) t.join();
    return status;
}

}  // namespace scan39::cli
