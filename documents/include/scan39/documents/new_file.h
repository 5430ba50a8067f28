#pragma once
// New files in a folder, never over an existing one: the name a file gets when its first
// choice is taken ("-2", "-3" before the extension), and a file that appears under its name
// only once it is whole.

#include <QByteArray>
#include <functional>

namespace scan39::documents {

// Offers `base` + `extension`, then base-2 + extension, base-3 + extension ... to `claim`,
// which returns 0 when it took the name, EEXIST when the name is taken (the next one is
// offered), EINTR to be asked again, or another errno that ends the search. Returns 0 with
// the name taken in `*leaf`, or that errno (EINVAL for a name that would hold a slash or be
// "." or ".."; EEXIST after 100000 names).
int ClaimNewName(const QByteArray& base, const QByteArray& extension,
                 const std::function<int(const QByteArray& leaf)>& claim, QByteArray* leaf);

// Writes `bytes` as a new file in the folder `dirFd`, named `base` + `extension` or the first
// free name after it (ClaimNewName): into a hidden temporary file of its own (created with
// O_EXCL) first, synchronised to disk, then moved to its name without ever replacing a file
// (renameat2 RENAME_NOREPLACE, or link and unlink where the file system lacks it), and the
// folder synchronised. A process killed at any moment leaves at most the hidden temporary file,
// never a part-written file under a final name. `taken`, when given, refuses names besides
// those that exist. Returns 0 with the name in `*leaf`, or the errno.
int WriteNewFile(int dirFd, const QByteArray& base, const QByteArray& extension,
                 const QByteArray& bytes, QByteArray* leaf,
                 const std::function<bool(const QByteArray& leaf)>& taken = {});

}  // namespace scan39::documents
