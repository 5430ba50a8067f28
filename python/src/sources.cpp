#include "sources.h"

#include <cerrno>
#include <string>

#include "loading.h"

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

Encoded EncodedOfBytes(const py::handle& source, bool path) {
    // bytes as they are; bytearray and memoryview copied once, as bytes() would.
    Encoded e;
    e.bytes = py::reinterpret_steal<py::bytes>(PyBytes_FromObject(source.ptr()));
    if (!e.bytes) throw py::error_already_set();
    e.data = e.bytes;
    e.path = path;
    return e;
}

}  // namespace

std::optional<Encoded> EncodedOf(const py::handle& source) {
    if (PyBytes_Check(source.ptr()) || PyByteArray_Check(source.ptr()) ||
        PyMemoryView_Check(source.ptr()))
        return EncodedOfBytes(source, false);
    if (PyUnicode_Check(source.ptr()) || PyObject_HasAttrString(source.ptr(), "__fspath__"))
        return EncodedOfBytes(py::module_::import("os").attr("fsencode")(source), true);
    return std::nullopt;
}

Array ArrayOf(const py::handle& source) {
    if (!py::isinstance<py::array>(source)) {  // this imports NumPy
        throw py::type_error(
            "expected a path, bytes of an encoded picture, a NumPy array or a PIL.Image.Image, "
            "got " +
            std::string(py::str(py::type::of(source).attr("__name__"))));
    }
    Array a;
    a.array = py::reinterpret_borrow<py::array>(source);
    a.pixels = PixelsOf(py::reinterpret_borrow<py::array>(source));
    return a;
}

void TranslateFailures(py::object pictureError) {
    // Kept for the life of the process: the interpreter may be gone by the time statics are.
    static auto* error = new py::object(std::move(pictureError));
    py::register_local_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const PictureFailure& e) {
            if (e.missing()) {
                py::object raised = py::reinterpret_borrow<py::object>(PyExc_FileNotFoundError)(
                    ENOENT, e.description(), e.path());
                PyErr_SetObject(PyExc_FileNotFoundError, raised.ptr());
                return;
            }
            py::object raised = (*error)(e.description());
            raised.attr("number") = e.number();
            raised.attr("filename") = e.path().empty() ? py::object(py::none()) : py::str(e.path());
            PyErr_SetObject(error->ptr(), raised.ptr());
        } catch (const NotInThisBuild& e) {
            PyErr_SetString(PyExc_NotImplementedError, e.what());
        }
    });
}

}  // namespace scan39::python
