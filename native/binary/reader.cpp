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
#include <vector>

#include "binary/functions.hpp"
#include "binary/guards.hpp"
#include "common/gil.hpp"
#include "common/globals.hpp"
#include "common/object.hpp"
#include "core/file_reader.hpp"

namespace pykora::binary {
namespace {

constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC;

Object new_stream_array(npy_intp count) {
  PyArray_Descr* f8_le = state().originals.f8_le;
  Py_INCREF(f8_le);
  return Object::steal(
      PyArray_NewFromDescr(&PyArray_Type, f8_le, 1, &count, nullptr, nullptr, 0, nullptr));
}

std::byte* bytes_of(const Object& array) {
  return static_cast<std::byte*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

// What np.frombuffer raises for a payload whose length is not a multiple
// of 8, produced by NumPy itself from a payload of the same remainder.
[[noreturn]] void raise_ragged_payload(size_t remainder, PyObject* dtype) {
  Object sample =
      Object::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(remainder)));
  std::memset(PyBytes_AS_STRING(sample.get()), 0, remainder);
  const State& s = state();
  Object::borrow(s.originals.numpy_attr[kFrombuffer])
      .call_with_keyword(s.names.dtype, dtype, sample);
  PyErr_SetString(PyExc_ValueError, "buffer size must be a multiple of element size");
  throw PythonError{};
}

// A blocking call was interrupted by a signal: runs the Python handlers, as
// the interpreter's own file reading does, and throws the exception a
// handler raised. The caller then retries the call.
void run_signal_handlers() { checked(PyErr_CheckSignals()); }

[[noreturn]] void raise_errno(int error, PyObject* filename = nullptr) {
  errno = error;
  if (filename != nullptr) {
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, filename);
  } else {
    PyErr_SetFromErrno(PyExc_OSError);
  }
  throw PythonError{};
}

// The whole file, as read from an open descriptor: `filled` bytes in the
// array sized from the file system, then whatever followed in `tail`.
struct Contents {
  Object array;
  size_t filled = 0;
  std::vector<std::byte> tail;

  size_t total() const { return filled + tail.size(); }
};

// Reads `file` to its end.
Contents read_whole(const core::File& file) {
  const size_t hint = file.size_hint();
  const size_t capacity = hint / sizeof(double) + (hint % sizeof(double) != 0);
  Contents contents;
  contents.array = new_stream_array(static_cast<npy_intp>(capacity));
  const std::span<std::byte> storage(bytes_of(contents.array), capacity * sizeof(double));
  for (;;) {
    const core::ReadStep step = without_gil([&] {
      core::ReadStep read = core::read_into(file, storage.subspan(contents.filled));
      contents.filled += read.bytes;
      if (read.error == 0 && !read.at_end) {
        read = core::read_rest(file, contents.tail);
      }
      return read;
    });
    if (step.error == EINTR) {
      run_signal_handlers();
      continue;
    }
    if (step.error != 0) {
      raise_errno(step.error);
    }
    return contents;
  }
}

// The file's bytes as one array of the size read. The file may have been
// shorter or longer than its size said: then what was read is copied into
// an array of the size read.
Object stream_array(Contents& contents) {
  const size_t total = contents.total();
  if (total ==
      static_cast<size_t>(PyArray_NBYTES(reinterpret_cast<PyArrayObject*>(contents.array.get())))) {
    return std::move(contents.array);
  }
  Object resized = new_stream_array(static_cast<npy_intp>(total / sizeof(double)));
  if (contents.filled > 0) {
    std::memcpy(bytes_of(resized), bytes_of(contents.array), contents.filled);
  }
  if (!contents.tail.empty()) {
    std::memcpy(bytes_of(resized) + contents.filled, contents.tail.data(), contents.tail.size());
  }
  return resized;
}

