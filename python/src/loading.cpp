// The reader module's files and encoded bytes through the picture loader and documents.

#include "loading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QRegularExpression>
#include <cerrno>
#include <string>
#include <vector>

#include "pictures.h"
#include "released.h"
#include "scan39/documents/document.h"
#include "scan39/documents/split.h"
#include "scan39/host/picture_error.h"

namespace py = pybind11;

namespace scan39::python {

namespace {

// The loader and the documents keep their bytes in a QByteArray of their own.
QByteArray Bytes(const Encoded& encoded) {
    return QByteArray(encoded.data.data(), static_cast<qsizetype>(encoded.data.size()));
}

class LoadedPages : public EncodedPages {
  public:
    explicit LoadedPages(Pages pages) : pages_(std::move(pages)) {}
    int count() const override { return pages_.document->pageCount(); }
    GreyPicture grey(int index) const override {
        const host::PictureRef picture = LoadPage(pages_, index, host::Tone::Grey);
        return GreyOf(picture);
    }

  private:
    Pages pages_;
};

}  // namespace

const bool kReadsFiles = true;

void CheckPixelCount(std::int64_t width, std::int64_t height) {
    if (width > host::kMaxPicturePixels || height > host::kMaxPicturePixels ||
        width * height > host::kMaxPicturePixels) {
        throw FailureOf(
            host::PictureError(host::PictureFault::TooLarge,
                               {.what = QStringLiteral("图片"), .width = width, .height = height}),
            QString());
    }
}

std::unique_ptr<EncodedPages> OpenPages(const Encoded& encoded, int dpi, int fileSeconds) {
    return std::make_unique<LoadedPages>(encoded.path
                                             ? PagesOfPath(Bytes(encoded), dpi, fileSeconds)
                                             : PagesOfData(Bytes(encoded), dpi, fileSeconds));
}

GreyPicture LoadedGrey(const Encoded& encoded) {
    const host::PictureRef picture =
        encoded.path ? LoadPath(Bytes(encoded)) : LoadData(Bytes(encoded));
    return GreyOf(picture);
}

py::list SplitFiles(const py::list& inputs, const py::bytes& out, const py::list& separators,
                    const std::string& separatorPattern, const std::string& nameFrom,
                    bool keepSeparators, bool stopOnError, bool dryRun, int dpi, bool fast) {
    documents::SplitOptions options;
    options.rules.separators.clear();
    for (const py::handle& s : separators)
        options.rules.separators.append(QString::fromStdString(s.cast<std::string>()));
    const auto regex = [](const std::string& text, QRegularExpression& into) {
        if (text.empty()) return;
        into = QRegularExpression(QString::fromStdString(text));
        if (!into.isValid())
            throw py::value_error("not a regular expression: " + text + " (" +
                                  into.errorString().toStdString() + ")");
    };
    regex(separatorPattern, options.rules.separatorPattern);
    regex(nameFrom, options.rules.nameFrom);
    options.rules.keepSeparators = keepSeparators;
    options.rules.stopOnError = stopOnError;
    options.dpi = dpi;
    options.fast = fast;
    if (dpi < documents::kMinDpi || dpi > documents::kMaxDpi)
        throw py::value_error("dpi must be from " + std::to_string(documents::kMinDpi) + " to " +
                              std::to_string(documents::kMaxDpi));
    std::vector<QByteArray> names;
    for (const py::handle& b : inputs)
        names.push_back(QByteArray::fromStdString(b.cast<std::string>()));
    const QByteArray folder = QByteArray::fromStdString(std::string(out));
    std::vector<std::string> records;
    if (!dryRun) ::mkdir(folder.constData(), 0777);
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0 && !(dryRun && errno == ENOENT)) {
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, folder.constData());
        throw py::error_already_set();
    }
    {
        const GilReleased unlocked;
        std::vector<QByteArray> taken;
        for (const QByteArray& name : names) {
            documents::SplitResult result = documents::PlanFile(name, options);
            documents::WriteParts(result, dirFd, dryRun, taken);
            for (std::string& record : documents::SplitRecords(result, folder))
                records.push_back(std::move(record));
            if (stopOnError && (result.error || !result.pageErrors.empty())) break;
        }
        if (dirFd >= 0) ::close(dirFd);
    }
    py::list list;
    for (const std::string& record : records) list.append(py::str(record));
    return list;
}

void StopLoadingForExit() {
    documents::StopDocumentsForExit();
}

}  // namespace scan39::python
