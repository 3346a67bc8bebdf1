// _cpu_default_string and kora_get_option_default: the default table.
#include "options/defaults.hpp"

#include "common/globals.hpp"
#include "options/functions.hpp"
#include "options/guards.hpp"
#include "options/state.hpp"

namespace pykora::options {
namespace {

// An exact int as a long long, saturated: only its clamp to 1..16 matters.
long long saturated(PyObject* exact_int) {
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(exact_int, &overflow);
  return overflow > 0 ? 16 : (overflow < 0 ? 1 : n);
}

Object text_of(long long cpus) {
  const core::ThreadsText threads = core::cpu_threads_text(cpus);
  return Object::steal(PyUnicode_FromKindAndData(PyUnicode_1BYTE_KIND, threads.text,
                                                 static_cast<Py_ssize_t>(threads.size)));
}

// "num.threads" for what os.cpu_count() returned.
Object threads_text(const Object& cpus) {
  // The common case, an exact int, needs no round trips through Python:
  // its truth, comparisons and formatting are int's own.
  if (PyLong_CheckExact(cpus.get())) {
    return text_of(saturated(cpus.get()));
  }
  const Object one = integer(1);
  const Object sixteen = integer(16);
  // n = os.cpu_count() or 1
  Object n = cpus;
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
  Object shown = Object::steal(PyObject_Format(n.get(), nullptr));
  return Object::steal(PyUnicode_FromFormat("%U:1", shown.get()));
}

// The default table as a new dict, with `threads` as "num.threads".
Object default_table(PyObject* threads) {
  // Copying the prebuilt table clones its hash table in one step; replacing
  // the thread count keeps the entry in its place.
  const Table& table = state().table;
  Object dict = Object::steal(PyDict_Copy(table.prototype));
  checked(PyDict_SetItem(dict.get(), table.num_threads_key, threads));
  return dict;
}

// os.cpu_count(), through whatever the module binds as `os` now.
Object cpu_count(PyObject* globals) {
  const Names& names = state().names;
  Object os = global(globals, names.os);
  Object function = os.attr(names.cpu_count);
  return function();
}

}  // namespace

Defaults::Defaults(PyObject* globals) {
  // kCpuCountOnly holds where kDefaultsTable does and more: asked first, it
  // settles the common case with one question.
  if (route_open(Route::kCpuCountOnly, {globals})) {
    // The original helper: os.cpu_count() is all of it that anyone can
    // observe; an exact int count cannot fail to format, so the text waits
    // until a caller needs it.
    Object cpus = cpu_count(globals);
    if (PyLong_CheckExact(cpus.get())) {
      cpus_ = saturated(cpus.get());
    } else {
      num_threads_ = threads_text(cpus);
    }
    return;
  }
  if (route_open(Route::kDefaultsTable, {globals})) {
    Object helper = global(globals, state().names.cpu_default_string);
    num_threads_ = helper();
    return;
  }
  Object function = global(globals, state().names.get_option_default);
  returned_ = function();
}

Object Defaults::find(PyObject* key) {
  if (returned_) {
    if (!contains(returned_, key)) {
      return Object();
    }
    return returned_[key];
  }
  if (PyUnicode_CheckExact(key)) {
    // An exact str against the table: its hash and == are str's own.
    const Names& names = state().names;
    PyObject* found = nullptr;
    if (same_text(key, names.kora_call)) {
      found = kora_call_.get();
    } else if (same_text(key, names.weftgen_call)) {
      found = weftgen_call_.get();
    } else {
      found = table_value(key);
    }
    return found != nullptr ? Object::borrow(found) : Object();
  }
  // Keys of other types meet a real mapping, with their own __eq__ and __hash__.
  const Object& mapping = materialized();
  if (!contains(mapping, key)) {
    return Object();
  }
  return mapping[key];
}

Object Defaults::item(PyObject* key) {
  if (returned_) {
    return returned_[key];
  }
  Object value = find(key);
  if (!value) {
    PyErr_SetObject(PyExc_KeyError, key);
    throw PythonError{};
  }
  return value;
}

Object Defaults::to_dict() {
  if (returned_) {
    Object dict_type = Object::borrow(reinterpret_cast<PyObject*>(&PyDict_Type));
    return dict_type(returned_);
  }
  const Names& names = state().names;
  Object dict = default_table(num_threads());
  if (kora_call_) {
    checked(PyDict_SetItem(dict.get(), names.kora_call, kora_call_.get()));
  }
  if (weftgen_call_) {
    checked(PyDict_SetItem(dict.get(), names.weftgen_call, weftgen_call_.get()));
  }
  return dict;
}

bool Defaults::valid_key(PyObject* key) {
  if (!returned_) {
    // The table's keys and the two computed ones, prebuilt.
    return checked(PySet_Contains(state().table.valid_keys, key)) == 1;
  }
  const Names& names = state().names;
  Object keys = returned_.method(names.keys);
  Object valid = Object::steal(PySet_New(keys.get()));
  checked(PySet_Add(valid.get(), names.kora_call));
  checked(PySet_Add(valid.get(), names.weftgen_call));
  return contains(valid, key);
}

PyObject* Defaults::num_threads() {
  if (!num_threads_) {
    num_threads_ = text_of(cpus_);
  }
  return num_threads_.get();
}

// The table's value for `key`, an exact str, borrowed; nullptr when it has
// none.
PyObject* Defaults::table_value(PyObject* key) {
  const Table& table = state().table;
  PyObject* position = PyDict_GetItemWithError(table.index, key);
  if (position == nullptr) {
    throw_if_error_set();
    return nullptr;
  }
  const size_t i = PyLong_AsSize_t(position);
  return table.values[i] != nullptr ? table.values[i] : num_threads();
}

const Object& Defaults::materialized() {
  if (!materialized_) {
    materialized_ = to_dict();
  }
  return materialized_;
}

PyObject* cpu_default_string(Function* self, PyObject* const*, Py_ssize_t, PyObject*) {
  Object cpus = cpu_count(self->globals);
  return threads_text(cpus).release();
}

PyObject* get_option_default(Function* self, PyObject* const*, Py_ssize_t, PyObject*) {
  // "num.threads": _cpu_default_string(), the rest of the table fixed
  Object helper = global(self->globals, state().names.cpu_default_string);
  Object threads = helper();
  return default_table(threads.get()).release();
}

}  // namespace pykora::options
