#pragma once
// Pixels handed over from Python (NumPy arrays; Pillow images arrive as arrays) as the reader
// takes them, and how a picture fails. Plain C++ without Qt or Python objects: a build without
// the picture loader has all of it, and all of it runs with the GIL released.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "scan39/reader.h"

namespace scan39::python {

// A picture that could not be had: the run-time error number and the loader's description.
class PictureFailure : public std::runtime_error {
  public:
    // `missing`: the file or a folder on its path does not exist (FileNotFoundError).
    PictureFailure(int number, const std::string& description, const std::string& path,
                   bool missing = false);
    int number() const { return number_; }
    const std::string& description() const { return description_; }
    const std::string& path() const { return path_; }  // empty for pictures from bytes or arrays
    bool missing() const { return missing_; }

  private:
    int number_;
    std::string description_;
    std::string path_;
    bool missing_;
};

// A source this build has no reader for: a file or encoded bytes where the picture loader was
// not built (NotImplementedError, saying how to get a build that reads them).
class NotInThisBuild : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Pixels of a NumPy array: `channels` is 1 (grey), 3 (RGB) or 4 (RGBA, straight alpha).
// Strides are in bytes and may be negative or zero.
struct ArrayPixels {
    const std::uint8_t* data = nullptr;
    std::ptrdiff_t height = 0, width = 0;
    int channels = 1;
    std::ptrdiff_t rowStride = 0, columnStride = 0, channelStride = 0;
};

// A picture as the reader takes it: its grey view, and what that view may point into: the
// pixels laid out in rows first (an array with other strides), or a loaded grey picture.
struct GreyPicture {
    std::vector<std::uint8_t> packed;
    std::shared_ptr<const void> loaded;
    std::optional<reader::GreyImage> grey;
    const reader::GreyView& view() const { return grey->view(); }
};

// Hands the array's pixels to the reader in place when they lie in rows, else a copy that does.
// Throws PictureFailure for an array beyond the loader's bound (CheckPixelCount).
GreyPicture GreyOf(const ArrayPixels& pixels);

}  // namespace scan39::python
