// scan39 without a box: every symbol of each picture through the reader, several pictures at
// a time, results in the order of the arguments.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPolygonF>
#include <QSet>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "grade_p.h"
#include "runner_p.h"
#include "scan39/reader.h"

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
    int page = 0;  // from 1 in a file of several pages; 0 for a file of one
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

// The loader's pictures are RGB32 (0xffRRGGBB words), which the reader takes as they lie.
reader::ImageView ViewOf(QImage& picture) {
    if (picture.format() != QImage::Format_RGB32) picture.convertTo(QImage::Format_RGB32);
    return {picture.constBits(), picture.width(), picture.height(), picture.bytesPerLine(),
            reader::PixelFormat::kArgb32};
}

QString SymbolText(const reader::Symbol& s) {
    return QString::fromLatin1(s.text.data(), static_cast<qsizetype>(s.text.size()));
}

// Each symbol outlined in red with its text (and grade) on a white label.
void Annotate(QImage& picture, const std::vector<reader::Symbol>& symbols,
              const std::vector<GradeSummary>& grades, Language language) {
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const int shorter = std::min(picture.width(), picture.height());
    const qreal penWidth = std::max(2, shorter / 300);
    QFont font;
    font.setPixelSize(std::clamp(shorter / 30, 12, 64));
    painter.setFont(font);
    const QFontMetrics metrics(font);
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        const reader::Symbol& s = symbols[i];
        QPolygonF outline;
        for (const auto& c : s.corners) outline << QPointF(c.x, c.y);
        painter.setPen(QPen(QColor(255, 0, 0), penWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawPolygon(outline);
        QString text = SymbolText(s);
        if (i < grades.size()) text += QStringLiteral("  ") + ShortGrade(grades[i], language);
        // On the symbol's middle: never outside the picture, never next to another symbol.
        QRectF label(0, 0, metrics.horizontalAdvance(text) + 8, metrics.height() + 4);
        QPointF middle;
        for (const auto& c : s.corners) middle += QPointF(c.x, c.y) / 4;
        label.moveCenter(middle);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 220));
        painter.drawRect(label);
        painter.setPen(QColor(200, 0, 0));
        painter.drawText(label, Qt::AlignCenter, text);
    }
}

// The folder for annotated copies, opened once: every copy is created in it by a name without
// a slash, so none lands elsewhere. The names of pictures read from that folder are never
// taken, not even when such a picture is missing.
struct AnnotateFolder {
    int fd = -1;
    QSet<QByteArray> reserved;
};

// The picture in the input's format where Qt writes it (JPEG and WebP at quality 90), PNG
// otherwise; the name's extension to go with it.
std::optional<std::pair<QByteArray, QByteArray>> Encode(const QImage& picture,
                                                        const QByteArray& inputFormat) {
    static const std::pair<const char*, const char*> kKept[] = {
        {"jpeg", ".jpg"}, {"bmp", ".bmp"}, {"tiff", ".tif"}, {"webp", ".webp"}};
    for (const auto& [format, extension] : kKept) {
        if (inputFormat != format) continue;
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        writer.setQuality(90);
        if (writer.canWrite() && writer.write(picture)) return std::pair(bytes, extension);
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "PNG")) return std::nullopt;
    return std::pair(png, QByteArrayLiteral(".png"));
}

