#pragma once
// Positions in a picture, in pixels (x right, y down). Plain C++20.

namespace scan39::reader {

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

}  // namespace scan39::reader
