// scan39._box: the scanning control's box scan, on its own thread that owns an offscreen Qt
// application. Kept apart from the reader so that reading pictures needs no widgets.

#include <pybind11/pybind11.h>

#include <string>

#include "box_thread.h"
#include "released.h"
#include "scan39/box_geometry.h"
#include "pictures.h"

namespace py = pybind11;

namespace scan39::python {

namespace {

// A box corner may lie this far outside the picture, no further, as on the command line.
constexpr long kMaxCoordinate = kMaxBoxCoordinate;

int Coordinate(long v) {
    if (v < -kMaxCoordinate || v > kMaxCoordinate) {
        throw py::value_error("box corners must lie within +-" + std::to_string(kMaxCoordinate) +
                              ", got " + std::to_string(v));
    }
    return static_cast<int>(v);
}

py::object ScanBox(const py::handle& image, long x1, long y1, long x2, long y2) {
    const BoxScan corners{nullptr, Coordinate(x1), Coordinate(y1), Coordinate(x2), Coordinate(y2)};
    const Source source = SourceOf(image);
    std::optional<std::string> text;
    {
        const GilReleased unlocked;
        BoxScan job = corners;
        job.picture = source.pixels ? PictureOf(*source.pixels) : source.picture;
        text = RunBoxScan(job);
    }
    if (!text) return py::none();
    return py::str(*text);
}

}  // namespace

}  // namespace scan39::python

PYBIND11_MODULE(_box, m) {
    using namespace scan39::python;
    m.doc() = "scan39's box scan: use scan39.scan_box instead.";
    TranslateFailures(py::module_::import("scan39._scan39").attr("PictureError"));
    m.def("scan_box", &ScanBox, py::arg("image"), py::arg("x1"), py::arg("y1"), py::arg("x2"),
          py::arg("y2"));
    // The Qt thread ends before the interpreter does, while Qt is still whole.
    RegisterExitHook(m, StopBoxThread);
}
