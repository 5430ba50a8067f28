// The reader module's stand-in for the picture loader in a build without Qt: arrays (and Pillow
// images, which arrive as arrays) read as in the full build, with the loader's bound and words;
// a file, encoded bytes or a split is refused with what to do instead.

#include <cstdlib>
#include <string>
#include <string_view>

#include "loading.h"

namespace scan39::python {

namespace {

// host::kMaxPicturePixels and host::kErrOutOfMemory, which the loader is not here to give.
constexpr std::int64_t kMaxPicturePixels = std::int64_t{64} * 1024 * 1024;
constexpr int kErrOutOfMemory = 7;

// As the loader decides its messages' language: the first of LC_ALL, LC_MESSAGES and LANG
// that is set.
bool Chinese() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return std::string_view(value).starts_with("zh");
    }
    return false;
}

[[noreturn]] void Refuse(const std::string& what) {
    throw NotInThisBuild(
        what +
        ": this build of scan39 reads NumPy arrays and Pillow images only; it was built without "
        "the picture loader (SCAN39_WITH_QT=OFF). Open the picture with Pillow "
        "(PIL.Image.open) and pass the image, or build scan39 with Qt 6 and Poppler "
        "(SCAN39_WITH_QT=ON, the default) to read files and encoded bytes.");
}

std::string Source(const Encoded& encoded) {
    return encoded.path ? "cannot read a file" : "cannot read encoded bytes";
}

}  // namespace

const bool kReadsFiles = false;

void CheckPixelCount(std::int64_t width, std::int64_t height) {
    if (width > kMaxPicturePixels || height > kMaxPicturePixels ||
        width * height > kMaxPicturePixels) {
        const std::string most = std::to_string(kMaxPicturePixels);
        const std::string size = width > 0 && height > 0 ? std::to_string(width) + " × " +
                                                               std::to_string(height) + " 像素，"
                                                         : std::string();
        throw PictureFailure(kErrOutOfMemory,
                             Chinese()
                                 ? "内存溢出：图片太大（" + size + "最多允许 " + most + " 像素）"
                                 : "too large (at most " + most + " pixels are accepted)",
                             std::string());
    }
}

std::unique_ptr<EncodedPages> OpenPages(const Encoded& encoded, int, int) {
    Refuse(Source(encoded));
}

GreyPicture LoadedGrey(const Encoded& encoded) {
    Refuse(Source(encoded));
}

pybind11::list SplitFiles(const pybind11::list&, const pybind11::bytes&, const pybind11::list&,
                          const std::string&, const std::string&, bool, bool, bool, int, bool) {
    Refuse("cannot split");
}

void StopLoadingForExit() {}

}  // namespace scan39::python
