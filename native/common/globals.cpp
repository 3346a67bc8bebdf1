#include "common/globals.hpp"

#include "common/state.hpp"

namespace pykora {

void init_builtins_namespace() {
  SharedState& shared = shared_state();
  if (shared.builtins == nullptr) {
    Object module = Object::steal(PyImport_ImportModule("builtins"));
    shared.builtins = Py_NewRef(PyModule_GetDict(module.get()));
  }
}

Object global(PyObject* globals, PyObject* name) {
  PyObject* value = PyDict_GetItemWithError(globals, name);
  if (value == nullptr) {
    throw_if_error_set();
    value = PyDict_GetItemWithError(shared_state().builtins, name);
  }
  if (value == nullptr) {
    throw_if_error_set();
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    throw PythonError{};
  }
  return Object::borrow(value);
}

}  // namespace pykora