// The file's bytes as the bytes object p.read_bytes() returns.
Object bytes_of_contents(const Contents& contents) {
  Object data =
      Object::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(contents.total())));
  char* out = PyBytes_AS_STRING(data.get());
  if (contents.filled > 0) {
    std::memcpy(out, bytes_of(contents.array), contents.filled);
  }
  if (!contents.tail.empty()) {
    std::memcpy(out + contents.filled, contents.tail.data(), contents.tail.size());
  }
  return data;
}

Object decode_payload(PyObject* globals, const Object& data);

// Opens the file at `c_path` as io.open would; a signal that interrupts the
// open runs the handlers, and the open is tried again unless one raised.
void open_file(core::File& file, const char* c_path, PyObject* fspath) {
  for (;;) {
    const int error = without_gil([&] { return file.open(c_path); });
    if (error == 0) {
      return;
    }
    if (error != EINTR) {
      raise_errno(error, fspath);
    }
    run_signal_handlers();
  }
}

// What p.read_bytes() and the decoding that follows give, for `p` whose
// reading is pathlib's own (the kReadNative guard): the file opened, read
// whole and closed as io.open would, with the same audit event and errors.
// Audit hooks and __fspath__ run the caller's code; when that rebinds what
// the decoding uses, the bytes go through the module-level decoding.
Object read_native(PyObject* globals, PyObject* p) {
  Object fspath = Object::steal(PyOS_FSPath(p));
  Object encoded;
  {
    PyObject* raw = nullptr;
    if (!PyUnicode_FSConverter(fspath.get(), &raw)) {
      throw PythonError{};
    }
    encoded = Object::steal(raw);
  }
  checked(PySys_Audit("open", "Osi", fspath.get(), "r", kOpenFlags));
  core::File file;  // closes the descriptor however this returns
  open_file(file, PyBytes_AS_STRING(encoded.get()), fspath.get());
  Contents contents = read_whole(file);

  if (!route_open(Route::kDecodeBytesNative, {globals})) {
    return decode_payload(globals, bytes_of_contents(contents));
  }
  const size_t total = contents.total();
  if (total == 0) {
    npy_intp count = 0;  // np.empty((0,), dtype=np.float64)
    return Object::steal(PyArray_SimpleNew(1, &count, NPY_DOUBLE));
  }
  if (total % sizeof(double) != 0) {
    raise_ragged_payload(total % sizeof(double), global(globals, state().names.F8_LE).get());
  }
  return stream_array(contents);
}

// if not data: return np.empty((0,), dtype=np.float64)
// return np.frombuffer(data, dtype=_F8_LE).copy()
Object decode_payload(PyObject* globals, const Object& data) {
  const Names& names = state().names;
  if (!data.truth()) {
    Object np = global(globals, names.np);
    Object empty = np.attr(names.numpy_attr[kEmpty]);
    Object shape = tuple(integer(0));
    np = global(globals, names.np);
    Object float64 = np.attr(names.numpy_attr[kFloat64]);
    return empty.call_with_keyword(names.dtype, float64, shape);
  }
  Object np = global(globals, names.np);
  Object frombuffer = np.attr(names.numpy_attr[kFrombuffer]);
  Object dtype = global(globals, names.F8_LE);
  Object view = frombuffer.call_with_keyword(names.dtype, dtype, data);
  return view.method(names.copy);
}

}  // namespace

PyObject* read_binary_file(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  PyObject* globals = self->globals;
  const Names& names = state().names;
  // p = Path(path)
  Object path_type = global(globals, names.Path);
  Object p = path_type(args[0]);
  // if not p.exists(): return None
  Object exists = p.method(names.exists);
  if (!exists.truth()) {
    Py_RETURN_NONE;
  }
  if (route_open(Route::kReadNative, {globals, path_type.get(), p.get()})) {
    return read_native(globals, p.get()).release();
  }
  // data = p.read_bytes()
  Object data = p.method(names.read_bytes);
  return decode_payload(globals, data).release();
}

}  // namespace pykora::binary
