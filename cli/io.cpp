#include "io_p.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "scan39/host/errors.h"

namespace scan39::cli {

namespace {

QString SystemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

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
        .arg(SystemReason(error));
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
        throw FromPictureError(e);
    }
}

NamedPages::NamedPages(const QByteArray& name, bool dashIsStdin, int dpi, int timeLimitSeconds) {
    host::PictureFile file = Read(name, dashIsStdin);
    format_ = host::PictureFormatName(file.bytes);
    try {
        document_ = std::make_unique<host::Document>(std::move(file.bytes), file.what, dpi,
                                                     timeLimitSeconds);
    } catch (const host::PictureError& e) {
        throw FromPictureError(e);
    }
}

NamedPages::~NamedPages() = default;

int NamedPages::count() const {
    return document_->pageCount();
}

host::PictureRef NamedPages::load(int index, host::Tone tone) const {
    try {
        return document_->loadPage(index, tone);
    } catch (const host::PictureError& e) {
        throw FromPictureError(e);
    }
}

}  // namespace scan39::cli
