// _cpu_default_string and kora_get_option_default: the default table.
#include "options/defaults.hpp"

#include "common/boundary.hpp"
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

// _cpu_default_string for a count that is not an exact int: its own truth
// test, comparisons and formatting decide the text.
Object threads_text_step_by_step(PyObject* cpus) {
  const Object one = integer(1);
  const Object sixteen = integer(16);
  // n = os.cpu_count() or 1
  Object n = Object::borrow(cpus);
  if (!n.truth()) {
    n = one;
  }
  // if not n < 16: n = 16
  if (!(n < sixteen).truth()) {
    n = sixteen;
  }
  // if not n > 1: n = 1
  if (!compare(n, one, Py_GT).truth()) {
    n = one;
  }
  // return f"{n}:1"
  Object text = Object::steal(PyObject_Format(n.get(), nullptr));
  return Object::steal(PyUnicode_FromFormat("%U:1", text.get()));
}

// "num.threads" for what os.cpu_count() returned; null with the exception
// set on failure, since Defaults::fetch needs it too.
Ref threads_text(PyObject* cpus) {
  // The common case, an exact int, needs no round trips through Python.
  if (PyLong_CheckExact(cpus)) {
    return text_of(saturated(cpus));
  }
  return Ref::steal(guarded_call([&] { return threads_text_step_by_step(cpus).release(); }));
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

// os.cpu_count(), through whatever the module binds as `os` now.
Object cpu_count(PyObject* globals) {
  Object os = global(globals, names.os);
  Object function = os.attr(names.cpu_count);
  return function();
}

}  // namespace

bool Defaults::fetch(PyObject* globals) {
  Ref function = load_global(globals, names.get_option_default);
  if (!function) {
    return false;
  }
  if (function.get() != own_get_option_default) {
    Ref result = call(function.get());
    if (!result) {
      return false;
    }
    rebound_ = Object(std::move(result));
    return true;
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
  Ref cpus = Ref::steal(guarded_call([&] { return cpu_count(globals).release(); }));
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
  if (threads == nullptr) {
    return {};
  }
  return default_table(threads);
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
  Object cpus = cpu_count(self->globals);
  return threads_text(cpus.get()).release();
}

PyObject* get_option_default(Function* self, PyObject* const*, Py_ssize_t, PyObject*) {
  // "num.threads": _cpu_default_string(), the rest of the table fixed
  Object helper = global(self->globals, names.cpu_default_string);
  Object threads = helper();
  return default_table(threads.get()).release();
}

}  // namespace pykora::options
