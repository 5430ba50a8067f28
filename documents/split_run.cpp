// Splitting one file: its pages read for their symbols, its parts planned, then written.

#include <fcntl.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "scan39/documents/document.h"
#include "scan39/documents/new_file.h"
#include "scan39/documents/split.h"
#include "scan39/host/picture_error.h"
#include "scan39/reader.h"
#include "scanned_p.h"

namespace scan39::documents {

namespace {

bool IsTiff(const QByteArray& bytes) {
    return bytes.startsWith(QByteArrayLiteral("II*\0")) ||
           bytes.startsWith(QByteArrayLiteral("MM\0*")) ||
           bytes.startsWith(QByteArrayLiteral("II+\0")) ||
           bytes.startsWith(QByteArrayLiteral("MM\0+"));
}

QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// A picture's texts, read as the reader reads a sheet.
std::vector<std::string> TextsOn(QImage picture, bool fast) {
    if (picture.format() != QImage::Format_Grayscale8) picture.convertTo(QImage::Format_Grayscale8);
    std::vector<std::string> texts;
    reader::ReadOptions options;
    options.effort = fast ? reader::Effort::kFast : reader::Effort::kThorough;
    const reader::ImageView view(picture.constBits(), picture.width(), picture.height(),
                                 picture.bytesPerLine(), reader::PixelFormat::kGrey);
    for (reader::Symbol& symbol : reader::ReadAll(view, options).symbols)
        texts.push_back(std::move(symbol.text));
    return texts;
}

}  // namespace

SplitResult PlanFile(const QByteArray& input, const SplitOptions& options) {
    SplitResult result;
    result.input = input;
    const QString shown = QFile::decodeName(input);
    struct stat st {};
    if (::stat(input.constData(), &st) != 0) {
        result.error = QStringLiteral("cannot read the file (%1)").arg(SystemError(errno));
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.error = QStringLiteral("not an ordinary file");
        return result;
    }
    QFile file(shown);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("cannot read the file (%1)").arg(file.errorString());
        return result;
    }
    result.bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.error = QStringLiteral("cannot read the file (%1)").arg(file.errorString());
        return result;
    }
    result.isPdf = IsPdf(result.bytes);
    if (!result.isPdf && !IsTiff(result.bytes)) {
        result.error = QStringLiteral("neither a PDF nor a TIFF");
        return result;
    }
    std::vector<PageFinding> findings;
    try {
        const Document document(result.bytes, shown, options.dpi,
                                options.fileSeconds > 0 ? options.fileSeconds : kSplitFileSeconds);
        // A scanned page is its JPEG, decoded at the size that suffices; anything else is
        // drawn.
        const std::optional<ScannedPdf> scanned =
            result.isPdf ? std::optional<ScannedPdf>(std::in_place, result.bytes) : std::nullopt;
        result.pageCount = document.pageCount();
        for (int i = 0; i < result.pageCount; ++i) {
            PageFinding finding;
            try {
                int drawn = 0;
                std::optional<QImage> picture;
                if (scanned) picture = scanned->page(i, options.dpi, shown);
                if (!picture) picture = document.loadPage(i, host::Tone::Grey, &drawn)->image();
                finding.texts = TextsOn(std::move(*picture), options.fast);
            } catch (const host::PictureError& e) {
                finding.error = e.message(host::MessageLanguage::English);
            } catch (const std::bad_alloc&) {
                finding.error = QStringLiteral("out of memory");
            }
            if (finding.error) result.pageErrors.emplace_back(i, *finding.error);
            findings.push_back(std::move(finding));
        }
    } catch (const host::PictureError& e) {
        result.error = e.message(host::MessageLanguage::English);
        return result;
    }
    // An unreadable page may have been a separator: with --on-error stop nothing is cut.
    if (!(options.rules.stopOnError && !result.pageErrors.empty()))
        result.parts = PlanParts(findings, options.rules);
    return result;
}

void WriteParts(SplitResult& result, int dirFd, bool dryRun, std::vector<QByteArray>& taken) {
    if (result.error || result.parts.empty()) return;
    QByteArray stem = result.input.mid(result.input.lastIndexOf('/') + 1);
    QByteArray extension = result.isPdf ? QByteArrayLiteral(".pdf") : QByteArrayLiteral(".tif");
    if (const qsizetype dot = stem.lastIndexOf('.'); dot > 0) {
        const QByteArray own = stem.mid(dot);
        const QByteArray lower = own.toLower();
        if (lower == (result.isPdf ? ".pdf" : ".tif") || (!result.isPdf && lower == ".tiff"))
            extension = own;
        stem.truncate(dot);
    }
    if (stem.isEmpty() || stem.startsWith('.')) stem.prepend("part");
    const int width =
        std::max<int>(3, int(QByteArray::number(qsizetype(result.parts.size())).size()));
    const auto isTaken = [&](const QByteArray& leaf) {
        return std::find(taken.begin(), taken.end(), leaf) != taken.end();
    };
    for (size_t i = 0; i < result.parts.size(); ++i) {
        SplitPart& part = result.parts[i];
        const QByteArray base =
            part.name.isEmpty()
                ? stem + '-' + QByteArray::number(qsizetype(i + 1)).rightJustified(width, '0')
                : SafeLeaf(part.name);
        int error = 0;
        if (dryRun) {
            error = ClaimNewName(
                base, extension,
                [&](const QByteArray& leaf) {
                    struct stat st {};
                    if (isTaken(leaf) ||
                        ::fstatat(dirFd, leaf.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                        return EEXIST;
                    return 0;
                },
                &part.leaf);
        } else {
            QByteArray bytes;
            try {
                bytes = result.isPdf ? PdfPart(result.bytes, part.pages)
                                     : TiffPart(result.bytes, part.pages);
            } catch (const std::exception& e) {
                result.writeError = QStringLiteral("cannot make the part of pages %1..%2: %3")
                                        .arg(part.pages.front() + 1)
                                        .arg(part.pages.back() + 1)
                                        .arg(QString::fromUtf8(e.what()));
                return;
            }
            error = WriteNewFile(dirFd, base, extension, bytes, &part.leaf, isTaken);
        }
        if (error != 0) {
            result.writeError = QStringLiteral("cannot write %1 (%2)")
                                    .arg(QFile::decodeName(base + extension), SystemError(error));
            return;
        }
        taken.push_back(part.leaf);
        ++result.written;
    }
}

}  // namespace scan39::documents
