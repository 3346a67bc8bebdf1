#include "binary/guards.hpp"

#include "common/compat.hpp"
#include "common/globals.hpp"

namespace pykora::binary {
namespace {

bool numpy_holds(PyObject* globals) {
  const State& s = state();
  if (!holds(globals, s.names.np, s.originals.numpy)) {
    return false;
  }
  PyObject* numpy_dict = PyModule_GetDict(s.originals.numpy);
  for (int i = 0; i < kNumpyAttrCount; ++i) {
    if (!holds(numpy_dict, s.names.numpy_attr[i], s.originals.numpy_attr[i])) {
      return false;
    }
  }
  return true;
}

bool builtins_hold(PyObject* globals) {
  const State& s = state();
  for (int i = 0; i < kBuiltinCount; ++i) {
    if (!holds(globals, s.names.builtin[i], nullptr) ||
        !holds(shared_state().builtins, s.names.builtin[i], s.originals.builtin[i])) {
      return false;
    }
  }
  return true;
}

bool splitter_holds(PyObject* globals) {
  const State& s = state();
  return holds(globals, s.names.split_vector_blocks, s.originals.splitter);
}

bool f8_le_holds(PyObject* globals) {
  PyObject* dtype = PyDict_GetItemWithError(globals, state().names.F8_LE);
  if (dtype == nullptr) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_CheckExact(dtype) && PyUnicode_CompareWithASCIIString(dtype, "<f8") == 0;
}

bool path_reading_holds(PyObject* path_type, PyObject* p) {
  const State& s = state();
  const Originals& originals = s.originals;
  if (path_type == nullptr || p == nullptr || path_type != originals.path_type ||
      originals.read_bytes == nullptr || originals.io_open == nullptr ||
      find_in_mro(Py_TYPE(p), s.names.read_bytes) != originals.read_bytes ||
      find_in_mro(Py_TYPE(p), s.names.open) != originals.open) {
    return false;
  }
  return holds(originals.open_globals, s.names.io, originals.pathlib_io) &&
         holds(PyModule_GetDict(originals.pathlib_io), s.names.open, originals.io_open);
}

// Path.open ends in `io.open(self, ...)`, with `io` looked up in the
// namespace of the module that defines Path.open: pathlib itself up to 3.12,
// pathlib._local from 3.13. Where Path.open is not a Python function whose
// namespace binds a module `io` with an `open`, nothing is captured, and no
// read ever takes the native route.
void capture_io_open(const Names& names, Originals& originals) {
  if (originals.open == nullptr || !PyFunction_Check(originals.open)) {
    return;
  }
  PyObject* globals = PyFunction_GET_GLOBALS(originals.open);
  PyObject* io = PyDict_GetItemWithError(globals, names.io);
  if (io == nullptr || !PyModule_Check(io)) {
    PyErr_Clear();
    return;
  }
  PyObject* io_open = PyDict_GetItemWithError(PyModule_GetDict(io), names.open);
  if (io_open == nullptr) {
    PyErr_Clear();
    return;
  }
  originals.open_globals = Py_NewRef(globals);
  originals.pathlib_io = Py_NewRef(io);
  originals.io_open = Py_NewRef(io_open);
}

}  // namespace

bool route_open(Route route, const GuardSubject& subject) {
  const unsigned dependencies = dependencies_of(kRouteGuards, route);
  return ((dependencies & kPathReading) == 0 ||
          path_reading_holds(subject.path_type, subject.path)) &&
         ((dependencies & kSplitter) == 0 || splitter_holds(subject.globals)) &&
         ((dependencies & kNumpy) == 0 || numpy_holds(subject.globals)) &&
         ((dependencies & kBuiltins) == 0 || builtins_hold(subject.globals)) &&
         ((dependencies & kF8Le) == 0 || f8_le_holds(subject.globals));
}

void capture_originals(PyObject* module) {
  const Names& names = state().names;
  PyObject* globals = checked(PyModule_GetDict(module));
  Object numpy = global(globals, names.np);
  Object path_type = global(globals, names.Path);
  Object splitter = global(globals, names.split_vector_blocks);
  if (!PyType_Check(path_type.get())) {
    PyErr_SetString(PyExc_ImportError, "pathlib.Path is not a class");
    throw PythonError{};
  }
  Object numpy_attr[kNumpyAttrCount];
  for (int i = 0; i < kNumpyAttrCount; ++i) {
    numpy_attr[i] = numpy.attr(names.numpy_attr[i]);
  }
  Object builtin[kBuiltinCount];
  for (int i = 0; i < kBuiltinCount; ++i) {
    builtin[i] = global(shared_state().builtins, names.builtin[i]);
  }
  const double nan = PyFloat_AsDouble(numpy_attr[kNan].get());
  if (nan == -1.0) {
    throw_if_error_set();
  }
  PyArray_Descr* f8_le = nullptr;
  if (!PyArray_DescrConverter(text("<f8").get(), &f8_le)) {
    throw PythonError{};
  }

  // Everything is found: keep it for the life of the process.
  Originals& originals = state().originals;
  auto* path_cls = reinterpret_cast<PyTypeObject*>(path_type.get());
  originals.read_bytes = Py_XNewRef(find_in_mro(path_cls, names.read_bytes));
  originals.open = Py_XNewRef(find_in_mro(path_cls, names.open));
  capture_io_open(names, originals);
  originals.numpy = numpy.release();
  originals.path_type = path_type.release();
  originals.splitter = splitter.release();
  for (int i = 0; i < kNumpyAttrCount; ++i) {
    originals.numpy_attr[i] = numpy_attr[i].release();
  }
  for (int i = 0; i < kBuiltinCount; ++i) {
    originals.builtin[i] = builtin[i].release();
  }
  originals.f8_le = f8_le;
  originals.float64_descr = PyArray_DescrFromType(NPY_DOUBLE);
  originals.nan = nan;
}

}  // namespace pykora::binary
