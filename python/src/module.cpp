// scan39._scan39: the reader on pictures from files, bytes and NumPy arrays, and the
// control's box scan. The friendly API (`scan39.read`, `scan39.scan_box`) is in __init__.py;
// this module takes already-sorted arguments. Pixels are converted and read with the GIL
// released, so Python threads read in parallel.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

#include "box_thread.h"
#include "pictures.h"
#include "scan39/host/errors.h"
#include "scan39/reader.h"

namespace py = pybind11;

namespace scan39::python {

namespace {

// A command-line box corner may lie this far outside the picture, no further.
constexpr long kMaxCoordinate = 1000000;

reader::ReadOptions Options(bool checkDigit, bool fullAscii, const std::string& effort,
                            const std::string& polarity) {
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
    if (polarity == "dark") {
        o.polarity = reader::Polarity::kDarkBars;
    } else if (polarity == "light") {
        o.polarity = reader::Polarity::kLightBars;
    } else if (polarity != "both") {
        throw py::value_error("polarity must be \"dark\", \"light\" or \"both\", not \"" +
                              polarity + "\"");
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

QByteArray Bytes(const py::bytes& b) {
    const std::string_view v = b;
    return QByteArray(v.data(), static_cast<qsizetype>(v.size()));
}

ArrayPixels PixelsOf(const py::array& a) {
    if (!a.dtype().is(py::dtype::of<std::uint8_t>())) {
        throw py::type_error("expected an array of uint8, got " + std::string(py::str(a.dtype())));
    }
    ArrayPixels p;
    if (a.ndim() == 2) {
        p.channels = 1;
    } else if (a.ndim() == 3 && (a.shape(2) == 3 || a.shape(2) == 4)) {
        p.channels = static_cast<int>(a.shape(2));
        p.channelStride = a.strides(2);
    } else {
        std::string shape;
        for (py::ssize_t i = 0; i < a.ndim(); ++i)
            shape += (i ? ", " : "") + std::to_string(a.shape(i));
        throw py::value_error(
            "expected an H x W (grey), H x W x 3 (RGB) or H x W x 4 (RGBA) array, "
            "got shape (" +
            shape + ")");
    }
    p.data = static_cast<const std::uint8_t*>(a.data());
    p.height = a.shape(0);
    p.width = a.shape(1);
    p.rowStride = a.strides(0);
    p.columnStride = a.strides(1);
    return p;
}

py::list ReadPicture(const host::PictureRef& picture, const reader::ReadOptions& options) {
    std::vector<reader::Symbol> symbols;
    {
        py::gil_scoped_release unlocked;
        const GreyPicture grey = GreyOf(*picture);
        symbols = reader::Read(grey.view, options);
    }
    return ToPython(symbols);
}

py::object ScanBox(host::PictureRef picture, int x1, int y1, int x2, int y2) {
    std::optional<std::string> text;
    {
        py::gil_scoped_release unlocked;
        text = RunBoxScan(BoxScan{std::move(picture), x1, y1, x2, y2});
    }
    if (!text) return py::none();
    return py::str(*text);
}

int Coordinate(long v) {
    if (v < -kMaxCoordinate || v > kMaxCoordinate) {
        throw py::value_error("box corners must lie within +-" + std::to_string(kMaxCoordinate) +
                              ", got " + std::to_string(v));
    }
    return static_cast<int>(v);
}

host::PictureRef Load(const py::bytes& path) {
    const QByteArray encoded = Bytes(path);
    py::gil_scoped_release unlocked;
    return LoadPath(encoded);
}

host::PictureRef Decode(const py::bytes& data) {
    const QByteArray bytes = Bytes(data);
    py::gil_scoped_release unlocked;
    return LoadData(bytes);
}

}  // namespace

}  // namespace scan39::python

PYBIND11_MODULE(_scan39, m) {
    using namespace scan39::python;
    m.doc() = "scan39's extension: use the functions of the scan39 package instead.";

    // Never destroyed: the interpreter may be gone by the time static objects are.
    static auto* pictureError =
        new py::exception<PictureFailure>(m, "PictureError", PyExc_Exception);
    pictureError->doc() =
        "A picture that cannot be loaded; the message is the loader's description.";
    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const PictureFailure& e) {
            const std::string description = e.description().toStdString();
            if (e.number() == scan39::host::kErrFileNotFound ||
                e.number() == scan39::host::kErrPathNotFound) {
                py::object error = py::reinterpret_borrow<py::object>(PyExc_FileNotFoundError)(
                    ENOENT, description, e.path().toStdString());
                PyErr_SetObject(PyExc_FileNotFoundError, error.ptr());
                return;
            }
            py::object error = py::reinterpret_borrow<py::object>(*pictureError)(description);
            error.attr("number") = e.number();
            error.attr("filename") =
                e.path().isEmpty() ? py::object(py::none()) : py::str(e.path().toStdString());
            PyErr_SetObject(pictureError->ptr(), error.ptr());
        }
    });

    m.def(
        "read_path",
        [](const py::bytes& path, bool checkDigit, bool fullAscii, const std::string& effort,
           const std::string& polarity) {
            const auto options = Options(checkDigit, fullAscii, effort, polarity);
            return ReadPicture(Load(path), options);
        },
        py::arg("path"), py::arg("check_digit"), py::arg("full_ascii"), py::arg("effort"),
        py::arg("polarity") = "both");
    m.def(
        "read_data",
        [](const py::bytes& data, bool checkDigit, bool fullAscii, const std::string& effort,
           const std::string& polarity) {
            const auto options = Options(checkDigit, fullAscii, effort, polarity);
            return ReadPicture(Decode(data), options);
        },
        py::arg("data"), py::arg("check_digit"), py::arg("full_ascii"), py::arg("effort"),
        py::arg("polarity") = "both");
    m.def(
        "read_array",
        [](const py::array& array, bool checkDigit, bool fullAscii, const std::string& effort,
           const std::string& polarity) {
            const auto options = Options(checkDigit, fullAscii, effort, polarity);
            const ArrayPixels pixels = PixelsOf(array);  // `array` keeps them alive
            std::vector<scan39::reader::Symbol> symbols;
            {
                py::gil_scoped_release unlocked;
                const GreyPicture grey = GreyOf(pixels);
                symbols = scan39::reader::Read(grey.view, options);
            }
            return ToPython(symbols);
        },
        py::arg("array"), py::arg("check_digit"), py::arg("full_ascii"), py::arg("effort"),
        py::arg("polarity") = "both");

    m.def(
        "scan_box_path",
        [](const py::bytes& path, long x1, long y1, long x2, long y2) {
            const int c[] = {Coordinate(x1), Coordinate(y1), Coordinate(x2), Coordinate(y2)};
            return ScanBox(Load(path), c[0], c[1], c[2], c[3]);
        },
        py::arg("path"), py::arg("x1"), py::arg("y1"), py::arg("x2"), py::arg("y2"));
    m.def(
        "scan_box_data",
        [](const py::bytes& data, long x1, long y1, long x2, long y2) {
            const int c[] = {Coordinate(x1), Coordinate(y1), Coordinate(x2), Coordinate(y2)};
            return ScanBox(Decode(data), c[0], c[1], c[2], c[3]);
        },
        py::arg("data"), py::arg("x1"), py::arg("y1"), py::arg("x2"), py::arg("y2"));
    m.def(
        "scan_box_array",
        [](const py::array& array, long x1, long y1, long x2, long y2) {
            const int c[] = {Coordinate(x1), Coordinate(y1), Coordinate(x2), Coordinate(y2)};
            const ArrayPixels pixels = PixelsOf(array);
            scan39::host::PictureRef picture;
            {
                py::gil_scoped_release unlocked;
                picture = PictureOf(pixels);
            }
            return ScanBox(std::move(picture), c[0], c[1], c[2], c[3]);
        },
        py::arg("array"), py::arg("x1"), py::arg("y1"), py::arg("x2"), py::arg("y2"));

    // For the benchmark of what crossing into Python costs: the reader alone on the array's
    // pixels (already grey and in place when the layout allows), seconds per read.
    m.def(
        "_reader_seconds",
        [](const py::array& array, const std::string& effort, int repeats) {
            const auto options = Options(false, false, effort, "both");
            const ArrayPixels pixels = PixelsOf(array);
            py::gil_scoped_release unlocked;
            const GreyPicture grey = GreyOf(pixels);
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < repeats; ++i) scan39::reader::Read(grey.view, options);
            const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
            return spent.count() / std::max(1, repeats);
        },
        py::arg("array"), py::arg("effort") = "thorough", py::arg("repeats") = 1);

    // The Qt thread ends before the interpreter does, while Qt is still whole.
    m.def("_stop_box_thread", [] {
        py::gil_scoped_release unlocked;
        StopBoxThread();
    });
    py::module_::import("atexit").attr("register")(m.attr("_stop_box_thread"));
}
