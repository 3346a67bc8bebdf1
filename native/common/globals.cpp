#include "common/globals.hpp"

namespace pykora {
namespace {

PyObject* g_builtins = nullptr;

}  // namespace

PyObject* builtins_namespace() { return g_builtins; }

void init_builtins_namespace() {
  if (g_builtins == nullptr) {
    Object module = Object::steal(PyImport_ImportModule("builtins"));
    g_builtins = Py_NewRef(PyModule_GetDict(module.get()));
  }
}

Object global(PyObject* globals, PyObject* name) {
  PyObject* value = PyDict_GetItemWithError(globals, name);
  if (value == nullptr) {
    throw_if_error_set();
    value = PyDict_GetItemWithError(g_builtins, name);
  }
  if (value == nullptr) {
    throw_if_error_set();
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    throw PythonError{};
  }
  return Object::borrow(value);
}

}  // namespace pykora
