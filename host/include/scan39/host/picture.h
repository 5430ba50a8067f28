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

// Loads a BMP (1, 4, 8, 16, 24, 32 bit, uncompressed or run-length), JPEG, GIF, PNG, TIFF or
// WebP file (the last two need Qt's image format plugins),
// recognised by its content. Trailing blanks of the path are ignored. Throws RuntimeError (53
// missing file, 70/75 not readable or not an ordinary file, 481 not a picture / damaged /
// truncated, 7 too large) whose description names the file and says what is wrong; never
// allocates beyond the bound. The result is always QImage::Format_RGB32, transparent parts
// shown over white.
PictureRef LoadPicture(const QString& path);

// Decodes picture bytes (same formats and checks as LoadPicture); `what` names the source in
// error descriptions as a noun phrase, e.g. 文件“a.bmp”.
PictureRef LoadPictureFromData(const QByteArray& bytes, const QString& what);

}  // namespace scan39::host
