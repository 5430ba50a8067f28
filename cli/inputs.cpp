// The names scan39 reads: its arguments, with --files-from lists read and folders searched.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include "runner_p.h"
#include "scan39/documents/document.h"
#include "scan39/host/file_descriptor.h"
#include "scan39/host/picture_error.h"

namespace scan39::cli {

namespace {

// A list holds names; a longer line is no name any system opens (and /dev/zero is no list).
constexpr qsizetype kMaxNameBytes = 65536;

// Enough of a file's start for the loader's content check and a PDF's header.
constexpr qsizetype kHeadBytes = 1024;

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
    return host::IsPictureData(head) || (pdf && documents::IsPdf(head)) ? Judgement::kPicture
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
            const int sub =
                ::openat(fd, chain[i].constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            ::close(fd);
            fd = sub;
            struct stat st {};
            const std::size_t level = ancestors.size() - chain.size() + i;
            if (fd >= 0 &&
                (::fstat(fd, &st) != 0 || std::pair{st.st_dev, st.st_ino} != ancestors[level])) {
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

struct NameSource::Impl {
    explicit Impl(const Options& o) : options(o) {}
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    const Options& options;
    Walk settings;
    qsizetype at = 0;    // the next picture argument
    qsizetype list = 0;  // the next list
    // The lists, opened before the run (standard input's not), -1 once read.
    std::vector<int> listFds;
    // The list being read, if any, and what of it is read but not yet taken.
    std::optional<qsizetype> reading;
    QByteArray buffer;
    qsizetype taken = 0;
    bool listEnded = false;
    std::deque<QByteArray> pending;  // names of a folder, in order
    int status = kExitDecoded;
    bool stopped = false;

    ~Impl() {
        for (const int fd : listFds)
            if (fd >= 0) ::close(fd);
    }

    QString listFailure(qsizetype index, int error) const {
        const QByteArray& name = options.fileLists[index].name;
        return Tr(options.language, QStringLiteral("scan39: cannot read the list %1 (%2)\n"),
                  QStringLiteral("scan39：无法读取名单 %1（%2）\n"))
            .arg(name == "-" ? Tr(options.language, QStringLiteral("standard input"),
                                  QStringLiteral("标准输入"))
                             : QFile::decodeName(Shown(name)),
                 host::SystemReason(error));
    }

    // The next line of the list being read: 1, 0 at its end, -1 with errno on a failure.
    int line(QByteArray& out) {
        const int fd = options.fileLists[*reading].name == "-"
                           ? STDIN_FILENO
                           : listFds[static_cast<std::size_t>(*reading)];
        while (true) {
            const qsizetype end = buffer.indexOf('\n', taken);
            if (end >= 0 || (listEnded && taken < buffer.size())) {
                const qsizetype stop = end >= 0 ? end : buffer.size();
                out = buffer.mid(taken, stop - taken);
                taken = end >= 0 ? end + 1 : buffer.size();
                return 1;
            }
            if (listEnded) return 0;
            if (buffer.size() - taken > kMaxNameBytes) {
                errno = ENAMETOOLONG;
                return -1;
            }
            buffer.remove(0, taken);
            taken = 0;
            // One read: a name from a pipe is taken as soon as its line is there.
            char chunk[65536];
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return -1;
            if (n == 0) listEnded = true;
            buffer.append(chunk, n);
        }
    }

    void add(const QByteArray& name, QByteArray& notes) {
        const Language language = options.language;
        std::vector<std::pair<QByteArray, int>> unwalked;
        QList<QByteArray> names;
        const Expanded expanded = Expand(name, settings, names, unwalked);
        pending.insert(pending.end(), names.begin(), names.end());
        for (const auto& [path, error] : unwalked) {
            // Never silent: the pictures below it are missing from the results.
            notes += Tr(language,
                        QStringLiteral("scan39: %1: cannot search this folder (%2); the "
                                       "pictures in it are not read\n"),
                        QStringLiteral("scan39：%1：无法查找此文件夹（%2）；其中的图片未读取\n"))
                         .arg(QFile::decodeName(Shown(path)), host::SystemReason(error))
                         .toUtf8();
            status = kExitError;
        }
        if (expanded != Expanded::kEmptyFolder) return;
        status = std::max(status, int{kExitNotDecoded});
        if (options.quiet) return;  // no error: the status tells
        notes += Tr(language, QStringLiteral("scan39: %1: no pictures in this folder\n"),
                    QStringLiteral("scan39：%1：此文件夹中没有图片\n"))
                     .arg(QFile::decodeName(Shown(name)))
                     .toUtf8();
    }
};

NameSource::NameSource(const Options& options) : impl_(std::make_unique<Impl>(options)) {
    impl_->settings.pdf = options.automatic();
    struct stat st {};
    if (options.annotateDir && ::stat(options.annotateDirBytes.constData(), &st) == 0)
        impl_->settings.outputs = std::pair{st.st_dev, st.st_ino};
    prefix_ = !options.fileLists.isEmpty() || options.pictureBytes.size() > 1;
    for (const QByteArray& name : options.pictureBytes)
        if (!prefix_ && name != "-" && ::stat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            prefix_ = true;
}

NameSource::~NameSource() = default;

std::optional<QString> NameSource::open() {
    Impl& s = *impl_;
    for (qsizetype i = 0; i < s.options.fileLists.size(); ++i) {
        const QByteArray& name = s.options.fileLists[i].name;
        // Blocking on purpose: a pipe (`--files-from <(find ...)`) is a list like any other.
        s.listFds.push_back(
            name == "-" ? -1 : ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
        if (name != "-" && s.listFds.back() < 0) {
            s.status = kExitError;
            return s.listFailure(i, errno);
        }
    }
    return std::nullopt;
}

bool NameSource::next(QByteArray& name, QByteArray& notes) {
    Impl& s = *impl_;
    notes.clear();
    while (!s.stopped) {
        if (!s.pending.empty()) {
            name = std::move(s.pending.front());
            s.pending.pop_front();
            return true;
        }
        if (s.reading) {
            QByteArray line;
            const int got = s.line(line);
            if (got < 0) {
                // The names before it are read; the rest of the list cannot be.
                notes += s.listFailure(*s.reading, errno).toUtf8();
                s.status = kExitError;
                s.stopped = true;
            } else if (got == 0) {
                int& fd = s.listFds[static_cast<std::size_t>(*s.reading)];
                if (fd >= 0) ::close(fd);
                fd = -1;
                s.reading.reset();
                s.buffer = QByteArray();
                s.taken = 0;
                s.listEnded = false;
            } else if (!line.isEmpty()) {
                // Within a list "-" is a file of that name; standard input is already the
                // list or a picture named on the command line.
                s.add(line == "-" ? QByteArrayLiteral("./-") : line, notes);
            }
            continue;
        }
        if (s.list < s.options.fileLists.size() && s.options.fileLists[s.list].at == s.at) {
            s.reading = s.list++;
        } else if (s.at < s.options.pictureBytes.size()) {
            s.add(s.options.pictureBytes[s.at++], notes);
        } else {
            s.stopped = true;
        }
    }
    return false;
}

int NameSource::status() const {
    return impl_->status;
}

}  // namespace scan39::cli
