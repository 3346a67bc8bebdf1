// kora_set_option and _set_one: writing options.
#include "common/calls.hpp"
#include "options/defaults.hpp"
#include "options/functions.hpp"
#include "options/state.hpp"

namespace pykora::options {
namespace {

constexpr const char kCallingForms[] =
    "Use either kora_set_option('key', value) or kora_set_option(key=value, ...).";

// `option in set(kora_get_option_default().keys()) | {"kora.call", "weftgen.call"}`
int is_valid_key(PyObject* globals, PyObject* option) {
  Defaults defaults;
  if (!defaults.fetch(globals)) {
    return -1;
  }
  if (!defaults.rebound()) {
    return PySet_Contains(table.valid_keys, option);
  }
  Ref keys = call_method(defaults.rebound(), names.keys);
  Ref valid = keys ? Ref::steal(PySet_New(keys.get())) : Ref{};
  if (!valid || PySet_Add(valid.get(), names.kora_call) < 0 ||
      PySet_Add(valid.get(), names.weftgen_call) < 0) {
    return -1;
  }
  return PySet_Contains(valid.get(), option);
}

bool call_set_one(PyObject* globals, PyObject* key, PyObject* value) {
  Ref setter = load_global(globals, names.set_one);
  return setter && call(setter.get(), key, value);
}

}  // namespace

PyObject* set_one(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  PyObject* globals = self->globals;
  PyObject* option = args[0];
  const int valid = is_valid_key(globals, option);
  if (valid <= 0) {
    if (valid == 0) {
      raise_unknown_option(option);
    }
    return nullptr;
  }
  Ref store = load_global(globals, names.store);
  if (!store || PyObject_SetItem(store.get(), option, args[1]) < 0) {
    return nullptr;
  }
  Py_RETURN_NONE;
}

PyObject* set_option(Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* globals = self->globals;
  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  if (nargs == 2 && nkw == 0) {
    if (!PyUnicode_Check(args[0])) {
      PyErr_SetString(PyExc_TypeError, "First positional argument must be a string key");
      return nullptr;
    }
    if (!call_set_one(globals, args[0], args[1])) {
      return nullptr;
    }
  } else if (nargs == 0 && nkw > 0) {
    // In the order the keywords were written; a failure leaves the earlier
    // ones stored.
    for (Py_ssize_t j = 0; j < nkw; ++j) {
      if (!call_set_one(globals, PyTuple_GET_ITEM(kwnames, j), args[j])) {
        return nullptr;
      }
    }
  } else {
    PyErr_SetString(PyExc_TypeError, kCallingForms);
    return nullptr;
  }
  Ref checked = call_global(globals, names.post_set_checks);
  if (!checked) {
    return nullptr;
  }
  Py_RETURN_NONE;
}

}  // namespace pykora::options
