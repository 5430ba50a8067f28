#pragma once
// A loaded picture: an immutable raster shared by reference, like the run time's picture object.

#include <QImage>
#include <QString>
#include <memory>

namespace scan39::host {

class Picture {
  public:
    explicit Picture(QImage image) : image_(std::move(image)) {}
    const QImage& image() const { return image_; }
    int width() const { return image_.width(); }
    int height() const { return image_.height(); }

  private:
    QImage image_;
};

using PictureRef = std::shared_ptr<const Picture>;

// Largest picture the loader accepts, in pixels. Keeps a hostile header from turning into a
// huge allocation.
inline constexpr qint64 kMaxPicturePixels = qint64{64} * 1024 * 1024;

// A file with more pages is refused as a whole: a small file can hold a huge number of pages
// sharing one content stream, and each page is rendered and read in full.
inline constexpr int kMaxPages = 1000;

// Whether blanks at the end of a path are cut off (the window's loader) or part of the name.
enum class PathBlanks { Ignore, Keep };

// What the caller needs of the pixels. A caller that reads lightness alone (the reader) asks for
// Grey: a JPEG in YCbCr or grey is then decoded straight to its luma, and a grey PNG without
// transparency as it is, which skips the colour conversion and a buffer four times the size.
// Such a picture is QImage::Format_Grayscale8; every other one still comes as RGB32. Errors,
// bounds and orientation are the same either way.
enum class Tone { Colour, Grey };

// Loads a BMP (1, 4, 8, 16, 24, 32 bit, uncompressed or run-length), JPEG, GIF, PNG, TIFF or
// WebP file (the last two through Qt's image format plugins), recognised by its content. The file
// is opened once and must be an ordinary file. Throws PictureError, a RuntimeError (53 missing
// file, 76 a path through something not a folder, 70 no permission, 75 not an ordinary file or
// not readable, 481 not a picture / damaged / truncated, 7 too large or out of memory) whose
// description names the file and says what is wrong; never allocates beyond the bound. The
// result is always QImage::Format_RGB32, transparent parts shown over white. Safe to call from
// several threads: files are read and checked in parallel, Qt's image readers take one picture
// at a time.
PictureRef LoadPicture(const QString& path, PathBlanks blanks = PathBlanks::Ignore);

// The bytes of a picture file, read as LoadPicture reads it (opened once, an ordinary file,
// within the size bound), for callers that decode it page by page; `what`, when given,
// receives how error descriptions name the file. Throws RuntimeError as LoadPicture does.
QByteArray ReadPictureFile(const QString& path, PathBlanks blanks = PathBlanks::Ignore,
                           QString* what = nullptr);

// A picture file read by its exact name, and how error messages name it.
struct PictureFile {
    QByteArray bytes;
    QString what;
};
struct NameRules {
    bool dashIsStandardInput = false;  // "-" reads standard input, named 标准输入
    bool nameInMessages = true;        // else the caller shows the name (messages say 文件)
};
// Reads as ReadPictureFile does, by the name's bytes as the system takes them (not trimmed,
// not re-encoded). Throws PictureError.
PictureFile ReadNamedPictureFile(const QByteArray& name, NameRules rules = {});

// Qt's name of the picture format the bytes start like ("bmp", "jpeg", "gif", "png", "tiff",
// "webp"), empty for anything else.
QByteArray PictureFormatName(const QByteArray& bytes);

// Decodes picture bytes (same formats and checks as LoadPicture); `what` names the source in
// error descriptions as a noun phrase, e.g. 文件“a.bmp”.
PictureRef LoadPictureFromData(const QByteArray& bytes, const QString& what,
                               Tone tone = Tone::Colour);

// Page `page` (from 0) of a TIFF that holds several, with the same checks and bounds as
// LoadPictureFromData; page 0 of any other picture is the picture.
PictureRef LoadPicturePage(const QByteArray& bytes, const QString& what, int page,
                           Tone tone = Tone::Colour);

// Whether the bytes start like one of the formats the loader reads (for a BMP, its signature and
// a known header length, which text starting "BM" lacks).
bool IsPictureData(const QByteArray& bytes);

// How many pages the picture holds, at most `limit`: a TIFF's directories, 1 for every other
// format. Judges the structure only; a page's own faults show when it is loaded.
int PicturePageCount(const QByteArray& bytes, int limit);

// Keeps the image libraries' complaints about the files they decode ("libpng error",
// "Corrupt JPEG data", QImage::setColor) off standard error, where the loader's own error
// already says what is wrong; every other message goes on to the handler installed before.
// Call once after the application object exists.
void SilenceImageLibraryMessages();

}  // namespace scan39::host
