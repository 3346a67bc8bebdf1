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
#include "binary/guards.hpp"
#include "common/calls.hpp"
#include "common/gil.hpp"
#include "common/object.hpp"
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

// A blocking call was interrupted by a signal: run the Python handlers, as
// the interpreter's own file reading does. True when the call should be
// retried; false with the handler's exception set.
bool retry_after_signal() { return PyErr_CheckSignals() == 0; }

// The whole file, as read from an open descriptor: `filled` bytes in the
// array sized from the file system, then whatever followed in `tail`.
struct Contents {
  Ref array;
  size_t filled = 0;
  std::vector<std::byte> tail;

  size_t total() const { return filled + tail.size(); }
};

// Reads `file` to its end into `contents`. False with an exception set.
bool read_whole(const core::File& file, Contents& contents) {
  const size_t hint = file.size_hint();
  const size_t capacity = hint / sizeof(double) + (hint % sizeof(double) != 0);
  contents.array = new_stream_array(static_cast<npy_intp>(capacity));
  if (!contents.array) {
    return false;
  }
  const std::span<std::byte> storage(bytes_of(contents.array), capacity * sizeof(double));
  for (;;) {
    core::ReadStep step;
    bool out_of_memory = false;
    {
      ReleasedGil released;
      try {
        step = core::read_into(file, storage.subspan(contents.filled));
        contents.filled += step.bytes;
        if (step.error == 0 && !step.at_end) {
          step = core::read_rest(file, contents.tail);
        }
      } catch (const std::bad_alloc&) {
        out_of_memory = true;
      }
    }
    if (out_of_memory) {
      PyErr_NoMemory();
      return false;
    }
    if (step.error == EINTR) {
      if (!retry_after_signal()) {
        return false;
      }
      continue;
    }
    if (step.error != 0) {
      errno = step.error;
      PyErr_SetFromErrno(PyExc_OSError);
      return false;
    }
    return true;
  }
}

// The file's bytes as one array of the size read. The file may have been
// shorter or longer than its size said: then what was read is copied into
// an array of the size read.
Ref stream_array(Contents& contents) {
  const size_t total = contents.total();
  if (total ==
      static_cast<size_t>(PyArray_NBYTES(reinterpret_cast<PyArrayObject*>(contents.array.get())))) {
    return std::move(contents.array);
  }
  Ref resized = new_stream_array(static_cast<npy_intp>(total / sizeof(double)));
  if (resized && contents.filled > 0) {
    std::memcpy(bytes_of(resized), bytes_of(contents.array), contents.filled);
  }
  if (resized && !contents.tail.empty()) {
    std::memcpy(bytes_of(resized) + contents.filled, contents.tail.data(), contents.tail.size());
  }
  return resized;
}

// The file's bytes as the bytes object p.read_bytes() returns.
Ref bytes_of_contents(const Contents& contents) {
  Ref data =
      Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(contents.total())));
  if (data) {
    char* out = PyBytes_AS_STRING(data.get());
    if (contents.filled > 0) {
      std::memcpy(out, bytes_of(contents.array), contents.filled);
    }
    if (!contents.tail.empty()) {
      std::memcpy(out + contents.filled, contents.tail.data(), contents.tail.size());
    }
  }
  return data;
}

Object decode_payload(PyObject* globals, const Object& data);

// What p.read_bytes() and the decoding that follows give, for `p` whose
// reading is pathlib's own (path_reading_intact): the file opened, read
// whole and closed as io.open would, with the same audit event and errors.
// Audit hooks and __fspath__ run the caller's code; when that rebinds what
// the decoding uses, the bytes go through the module-level decoding.
Ref read_native(PyObject* globals, PyObject* p) {
  Ref fspath = Ref::steal(PyOS_FSPath(p));
  if (!fspath) {
    return {};
  }
  Ref encoded;
  {
    PyObject* raw = nullptr;
    if (!PyUnicode_FSConverter(fspath.get(), &raw)) {
      return {};
    }
    encoded = Ref::steal(raw);
  }
  if (PySys_Audit("open", "Osi", fspath.get(), "r", kOpenFlags) < 0) {
    return {};
  }
  core::File file;
  const char* c_path = PyBytes_AS_STRING(encoded.get());
  for (;;) {
    const int error = without_gil([&] { return file.open(c_path); });
    if (error == 0) {
      break;
    }
    if (error == EINTR && retry_after_signal()) {
      continue;
    }
    if (error != EINTR) {
      errno = error;
      PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, fspath.get());
    }
    return {};  // the descriptor, if any, closes with `file`
  }
  Contents contents;
  if (!read_whole(file, contents)) {
    return {};
  }

  if (!numpy_intact(globals) || !f8_le_intact(globals)) {
    Ref data = bytes_of_contents(contents);
    return data ? Ref::steal(decode_payload(globals, Object(std::move(data))).release()) : Ref{};
  }
  const size_t total = contents.total();
  if (total == 0) {
    npy_intp count = 0;  // np.empty((0,), dtype=np.float64)
    return Ref::steal(PyArray_SimpleNew(1, &count, NPY_DOUBLE));
  }
  if (total % sizeof(double) != 0) {
    Ref dtype = Ref::borrow(PyDict_GetItemWithError(globals, names.F8_LE));
    if (dtype) {
      raise_ragged_payload(total % sizeof(double), dtype.get());
    }
    return {};
  }
  return stream_array(contents);
}

// if not data: return np.empty((0,), dtype=np.float64)
// return np.frombuffer(data, dtype=_F8_LE).copy()
Object decode_payload(PyObject* globals, const Object& data) {
  if (!data.truth()) {
    Object np = global(globals, names.np);
    Object empty = np.attr(names.numpy_attr[kEmpty]);
    Object shape = tuple(names.zero);
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

bool native_read_applies(PyObject* globals, PyObject* path_type, PyObject* p) {
  return path_reading_intact(path_type, p) && numpy_intact(globals) && f8_le_intact(globals);
}

}  // namespace

PyObject* read_binary_file(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  PyObject* globals = self->globals;
  // p = Path(path)
  Object path_type = global(globals, names.Path);
  Object p = path_type(args[0]);
  // if not p.exists(): return None
  Object exists = p.method(names.exists);
  if (!exists.truth()) {
    Py_RETURN_NONE;
  }
  if (native_read_applies(globals, path_type.get(), p.get())) {
    return read_native(globals, p.get()).release();
  }
  // data = p.read_bytes()
  Object data = p.method(names.read_bytes);
  return decode_payload(globals, data).release();
}

}  // namespace pykora::binary
