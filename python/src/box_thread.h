#pragma once
// The scanning control is a Qt widget, and widgets live on the thread that made the
// QApplication. Python may call from any thread, so one dedicated thread owns the application
// and a single control, and runs every box scan in turn; callers wait for their result. The
// command line works the same way: one control, the picture set, the drag sent, Scan called.

#include <optional>
#include <string>

#include "scan39/host/picture.h"

namespace scan39::python {

struct BoxScan {
    host::PictureRef picture;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

// The decoded text, or nothing when Scan reports no symbol. Starts the thread on first use.
// Throws std::runtime_error when another Qt application already runs in this process.
std::optional<std::string> RunBoxScan(const BoxScan& job);

// Ends the thread (the control and the application are destroyed on it). Safe to call when it
// never started; box scans after this start it again.
void StopBoxThread();

}  // namespace scan39::python
