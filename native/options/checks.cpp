// _post_set_checks: the value checks run after every change of options.
#include "common/globals.hpp"
#include "options/defaults.hpp"
#include "options/functions.hpp"
#include "options/state.hpp"

namespace pykora::options {
namespace {

// kora_get_option(key)
Object get_option(PyObject* globals, PyObject* key) {
  Object lookup = global(globals, state().names.get_option);
  return lookup(key);
}

// _KORA_OPTIONS[key] = value, with `value` already computed: the store is
// looked up only now, as the assignment looks it up after its right side.
void store_value(PyObject* globals, PyObject* key, const Object& value) {
  Object store = global(globals, state().names.store);
  store.set_item(Object::borrow(key), value);
}

// warnings.warn, looked up before its argument is built, as the call
// `warnings.warn(<message>)` does.
Object warn_function(PyObject* globals) {
  const Names& names = state().names;
  Object warnings = global(globals, names.warnings);
  return warnings.attr(names.warn);
}

// head + value + tail
Object framed(const char* head, const Object& value, const char* tail) {
  Object head_text = text(head);
  Object left = head_text + value;
  Object tail_text = text(tail);
  return left + tail_text;
}

// os.path.exists(arg)
bool path_exists(PyObject* globals, const Object& arg) {
  const Names& names = state().names;
  Object os = global(globals, names.os);
  Object path = os.attr(names.path);
  Object exists = path.attr(names.exists);
  Object result = exists(arg);
  return result.truth();
}

// _KORA_OPTIONS["malloc.lib"] = kora_get_option_default()["malloc.lib"]
void restore_malloc_default(PyObject* globals) {
  PyObject* malloc_lib = state().names.malloc_lib;
  Defaults defaults(globals);
  store_value(globals, malloc_lib, defaults.item(malloc_lib));
}

void check_mode(PyObject* globals) {
  const Names& names = state().names;
  // mode = kora_get_option("kora.mode")
  Object mode = get_option(globals, names.kora_mode);
  // if not (mode == "compact" or mode == "classic" or mode == "twostage" or
  //         mode == "experimental"): raise ValueError(...)
  // The tuple's membership test is that chain, in that order; its identity
  // shortcut only ever meets an exact str, whose == nobody can observe.
  if (!contains(state().table.modes, mode)) {
    PyErr_SetString(PyExc_ValueError,
                    "Invalid 'kora.mode'. Must be 'compact', 'classic', 'twostage', or "
                    "'experimental'.");
    throw PythonError{};
  }
  // if mode == "experimental": _KORA_OPTIONS["kora.mode"] = "compact"
  if ((mode == names.experimental).truth()) {
    store_value(globals, names.kora_mode, Object::borrow(names.compact));
  }
}

// isinstance(arg, str) and arg.startswith("/")
bool is_absolute_text(const Object& arg) {
  const Names& names = state().names;
  if (!PyUnicode_Check(arg.get())) {
    return false;
  }
  if (PyUnicode_CheckExact(arg.get())) {
    return PyUnicode_GET_LENGTH(arg.get()) > 0 && PyUnicode_READ_CHAR(arg.get(), 0) == '/';
  }
  Object starts = arg.method(names.startswith, names.slash);
  return starts.truth();
}

void check_malloc_lib(PyObject* globals) {
  const Names& names = state().names;
  // arg = kora_get_option("malloc.lib")
  Object arg = get_option(globals, names.malloc_lib);
  // if arg is None or arg == "default":
  //     _KORA_OPTIONS["malloc.lib"] = kora_get_option_default()["malloc.lib"]
  if (arg.is(Py_None) || (arg == names.default_).truth()) {
    restore_malloc_default(globals);
    return;
  }
  // elif isinstance(arg, str) and arg.startswith("/") and not os.path.exists(arg):
  if (is_absolute_text(arg) && !path_exists(globals, arg)) {
    //     warnings.warn("User-defined library for option 'malloc.lib', " + arg
    //                   + ", does not exist. Using default.")
    Object warn = warn_function(globals);
    Object message = framed("User-defined library for option 'malloc.lib', ", arg,
                            ", does not exist. Using default.");
    warn(message);
    //     _KORA_OPTIONS["malloc.lib"] = kora_get_option_default()["malloc.lib"]
    restore_malloc_default(globals);
    return;
  }
  // elif not (arg == "default" or arg == "compiler" or arg == "je" or arg == "tc" or
  //           arg == "mi") and not os.path.exists(arg):
  if (contains(state().table.malloc_names, arg) || path_exists(globals, arg)) {
    return;
  }
  //     warnings.warn("Value for option 'malloc.lib' = " + repr(arg)
  //                   + " may not be available on this system.")
  Object warn = warn_function(globals);
  Object shown = Object::steal(PyObject_Repr(arg.get()));
  Object message =
      framed("Value for option 'malloc.lib' = ", shown, " may not be available on this system.");
  warn(message);
}

void check_working_directory(PyObject* globals) {
  const Names& names = state().names;
  // wdir = kora_get_option("working.directory")
  Object wdir = get_option(globals, names.working_directory);
  // if isinstance(wdir, str) and _any_mb(wdir):
  if (!PyUnicode_Check(wdir.get())) {
    return;
  }
  Object any_mb = global(globals, names.any_mb);
  Object multibyte = any_mb(wdir);
  if (!multibyte.truth()) {
    return;
  }
  //     warnings.warn("*** working.directory=[" + wdir
  //                   + "] contains multibyte characters. This may fail on some systems.")
  Object warn = warn_function(globals);
  Object message = framed("*** working.directory=[", wdir,
                          "] contains multibyte characters. This may fail on some systems.");
  warn(message);
}

}  // namespace

PyObject* post_set_checks(Function* self, PyObject* const*, Py_ssize_t, PyObject*) {
  check_mode(self->globals);
  check_malloc_lib(self->globals);
  check_working_directory(self->globals);
  Py_RETURN_NONE;
}

}  // namespace pykora::options
