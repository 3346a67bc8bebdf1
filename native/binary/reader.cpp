// kora_read_binary_file: a little-endian float64 stream file into an array.
//
// The module-level code reads the file into a bytes object and copies it
// into the array, which needs twice the file's size. When `Path`, its
// `read_bytes` and NumPy are the module's own, the native route reads the
// file straight into the array's storage instead, without the interpreter
// lock, so that threads reading different files run in parallel.
#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "binary/functions.hpp"
#include "binary/state.hpp"
#include "common/calls.hpp"
#include "core/file_reader.hpp"

namespace pykora::binary {
namespace {

constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC;

Ref new_stream_array(npy_intp count) {
  Py_INCREF(originals.f8_le);
  return Ref::steal(PyArray_NewFromDescr(&PyArray_Type, originals.f8_le, 1, &count, nullptr,
                                         nullptr, 0, nullptr));
}

std::byte* bytes_of(const Ref& array) {
  return static_cast<std::byte*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

// np.empty((0,), dtype=np.float64)
Ref empty_result() {
  npy_intp count = 0;
  return Ref::steal(PyArray_SimpleNew(1, &count, NPY_DOUBLE));
}

// What np.frombuffer raises for a payload whose length is not a multiple
// of 8, produced by NumPy itself from a payload of the same remainder.
void raise_ragged_payload(size_t remainder, PyObject* dtype) {
  Ref sample = Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(remainder)));
  if (!sample) {
    return;
  }
  std::memset(PyBytes_AS_STRING(sample.get()), 0, remainder);
  Ref decoded =
      call_with_keyword(originals.numpy_attr[kFrombuffer], names.dtype, dtype, sample.get());
  if (decoded) {
    PyErr_SetString(PyExc_ValueError, "buffer size must be a multiple of element size");
  }
}

// Reads the file at `path` (str) into a new array, as p.read_bytes()
// followed by the decoding would, with the same errors.
Ref read_native(PyObject* path, PyObject* dtype) {
  Ref encoded;
  {
    PyObject* raw = nullptr;
    if (!PyUnicode_FSConverter(path, &raw)) {
      return {};
    }
    encoded = Ref::steal(raw);
  }
  if (PySys_Audit("open", "Osi", path, "r", kOpenFlags) < 0) {
    return {};
  }
  core::File file;
  const char* c_path = PyBytes_AS_STRING(encoded.get());
  int error = 0;
  Py_BEGIN_ALLOW_THREADS error = file.open(c_path);
  Py_END_ALLOW_THREADS if (error != 0) {
    errno = error;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
    return {};
  }

  // Sized from the file system, read to the end of the file: a file that
  // grows or shrinks meanwhile gives what a whole read sees.
  const size_t hint = file.size_hint();
  const size_t capacity = hint / sizeof(double) + (hint % sizeof(double) != 0);
  Ref array = new_stream_array(static_cast<npy_intp>(capacity));
  if (!array) {
    return {};
  }
  const std::span<std::byte> storage(bytes_of(array), capacity * sizeof(double));
  size_t filled = 0;
  std::vector<std::byte> tail;
  for (;;) {
    core::ReadStep step;
    bool out_of_memory = false;
    Py_BEGIN_ALLOW_THREADS try {
      step = core::read_into(file, storage.subspan(filled));
      filled += step.bytes;
      if (step.error == 0 && !step.at_end) {
        step = core::read_rest(file, tail);
      }
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
    }
    Py_END_ALLOW_THREADS if (out_of_memory) {
      PyErr_NoMemory();
      return {};
    }
    if (step.error == EINTR) {
      if (PyErr_CheckSignals() < 0) {
        return {};
      }
      continue;
    }
    if (step.error != 0) {
      errno = step.error;
      PyErr_SetFromErrno(PyExc_OSError);
      return {};
    }
    break;
  }

  const size_t total = filled + tail.size();
  if (total == 0) {
    return empty_result();
  }
  if (total % sizeof(double) != 0) {
    raise_ragged_payload(total % sizeof(double), dtype);
    return {};
  }
  if (total == storage.size()) {
    return array;
  }
  // The file was shorter or longer than its size said: copy what was read
  // into an array of the size read.
  Ref resized = new_stream_array(static_cast<npy_intp>(total / sizeof(double)));
  if (resized && filled > 0) {
    std::memcpy(bytes_of(resized), storage.data(), filled);
  }
  if (resized && !tail.empty()) {
    std::memcpy(bytes_of(resized) + filled, tail.data(), tail.size());
  }
  return resized;
}

// data = p.read_bytes(); then the empty array or np.frombuffer(...).copy().
Ref read_module_level(PyObject* globals, PyObject* p) {
  Ref data = call_method(p, names.read_bytes);
  const int has_payload = data ? PyObject_IsTrue(data.get()) : -1;
  if (has_payload < 0) {
    return {};
  }
  Ref np = load_global(globals, names.np);
  if (!np) {
    return {};
  }
  if (!has_payload) {
    Ref empty = getattr(np.get(), names.numpy_attr[kEmpty]);
    Ref shape = empty ? Ref::steal(Py_BuildValue("(i)", 0)) : Ref{};
    np = shape ? load_global(globals, names.np) : Ref{};
    Ref float64 = np ? getattr(np.get(), names.numpy_attr[kFloat64]) : Ref{};
    return float64 ? call_with_keyword(empty.get(), names.dtype, float64.get(), shape.get())
                   : Ref{};
  }
  Ref frombuffer = getattr(np.get(), names.numpy_attr[kFrombuffer]);
  Ref dtype = frombuffer ? load_global(globals, names.F8_LE) : Ref{};
  Ref view =
      dtype ? call_with_keyword(frombuffer.get(), names.dtype, dtype.get(), data.get()) : Ref{};
  return view ? call_method(view.get(), names.copy) : Ref{};
}

// Whether reading `p` natively is indistinguishable from the module-level
// code: pathlib's reading and NumPy as the module was created with them, and
// _F8_LE still the text "<f8".
bool native_read_applies(PyObject* globals, PyObject* path_type, PyObject* p) {
  if (!path_reading_intact(path_type, p) || !numpy_intact(globals)) {
    return false;
  }
  PyObject* dtype = PyDict_GetItemWithError(globals, names.F8_LE);
  if (dtype == nullptr) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_CheckExact(dtype) && PyUnicode_CompareWithASCIIString(dtype, "<f8") == 0;
}

}  // namespace

PyObject* read_binary_file(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  PyObject* globals = self->globals;
  Ref path_type = load_global(globals, names.Path);
  Ref p = path_type ? call(path_type.get(), args[0]) : Ref{};
  Ref exists = p ? call_method(p.get(), names.exists) : Ref{};
  const int found = exists ? PyObject_IsTrue(exists.get()) : -1;
  if (found <= 0) {
    if (found < 0) {
      return nullptr;
    }
    Py_RETURN_NONE;
  }
  if (!native_read_applies(globals, path_type.get(), p.get())) {
    return read_module_level(globals, p.get()).release();
  }
  Ref fspath = Ref::steal(PyOS_FSPath(p.get()));
  if (!fspath || !PyUnicode_Check(fspath.get())) {
    PyErr_Clear();
    return read_module_level(globals, p.get()).release();
  }
  Ref dtype = Ref::borrow(PyDict_GetItemWithError(globals, names.F8_LE));
  return dtype ? read_native(fspath.get(), dtype.get()).release() : nullptr;
}

}  // namespace pykora::binary