// Creates a new file for the copy: `base` and the extension, or with "-2", "-3" added when
// that name exists. Never opens an existing file, never follows a link.
std::optional<QString> WriteAnnotated(const QImage& picture, const QByteArray& inputFormat,
                                      const AnnotateFolder& folder, const QByteArray& base,
                                      Language lang) {
    const auto encoded = Encode(picture, inputFormat);
    if (!encoded)
        return Tr(lang, QStringLiteral("cannot make the annotated picture"),
                  QStringLiteral("无法生成标注图片"));
    const auto& [bytes, extension] = *encoded;
    QByteArray leaf;
    int fd = -1;
    int error = 0;
    for (int n = 1; fd < 0 && error == 0; ++n) {
        leaf = base + (n > 1 ? '-' + QByteArray::number(n) : QByteArray()) + extension;
        if (leaf.contains('/') || leaf == "." || leaf == "..") {
            error = EINVAL;
        } else if (!folder.reserved.contains(leaf)) {
            fd = ::openat(folder.fd, leaf.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST && errno != EINTR) error = errno;
            if (n > 100000) error = EEXIST;
        }
    }
    for (qsizetype done = 0; error == 0 && done < bytes.size();) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n >= 0) {
            done += n;
        } else if (errno != EINTR) {
            error = errno;
        }
    }
    if (fd >= 0 && ::close(fd) != 0 && error == 0) error = errno;
    if (error == 0) return std::nullopt;
    // Ours alone, just created: a half-written copy is not left behind.
    if (fd >= 0) ::unlinkat(folder.fd, leaf.constData(), 0);
    return Tr(lang, QStringLiteral("cannot write the annotated picture %1 (%2)"),
              QStringLiteral("无法写出标注图片 %1（%2）"))
        .arg(QFile::decodeName(leaf), QString::fromLocal8Bit(std::strerror(error)));
}

PictureResult ReadPicture(const Options& options, const std::function<host::PictureRef()>& load,
                          const QByteArray& format, const AnnotateFolder& folder,
                          const QByteArray& annotateBase) {
    PictureResult result;
    try {
        QImage picture = load()->image();
        result.width = picture.width();
        result.height = picture.height();
        std::optional<reader::GreyImage> grey(std::in_place, ViewOf(picture));
        // Held no longer than needed: only the annotation draws on it.
        if (annotateBase.isEmpty()) picture = QImage();
        const reader::GreyView& view = grey->view();
        reader::ReadResult read = reader::ReadAll(view, ReaderOptions(options));
        result.symbols = std::move(read.symbols);
        result.truncated = read.truncated;
        std::sort(result.symbols.begin(), result.symbols.end(), [](const auto& a, const auto& b) {
            return std::pair(a.corners[0].y, a.corners[0].x) <
                   std::pair(b.corners[0].y, b.corners[0].x);
        });
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
        pages.emplace(name, true, options.dpi > 0 ? options.dpi : host::kDefaultDpi);
    } catch (const LoadError& e) {
        failed.error = e;
    } catch (const std::bad_alloc&) {
        failed.error = OutOfMemory();
    }
    if (failed.error) return {failed};
    const int count = pages->count();
    if (count == 1)
        return {ReadPicture(
            options, [&] { return pages->load(0); }, pages->format(), folder, annotateBase)};
    std::vector<PictureResult> results;
    for (int i = 0; i < count && !stop; ++i) {
        // "name-p2.png" beside "name.png" in the folder.
        const QByteArray pageBase =
            annotateBase.isEmpty() ? annotateBase : annotateBase + "-p" + QByteArray::number(i + 1);
        results.push_back(ReadPicture(
            options, [&] { return pages->load(i); }, QByteArray(), folder, pageBase));
        results.back().page = i + 1;
    }
    return results;
}

// One copy per picture in the folder: the picture's name without its folder and extension;
// "stdin" for standard input; "-2", "-3" added when names repeat.
QList<QByteArray> AnnotateBases(const Options& options) {
    QList<QByteArray> paths;
    if (!options.annotateDir) return paths;
    QSet<QByteArray> taken;
    for (const QByteArray& name : options.pictureBytes) {
        QByteArray base =
            name == "-" ? QByteArrayLiteral("stdin") : name.mid(name.lastIndexOf('/') + 1);
        const qsizetype dot = base.lastIndexOf('.');
        if (dot > 0) base.truncate(dot);
        if (base.isEmpty()) base = "picture";
        QByteArray unique = base;
        for (int n = 2; taken.contains(unique); ++n) unique = base + '-' + QByteArray::number(n);
        taken.insert(unique);
        paths.append(unique);
    }
    return paths;
}

