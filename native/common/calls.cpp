#include "common/calls.hpp"

namespace pykora {
namespace {
PyObject* g_builtins = nullptr;
}

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

PyObject* peek_global(PyObject* globals, PyObject* name) {
  PyObject* value = PyDict_GetItemWithError(globals, name);
  if (value == nullptr && !PyErr_Occurred()) {
    value = PyDict_GetItemWithError(g_builtins, name);
  }
  return value;
}

Ref load_global(PyObject* globals, PyObject* name) {
  PyObject* value = peek_global(globals, name);
  if (value == nullptr && !PyErr_Occurred()) {
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
  }
  return Ref::borrow(value);
}

}  // namespace pykora
