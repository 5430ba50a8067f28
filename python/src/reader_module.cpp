// scan39._scan39: the whole-picture reader on pictures from files, bytes and NumPy arrays.
// Links the reader and the picture loader only (no widgets). The friendly API is in
// __init__.py; pixels are converted and read with the GIL released, so threads read in
// parallel.

#include <pybind11/pybind11.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "released.h"
#include "sources.h"

namespace py = pybind11;

namespace scan39::python {

namespace {

reader::ReadOptions Options(bool checkDigit, bool fullAscii, const std::string& effort) {
    reader::ReadOptions o;
    o.checkCharacter =
        checkDigit ? reader::CheckCharacter::kRequired : reader::CheckCharacter::kOff;
    o.fullAscii = fullAscii;
    if (effort == "fast") {
        o.effort = reader::Effort::kFast;
    } else if (effort == "thorough") {
        o.effort = reader::Effort::kThorough;
    } else {
        throw py::value_error("effort must be \"fast\" or \"thorough\", not \"" + effort + "\"");
    }
    return o;
}

// Symbols as plain tuples (text, ((x, y) * 4), angle, lines); __init__.py wraps them.
py::list ToPython(const std::vector<reader::Symbol>& symbols) {
    py::list out;
    for (const auto& s : symbols) {
        py::tuple corners(4);
        for (std::size_t i = 0; i < 4; ++i)
            corners[i] = py::make_tuple(s.corners[i].x, s.corners[i].y);
        out.append(py::make_tuple(py::str(s.text), corners, s.angle, s.lines));
    }
    return out;
}

GreyPicture GreyOf(const Source& source) {
    return source.pixels ? python::GreyOf(*source.pixels) : python::GreyOf(*source.picture);
}

py::list Read(const py::handle& image, bool checkDigit, bool fullAscii, const std::string& effort) {
    const auto options = Options(checkDigit, fullAscii, effort);
    const Source source = SourceOf(image);
    std::vector<reader::Symbol> symbols;
    {
        const GilReleased unlocked;
        symbols = reader::Read(GreyOf(source).view, options);
    }
    return ToPython(symbols);
}

// For the benchmark of what crossing into Python costs: the reader alone on the picture's
// grey pixels, seconds per read.
double ReaderSeconds(const py::handle& image, const std::string& effort, int repeats) {
    const auto options = Options(false, false, effort);
    const Source source = SourceOf(image);
    const GilReleased unlocked;
    const GreyPicture grey = GreyOf(source);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < repeats; ++i) reader::Read(grey.view, options);
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / std::max(1, repeats);
}

}  // namespace

}  // namespace scan39::python

PYBIND11_MODULE(_scan39, m) {
    using namespace scan39::python;
    m.doc() = "scan39's reader: use the functions of the scan39 package instead.";
    m.attr("__version__") = SCAN39_VERSION;

    py::object pictureError = py::reinterpret_steal<py::object>(
        PyErr_NewExceptionWithDoc("scan39.PictureError",
                                  "A picture that cannot be loaded; the message is the "
                                  "loader's description.",
                                  PyExc_Exception, nullptr));
    m.attr("PictureError") = pictureError;
    TranslateFailures(pictureError);

    m.def("read", &Read, py::arg("image"), py::arg("check_digit"), py::arg("full_ascii"),
          py::arg("effort"));
    m.def(
        "check_size",
        [](std::int64_t width, std::int64_t height) { CheckPixelCount(width, height); },
        py::arg("width"), py::arg("height"));
    m.def("_reader_seconds", &ReaderSeconds, py::arg("image"), py::arg("effort") = "thorough",
          py::arg("repeats") = 1);
    RegisterExitHook(m);
}
