#include "scan39/reader.h"

#include <stdexcept>

namespace scan39::reader {

std::vector<Symbol> Read(const GreyView& picture, const ReadOptions& /*options*/) {
    if (picture.width < 0 || picture.height < 0)
        throw std::invalid_argument("picture size is negative");
    if (picture.width == 0 || picture.height == 0) return {};
    if (picture.data == nullptr) throw std::invalid_argument("picture has no pixels");
    if (picture.stride < picture.width) throw std::invalid_argument("row stride below width");
    return {};
}

}  // namespace scan39::reader
