#include "options/guards.hpp"

#include "common/globals.hpp"
#include "options/state.hpp"

namespace pykora::options {
namespace {

// The store as the module binds it now, borrowed; null when it has none.
PyObject* module_store(PyObject* globals) {
  PyObject* store = PyDict_GetItemWithError(globals, state().names.store);
  if (store == nullptr) {
    PyErr_Clear();
  }
  return store;
}

bool keys_are_exact_str(PyObject* dict) {
  Py_ssize_t position = 0;
  PyObject* key = nullptr;
  while (PyDict_Next(dict, &position, &key, nullptr)) {
    if (!PyUnicode_CheckExact(key)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool route_open(Route route, const GuardSubject& subject) {
  const State& s = state();
  const unsigned dependencies = dependencies_of(kRouteGuards, route);
  if ((dependencies & kDefaultsFunction) != 0 &&
      !holds(subject.globals, s.names.get_option_default, s.originals.get_option_default)) {
    return false;
  }
  if ((dependencies & kCpuDefaultFunction) != 0 &&
      !holds(subject.globals, s.names.cpu_default_string, s.originals.cpu_default_string)) {
    return false;
  }
  if ((dependencies & (kDictStore | kStrKeyedStore)) == 0) {
    return true;
  }
  PyObject* store = subject.store != nullptr ? subject.store : module_store(subject.globals);
  if (store == nullptr || !PyDict_CheckExact(store)) {
    return false;
  }
  return (dependencies & kStrKeyedStore) == 0 ||
         (subject.key != nullptr && PyUnicode_CheckExact(subject.key) && keys_are_exact_str(store));
}

void capture_originals(PyObject* module) {
  State& s = state();
  PyObject* globals = checked(PyModule_GetDict(module));
  Object defaults = global(globals, s.names.get_option_default);
  Object helper = global(globals, s.names.cpu_default_string);
  Py_XSETREF(s.originals.get_option_default, defaults.release());
  Py_XSETREF(s.originals.cpu_default_string, helper.release());
}

}  // namespace pykora::options
