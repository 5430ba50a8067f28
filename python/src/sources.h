#pragma once
// What both extensions take from Python: a picture still encoded (a path, or the bytes of an
// encoded picture) or a NumPy array's pixels (Pillow images arrive as arrays), and the
// translation of failures into FileNotFoundError, scan39.PictureError and NotImplementedError.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string_view>

#include "arrays.h"

namespace scan39::python {

// A picture still encoded: the bytes of a file's name (`path`) or of the picture itself.
// Made and destroyed with the GIL held; `data` may be read without it.
struct Encoded {
    pybind11::bytes bytes;
    std::string_view data;
    bool path = false;
};
// str and os.PathLike are paths, bytes, bytearray and memoryview encoded pictures; anything
// else is not encoded (nullopt).
std::optional<Encoded> EncodedOf(const pybind11::handle& source);

// An array's pixels, kept alive by `array`.
struct Array {
    ArrayPixels pixels;
    pybind11::object array;
};
// A numpy.ndarray of uint8: H x W, H x W x 3 or H x W x 4. Throws TypeError/ValueError for
// what it cannot take (anything not encoded and not an array included), PictureFailure for an
// array beyond the loader's bound.
Array ArrayOf(const pybind11::handle& source);

// Turns PictureFailure into FileNotFoundError (a missing file or folder) or `pictureError`
// (scan39.PictureError, with `number` and `filename`), and NotInThisBuild into
// NotImplementedError, for functions of this module.
void TranslateFailures(pybind11::object pictureError);

}  // namespace scan39::python
