#pragma once
// A box dragged over the control with the mouse, then scanned: what a person does at the
// window, for programs that drive the control without one (the command line, Python).

#include <cstdint>

namespace scan39 {

class Uo_Scan;

// Drags over the control's picture with real mouse events on Image1 (press at (x1, y1), one
// move to (x2, y2), release; pixels of the picture) and scans; returns what Scan returns.
std::int16_t DragAndScan(Uo_Scan& control, int x1, int y1, int x2, int y2);

}  // namespace scan39
