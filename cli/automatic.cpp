// scan39 without a box: every symbol of each picture through the reader, several pictures at
// a time, results in the order of the arguments.

#include <QImage>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "annotate_p.h"
#include "grade_p.h"
#include "runner_p.h"
#include "scan39/reader.h"
#include "scan39/record_json.h"

namespace scan39::cli {

namespace {

struct PictureResult {
    std::optional<LoadError> error;
    std::vector<reader::Symbol> symbols;
    std::vector<GradeSummary> grades;  // one per symbol with --grade
    bool truncated = false;            // the reader did not search the whole picture
    int width = 0;
    int height = 0;
    std::optional<QString> annotateFailure;
    int page = 0;   // from 1 in a file of several pages; 0 for a file of one
    int pages = 0;  // with page: how many the file has
};

reader::ReadOptions ReaderOptions(const Options& o) {
    reader::ReadOptions r;
    r.checkCharacter =
        o.checkDigit ? reader::CheckCharacter::kRequired : reader::CheckCharacter::kOff;
    r.fullAscii = o.fullAscii;
    r.effort = o.fastEffort ? reader::Effort::kFast : reader::Effort::kThorough;
    r.polarity = o.polarity;
    return r;
}

// The loader's pictures are RGB32 (0xffRRGGBB words) or, when asked for grey, perhaps
// Grayscale8; the reader takes either as it lies.
reader::ImageView ViewOf(QImage& picture) {
    if (picture.format() == QImage::Format_Grayscale8)
        return {picture.constBits(), picture.width(), picture.height(), picture.bytesPerLine(),
                reader::PixelFormat::kGrey};
    if (picture.format() != QImage::Format_RGB32) picture.convertTo(QImage::Format_RGB32);
    return {picture.constBits(), picture.width(), picture.height(), picture.bytesPerLine(),
            reader::PixelFormat::kArgb32};
}

// `load` is given the tone the picture is needed in: colour only to draw the annotation on.
PictureResult ReadPicture(const Options& options,
                          const std::function<host::PictureRef(host::Tone)>& load,
                          const QByteArray& format, const AnnotateFolder& folder,
                          const QByteArray& annotateBase) {
    PictureResult result;
    try {
        QImage picture =
            load(annotateBase.isEmpty() ? host::Tone::Grey : host::Tone::Colour)->image();
        result.width = picture.width();
        result.height = picture.height();
        std::optional<reader::GreyImage> grey(std::in_place, ViewOf(picture));
        // Held no longer than needed: only the annotation draws on it, unless the reader reads
        // its grey pixels in place.
        if (annotateBase.isEmpty() && picture.format() != QImage::Format_Grayscale8)
            picture = QImage();
        const reader::GreyView& view = grey->view();
        reader::ReadResult read = reader::ReadAll(view, ReaderOptions(options));
        result.symbols = std::move(read.symbols);
        result.truncated = read.truncated;
        result.grades = GradeSymbols(view, result.symbols, options);
        grey.reset();
        if (!annotateBase.isEmpty()) {
            Annotate(picture, result.symbols, result.grades, options.language);
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
        pages.emplace(name, true, options.dpi > 0 ? options.dpi : host::kDefaultDpi,
                      options.fileSeconds > 0 ? options.fileSeconds : host::kDefaultFileSeconds);
    } catch (const LoadError& e) {
        failed.error = e;
    } catch (const std::bad_alloc&) {
        failed.error = OutOfMemory();
    }
    if (failed.error) return {failed};
    const int count = pages->count();
    if (count == 1)
        return {ReadPicture(
            options, [&](host::Tone tone) { return pages->load(0, tone); }, pages->format(), folder,
            annotateBase)};
    std::vector<PictureResult> results;
    for (int i = 0; i < count && !stop; ++i) {
        // "name-p2.png" beside "name.png" in the folder.
        const QByteArray pageBase =
            annotateBase.isEmpty() ? annotateBase : annotateBase + "-p" + QByteArray::number(i + 1);
        results.push_back(ReadPicture(
            options, [&](host::Tone tone) { return pages->load(i, tone); }, QByteArray(), folder,
            pageBase));
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
    const QByteArray label =
        r.page == 0 ? name
                    : name + Tr(o.language, QStringLiteral(" page %1"), QStringLiteral(" 第 %1 页"))
                                 .arg(r.page)
                                 .toUtf8();
    const QByteArray lead = prefix || r.page != 0 ? label + ": " : QByteArray();
    if (o.json) {
        const QByteArray error = r.error ? r.error->text(o.language).toUtf8() : QByteArray();
        std::vector<std::string> grades;
        for (const GradeSummary& g : r.grades) grades.push_back(g.json);
        reader::Record record;
        record.file = std::string_view(name.constData(), static_cast<std::size_t>(name.size()));
        record.page = r.page;
        record.pages = r.pages;
        if (r.error)
            record.error =
                std::string_view(error.constData(), static_cast<std::size_t>(error.size()));
        record.symbols = r.symbols;
        record.grades = grades;
        record.truncated = r.truncated;
        out << QByteArray::fromStdString(reader::RecordJson(record)) << '\n';
    }
    if (r.error) {
        if (!o.json) err << label << ": " << r.error->text(o.language) << '\n';
        status = kExitError;
    } else if (r.symbols.empty()) {
        if (!o.json) err << lead << NothingFound(o, r) << '\n';
        status = kExitNotDecoded;
    } else if (!o.json) {
        for (std::size_t k = 0; k < r.symbols.size(); ++k) {
            out << lead << QByteArray::fromStdString(r.symbols[k].text);
            if (k < r.grades.size()) out << '\t' << ShortGrade(r.grades[k], o.language);
            out << '\n';
        }
    }
    if (r.truncated && !r.error) {
        // Never silent: symbols may be missing, so the picture cannot count as read whole.
        err << name << ": "
            << Tr(o.language,
                  QStringLiteral(
                      "the search stopped before covering the whole picture (far more "
                      "bar-like regions than a real sheet holds); symbols may be missing"),
                  QStringLiteral(
                      "查找未覆盖整幅图片（类似条码的区域远多于实际页面）；可能漏读条码"))
            << '\n';
        status = std::max(status, static_cast<int>(kExitNotDecoded));
    }
    if (r.annotateFailure) {
        err << label << ": " << *r.annotateFailure << '\n';
        status = kExitError;
    }
    return status;
}

}  // namespace

int RunAutomatic(const Options& options, Sink& out, Sink& err) {
    AnnotateFolder folder;
    if (const auto failure = folder.open(options)) {
        err << *failure;
        return kExitError;
    }
    const QList<QByteArray>& names = options.pictureBytes;
    const QList<QByteArray> annotateBases = AnnotateBases(options);
    const std::size_t count = static_cast<std::size_t>(names.size());
    const int jobs = static_cast<int>(std::min<std::size_t>(
        count, static_cast<std::size_t>(
                   options.jobs > 0 ? options.jobs : std::max(1, QThread::idealThreadCount()))));

    // Each worker holds one picture at a time; only the small results wait here for their turn.
    std::mutex mutex;
    std::condition_variable ready;
    std::vector<std::optional<std::vector<PictureResult>>> results(count);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    const auto work = [&] {
        for (std::size_t i; !stop && (i = next++) < count;) {
            std::vector<PictureResult> r =
                ReadFile(options, names[static_cast<qsizetype>(i)], folder,
                         annotateBases.value(static_cast<qsizetype>(i)), stop);
            const std::lock_guard lock(mutex);
            results[i] = std::move(r);
            ready.notify_all();
        }
    };
    std::vector<std::thread> workers;
    try {
        for (int w = 0; w < jobs; ++w) workers.emplace_back(work);
    } catch (const std::system_error&) {
        // No room for another thread (a memory limit): the ones started do the work, or this
        // one when none could start.
        if (workers.empty()) work();
    }

    int status = kExitDecoded;
    const bool prefix = count > 1 || options.nameEach;
    for (std::size_t i = 0; i < count; ++i) {
        std::vector<PictureResult> pages;
        {
            std::unique_lock lock(mutex);
            ready.wait(lock, [&] { return results[i].has_value(); });
            pages = std::move(*results[i]);
            results[i].reset();
        }
        for (const PictureResult& r : pages)
            status = std::max(
                status, Print(options, names[static_cast<qsizetype>(i)], prefix, r, out, err));
        if (!out.flush() || !err.flush()) {
            stop = true;
            break;
        }
    }
    for (auto& t : workers) t.join();
    return status;
}

}  // namespace scan39::cli
