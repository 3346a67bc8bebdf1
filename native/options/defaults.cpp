// _cpu_default_string and kora_get_option_default: the default table.
#include "options/defaults.hpp"

#include "common/calls.hpp"
#include "options/functions.hpp"
#include "options/state.hpp"

namespace pykora::options {
namespace {

// An exact int as a long long, saturated: only its clamp to 1..16 matters.
long long saturated(PyObject* exact_int) {
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(exact_int, &overflow);
  return overflow > 0 ? 16 : (overflow < 0 ? 1 : n);
}

Ref text_of(long long cpus) {
  const core::ThreadsText text = core::cpu_threads_text(cpus);
  return Ref::steal(PyUnicode_FromKindAndData(PyUnicode_1BYTE_KIND, text.text,
                                              static_cast<Py_ssize_t>(text.size)));
}

}  // namespace

Ref threads_text(PyObject* cpus) {
  // The common case, an exact int, needs no round trips through Python.
  if (PyLong_CheckExact(cpus)) {
    return text_of(saturated(cpus));
  }
  // Anything else goes through the same truth test, comparisons and
  // formatting that module-level code would apply.
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

// The default table as a new dict, with `threads` as "num.threads".
Ref default_table(PyObject* threads) {
  // Copying the prebuilt table clones its hash table in one step; replacing
  // the thread count keeps the entry in its place.
  Ref dict = Ref::steal(PyDict_Copy(table.prototype));
  if (!dict || PyDict_SetItem(dict.get(), table.num_threads_key, threads) < 0) {
    return {};
  }
  return dict;
}

Ref cpu_count(PyObject* globals) {
  Ref os = load_global(globals, names.os);
  Ref function = os ? getattr(os.get(), names.cpu_count) : Ref{};
  return function ? call(function.get()) : Ref{};
}

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
  if (function.get() != own_get_option_default) {
    rebound_ = call(function.get());
    return static_cast<bool>(rebound_);
  }
  Ref helper = load_global(globals, names.cpu_default_string);
  if (!helper) {
    return false;
  }
  if (helper.get() != own_cpu_default_string) {
    num_threads_ = call(helper.get());
    return static_cast<bool>(num_threads_);
  }
  // The module's own helper: os.cpu_count() is all of it that anyone can
  // observe; an exact int count cannot fail to format, so the text waits
  // until a caller needs it.
  Ref cpus = cpu_count(globals);
  if (!cpus) {
    return false;
  }
  if (PyLong_CheckExact(cpus.get())) {
    cpus_ = saturated(cpus.get());
    return true;
  }
  num_threads_ = threads_text(cpus.get());
  return static_cast<bool>(num_threads_);
}

PyObject* Defaults::num_threads() {
  if (!num_threads_) {
    num_threads_ = text_of(cpus_);
  }
  return num_threads_.get();
}

Ref Defaults::table_dict() {
  PyObject* threads = num_threads();
  return threads ? default_table(threads) : Ref{};
}

PyObject* Defaults::table_value(PyObject* key) {
  PyObject* position = PyDict_GetItemWithError(table.index, key);
  if (position == nullptr) {
    return nullptr;
  }
  const size_t i = PyLong_AsSize_t(position);
  return table.values[i] != nullptr ? table.values[i] : num_threads();
}

PyObject* cpu_default_string(Function* self, PyObject* const*, Py_ssize_t, PyObject*) {
  Ref cpus = cpu_count(self->globals);
  return cpus ? threads_text(cpus.get()).release() : nullptr;
}

PyObject* get_option_default(Function* self, PyObject* const*, Py_ssize_t, PyObject*) {
  Ref threads = call_global(self->globals, names.cpu_default_string);
  return threads ? default_table(threads.get()).release() : nullptr;
}

}  // namespace pykora::options
