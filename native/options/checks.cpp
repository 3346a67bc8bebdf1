// _post_set_checks: the value checks run after every change of options.
#include "common/calls.hpp"
#include "options/defaults.hpp"
#include "options/functions.hpp"
#include "options/state.hpp"

namespace pykora::options {
namespace {

Ref get_option(PyObject* globals, PyObject* key) {
  Ref lookup = load_global(globals, names.get_option);
  return lookup ? call(lookup.get(), key) : Ref{};
}

bool store_value(PyObject* globals, PyObject* key, PyObject* value) {
  Ref store = load_global(globals, names.store);
  return store && PyObject_SetItem(store.get(), key, value) == 0;
}

bool warn(PyObject* globals, PyObject* message) {
  Ref warnings = load_global(globals, names.warnings);
  Ref function = warnings ? getattr(warnings.get(), names.warn) : Ref{};
  return function && call(function.get(), message);
}

// os.path.exists(arg): 1, 0 or -1 on error.
int path_exists(PyObject* globals, PyObject* arg) {
  Ref os = load_global(globals, names.os);
  Ref path = os ? getattr(os.get(), names.path) : Ref{};
  Ref exists = path ? getattr(path.get(), names.exists) : Ref{};
  Ref result = exists ? call(exists.get(), arg) : Ref{};
  return result ? PyObject_IsTrue(result.get()) : -1;
}

// "malloc.lib" takes the value the default table gives it.
bool restore_malloc_default(PyObject* globals) {
  Defaults defaults;
  if (!defaults.fetch(globals)) {
    return false;
  }
  Ref value = defaults.rebound()
                  ? Ref::steal(PyObject_GetItem(defaults.rebound(), names.malloc_lib))
                  : Ref::borrow(defaults.table_value(names.malloc_lib));
  return value && store_value(globals, names.malloc_lib, value.get());
}

// head + value + tail, with the value as its own text.
Ref framed(const char* head, PyObject* value, const char* tail) {
  Ref head_text = Ref::steal(PyUnicode_FromString(head));
  Ref tail_text = head_text ? Ref::steal(PyUnicode_FromString(tail)) : Ref{};
  Ref left = tail_text ? Ref::steal(PyNumber_Add(head_text.get(), value)) : Ref{};
  return left ? Ref::steal(PyNumber_Add(left.get(), tail_text.get())) : Ref{};
}

bool check_mode(PyObject* globals) {
  Ref mode = get_option(globals, names.kora_mode);
  const int accepted = mode ? PySequence_Contains(table.modes, mode.get()) : -1;
  if (accepted <= 0) {
    if (accepted == 0) {
      PyErr_SetString(PyExc_ValueError,
                      "Invalid 'kora.mode'. Must be 'compact', 'classic', 'twostage', or "
                      "'experimental'.");
    }
    return false;
  }
  const int experimental = PyObject_RichCompareBool(mode.get(), names.experimental, Py_EQ);
  if (experimental <= 0) {
    return experimental == 0;
  }
  return store_value(globals, names.kora_mode, names.compact);
}

// 1 when `arg` is a str starting with "/", 0 when not, -1 on error.
int is_absolute_text(PyObject* arg) {
  if (!PyUnicode_Check(arg)) {
    return 0;
  }
  if (PyUnicode_CheckExact(arg)) {
    return PyUnicode_GET_LENGTH(arg) > 0 && PyUnicode_READ_CHAR(arg, 0) == '/';
  }
  Ref starts = call_method(arg, names.startswith, names.slash);
  return starts ? PyObject_IsTrue(starts.get()) : -1;
}

bool check_malloc_lib(PyObject* globals) {
  Ref arg = get_option(globals, names.malloc_lib);
  if (!arg) {
    return false;
  }
  int use_default = arg.get() == Py_None;
  if (!use_default) {
    use_default = PyObject_RichCompareBool(arg.get(), names.default_, Py_EQ);
    if (use_default < 0) {
      return false;
    }
  }
  if (use_default) {
    return restore_malloc_default(globals);
  }

  int missing_absolute = is_absolute_text(arg.get());
  if (missing_absolute == 1) {
    const int exists = path_exists(globals, arg.get());
    missing_absolute = exists < 0 ? -1 : !exists;
  }
  if (missing_absolute < 0) {
    return false;
  }
  if (missing_absolute) {
    Ref message = framed("User-defined library for option 'malloc.lib', ", arg.get(),
                         ", does not exist. Using default.");
    return message && warn(globals, message.get()) && restore_malloc_default(globals);
  }

  const int known = PySequence_Contains(table.malloc_names, arg.get());
  if (known != 0) {
    return known == 1;
  }
  const int exists = path_exists(globals, arg.get());
  if (exists != 0) {
    return exists == 1;
  }
  Ref message = Ref::steal(PyUnicode_FromFormat(
      "Value for option 'malloc.lib' = %R may not be available on this system.", arg.get()));
  return message && warn(globals, message.get());
}

bool check_working_directory(PyObject* globals) {
  Ref wdir = get_option(globals, names.working_directory);
  if (!wdir) {
    return false;
  }
  if (!PyUnicode_Check(wdir.get())) {
    return true;
  }
  Ref any_mb = load_global(globals, names.any_mb);
  Ref multibyte = any_mb ? call(any_mb.get(), wdir.get()) : Ref{};
  const int found = multibyte ? PyObject_IsTrue(multibyte.get()) : -1;
  if (found <= 0) {
    return found == 0;
  }
  Ref message = framed("*** working.directory=[", wdir.get(),
                       "] contains multibyte characters. This may fail on some systems.");
  return message && warn(globals, message.get());
}

}  // namespace

PyObject* post_set_checks(Function* self, PyObject* const*, Py_ssize_t, PyObject*) {
  PyObject* globals = self->globals;
  if (!check_mode(globals) || !check_malloc_lib(globals) || !check_working_directory(globals)) {
    return nullptr;
  }
  Py_RETURN_NONE;
}

}  // namespace pykora::options
