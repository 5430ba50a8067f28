#include "io_p.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "scan39/documents/document.h"
#include "scan39/host/errors.h"
#include "scan39/host/picture_error.h"

namespace scan39::cli {

namespace {

// The file's bytes; the loader's messages say 文件 or 标准输入, the caller shows the name.
host::PictureFile Read(const QByteArray& name, bool dashIsStdin) {
    try {
        return host::ReadNamedPictureFile(
            name, {.dashIsStandardInput = dashIsStdin, .nameInMessages = false});
    } catch (const host::PictureError& e) {
        throw FromPictureError(e);
    }
}

}  // namespace

QByteArray Shown(const QByteArray& text) {
    const auto at = [&](qsizetype i) { return static_cast<unsigned char>(text[i]); };
    // C1 controls in UTF-8: C2 80 .. C2 9F.
    const auto c1 = [&](qsizetype i) {
        return at(i) == 0xC2 && i + 1 < text.size() && at(i + 1) >= 0x80 && at(i + 1) <= 0x9F;
    };
    const auto control = [&](qsizetype i) { return at(i) < 0x20 || at(i) == 0x7F || c1(i); };
    qsizetype i = 0;
    while (i < text.size() && !control(i)) ++i;
    if (i == text.size()) return text;
    static constexpr char kHex[] = "0123456789abcdef";
    QByteArray shown = "$'";
    for (i = 0; i < text.size(); ++i) {
        const unsigned char c = at(i);
        switch (c) {
            case '\n':
                shown += "\\n";
                break;
            case '\t':
                shown += "\\t";
                break;
            case '\r':
                shown += "\\r";
                break;
            case '\\':
                shown += "\\\\";
                break;
            case '\'':
                shown += "\\'";
                break;
            default:
                if (c1(i)) {
                    shown += "\\u00";
                    shown += kHex[at(i + 1) >> 4];
                    shown += kHex[at(i + 1) & 15];
                    ++i;
                } else if (c < 0x20 || c == 0x7F) {
                    shown += "\\x";
                    shown += kHex[c >> 4];
                    shown += kHex[c & 15];
                } else {
                    shown += static_cast<char>(c);
                }
        }
    }
    return shown + '\'';
}

Sink& Sink::operator<<(const QByteArray& bytes) {
    if (errno_ == 0) buffer_ += bytes;
    return *this;
}

bool Sink::flush() {
    qsizetype done = 0;
    while (errno_ == 0 && done < buffer_.size()) {
        const ssize_t n =
            ::write(fd_, buffer_.constData() + done, static_cast<size_t>(buffer_.size() - done));
        if (n < 0) {
            if (errno != EINTR) errno_ = errno;
        } else {
            done += n;
        }
    }
    buffer_.clear();
    return errno_ == 0;
}

void PrepareStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free number: this very one.
            const int opened = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (opened != fd && opened >= 0) ::close(opened);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
}

QString WriteFailure(Language language, int error) {
    return Tr(language, QStringLiteral("scan39: cannot write the results: %1\n"),
              QStringLiteral("scan39：无法写出结果：%1\n"))
        .arg(host::SystemReason(error));
}

LoadError FromPictureError(const host::PictureError& error) {
    return LoadError{error.number(), error.message(host::MessageLanguage::English),
                     error.message(host::MessageLanguage::Chinese)};
}

LoadError FromRuntimeError(const host::RuntimeError& error) {
    if (const auto* picture = dynamic_cast<const host::PictureError*>(&error))
        return FromPictureError(*picture);
    return LoadError{error.number(), QStringLiteral("error %1").arg(error.number()),
                     error.description()};
}

LoadError OutOfMemory() {
    return FromPictureError(host::PictureError(host::PictureFault::OutOfMemory, {}));
}

host::PictureRef LoadNamedPicture(const QByteArray& name, bool dashIsStdin, QByteArray* format) {
    const host::PictureFile file = Read(name, dashIsStdin);
    if (format) *format = host::PictureFormatName(file.bytes);
    try {
        return host::LoadPictureFromData(file.bytes, file.what);
    } catch (const host::PictureError& e) {
        // A box is dragged over a picture; a PDF's pages are the automatic read's.
        if (documents::IsPdf(file.bytes.left(1024)))
            throw LoadError{0,
                            QStringLiteral("a PDF: --box reads pictures only (read its pages "
                                           "without --box)"),
                            QStringLiteral("是 PDF：--box 只读图片（不带 --box 可读其各页）")};
        throw FromPictureError(e);
    }
}

NamedPages::NamedPages(const QByteArray& name, bool dashIsStdin, int dpi, int timeLimitSeconds) {
    host::PictureFile file = Read(name, dashIsStdin);
    format_ = host::PictureFormatName(file.bytes);
    try {
        document_ = std::make_unique<documents::Document>(std::move(file.bytes), file.what, dpi,
                                                     timeLimitSeconds);
    } catch (const host::PictureError& e) {
        throw FromPictureError(e);
    }
}

NamedPages::~NamedPages() = default;

int NamedPages::count() const {
    return document_->pageCount();
}

host::PictureRef NamedPages::load(int index, host::Tone tone, int* drawnDpi) const {
    int drawn = 0;
    try {
        host::PictureRef page = document_->loadPage(index, tone, &drawn);
        if (drawnDpi) *drawnDpi = drawn;
        return page;
    } catch (const host::PictureError& e) {
        throw FromPictureError(e);
    }
}

}  // namespace scan39::cli
