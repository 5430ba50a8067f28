#include "annotate_p.h"

#include "io_p.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QImageWriter>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "scan39/documents/new_file.h"

namespace scan39::cli {

namespace {

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

}  // namespace

AnnotateFolder::~AnnotateFolder() {
    if (fd >= 0) ::close(fd);
}

std::optional<QString> AnnotateFolder::open(const Options& o) {
    if (!o.annotateDir) return std::nullopt;
    const QByteArray& dir = o.annotateDirBytes;
    struct stat self {};
    if ((::mkdir(dir.constData(), 0777) == 0 || errno == EEXIST) &&
        (fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) >= 0 &&
        ::fstat(fd, &self) == 0) {
        for (const QByteArray& name : o.pictureBytes) {
            if (name == "-") continue;
            const qsizetype slash = name.lastIndexOf('/');
            const QByteArray parent = slash < 0 ? QByteArrayLiteral(".") : name.left(slash + 1);
            struct stat st {};
            if (::stat(parent.constData(), &st) == 0 && st.st_dev == self.st_dev &&
                st.st_ino == self.st_ino)
                reserved.insert(name.mid(slash + 1));
        }
        return std::nullopt;
    }
    return Tr(o.language, QStringLiteral("scan39: cannot use the folder %1 (%2)\n"),
              QStringLiteral("scan39：无法使用文件夹 %1（%2）\n"))
        .arg(QFile::decodeName(Shown(o.annotateDirBytes)),
             QString::fromLocal8Bit(std::strerror(errno)));
}

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
        QString text = QString::fromLatin1(s.text.data(), static_cast<qsizetype>(s.text.size()));
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

// Never opens an existing file, never follows a link.
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
    int error = documents::ClaimNewName(
        base, extension,
        [&](const QByteArray& name) {
            if (folder.reserved.contains(name)) return EEXIST;
            fd = ::openat(folder.fd, name.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            return fd < 0 ? errno : 0;
        },
        &leaf);
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
        .arg(QFile::decodeName(Shown(leaf.isEmpty() ? base + extension : leaf)),
             QString::fromLocal8Bit(std::strerror(error)));
}

}  // namespace scan39::cli
