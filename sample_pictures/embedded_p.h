#pragma once
// The picture files made at build time, as byte arrays (defined in a generated source).

#include <cstddef>

namespace scan39::samples::detail {

extern const unsigned char kControlDefaultBmp[];
extern const std::size_t kControlDefaultBmpSize;
extern const unsigned char kFormSampleBmp[];
extern const std::size_t kFormSampleBmpSize;

}  // namespace scan39::samples::detail
