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
#include <QPainter>
#include <QPolygonF>
#include <QSet>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "runner_p.h"
#include "scan39/reader.h"

namespace scan39::cli {

namespace {

struct PictureResult {
    std::optional<LoadError> error;
    std::vector<reader::Symbol> symbols;
    int width = 0;
    int height = 0;
    std::optional<QString> annotateFailure;
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

std::vector<std::uint8_t> GreyOf(const QImage& rgb) {
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(rgb.width()) *
                                   static_cast<std::size_t>(rgb.height()));
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        std::uint8_t* to = grey.data() + static_cast<std::size_t>(y) * rgb.width();
        for (int x = 0; x < rgb.width(); ++x)
            to[x] = reader::Grey(static_cast<std::uint8_t>(qRed(row[x])),
                                 static_cast<std::uint8_t>(qGreen(row[x])),
                                 static_cast<std::uint8_t>(qBlue(row[x])));
    }
    return grey;
}

QString SymbolText(const reader::Symbol& s) {
    return QString::fromLatin1(s.text.data(), static_cast<qsizetype>(s.text.size()));
}

// Each symbol outlined in red with its text on a white label.
void Annotate(QImage& picture, const std::vector<reader::Symbol>& symbols) {
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const int shorter = std::min(picture.width(), picture.height());
    const qreal penWidth = std::max(2, shorter / 300);
    QFont font;
    font.setPixelSize(std::clamp(shorter / 30, 12, 64));
    painter.setFont(font);
    const QFontMetrics metrics(font);
    for (const auto& s : symbols) {
        QPolygonF outline;
        for (const auto& c : s.corners) outline << QPointF(c.x, c.y);
        painter.setPen(QPen(QColor(255, 0, 0), penWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawPolygon(outline);
        const QString text = SymbolText(s);
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

// Writes the PNG under its exact name; the reason when it fails.
std::optional<QString> WritePng(const QImage& picture, const QByteArray& path, Language lang) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "PNG"))
        return Tr(lang, QStringLiteral("cannot make the annotated picture"),
                  QStringLiteral("无法生成标注图片"));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    int error = fd < 0 ? errno : 0;
    for (qsizetype done = 0; error == 0 && done < png.size();) {
        const ssize_t n =
            ::write(fd, png.constData() + done, static_cast<size_t>(png.size() - done));
        if (n >= 0) {
            done += n;
        } else if (errno != EINTR) {
            error = errno;
        }
    }
    if (fd >= 0 && ::close(fd) != 0 && error == 0) error = errno;
    if (error == 0) return std::nullopt;
    return Tr(lang, QStringLiteral("cannot write the annotated picture %1 (%2)"),
              QStringLiteral("无法写出标注图片 %1（%2）"))
        .arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(error)));
}

PictureResult ReadPicture(const Options& options, const QByteArray& name,
                          const QByteArray& annotatePath) {
    PictureResult result;
    try {
        QImage picture = LoadNamedPicture(name, true)->image();
        result.width = picture.width();
        result.height = picture.height();
        std::vector<std::uint8_t> grey = GreyOf(picture);
        // Held no longer than needed: only the annotation draws on it.
        if (annotatePath.isEmpty()) picture = QImage();
        const reader::GreyView view{grey.data(), result.width, result.height, result.width};
        result.symbols = reader::Read(view, ReaderOptions(options));
        grey = {};
        std::sort(result.symbols.begin(), result.symbols.end(), [](const auto& a, const auto& b) {
            return std::pair(a.corners[0].y, a.corners[0].x) <
                   std::pair(b.corners[0].y, b.corners[0].x);
        });
        if (!annotatePath.isEmpty()) {
            Annotate(picture, result.symbols);
            result.annotateFailure = WritePng(picture, annotatePath, options.language);
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

// One PNG per picture in the folder: the picture's name without its folder and extension;
// "stdin" for standard input; "-2", "-3" added when names repeat.
QList<QByteArray> AnnotatePaths(const Options& options) {
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
        paths.append(options.annotateDirBytes + '/' + unique + ".png");
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
    const QByteArray lead = prefix ? name + ": " : QByteArray();
    if (r.error) {
        if (o.json) {
            out << "{" << JsonFileMembers(name)
                << ",\"error\":" << JsonString(r.error->text(o.language)) << "}\n";
        } else {
            err << name << ": " << r.error->text(o.language) << '\n';
        }
        status = kExitError;
    } else if (r.symbols.empty()) {
        if (o.json) {
            out << "{" << JsonFileMembers(name) << ",\"text\":null}\n";
        } else {
            err << lead << NothingFound(o, r) << '\n';
        }
        status = kExitNotDecoded;
    } else {
        for (const auto& s : r.symbols) {
            if (!o.json) {
                out << lead << QByteArray::fromStdString(s.text) << '\n';
                continue;
            }
            out << "{" << JsonFileMembers(name) << ",\"text\":" << JsonString(SymbolText(s))
                << ",\"position\":[";
            for (std::size_t i = 0; i < s.corners.size(); ++i)
                out << (i ? ",[" : "[") << Number(s.corners[i].x) << ',' << Number(s.corners[i].y)
                    << ']';
            out << "],\"angle\":" << Number(s.angle) << ",\"lines\":" << s.lines << "}\n";
        }
    }
    if (r.annotateFailure) {
        err << name << ": " << *r.annotateFailure << '\n';
        status = kExitError;
    }
    return status;
}

std::optional<QString> PrepareAnnotateDir(const Options& o) {
    if (!o.annotateDir) return std::nullopt;
    if (::mkdir(o.annotateDirBytes.constData(), 0777) == 0 || errno == EEXIST) return std::nullopt;
    return Tr(o.language, QStringLiteral("scan39: cannot make the folder %1 (%2)\n"),
              QStringLiteral("scan39：无法创建文件夹 %1（%2）\n"))
        .arg(*o.annotateDir, QString::fromLocal8Bit(std::strerror(errno)));
}

}  // namespace

int RunAutomatic(const Options& options, Sink& out, Sink& err) {
    if (const auto failure = PrepareAnnotateDir(options)) {
        err << *failure;
        return kExitError;
    }
    const QList<QByteArray>& names = options.pictureBytes;
    const QList<QByteArray> annotatePaths = AnnotatePaths(options);
    const std::size_t count = static_cast<std::size_t>(names.size());
    const int jobs = static_cast<int>(std::min<std::size_t>(
        count, static_cast<std::size_t>(
                   options.jobs > 0 ? options.jobs : std::max(1, QThread::idealThreadCount()))));

    // Each worker holds one picture at a time; only the small results wait here for their turn.
    std::mutex mutex;
    std::condition_variable ready;
    std::vector<std::optional<PictureResult>> results(count);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    const auto work = [&] {
        for (std::size_t i; !stop && (i = next++) < count;) {
            PictureResult r = ReadPicture(options, names[static_cast<qsizetype>(i)],
                                          annotatePaths.value(static_cast<qsizetype>(i)));
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
        PictureResult r;
        {
            std::unique_lock lock(mutex);
            ready.wait(lock, [&] { return results[i].has_value(); });
            r = std::move(*results[i]);
            results[i].reset();
        }
        status =
            std::max(status, Print(options, names[static_cast<qsizetype>(i)], prefix, r, out, err));
        if (!out.flush() || !err.flush()) {
            stop = true;
            break;
        }
    }
    for (auto& t : workers) t.join();
    return status;
}

}  // namespace scan39::cli
