#pragma once
// Pictures for the decoder tests, readable both one coordinate unit at a time (the reference
// walk) and a pixel row at a time (the row path).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "scan39/scan.h"

namespace scan39::testing {

inline constexpr std::int32_t kLight = 0xFFFFFF;
inline constexpr std::int32_t kDarkPixel = 0;

// Nearest pixel by plain rounding, written independently of the decoder's integer mapping.
// Exact for every 32-bit coordinate: with an odd divisor the quotient is never a half.
inline std::int64_t NearestPixel(std::int64_t unit, std::int32_t unitsPerPixel) {
    return static_cast<std::int64_t>(std::floor(static_cast<double>(unit) / unitsPerPixel + 0.5));
}

// Names parameterized cases after their `name` member.
struct ByName {
    template <typename T>
    std::string operator()(const ::testing::TestParamInfo<T>& p) const {
        return p.param.name;
    }
};

struct Picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t unitsPerPixel = 1;
    std::vector<std::int32_t> pixels;  // row-major

    static Picture Filled(std::int32_t width, std::int32_t height, std::int32_t unitsPerPixel,
                          std::int32_t colour = kLight) {
        return Picture{width, height, unitsPerPixel,
                       std::vector<std::int32_t>(static_cast<std::size_t>(width) * height, colour)};
    }

    // A picture whose pixel row `row` holds `values`; every other row is light.
    static Picture WithRow(std::span<const std::int32_t> values, std::int32_t row,
                           std::int32_t unitsPerPixel = 1) {
        Picture p = Filled(static_cast<std::int32_t>(values.size()), row + 1, unitsPerPixel);
        std::copy(values.begin(), values.end(), p.pixels.begin() + std::ptrdiff_t{row} * p.width);
        return p;
    }

    std::int32_t& At(std::int32_t col, std::int32_t row) {
        return pixels[static_cast<std::size_t>(row) * width + col];
    }

    std::int32_t Read(std::int32_t x, std::int32_t y) const {
        const std::int64_t col = NearestPixel(x, unitsPerPixel);
        const std::int64_t row = NearestPixel(y, unitsPerPixel);
        if (col < 0 || col >= width || row < 0 || row >= height) return -1;
        return pixels[static_cast<std::size_t>(row * width + col)];
    }

    // Counts every read in *reads when given.
    PixelReader Reader(int* reads = nullptr) const {
        return [this, reads](std::int32_t x, std::int32_t y) -> std::optional<std::int32_t> {
            if (reads) ++*reads;
            return Read(x, y);
        };
    }

    // Counts every row fetched in *rows when given; a row outside the picture is a fault.
    PixelRowSource Source(int* rows = nullptr) const {
        PixelRowSource source;
        source.width = width;
        source.height = height;
        source.unitsPerPixel = unitsPerPixel;
        source.row = [this, rows](std::int32_t y) -> std::span<const std::int32_t> {
            if (rows) ++*rows;
            if (y < 0 || y >= height) {
                ADD_FAILURE() << "row " << y << " fetched outside a picture of height " << height;
                throw std::out_of_range("row outside the picture");
            }
            return std::span(pixels).subspan(static_cast<std::size_t>(y) * width, width);
        };
        return source;
    }
};

}  // namespace scan39::testing

namespace scan39 {
// Prints parameterized cases by their name rather than as raw bytes.
template <typename T>
requires requires(const T& c) {
    c.name;
}
void PrintTo(const T& c, std::ostream* os) {
    *os << c.name;
}
}  // namespace scan39
