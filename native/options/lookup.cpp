// kora_get_option and kora_enabled_Braidwell_features: reading options.
#include "common/globals.hpp"
#include "options/defaults.hpp"
#include "options/functions.hpp"
#include "options/guards.hpp"
#include "options/state.hpp"

namespace pykora::options {
namespace {

bool same_text(PyObject* exact_str, PyObject* interned) {
  return exact_str == interned ||
         (PyUnicode_GET_LENGTH(exact_str) == PyUnicode_GET_LENGTH(interned) &&
          PyUnicode_Compare(exact_str, interned) == 0);
}

// The defaults of one lookup: the default table plus the computed
// "kora.call" and "weftgen.call" for whichever of them is not stored.
class WorkingDefaults {
 public:
  // defaults = kora_get_option_default()
  // if "kora.call" not in _KORA_OPTIONS: defaults["kora.call"] = kora_call_builtin()
  // if "weftgen.call" not in _KORA_OPTIONS: defaults["weftgen.call"] = weftgen_call_builtin()
  explicit WorkingDefaults(PyObject* globals) : base_(globals) {
    add_computed(globals, names.kora_call, names.kora_call_builtin, kora_call_);
    add_computed(globals, names.weftgen_call, names.weftgen_call_builtin, weftgen_call_);
  }

  // `key in defaults` and, when it is, `defaults[key]`: the value, or an
  // empty Object when the key is absent.
  Object find(PyObject* key) {
    if (!base_.rebound() && PyUnicode_CheckExact(key)) {
      // An exact str against the table: its hash and == are str's own.
      PyObject* found = nullptr;
      if (same_text(key, names.kora_call)) {
        found = kora_call_.get();
      } else if (same_text(key, names.weftgen_call)) {
        found = weftgen_call_.get();
      } else {
        found = base_.table_value(key);
      }
      return found != nullptr ? Object::borrow(found) : Object();
    }
    // Keys of other types meet a real mapping, with their own __eq__ and __hash__.
    const Object& mapping = base_.rebound() ? base_.rebound() : materialized();
    if (!contains(mapping, key)) {
      return Object();
    }
    return mapping[key];
  }

  // defaults[key]
  Object item(PyObject* key) {
    if (base_.rebound()) {
      return base_.rebound()[key];
    }
    Object value = find(key);
    if (!value) {
      PyErr_SetObject(PyExc_KeyError, key);
      throw PythonError{};
    }
    return value;
  }

  // dict(defaults)
  Object to_dict() {
    if (base_.rebound()) {
      Object dict_type = Object::borrow(reinterpret_cast<PyObject*>(&PyDict_Type));
      return dict_type(base_.rebound());
    }
    Object dict = base_.table_dict();
    if (kora_call_) {
      checked(PyDict_SetItem(dict.get(), names.kora_call, kora_call_.get()));
    }
    if (weftgen_call_) {
      checked(PyDict_SetItem(dict.get(), names.weftgen_call, weftgen_call_.get()));
    }
    return dict;
  }

 private:
  // if <key> not in _KORA_OPTIONS: defaults[<key>] = <builtin>()
  void add_computed(PyObject* globals, PyObject* key, PyObject* builtin, Object& slot) {
    Object store = global(globals, names.store);
    if (contains(store, key)) {
      return;
    }
    Object function = global(globals, builtin);
    Object value = function();
    if (base_.rebound()) {
      base_.rebound().set_item(Object::borrow(key), value);
      return;
    }
    slot = std::move(value);
  }

  const Object& materialized() {
    if (!materialized_) {
      materialized_ = to_dict();
    }
    return materialized_;
  }

  Defaults base_;
  Object kora_call_, weftgen_call_;
  Object materialized_;
};

// isinstance(value, str) and (value.lower() == "remote" or ... == "kora.remote"),
// with lower() asked once and its result compared with each marker in turn.
bool is_remote_marker(const Object& value) {
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
  Object script = global(globals, names.kora_remote_script);
  Object rem = script();
  if (rem.truth()) {
    return rem;
  }
  return value;
}

// The effective "kora.call".
Object kora_call_value(PyObject* globals, WorkingDefaults& defaults) {
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
Object value_of(PyObject* globals, WorkingDefaults& defaults, PyObject* key) {
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

Object all_options(PyObject* globals, WorkingDefaults& defaults) {
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
  WorkingDefaults defaults(globals);
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
  // return bool(kora_get_option("Braidwell.features"))
  Object lookup = global(self->globals, names.get_option);
  Object value = lookup(names.braidwell_features);
  return Py_NewRef(value.truth() ? Py_True : Py_False);
}

}  // namespace pykora::options
