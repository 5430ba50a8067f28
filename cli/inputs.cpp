// The names scan39 reads: its arguments, with --files-from lists read and folders searched.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "runner_p.h"
#include "scan39/host/document.h"
#include "scan39/host/file_descriptor.h"

namespace scan39::cli {

namespace {

// A list holds names, not pictures; this bound only keeps /dev/zero from filling memory.
constexpr qint64 kMaxListBytes = qint64{256} * 1024 * 1024;

// Enough of a file's start for the loader's content check and a PDF's header.
constexpr qsizetype kHeadBytes = 1024;

QString SystemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Reads up to `limit` bytes; false with errno set on a failed read.
bool ReadUpTo(int fd, qint64 limit, QByteArray& bytes) {
    char chunk[65536];
    while (bytes.size() < limit) {
        const qint64 want = std::min<qint64>(qint64{sizeof chunk}, limit - bytes.size());
        const ssize_t n = ::read(fd, chunk, static_cast<size_t>(want));
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.append(chunk, n);
    }
    return true;
}

// Appends the names of a list, one a line, exactly as written; the message for the user when
// the list cannot be read.
std::optional<QString> ReadList(const QByteArray& name, Language language,
                                QList<QByteArray>& names) {
    const auto failure = [&](int error) {
        return Tr(language, QStringLiteral("scan39: cannot read the list %1 (%2)\n"),
                  QStringLiteral("scan39：无法读取名单 %1（%2）\n"))
            .arg(name == "-"
                     ? Tr(language, QStringLiteral("standard input"), QStringLiteral("标准输入"))
                     : QFile::decodeName(Shown(name)),
                 SystemReason(error));
    };
    // Blocking on purpose: a pipe (`--files-from <(find ...)`) is a list like any other.
    const bool stdinList = name == "-";
    host::FileDescriptor fd(stdinList ? -1
                                      : ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!stdinList && fd.get() < 0) return failure(errno);
    QByteArray bytes;
    if (!ReadUpTo(stdinList ? STDIN_FILENO : fd.get(), kMaxListBytes + 1, bytes))
        return failure(errno);
    if (bytes.size() > kMaxListBytes) return failure(EFBIG);
    for (const QByteArray& line : bytes.split('\n')) {
        if (line.isEmpty()) continue;
        // Within a list "-" is a file of that name; standard input is already the list or
        // a picture named on the command line.
        names.append(line == "-" ? QByteArrayLiteral("./-") : line);
    }
    return std::nullopt;
}

bool KnownExtension(const QByteArray& name) {
    const QByteArray lower = name.mid(name.lastIndexOf('.') + 1).toLower();
    for (const char* ext :
         {"bmp", "dib", "jpg", "jpeg", "jpe", "gif", "png", "tif", "tiff", "webp", "pdf"})
        if (lower == ext) return true;
    return false;
}

enum class Judgement { kPicture, kOther, kUnreadable };

// Judges an ordinary file by its first bytes, as the loader will.
Judgement Judge(int dir, const char* name, bool pdf) {
    // Without blocking: the entry may have turned into a pipe since it was looked at.
    const host::FileDescriptor fd(
        ::openat(dir, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) return Judgement::kUnreadable;
    if (!S_ISREG(st.st_mode)) return Judgement::kOther;
    QByteArray head;
    if (!ReadUpTo(fd.get(), kHeadBytes, head)) return Judgement::kUnreadable;
    return host::IsPictureData(head) || (pdf && host::IsPdf(head)) ? Judgement::kPicture
                                                                   : Judgement::kOther;
}

// Folders below this depth do not keep a descriptor open while their subfolders are walked:
// they are opened again from the deepest folder that does, one name at a time, so that a tree
// of any depth needs no more than this many descriptors.
constexpr std::size_t kHeldLevels = 64;

struct Walk {
    bool pdf = false;  // PDFs count (the automatic read draws their pages)
    std::vector<std::pair<dev_t, ino_t>> ancestors;
    // The --annotate folder: what it holds are this program's copies, not pictures to read.
    std::optional<std::pair<dev_t, ino_t>> outputs;
    QList<QByteArray> found;
    // Folders that could not be searched (or not to the end), with the errno: said on stderr.
    std::vector<std::pair<QByteArray, int>> unwalked;
    // The deepest folder whose descriptor stays open, and the names from it down to the
    // folder being walked.
    int anchor = -1;
    std::vector<QByteArray> chain;

    // The folder at the end of `chain`, opened again from `anchor` without following links;
    // -1 when it is gone or is no longer the folder it was.
    int reopen() const {
        int fd = ::fcntl(anchor, F_DUPFD_CLOEXEC, 0);
        for (std::size_t i = 0; fd >= 0 && i < chain.size(); ++i) {
            const int sub = ::openat(fd, chain[i].constData(),
                                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            ::close(fd);
            fd = sub;
            struct stat st {};
            const std::size_t level = ancestors.size() - chain.size() + i;
            if (fd >= 0 && (::fstat(fd, &st) != 0 ||
                            std::pair{st.st_dev, st.st_ino} != ancestors[level])) {
                ::close(fd);
                fd = -1;
                errno = ENOENT;
            }
        }
        return fd;
    }

    // Adds the pictures in the folder open as `fd` (taken over), named `name` in its parent,
    // and its subfolders.
    void folder(int fd, const QByteArray& name, const QByteArray& path) {
        struct stat self {};
        if (::fstat(fd, &self) != 0) {
            ::close(fd);
            found.append(path);
            return;
        }
        // Links are never followed into folders, so only a bind mount could lead back here.
        const std::pair<dev_t, ino_t> id{self.st_dev, self.st_ino};
        if (std::find(ancestors.begin(), ancestors.end(), id) != ancestors.end() ||
            (!ancestors.empty() && id == outputs)) {
            ::close(fd);
            return;
        }
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            found.append(path);  // the loader says why it cannot be read
            return;
        }
        std::vector<QByteArray> names;
        while (const dirent* entry = ::readdir(dir)) {
            // Hidden entries (".", "..", caches, version control) are no one's pictures.
            if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
        }
        ancestors.push_back(id);
        const bool held = ancestors.size() <= kHeldLevels;
        const int outerAnchor = anchor;
        if (held) {
            anchor = ::dirfd(dir);
        } else {
            chain.push_back(name);
            ::closedir(dir);
            dir = nullptr;
        }
        const QByteArray prefix = path.endsWith('/') ? path : path + '/';
        for (const QByteArray& n : names) {
            const int here = held ? ::dirfd(dir) : reopen();
            if (here < 0) {
                unwalked.emplace_back(path, errno);
                break;
            }
            const int sub = entry(here, n, prefix + n);
            if (!held) ::close(here);
            if (sub >= 0) folder(sub, n, prefix + n);
        }
        if (held) {
            anchor = outerAnchor;
            ::closedir(dir);
        } else {
            chain.pop_back();
        }
        ancestors.pop_back();
    }

    // Looks at one entry of the folder open as `dir`; a subfolder comes back open, for the
    // caller to walk, anything else gives -1.
    int entry(int dir, const QByteArray& name, const QByteArray& path) {
        struct stat st {};
        if (::fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            // Cannot be looked at (a folder that may be listed but not searched): a picture
            // by its name is reported by the loader, anything else passed over.
            if (KnownExtension(name)) found.append(path);
            return -1;
        }
        if (S_ISDIR(st.st_mode)) {
            const int sub =
                ::openat(dir, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0 && (errno == EMFILE || errno == ENFILE || errno == ENOMEM)) {
                unwalked.emplace_back(path, errno);  // not the folder's fault: said as it is
            } else if (sub < 0) {
                found.append(path);
            }
            return sub;
        }
        // A link counts when it leads to an ordinary file; a link to a folder is not followed.
        if (S_ISLNK(st.st_mode) && ::fstatat(dir, name.constData(), &st, 0) != 0) return -1;
        if (!S_ISREG(st.st_mode)) return -1;  // devices, pipes, sockets
        switch (Judge(dir, name.constData(), pdf)) {
            case Judgement::kPicture:
                found.append(path);
                break;
            case Judgement::kUnreadable:
                if (KnownExtension(name)) found.append(path);
                break;
            case Judgement::kOther:
                break;
        }
        return -1;
    }
};

enum class Expanded { kName, kFolder, kEmptyFolder };

// Appends `name`, or for a folder the pictures in it, sorted by their paths' bytes.
// Folders it could not search go to `unwalked`.
Expanded Expand(const QByteArray& name, const Walk& settings, QList<QByteArray>& names,
                std::vector<std::pair<QByteArray, int>>& unwalked) {
    struct stat st {};
    // "-" is standard input; a name holding NUL is the loader's to refuse.
    if (name == "-" || name.contains('\0') || ::stat(name.constData(), &st) != 0 ||
        !S_ISDIR(st.st_mode)) {
        names.append(name);
        return Expanded::kName;
    }
    // The folder named is followed through a link: the user chose it.
    host::FileDescriptor fd(::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) {
        names.append(name);  // the loader says why it cannot be read
        return Expanded::kName;
    }
    Walk walk = settings;
    walk.folder(fd.release(), name, name);
    unwalked = std::move(walk.unwalked);
    std::sort(walk.found.begin(), walk.found.end());
    names.append(walk.found);
    return walk.found.isEmpty() ? Expanded::kEmptyFolder : Expanded::kFolder;
}

}  // namespace

int ExpandPictures(Options& options, Sink& err, bool& listFailed) {
    listFailed = false;
    if (options.sample) return kExitDecoded;
    const Language language = options.language;
    Walk settings;
    settings.pdf = options.automatic();
    struct stat st {};
    if (options.annotateDir && ::stat(options.annotateDirBytes.constData(), &st) == 0)
        settings.outputs = std::pair{st.st_dev, st.st_ino};
    int status = kExitDecoded;
    QList<QByteArray> names;
    const auto add = [&](const QByteArray& name) {
        std::vector<std::pair<QByteArray, int>> unwalked;
        const Expanded expanded = Expand(name, settings, names, unwalked);
        if (expanded != Expanded::kName) options.nameEach = true;
        for (const auto& [path, error] : unwalked) {
            // Never silent: the pictures below it are missing from the results.
            err << Tr(language,
                      QStringLiteral("scan39: %1: cannot search this folder (%2); the pictures "
                                     "in it are not read\n"),
                      QStringLiteral("scan39：%1：无法查找此文件夹（%2）；其中的图片未读取\n"))
                       .arg(QFile::decodeName(Shown(path)), SystemReason(error));
            status = kExitError;
        }
        if (expanded != Expanded::kEmptyFolder) return;
        err << Tr(language, QStringLiteral("scan39: %1: no pictures in this folder\n"),
                  QStringLiteral("scan39：%1：此文件夹中没有图片\n"))
                   .arg(QFile::decodeName(Shown(name)));
        status = std::max(status, int{kExitNotDecoded});
    };
    qsizetype list = 0;
    for (qsizetype i = 0; i <= options.pictureBytes.size(); ++i) {
        for (; list < options.fileLists.size() && options.fileLists[list].at == i; ++list) {
            QList<QByteArray> listed;
            if (const auto failure = ReadList(options.fileLists[list].name, language, listed)) {
                err << *failure;
                listFailed = true;
                return kExitError;
            }
            options.nameEach = true;
            for (const QByteArray& name : listed) add(name);
        }
        if (i < options.pictureBytes.size()) add(options.pictureBytes[i]);
    }
    options.pictureBytes = names;
    options.pictures.clear();
    for (const QByteArray& name : names) options.pictures.append(QFile::decodeName(name));
    options.fileLists.clear();
    return status;
}

}  // namespace scan39::cli
