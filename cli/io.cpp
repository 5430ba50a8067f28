#include "io_p.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QImageReader>
#include <QMutex>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "scan39/host/errors.h"

namespace scan39::cli {

namespace {

// The loader's own bound on a picture file: the largest accepted picture at 32 bits a pixel
// plus room for headers and palettes.
constexpr qint64 kMaxFileBytes = host::kMaxPicturePixels * 4 + 1024 * 1024;

QString SystemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

LoadError Error(int number, const QString& english, const QString& chinese) {
    return LoadError{number, english, chinese};
}

LoadError TooLarge(qint64 bytes) {
    return Error(host::kErrOutOfMemory,
                 QStringLiteral("too large (%1 bytes; at most %2 pixels are accepted)")
                     .arg(bytes)
                     .arg(host::kMaxPicturePixels),
                 QStringLiteral("内存溢出：文件太大（%1 字节）").arg(bytes));
}

// Reads to the end: a regular file may still grow or shrink, standard input has no size, and
// some files (under /proc) say 0 but hold data.
QByteArray ReadAll(int fd, qint64 sizeHint) {
    QByteArray bytes;
    bytes.reserve(std::min(sizeHint, kMaxFileBytes) + 1);
    char chunk[65536];
    while (true) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) return bytes;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            throw Error(
                host::kErrPathFileAccess,
                QStringLiteral("cannot be read (%1)").arg(SystemReason(error)),
                QStringLiteral("路径/文件访问错误：读取文件时出错（%1）").arg(SystemReason(error)));
        }
        if (bytes.size() + n > kMaxFileBytes) throw TooLarge(bytes.size() + n);
        bytes.append(chunk, n);
    }
}

LoadError OpenFailure(int error) {
    switch (error) {
        case ENOENT:
            return Error(host::kErrFileNotFound, QStringLiteral("file not found"),
                         QStringLiteral("文件未找到"));
        case ENOTDIR:
            return Error(host::kErrPathNotFound,
                         QStringLiteral("path not found (a part of it is not a folder)"),
                         QStringLiteral("路径未找到（其中一段不是文件夹）"));
        case EACCES:
        case EPERM:
            return Error(host::kErrPermissionDenied,
                         QStringLiteral("no permission to read it (or to search its folder)"),
                         QStringLiteral("没有访问权限：无法读取该文件或进入其文件夹"));
        default:
            return Error(
                host::kErrPathFileAccess,
                QStringLiteral("cannot be opened (%1)").arg(SystemReason(error)),
                QStringLiteral("路径/文件访问错误：无法打开（%1）").arg(SystemReason(error)));
    }
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

QByteArray ReadFile(const QByteArray& name) {
    if (name.isEmpty())
        throw Error(host::kErrFileNotFound, QStringLiteral("no file name given"),
                    QStringLiteral("文件未找到：没有给出文件名"));
    if (name.contains('\0'))
        throw Error(host::kErrFileNotFound, QStringLiteral("the file name holds a NUL byte"),
                    QStringLiteral("文件未找到：文件名中含有空字符"));
    // Opened once, without blocking (a FIFO would wait for a writer), and judged by what was
    // opened: a name that changes meanwhile cannot slip another file in.
    const Descriptor fd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) throw OpenFailure(errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throw OpenFailure(errno);
    if (!S_ISREG(st.st_mode)) {
        // Folders, devices and pipes are never read: a pipe could block, a device never end.
        throw Error(host::kErrPathFileAccess, QStringLiteral("not an ordinary file"),
                    QStringLiteral("路径/文件访问错误：不是普通文件"));
    }
    if (st.st_size > kMaxFileBytes) throw TooLarge(st.st_size);
    return ReadAll(fd.get(), st.st_size);
}

// Qt's image readers share settings between threads (the allocation limit the loader sets),
// so pictures are decoded one at a time; reading files and everything after decoding runs
// in parallel.
QMutex g_decodeLock;

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

LoadError FromRuntimeError(const host::RuntimeError& error) {
    const QString& chinese = error.description();
    QString english;
    // The loader describes its errors in Chinese; its error numbers and a few key words give
    // the English reason.
    switch (error.number()) {
        case host::kErrOutOfMemory:
            if (chinese.contains(QStringLiteral("页数太多"))) {
                english =
                    QStringLiteral("too many pages (at most %1 are read)").arg(host::kMaxPages);
            } else {
                english = chinese.contains(QStringLiteral("太大"))
                              ? QStringLiteral("too large (at most %1 pixels are accepted)")
                                    .arg(host::kMaxPicturePixels)
                              : QStringLiteral("out of memory");
            }
            break;
        case host::kErrInvalidPicture:
            if (chinese.contains(QStringLiteral("是空的"))) {
                english = QStringLiteral("empty, no picture data");
            } else if (chinese.contains(QStringLiteral("不是 "))) {
                english = QStringLiteral("not a BMP, JPEG, GIF, PNG, TIFF or WebP picture");
            } else if (chinese.contains(QStringLiteral("不完整"))) {
                english = QStringLiteral("truncated");
            } else if (chinese.contains(QStringLiteral("已加密"))) {
                english = QStringLiteral("encrypted (the PDF needs a password)");
            } else if (chinese.contains(QStringLiteral("秒内未能"))) {
                english = QStringLiteral("too complex (the page did not render in time)");
            } else if (chinese.contains(QStringLiteral("插件"))) {
                english = QStringLiteral("this format cannot be read here (image plugin missing)");
            } else {
                english = QStringLiteral("damaged");
            }
            break;
        default:
            english = QStringLiteral("error %1").arg(error.number());
    }
    return Error(error.number(), english, chinese);
}

LoadError OutOfMemory() {
    return Error(host::kErrOutOfMemory, QStringLiteral("out of memory"),
                 QStringLiteral("内存溢出：内存不足"));
}

host::PictureRef LoadNamedPicture(const QByteArray& name, bool dashIsStdin, QByteArray* format) {
    const bool stdinPicture = dashIsStdin && name == "-";
    QByteArray bytes = stdinPicture ? ReadAll(STDIN_FILENO, 0) : ReadFile(name);
    if (format) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        *format = QImageReader::imageFormat(&buffer);
    }
    const QMutexLocker lock(&g_decodeLock);
    try {
        return host::LoadPictureFromData(
            bytes, stdinPicture ? QStringLiteral("标准输入") : QStringLiteral("文件"));
    } catch (const host::RuntimeError& e) {
        throw FromRuntimeError(e);
    }
}

NamedPages::NamedPages(const QByteArray& name, bool dashIsStdin, int dpi) {
    const bool stdinPicture = dashIsStdin && name == "-";
    QByteArray bytes = stdinPicture ? ReadAll(STDIN_FILENO, 0) : ReadFile(name);
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        format_ = QImageReader::imageFormat(&buffer);
    }
    try {
        document_ = std::make_unique<host::Document>(
            std::move(bytes), stdinPicture ? QStringLiteral("标准输入") : QStringLiteral("文件"),
            dpi);
    } catch (const host::RuntimeError& e) {
        throw FromRuntimeError(e);
    }
}

NamedPages::~NamedPages() = default;

int NamedPages::count() const {
    return document_->pageCount();
}

host::PictureRef NamedPages::load(int index) const {
    try {
        // PDF pages are drawn by the PDF library, in parallel; pictures go through Qt's readers.
        if (document_->isPdf()) return document_->loadPage(index);
        const QMutexLocker lock(&g_decodeLock);
        return document_->loadPage(index);
    } catch (const host::RuntimeError& e) {
        throw FromRuntimeError(e);
    }
}

}  // namespace scan39::cli
