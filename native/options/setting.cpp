// kora_set_option and _set_one: writing options.
#include "common/globals.hpp"
#include "options/defaults.hpp"
#include "options/functions.hpp"
#include "options/state.hpp"

namespace pykora::options {
namespace {

constexpr const char kCallingForms[] =
    "Use either kora_set_option('key', value) or kora_set_option(key=value, ...).";

// option in set(kora_get_option_default().keys()) | {"kora.call", "weftgen.call"}
bool is_valid_key(PyObject* globals, PyObject* option) {
  Defaults defaults(globals);
  return defaults.valid_key(option);
}

// _set_one(key, value)
void call_set_one(PyObject* globals, PyObject* key, PyObject* value) {
  Object setter = global(globals, state().names.set_one);
  setter(key, value);
}

}  // namespace

PyObject* set_one(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  PyObject* globals = self->globals;
  PyObject* option = args[0];
  // if option not in valid: raise KeyError("Unknown option '" + option + "'")
  if (!is_valid_key(globals, option)) {
    raise_unknown_option(option);
  }
  // _KORA_OPTIONS[option] = value
  Object store = global(globals, state().names.store);
  store.set_item(Object::borrow(option), Object::borrow(args[1]));
  Py_RETURN_NONE;
}

PyObject* set_option(Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* globals = self->globals;
  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  if (nargs == 2 && nkw == 0) {
    // k, v = args
    // if not isinstance(k, str): raise TypeError(...)
    if (!PyUnicode_Check(args[0])) {
      PyErr_SetString(PyExc_TypeError, "First positional argument must be a string key");
      throw PythonError{};
    }
    // _set_one(k, v)
    call_set_one(globals, args[0], args[1]);
  } else if (nargs == 0 && nkw > 0) {
    // for k, v in kwargs.items(): _set_one(k, v)
    // In the order the keywords were written; a failure leaves the earlier
    // ones stored.
    for (Py_ssize_t j = 0; j < nkw; ++j) {
      call_set_one(globals, PyTuple_GET_ITEM(kwnames, j), args[j]);
    }
  } else {
    PyErr_SetString(PyExc_TypeError, kCallingForms);
    throw PythonError{};
  }
  // _post_set_checks()
  Object checks = global(globals, state().names.post_set_checks);
  checks();
  Py_RETURN_NONE;
}

}  // namespace pykora::options
