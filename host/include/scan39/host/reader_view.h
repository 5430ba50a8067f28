#pragma once
// A loaded picture's pixels as the reader takes them, in place: the one mapping from QImage
// formats to the reader's pixel formats. Header only; its users link scan39::reader as well.

#include <QImage>
#include <stdexcept>

#include "scan39/reader.h"

namespace scan39::host {

// The loader's pictures as they lie: Grayscale8 as grey, RGB32 (0xffRRGGBB words) as 32-bit
// words. Throws std::invalid_argument for any other format.
inline reader::ImageView ReaderView(const QImage& picture) {
    reader::PixelFormat format;
    switch (picture.format()) {
        case QImage::Format_Grayscale8:
            format = reader::PixelFormat::kGrey;
            break;
        case QImage::Format_RGB32:
            format = reader::PixelFormat::kArgb32;
            break;
        default:
            throw std::invalid_argument("a picture format the reader does not take as it lies");
    }
    return {picture.constBits(), picture.width(), picture.height(), picture.bytesPerLine(),
            format};
}

// Any picture: converted to RGB32 in place first when ReaderView does not take it as it lies.
inline reader::ImageView ToReaderView(QImage& picture) {
    const QImage::Format f = picture.format();
    if (f != QImage::Format_Grayscale8 && f != QImage::Format_RGB32)
        picture.convertTo(QImage::Format_RGB32);
    return ReaderView(picture);
}

}  // namespace scan39::host
