// _cpu_default_string and kora_get_option_default: the default table.
#include "common/calls.hpp"
#include "options/functions.hpp"
#include "options/state.hpp"

namespace pykora::options {
namespace {

Ref clamped_threads(PyObject* cpus) {
  // The common case, an exact int, needs no round trips through Python.
  if (PyLong_CheckExact(cpus)) {
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(cpus, &overflow);
    if (n == -1 && PyErr_Occurred()) {
      return {};
    }
    const std::string text = core::cpu_threads_text(overflow > 0 ? 16 : (overflow < 0 ? 1 : n));
    return Ref::steal(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  }
  // Anything else goes through the same comparisons and formatting that
  // module-level code would apply.
  Ref n = Ref::borrow(cpus);
  const int known = PyObject_IsTrue(n.get());
  if (known < 0) {
    return {};
  }
  Ref one = Ref::steal(PyLong_FromLong(1));
  Ref sixteen = Ref::steal(PyLong_FromLong(16));
  if (!one || !sixteen) {
    return {};
  }
  if (!known) {
    n = one;
  }
  const int below = PyObject_RichCompareBool(n.get(), sixteen.get(), Py_LT);
  if (below < 0) {
    return {};
  }
  if (!below) {
    n = sixteen;
  }
  const int above = PyObject_RichCompareBool(n.get(), one.get(), Py_GT);
  if (above < 0) {
    return {};
  }
  if (!above) {
    n = one;
  }
  Ref text = Ref::steal(PyObject_Format(n.get(), nullptr));
  return text ? Ref::steal(PyUnicode_FromFormat("%U:1", text.get())) : Ref{};
}

}  // namespace

Ref call_global(PyObject* globals, PyObject* name) {
  Ref callable = load_global(globals, name);
  return callable ? call(callable.get()) : Ref{};
}

void raise_unknown_option(PyObject* key) {
  Ref message = Ref::steal(PyUnicode_FromFormat("Unknown option '%S'", key));
  if (message) {
    PyErr_SetObject(PyExc_KeyError, message.get());
  }
}

bool Defaults::fetch(PyObject* globals) {
  Ref function = load_global(globals, names.get_option_default);
  if (!function) {
    return false;
  }
  if (function.get() == own_get_option_default) {
    num_threads = call_global(globals, names.cpu_default_string);
    return static_cast<bool>(num_threads);
  }
  rebound = call(function.get());
  return static_cast<bool>(rebound);
}

Ref Defaults::table_dict() const {
  Ref dict = Ref::steal(_PyDict_NewPresized(static_cast<Py_ssize_t>(table.keys.size())));
  if (!dict) {
    return {};
  }
  for (size_t i = 0; i < table.keys.size(); ++i) {
    PyObject* value = table.values[i] != nullptr ? table.values[i] : num_threads.get();
    if (PyDict_SetItem(dict.get(), table.keys[i], value) < 0) {
      return {};
    }
  }
  return dict;
}

PyObject* Defaults::table_value(PyObject* key) const {
  PyObject* position = PyDict_GetItemWithError(table.index, key);
  if (position == nullptr) {
    return nullptr;
  }
  const size_t i = PyLong_AsSize_t(position);
  return table.values[i] != nullptr ? table.values[i] : num_threads.get();
}

PyObject* cpu_default_string(Function* self, PyObject* const*, Py_ssize_t, PyObject*) {
  Ref os = load_global(self->globals, names.os);
  Ref cpu_count = os ? getattr(os.get(), names.cpu_count) : Ref{};
  Ref cpus = cpu_count ? call(cpu_count.get()) : Ref{};
  return cpus ? clamped_threads(cpus.get()).release() : nullptr;
}

PyObject* get_option_default(Function* self, PyObject* const*, Py_ssize_t, PyObject*) {
  Defaults defaults;
  defaults.num_threads = call_global(self->globals, names.cpu_default_string);
  return defaults.num_threads ? defaults.table_dict().release() : nullptr;
}

}  // namespace pykora::options
