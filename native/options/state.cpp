#include "options/state.hpp"

#include "common/calls.hpp"
#include "common/module.hpp"

namespace pykora::options {

Names names;
Table table;
PyObject* own_get_option_default = nullptr;
PyObject* own_cpu_default_string = nullptr;

namespace {

// An interned text.
Ref interned(std::string_view s) {
  PyObject* text = PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
  if (text != nullptr) {
    PyUnicode_InternInPlace(&text);
  }
  return Ref::steal(text);
}

// A tuple of interned texts.
template <size_t N>
Ref text_tuple(const std::array<std::string_view, N>& texts) {
  Ref tuple = Ref::steal(PyTuple_New(N));
  if (!tuple) {
    return {};
  }
  for (size_t i = 0; i < N; ++i) {
    Ref item = interned(texts[i]);
    if (!item) {
      return {};
    }
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item.release());
  }
  return tuple;
}

Ref default_value(const core::OptionDefault& entry) {
  switch (entry.kind) {
    case core::DefaultKind::kNone:
      return Ref::borrow(Py_None);
    case core::DefaultKind::kTrue:
      return Ref::borrow(Py_True);
    case core::DefaultKind::kFalse:
      return Ref::borrow(Py_False);
    case core::DefaultKind::kInteger:
      return Ref::steal(PyLong_FromLong(entry.integer));
    case core::DefaultKind::kText:
      return interned(entry.text);
    case core::DefaultKind::kCpuThreads:
      return {};
  }
  return {};
}

// Builds every object of the table first and publishes them only once all
// exist: a failure part way (the import then fails) releases what was made.
bool init_table() {
  Ref index = Ref::steal(PyDict_New());
  Ref valid = Ref::steal(PySet_New(nullptr));
  Ref prototype = Ref::steal(PyDict_New());
  if (!index || !valid || !prototype) {
    return false;
  }
  std::array<Ref, core::kDefaultTable.size()> values;
  Ref num_threads_key;
  for (size_t i = 0; i < core::kDefaultTable.size(); ++i) {
    const core::OptionDefault& entry = core::kDefaultTable[i];
    Ref key = interned(entry.key);
    Ref position = Ref::steal(PyLong_FromSize_t(i));
    if (!key || !position || PyDict_SetItem(index.get(), key.get(), position.get()) < 0 ||
        PySet_Add(valid.get(), key.get()) < 0) {
      return false;
    }
    if (entry.kind == core::DefaultKind::kCpuThreads) {
      num_threads_key = key;
    } else {
      values[i] = default_value(entry);
      if (!values[i]) {
        return false;
      }
    }
    PyObject* value = values[i] ? values[i].get() : Py_None;
    if (PyDict_SetItem(prototype.get(), key.get(), value) < 0) {
      return false;
    }
  }
  if (PySet_Add(valid.get(), names.kora_call) < 0 ||
      PySet_Add(valid.get(), names.weftgen_call) < 0) {
    return false;
  }
  Ref valid_keys = Ref::steal(PyFrozenSet_New(valid.get()));
  Ref modes = text_tuple(core::kModes);
  Ref malloc_names = text_tuple(core::kMallocNames);
  if (!valid_keys || !modes || !malloc_names) {
    return false;
  }
  // Kept for the life of the process.
  for (size_t i = 0; i < values.size(); ++i) {
    table.values[i] = values[i].release();
  }
  table.num_threads_key = num_threads_key.release();
  table.index = index.release();
  table.prototype = prototype.release();
  table.valid_keys = valid_keys.release();
  table.modes = modes.release();
  table.malloc_names = malloc_names.release();
  return true;
}

}  // namespace

bool init_state() {
  if (table.index != nullptr) {
    return true;  // a failed import left it built
  }
  return intern_names({
             {&names.os, "os"},
             {&names.warnings, "warnings"},
             {&names.kora_call_builtin, "kora_call_builtin"},
             {&names.weftgen_call_builtin, "weftgen_call_builtin"},
             {&names.kora_remote_script, "kora_remote_script"},
             {&names.any_mb, "_any_mb"},
             {&names.store, "_KORA_OPTIONS"},
             {&names.cpu_default_string, "_cpu_default_string"},
             {&names.get_option_default, "kora_get_option_default"},
             {&names.get_option, "kora_get_option"},
             {&names.set_one, "_set_one"},
             {&names.post_set_checks, "_post_set_checks"},
             {&names.cpu_count, "cpu_count"},
             {&names.path, "path"},
             {&names.exists, "exists"},
             {&names.warn, "warn"},
             {&names.lower, "lower"},
             {&names.startswith, "startswith"},
             {&names.get, "get"},
             {&names.keys, "keys"},
             {&names.update, "update"},
             {&names.kora_call, "kora.call"},
             {&names.weftgen_call, "weftgen.call"},
             {&names.kora_mode, "kora.mode"},
             {&names.malloc_lib, "malloc.lib"},
             {&names.working_directory, "working.directory"},
             {&names.braidwell_features, "Braidwell.features"},
             {&names.experimental, "experimental"},
             {&names.compact, "compact"},
             {&names.remote, "remote"},
             {&names.kora_remote, "kora.remote"},
             {&names.default_, "default"},
             {&names.slash, "/"},
         }) &&
         init_table();
}

bool init_originals(PyObject* module) {
  PyObject* globals = PyModule_GetDict(module);
  Ref defaults = load_global(globals, names.get_option_default);
  Ref helper = load_global(globals, names.cpu_default_string);
  if (!defaults || !helper) {
    return false;
  }
  Py_XSETREF(own_get_option_default, defaults.release());
  Py_XSETREF(own_cpu_default_string, helper.release());
  return true;
}

}  // namespace pykora::options
