#pragma once
// scan39's input and output at the level of the operating system: results written with every
// failure noticed, pictures read by their exact names.

#include <QByteArray>
#include <QString>
#include <concepts>
#include <memory>

#include "options_p.h"
#include "scan39/documents/document.h"
#include "scan39/host/errors.h"
#include "scan39/host/picture.h"
#include "scan39/host/picture_error.h"

namespace scan39::cli {

// Bytes bound for a file descriptor. A failed write (a full disk, a closed descriptor, a
// reader that went away) is remembered, and nothing more is written after it.
class Sink {
  public:
    explicit Sink(int fd) : fd_(fd) {}
    Sink& operator<<(const QByteArray& bytes);
    Sink& operator<<(const QString& text) { return *this << text.toUtf8(); }
    Sink& operator<<(const char* text) { return *this << QByteArray(text); }
    Sink& operator<<(char c) { return *this << QByteArray(1, c); }
    template <std::integral T>
    Sink& operator<<(T n) {
        return *this << QByteArray::number(static_cast<qlonglong>(n));
    }

    // Writes what is buffered; false once any write has failed.
    bool flush();
    bool failed() const { return errno_ != 0; }
    int error() const { return errno_; }  // the errno of the first failure

  private:
    int fd_;
    QByteArray buffer_;
    int errno_ = 0;
};

// A file name or a decoded text as text output shows it. One that holds no control character
// is shown as it is, byte for byte; one that does (a line feed, NUL, ESC, DEL, or a C1 control
// U+0080..U+009F) is shown in shell quoting, $'...', with \n \t \r \\ \' and \xHH / \uHHHH
// for the rest, as `ls` shows such names: it cannot then pass for a result line of its own or
// drive the terminal, and pasted into a shell it names the file again.
QByteArray Shown(const QByteArray& text);
inline QByteArray Shown(const QString& text) {
    return Shown(text.toUtf8());
}
inline QByteArray Shown(const std::string& text) {
    return Shown(QByteArray::fromStdString(text));
}

// Makes sure descriptors 0, 1 and 2 are open, so that no file the program opens later takes
// one of their numbers: a closed one is replaced by /dev/null opened read-only, so that
// writing to a closed standard output still fails. A broken pipe becomes a write error
// instead of a signal.
void PrepareStandardStreams();

// "cannot write the results: <reason>", for standard error.
QString WriteFailure(Language language, int error);

// Why a picture could not be had, in both languages, with the run-time error number.
struct LoadError {
    int number = 0;
    QString english;
    QString chinese;
    QString text(Language language) const { return Tr(language, english, chinese); }
};

// The loader's reason in both languages, the file named by the caller.
LoadError FromPictureError(const host::PictureError& error);
// A run-time error from elsewhere (the control): its number and description.
LoadError FromRuntimeError(const host::RuntimeError& error);
LoadError OutOfMemory();

// Reads a picture file by its exact name (not trimmed, not re-encoded) or, for "-" when
// `dashIsStdin`, standard input, and decodes it with the loader. Throws LoadError;
// std::bad_alloc is the caller's to catch. Safe to call from several threads.
// `format`, when given, receives Qt's name for the picture's format ("jpeg", "png", ...).
host::PictureRef LoadNamedPicture(const QByteArray& name, bool dashIsStdin,
                                  QByteArray* format = nullptr);

// The pages of a file read by its exact name (or standard input), as LoadNamedPicture reads
// it: a PDF rendered at `dpi` dots per inch, a TIFF of several pages, or any other picture as
// its one page.
class NamedPages {
  public:
    // Throws LoadError when the file cannot be read or its pages cannot be had at all (a PDF
    // damaged or encrypted, too many pages).
    NamedPages(const QByteArray& name, bool dashIsStdin, int dpi,
               int timeLimitSeconds = documents::kDefaultFileSeconds);
    ~NamedPages();
    NamedPages(const NamedPages&) = delete;
    NamedPages& operator=(const NamedPages&) = delete;
    int count() const;
    // Page `index` (from 0), grey when `tone` allows. Throws LoadError for this page alone. One
    // thread at a time.
    // A PDF page too large for the loader at the resolution asked is drawn at the largest that
    // fits; `drawnDpi`, when given, receives the resolution a PDF page was drawn at (0 for
    // a picture).
    host::PictureRef load(int index, host::Tone tone = host::Tone::Colour,
                          int* drawnDpi = nullptr) const;
    // Qt's name for the file's picture format ("jpeg", "png", ...), empty for a PDF.
    const QByteArray& format() const { return format_; }

  private:
    std::unique_ptr<documents::Document> document_;
    QByteArray format_;
};

}  // namespace scan39::cli
