#include "common/calls.hpp"

namespace pykora {
namespace {
PyObject* g_builtins = nullptr;

// Borrowed lookup in the module namespace, then builtins, without raising
// for a missing name (nullptr then, with no exception set).
PyObject* peek_global(PyObject* globals, PyObject* name) {
  PyObject* value = PyDict_GetItemWithError(globals, name);
  if (value == nullptr && !PyErr_Occurred()) {
    value = PyDict_GetItemWithError(g_builtins, name);
  }
  return value;
}

}  // namespace

PyObject* builtins_namespace() { return g_builtins; }

bool init_builtins_namespace() {
  if (g_builtins != nullptr) {
    return true;
  }
  Ref module = Ref::steal(PyImport_ImportModule("builtins"));
  if (!module) {
    return false;
  }
  g_builtins = Py_NewRef(PyModule_GetDict(module.get()));
  return true;
}

Ref load_global(PyObject* globals, PyObject* name) {
  PyObject* value = peek_global(globals, name);
  if (value == nullptr && !PyErr_Occurred()) {
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
  }
  return Ref::borrow(value);
}

}  // namespace pykora
