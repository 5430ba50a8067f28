#pragma once

#include <cstdint>

namespace scan39::host {

// The run time's 16-bit Boolean: True is -1, False is 0.
using Boolean = std::int16_t;
inline constexpr Boolean kTrue = -1;
inline constexpr Boolean kFalse = 0;

constexpr Boolean ToBoolean(bool b) {
    return b ? kTrue : kFalse;
}

}  // namespace scan39::host
