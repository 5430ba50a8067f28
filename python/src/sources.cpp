#include "sources.h"

#include <cerrno>
#include <string>

#include "released.h"
#include "scan39/host/errors.h"

namespace py = pybind11;

namespace scan39::python {

namespace {

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
    CheckPixelCount(a.shape(1), a.shape(0));  // before anything is converted or copied
    p.data = static_cast<const std::uint8_t*>(a.data());
    p.height = a.shape(0);
    p.width = a.shape(1);
    p.rowStride = a.strides(0);
    p.columnStride = a.strides(1);
    return p;
}

template <typename Load>
host::PictureRef Unlocked(Load load) {
    const GilReleased unlocked;
    return load();
}

QByteArray BytesOf(const py::handle& source) {
    // bytes as they are; bytearray and memoryview copied once, as bytes() would.
    const auto bytes = py::reinterpret_steal<py::bytes>(PyBytes_FromObject(source.ptr()));
    if (!bytes) throw py::error_already_set();
    const std::string_view v = bytes;
    return QByteArray(v.data(), static_cast<qsizetype>(v.size()));
}

}  // namespace

std::optional<Encoded> EncodedOf(const py::handle& source) {
    if (PyBytes_Check(source.ptr()) || PyByteArray_Check(source.ptr()) ||
        PyMemoryView_Check(source.ptr()))
        return Encoded{BytesOf(source), false};
    if (PyUnicode_Check(source.ptr()) || PyObject_HasAttrString(source.ptr(), "__fspath__"))
        return Encoded{BytesOf(py::module_::import("os").attr("fsencode")(source)), true};
    return std::nullopt;
}

Source SourceOf(const py::handle& source) {
    Source s;
    if (const auto encoded = EncodedOf(source)) {
        s.picture = Unlocked(
            [&] { return encoded->path ? LoadPath(encoded->bytes) : LoadData(encoded->bytes); });
    } else if (py::isinstance<py::array>(source)) {  // last: this imports NumPy
        s.array = py::reinterpret_borrow<py::array>(source);
        s.pixels = PixelsOf(py::reinterpret_borrow<py::array>(source));
    } else {
        throw py::type_error(
            "expected a path, bytes of an encoded picture, a NumPy array or a PIL.Image.Image, "
            "got " +
            std::string(py::str(py::type::of(source).attr("__name__"))));
    }
    return s;
}

void TranslateFailures(py::object pictureError) {
    // Kept for the life of the process: the interpreter may be gone by the time statics are.
    static auto* error = new py::object(std::move(pictureError));
    py::register_local_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const PictureFailure& e) {
            const std::string description = e.description().toStdString();
            if (e.number() == host::kErrFileNotFound || e.number() == host::kErrPathNotFound) {
                py::object raised = py::reinterpret_borrow<py::object>(PyExc_FileNotFoundError)(
                    ENOENT, description, e.path().toStdString());
                PyErr_SetObject(PyExc_FileNotFoundError, raised.ptr());
                return;
            }
            py::object raised = (*error)(description);
            raised.attr("number") = e.number();
            raised.attr("filename") =
                e.path().isEmpty() ? py::object(py::none()) : py::str(e.path().toStdString());
            PyErr_SetObject(error->ptr(), raised.ptr());
        }
    });
}

}  // namespace scan39::python
