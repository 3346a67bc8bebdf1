// kora_get_option and kora_enabled_Braidwell_features: reading options.
#include "common/globals.hpp"
#include "options/defaults.hpp"
#include "options/functions.hpp"
#include "options/guards.hpp"
#include "options/state.hpp"

namespace pykora::options {
namespace {

// if <key> not in _KORA_OPTIONS: defaults[<key>] = <builtin>()
// (inline: every lookup runs it twice)
inline void add_computed(PyObject* globals, Defaults& defaults, PyObject* key, PyObject* builtin) {
  Object store = global(globals, state().names.store);
  if (contains(store, key)) {
    return;
  }
  Object function = global(globals, builtin);
  defaults.set_item(key, function());
}

// isinstance(value, str) and (value.lower() == "remote" or ... == "kora.remote"),
// with lower() asked once and its result compared with each marker in turn.
bool is_remote_marker(const Object& value) {
  const Names& names = state().names;
  if (!PyUnicode_Check(value.get())) {
    return false;
  }
  Object lowered = value.method(names.lower);
  if ((lowered == names.remote).truth()) {
    return true;
  }
  return (lowered == names.kora_remote).truth();
}

// if <value is a remote marker>:
//     rem = kora_remote_script()
//     if rem: value = rem
Object resolve_remote(PyObject* globals, Object value) {
  if (!is_remote_marker(value)) {
    return value;
  }
  Object script = global(globals, state().names.kora_remote_script);
  Object rem = script();
  if (rem.truth()) {
    return rem;
  }
  return value;
}

// The effective "kora.call".
Object kora_call_value(PyObject* globals, Defaults& defaults) {
  const Names& names = state().names;
  // if "kora.call" in _KORA_OPTIONS: value = _KORA_OPTIONS["kora.call"]
  // else: value = defaults["kora.call"]
  Object store = global(globals, names.store);
  Object value;
  if (contains(store, names.kora_call)) {
    Object current = global(globals, names.store);
    value = current[names.kora_call];
  } else {
    value = defaults.item(names.kora_call);
  }
  return resolve_remote(globals, std::move(value));
}

// The effective value of one key, or KeyError for an unknown key.
Object value_of(PyObject* globals, Defaults& defaults, PyObject* key) {
  const Names& names = state().names;
  Object store = global(globals, names.store);
  if (route_open(Route::kStoreLookup, {globals, key, store.get()})) {
    // An exact str against a store keyed by exact strs: one lookup says all
    // that the membership tests and the comparisons would.
    if (same_text(key, names.kora_call)) {
      return kora_call_value(globals, defaults);
    }
    PyObject* stored = PyDict_GetItemWithError(store.get(), key);
    if (stored != nullptr) {
      return Object::borrow(stored);
    }
    throw_if_error_set();
  } else {
    // if key in _KORA_OPTIONS and key != "kora.call": value = _KORA_OPTIONS[key]
    if (contains(store, key) && compare(key, names.kora_call, Py_NE).truth()) {
      Object current = global(globals, names.store);
      return current[key];
    }
    // elif key == "kora.call": ...
    if (compare(key, names.kora_call, Py_EQ).truth()) {
      return kora_call_value(globals, defaults);
    }
  }
  // elif key in defaults: value = defaults[key]
  // else: raise KeyError(f"Unknown option '{key}'")
  Object value = defaults.find(key);
  if (!value) {
    raise_unknown_option(key);
  }
  return value;
}

Object all_options(PyObject* globals, Defaults& defaults) {
  const Names& names = state().names;
  // out = dict(defaults)
  Object out = defaults.to_dict();
  // out.update(_KORA_OPTIONS)
  Object store = global(globals, names.store);
  if (route_open(Route::kStoreMerge, {globals, nullptr, store.get()})) {
    checked(PyDict_Update(out.get(), store.get()));
  } else {
    out.method(names.update, store);
  }
  // stored = _KORA_OPTIONS.get("kora.call")
  Object current = global(globals, names.store);
  Object stored;
  if (route_open(Route::kStoreMerge, {globals, nullptr, current.get()})) {
    PyObject* found = PyDict_GetItemWithError(current.get(), names.kora_call);
    if (found == nullptr) {
      throw_if_error_set();
    }
    stored = Object::borrow(found != nullptr ? found : Py_None);
  } else {
    stored = current.method(names.get, names.kora_call);
  }
  // if <stored is a remote marker>:
  //     rem = kora_remote_script()
  //     if rem: out["kora.call"] = rem
  if (is_remote_marker(stored)) {
    Object script = global(globals, names.kora_remote_script);
    Object rem = script();
    if (rem.truth()) {
      checked(PyDict_SetItem(out.get(), names.kora_call, rem.get()));
    }
  }
  return out;
}

}  // namespace

void raise_unknown_option(PyObject* key) {
  Object message = Object::steal(PyUnicode_FromFormat("Unknown option '%S'", key));
  PyErr_SetObject(PyExc_KeyError, message.get());
  throw PythonError{};
}

PyObject* get_option(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  PyObject* globals = self->globals;
  PyObject* option = args[0];
  const Names& names = state().names;
  // defaults = kora_get_option_default()
  // if "kora.call" not in _KORA_OPTIONS: defaults["kora.call"] = kora_call_builtin()
  // if "weftgen.call" not in _KORA_OPTIONS: defaults["weftgen.call"] = weftgen_call_builtin()
  Defaults defaults(globals);
  add_computed(globals, defaults, names.kora_call, names.kora_call_builtin);
  add_computed(globals, defaults, names.weftgen_call, names.weftgen_call_builtin);
  // if option is None: ... return out
  if (option == Py_None) {
    return all_options(globals, defaults).release();
  }
  // keys = [option] if isinstance(option, str) else list(option)
  // ... return out_list[0] if isinstance(option, str) else out_list
  if (PyUnicode_Check(option)) {
    return value_of(globals, defaults, option).release();
  }
  Object keys = Object::steal(PySequence_List(option));
  // The key list is ours alone: nothing else can change it meanwhile.
  const Py_ssize_t count = PyList_GET_SIZE(keys.get());
  Object out = Object::steal(PyList_New(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    Object value = value_of(globals, defaults, PyList_GET_ITEM(keys.get(), i));
    PyList_SET_ITEM(out.get(), i, value.release());
  }
  return out.release();
}

PyObject* enabled_braidwell_features(Function* self, PyObject* const*, Py_ssize_t, PyObject*) {
  const Names& names = state().names;
  // return bool(kora_get_option("Braidwell.features"))
  Object lookup = global(self->globals, names.get_option);
  Object value = lookup(names.braidwell_features);
  return Py_NewRef(value.truth() ? Py_True : Py_False);
}

}  // namespace pykora::options
