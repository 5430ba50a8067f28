#pragma once
// What both extensions take from Python: a picture given as a path, encoded bytes or a NumPy
// array (Pillow images arrive as arrays), and the translation of load failures into
// FileNotFoundError and scan39.PictureError.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>

#include "pictures.h"

namespace scan39::python {

// Exactly one of `picture` (loaded from a file or bytes) and `pixels` (an array's, kept alive
// by `array`) is set.
struct Source {
    host::PictureRef picture;
    std::optional<ArrayPixels> pixels;
    pybind11::object array;
};

// A picture still encoded: the bytes of a file's name (`path`) or of the picture itself.
struct Encoded {
    QByteArray bytes;
    bool path = false;
};
// str and os.PathLike are paths, bytes, bytearray and memoryview encoded pictures; anything
// else is not encoded (nullopt).
std::optional<Encoded> EncodedOf(const pybind11::handle& source);

// Resolves a source: str and os.PathLike are paths, bytes, bytearray and memoryview encoded
// pictures, numpy.ndarray pixels (uint8; H x W, H x W x 3 or H x W x 4). Files and bytes are
// loaded with the GIL released. Throws TypeError/ValueError for what it cannot take,
// PictureFailure for what the loader refuses or an array beyond its bound.
Source SourceOf(const pybind11::handle& source);

// Turns PictureFailure into FileNotFoundError (a missing file or folder) or `pictureError`
// (scan39.PictureError, with `number` and `filename`), for functions of this module.
void TranslateFailures(pybind11::object pictureError);

}  // namespace scan39::python
