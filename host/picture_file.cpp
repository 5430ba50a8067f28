// Picture files read once: opened without waiting, judged by what was opened, never read
// beyond what an acceptable picture can need.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <new>

#include "scan39/host/file_descriptor.h"
#include "scan39/host/picture.h"
#include "scan39/host/picture_error.h"

namespace scan39::host {

namespace {

// A file larger than the biggest acceptable uncompressed picture (32 bits a pixel) plus room
// for headers and palettes cannot be a picture we accept; it is never read into memory.
constexpr qint64 kMaxPictureFileBytes = kMaxPicturePixels * 4 + 1024 * 1024;

[[noreturn]] void Fail(PictureFault fault, const QString& what, int error = 0) {
    throw PictureError(fault, {.what = what, .systemError = error});
}

[[noreturn]] void ThrowOpenError(int error, const QString& what) {
    switch (error) {
        case ENOENT:
            Fail(PictureFault::FileNotFound, what);
        case ENOTDIR:
            Fail(PictureFault::PathNotFound, what);
        case EACCES:
        case EPERM:
            Fail(PictureFault::NoPermission, what);
        case ENOMEM:
            Fail(PictureFault::OutOfMemory, what);
        default:
            Fail(PictureFault::CannotOpen, what, error);
    }
}

[[noreturn]] void ThrowTooLarge(const QString& what, qint64 bytes) {
    throw PictureError(PictureFault::FileTooLarge, {.what = what, .count = bytes});
}

// Reads `fd` to its end, but never more than the bound: a regular file may still grow, standard
// input has no size, and files under /proc and /sys say they are empty and still have content.
QByteArray ReadAll(int fd, qint64 expected, const QString& what) {
    // Straight into the buffer, sized by what the file said plus a byte to see its end: going
    // through a small chunk copies a photo once more than reading it.
    QByteArray bytes(std::min(expected, kMaxPictureFileBytes) + 1, Qt::Uninitialized);
    qint64 size = 0;
    while (size <= kMaxPictureFileBytes) {
        if (size == bytes.size())
            bytes.resize(std::min(std::max<qint64>(2 * size, 64 * 1024), kMaxPictureFileBytes + 1));
        const ssize_t got =
            ::read(fd, bytes.data() + size, static_cast<std::size_t>(bytes.size() - size));
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            Fail(PictureFault::CannotRead, what, errno);
        }
        size += got;
    }
    if (size > kMaxPictureFileBytes) ThrowTooLarge(what, size);
    bytes.truncate(size);
    return bytes;
}

// `native` is the name exactly as the system takes it.
QByteArray ReadFile(const QByteArray& native, const QString& what) {
    if (native.isEmpty()) Fail(PictureFault::NoName, what);
    if (native.contains('\0')) Fail(PictureFault::NulInName, what);
    // Opened once and judged by what was opened: a name checked first and opened afterwards
    // may meanwhile name a pipe, which would block. Non-blocking, the open itself never waits.
    int fd = -1;
    do {
        fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) ThrowOpenError(errno, what);
    const FileDescriptor file(fd);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) ThrowOpenError(errno, what);
    // Folders, devices and pipes: never read (a pipe could block, a device never end).
    if (!S_ISREG(info.st_mode)) Fail(PictureFault::NotOrdinaryFile, what);
    if (info.st_size > kMaxPictureFileBytes) ThrowTooLarge(what, info.st_size);
    return ReadAll(file.get(), info.st_size, what);
}

QString FileWhat(const QString& name) {
    return QStringLiteral("文件“%1”").arg(QDir::toNativeSeparators(name));
}

QString FileWhat(const QString& path, PathBlanks blanks, QString* name) {
    *name = path;
    if (blanks == PathBlanks::Ignore) {
        while (name->endsWith(u' ')) name->chop(1);
    }
    return FileWhat(*name);
}

template <typename Step>
auto OutOfMemoryIsAnError(const QString& what, Step step) {
    try {
        return step();
    } catch (const std::bad_alloc&) {
        Fail(PictureFault::OutOfMemory, what);
    }
}

// A name with a NUL cannot be encoded for the system: said before it is cut short there.
QByteArray Native(const QString& name, const QString& what) {
    if (name.contains(QChar(u'\0'))) Fail(PictureFault::NulInName, what);
    return QFile::encodeName(name);
}

}  // namespace

QByteArray ReadPictureFile(const QString& path, PathBlanks blanks, QString* what) {
    QString name;
    const QString described = FileWhat(path, blanks, &name);
    if (what != nullptr) *what = described;
    return OutOfMemoryIsAnError(described,
                                [&] { return ReadFile(Native(name, described), described); });
}

PictureFile ReadNamedPictureFile(const QByteArray& name, NameRules rules) {
    PictureFile file;
    if (rules.dashIsStandardInput && name == "-") {
        file.what = QStringLiteral("标准输入");
        file.bytes =
            OutOfMemoryIsAnError(file.what, [&] { return ReadAll(STDIN_FILENO, 0, file.what); });
    } else {
        if (rules.nameInMessages) file.what = FileWhat(QFile::decodeName(name));
        file.bytes = OutOfMemoryIsAnError(file.what, [&] { return ReadFile(name, file.what); });
    }
    return file;
}

PictureRef LoadPicture(const QString& path, PathBlanks blanks) {
    QString what;
    const QByteArray bytes = ReadPictureFile(path, blanks, &what);
    return LoadPictureFromData(bytes, what);
}

}  // namespace scan39::host
