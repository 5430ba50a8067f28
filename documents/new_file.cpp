#include "scan39/documents/new_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QRandomGenerator>
#include <cerrno>
#include <cstdlib>

namespace scan39::documents {

int ClaimNewName(const QByteArray& base, const QByteArray& extension,
                 const std::function<int(const QByteArray&)>& claim, QByteArray* leaf) {
    for (int n = 1; n <= 100000;) {
        QByteArray name = base + (n > 1 ? '-' + QByteArray::number(n) : QByteArray()) + extension;
        if (name.isEmpty() || name.contains('/') || name.contains('\0') || name == "." ||
            name == "..")
            return EINVAL;
        const int error = claim(name);
        if (error == EINTR) continue;
        if (error == 0) {
            *leaf = std::move(name);
            return 0;
        }
        if (error != EEXIST) return error;
        ++n;
    }
    return EEXIST;
}

namespace {

int WriteAll(int fd, const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n >= 0) {
            done += n;
        } else if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

// Moves `from` to `to` in the folder unless `to` exists; EEXIST when it does.
int MoveNoReplace(int dirFd, const QByteArray& from, const QByteArray& to) {
    if (::renameat2(dirFd, from.constData(), dirFd, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    // A file system without the flag: a second name for the file, which fails where the name
    // exists, then the temporary name goes.
    if (::linkat(dirFd, from.constData(), dirFd, to.constData(), 0) != 0) return errno;
    ::unlinkat(dirFd, from.constData(), 0);
    return 0;
}

}  // namespace

int WriteNewFile(int dirFd, const QByteArray& base, const QByteArray& extension,
                 const QByteArray& bytes, QByteArray* leaf,
                 const std::function<bool(const QByteArray&)>& taken) {
    // Hidden, so that a folder walk passes over one left by a killed run.
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temporary = '.' + base.left(100) + extension + ".part-" +
                    QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        fd = ::openat(dirFd, temporary.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && ((errno != EEXIST && errno != EINTR) || attempt > 100)) return errno;
    }
    int error = WriteAll(fd, bytes);
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0) {
        // For the tests: a run killed here must leave no file under a final name.
        if (const char* pause = std::getenv("SCAN39_TEST_PAUSE_BEFORE_RENAME"))
            ::usleep(static_cast<useconds_t>(std::atoi(pause)) * 1000);
        error = ClaimNewName(
            base, extension,
            [&](const QByteArray& name) {
                if (taken && taken(name)) return EEXIST;
                return MoveNoReplace(dirFd, temporary, name);
            },
            leaf);
    }
    if (error != 0) {
        ::unlinkat(dirFd, temporary.constData(), 0);
        return error;
    }
    // The new name itself survives a crash once the folder is on disk too.
    ::fsync(dirFd);
    return 0;
}

}  // namespace scan39::documents