QString Number(double v) {
    return QString::number(v, 'f', 1);
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
    const QString head = "{" + JsonFileMembers(name) +
                         (r.page == 0 ? QString() : QStringLiteral(",\"page\":%1").arg(r.page));
    if (r.error) {
        if (o.json) {
            out << head << ",\"error\":" << JsonString(r.error->text(o.language)) << "}\n";
        } else {
            err << label << ": " << r.error->text(o.language) << '\n';
        }
        status = kExitError;
    } else if (r.symbols.empty()) {
        if (o.json) {
            out << head << ",\"text\":null" << (r.truncated ? ",\"truncated\":true}\n" : "}\n");
        } else {
            err << lead << NothingFound(o, r) << '\n';
        }
        status = kExitNotDecoded;
    } else {
        for (std::size_t k = 0; k < r.symbols.size(); ++k) {
            const reader::Symbol& s = r.symbols[k];
            const GradeSummary* grade = k < r.grades.size() ? &r.grades[k] : nullptr;
            if (!o.json) {
                out << lead << QByteArray::fromStdString(s.text);
                if (grade != nullptr) out << '\t' << ShortGrade(*grade, o.language);
                out << '\n';
                continue;
            }
            out << head << ",\"text\":" << JsonString(SymbolText(s)) << ",\"position\":[";
            for (std::size_t i = 0; i < s.corners.size(); ++i)
                out << (i ? ",[" : "[") << Number(s.corners[i].x) << ',' << Number(s.corners[i].y)
                    << ']';
            out << "],\"angle\":" << Number(s.angle) << ",\"lines\":" << s.lines
                << SymbolJsonExtras(s, grade) << (r.truncated ? ",\"truncated\":true}\n" : "}\n");
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

class FolderDescriptor {
  public:
    FolderDescriptor() = default;
    FolderDescriptor(const FolderDescriptor&) = delete;
    FolderDescriptor& operator=(const FolderDescriptor&) = delete;
    ~FolderDescriptor() {
        if (fd >= 0) ::close(fd);
    }
    int fd = -1;
};

std::optional<QString> OpenAnnotateFolder(const Options& o, AnnotateFolder& folder,
                                          FolderDescriptor& owner) {
    if (!o.annotateDir) return std::nullopt;
    const QByteArray& dir = o.annotateDirBytes;
    struct stat self {};
    if ((::mkdir(dir.constData(), 0777) == 0 || errno == EEXIST) &&
        (owner.fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) >= 0 &&
        ::fstat(owner.fd, &self) == 0) {
        folder.fd = owner.fd;
        for (const QByteArray& name : o.pictureBytes) {
            if (name == "-") continue;
            const qsizetype slash = name.lastIndexOf('/');
            const QByteArray parent = slash < 0 ? QByteArrayLiteral(".") : name.left(slash + 1);
            struct stat st {};
            if (::stat(parent.constData(), &st) == 0 && st.st_dev == self.st_dev &&
                st.st_ino == self.st_ino)
                folder.reserved.insert(name.mid(slash + 1));
        }
        return std::nullopt;
    }
    return Tr(o.language, QStringLiteral("scan39: cannot use the folder %1 (%2)\n"),
              QStringLiteral("scan39：无法使用文件夹 %1（%2）\n"))
        .arg(*o.annotateDir, QString::fromLocal8Bit(std::strerror(errno)));
}

}  // namespace

int RunAutomatic(const Options& options, Sink& out, Sink& err) {
    AnnotateFolder folder;
    FolderDescriptor folderOwner;
    if (const auto failure = OpenAnnotateFolder(options, folder, folderOwner)) {
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
    const bool prefix = count > 1;
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
