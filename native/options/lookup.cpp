// kora_get_option and kora_enabled_Braidwell_features: reading options.
#include "common/calls.hpp"
#include "options/defaults.hpp"
#include "options/functions.hpp"
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
  bool build(PyObject* globals) {
    if (!base_.fetch(globals)) {
      return false;
    }
    return add_computed(globals, names.kora_call, names.kora_call_builtin, kora_call_) &&
           add_computed(globals, names.weftgen_call, names.weftgen_call_builtin, weftgen_call_);
  }

  // `key in defaults` and, when it is, `defaults[key]`: 1 with `value` set,
  // 0 when absent, -1 on error.
  int find(PyObject* key, Ref& value) {
    if (!base_.rebound() && PyUnicode_CheckExact(key)) {
      PyObject* found = nullptr;
      if (same_text(key, names.kora_call)) {
        found = kora_call_.get();
      } else if (same_text(key, names.weftgen_call)) {
        found = weftgen_call_.get();
      } else {
        found = base_.table_value(key);
        if (found == nullptr && PyErr_Occurred()) {
          return -1;
        }
      }
      value = Ref::borrow(found);
      return found != nullptr;
    }
    // Keys of other types meet a real mapping, with their own __eq__ and __hash__.
    PyObject* mapping = base_.rebound() ? base_.rebound() : materialized();
    if (mapping == nullptr) {
      return -1;
    }
    const int present = PySequence_Contains(mapping, key);
    if (present == 1) {
      value = Ref::steal(PyObject_GetItem(mapping, key));
      return value ? 1 : -1;
    }
    return present;
  }

  // defaults[key]
  Ref item(PyObject* key) {
    if (base_.rebound()) {
      return Ref::steal(PyObject_GetItem(base_.rebound(), key));
    }
    Ref value;
    const int found = find(key, value);
    if (found == 0) {
      PyErr_SetObject(PyExc_KeyError, key);
    }
    return value;
  }

  // The working defaults as a new dict, in their order.
  Ref to_dict() {
    if (base_.rebound()) {
      Ref dict = Ref::steal(PyDict_New());
      if (!dict || PyDict_Merge(dict.get(), base_.rebound(), 1) < 0) {
        return {};
      }
      return dict;
    }
    Ref dict = base_.table_dict();
    if (!dict ||
        (kora_call_ && PyDict_SetItem(dict.get(), names.kora_call, kora_call_.get()) < 0) ||
        (weftgen_call_ &&
         PyDict_SetItem(dict.get(), names.weftgen_call, weftgen_call_.get()) < 0)) {
      return {};
    }
    return dict;
  }

 private:
  // defaults[key] = builtin() unless the key is stored.
  bool add_computed(PyObject* globals, PyObject* key, PyObject* builtin, Ref& slot) {
    Ref store = load_global(globals, names.store);
    const int stored = store ? PySequence_Contains(store.get(), key) : -1;
    if (stored != 0) {
      return stored == 1;
    }
    Ref value = call_global(globals, builtin);
    if (!value) {
      return false;
    }
    if (base_.rebound()) {
      return PyObject_SetItem(base_.rebound(), key, value.get()) == 0;
    }
    slot = value;
    return true;
  }

  PyObject* materialized() {
    if (!materialized_) {
      materialized_ = to_dict();
    }
    return materialized_.get();
  }

  Defaults base_;
  Ref kora_call_, weftgen_call_;
  Ref materialized_;
};

// A str whose lower() is "remote" or "kora.remote" stands for the remote
// script: 1 when `value` is such a marker, 0 when not, -1 on error.
int is_remote_marker(PyObject* value) {
  if (!PyUnicode_Check(value)) {
    return 0;
  }
  Ref lowered = call_method(value, names.lower);
  if (!lowered) {
    return -1;
  }
  const int remote = PyObject_RichCompareBool(lowered.get(), names.remote, Py_EQ);
  if (remote != 0) {
    return remote;
  }
  return PyObject_RichCompareBool(lowered.get(), names.kora_remote, Py_EQ);
}

// `value`, or the remote script when `value` is a remote marker and the
// script is truthy.
Ref resolve_remote(PyObject* globals, Ref value) {
  const int marker = is_remote_marker(value.get());
  if (marker <= 0) {
    return marker < 0 ? Ref{} : value;
  }
  Ref script = call_global(globals, names.kora_remote_script);
  const int usable = script ? PyObject_IsTrue(script.get()) : -1;
  if (usable < 0) {
    return {};
  }
  return usable ? script : value;
}

// The effective "kora.call": stored, else its computed default; resolved.
Ref kora_call_value(PyObject* globals, WorkingDefaults& defaults) {
  Ref store = load_global(globals, names.store);
  const int stored = store ? PySequence_Contains(store.get(), names.kora_call) : -1;
  if (stored < 0) {
    return {};
  }
  Ref value = stored ? Ref::steal(PyObject_GetItem(store.get(), names.kora_call))
                     : defaults.item(names.kora_call);
  return value ? resolve_remote(globals, value) : Ref{};
}

// The effective value of one key, or KeyError for an unknown key.
Ref value_of(PyObject* globals, WorkingDefaults& defaults, PyObject* key) {
  Ref store = load_global(globals, names.store);
  if (!store) {
    return {};
  }
  if (PyUnicode_CheckExact(key) && PyDict_CheckExact(store.get())) {
    // An exact str against the dict store: one lookup says all that the
    // membership test and the comparisons would.
    if (same_text(key, names.kora_call)) {
      return kora_call_value(globals, defaults);
    }
    PyObject* stored = PyDict_GetItemWithError(store.get(), key);
    if (stored != nullptr) {
      return Ref::borrow(stored);
    }
    if (PyErr_Occurred()) {
      return {};
    }
  } else {
    // key in store and key != "kora.call"
    int stored = PySequence_Contains(store.get(), key);
    if (stored == 1) {
      stored = PyObject_RichCompareBool(key, names.kora_call, Py_NE);
      if (stored == 1) {
        return Ref::steal(PyObject_GetItem(store.get(), key));
      }
    }
    if (stored < 0) {
      return {};
    }
    const int kora_call = PyObject_RichCompareBool(key, names.kora_call, Py_EQ);
    if (kora_call != 0) {
      return kora_call < 0 ? Ref{} : kora_call_value(globals, defaults);
    }
  }
  Ref value;
  const int found = defaults.find(key, value);
  if (found == 0) {
    raise_unknown_option(key);
  }
  return found == 1 ? value : Ref{};
}

Ref all_options(PyObject* globals, WorkingDefaults& defaults) {
  Ref out = defaults.to_dict();
  Ref store = out ? load_global(globals, names.store) : Ref{};
  if (!store || PyDict_Update(out.get(), store.get()) < 0) {
    return {};
  }
  store = load_global(globals, names.store);
  if (!store) {
    return {};
  }
  Ref stored;
  if (PyDict_CheckExact(store.get())) {
    PyObject* found = PyDict_GetItemWithError(store.get(), names.kora_call);
    if (found == nullptr && PyErr_Occurred()) {
      return {};
    }
    stored = Ref::borrow(found != nullptr ? found : Py_None);
  } else {
    stored = call_method(store.get(), names.get, names.kora_call);
    if (!stored) {
      return {};
    }
  }
  const int marker = is_remote_marker(stored.get());
  if (marker <= 0) {
    return marker < 0 ? Ref{} : out;
  }
  Ref script = call_global(globals, names.kora_remote_script);
  const int usable = script ? PyObject_IsTrue(script.get()) : -1;
  if (usable < 0 || (usable && PyDict_SetItem(out.get(), names.kora_call, script.get()) < 0)) {
    return {};
  }
  return out;
}

}  // namespace

PyObject* get_option(Function* self, PyObject* const* args, Py_ssize_t, PyObject*) {
  PyObject* globals = self->globals;
  PyObject* option = args[0];
  WorkingDefaults defaults;
  if (!defaults.build(globals)) {
    return nullptr;
  }
  if (option == Py_None) {
    return all_options(globals, defaults).release();
  }
  if (PyUnicode_Check(option)) {
    return value_of(globals, defaults, option).release();
  }
  Ref keys = Ref::steal(PySequence_List(option));
  if (!keys) {
    return nullptr;
  }
  // The key list is ours alone: nothing else can change it meanwhile.
  const Py_ssize_t count = PyList_GET_SIZE(keys.get());
  Ref out = Ref::steal(PyList_New(count));
  if (!out) {
    return nullptr;
  }
  for (Py_ssize_t i = 0; i < count; ++i) {
    Ref value = value_of(globals, defaults, PyList_GET_ITEM(keys.get(), i));
    if (!value) {
      return nullptr;
    }
    PyList_SET_ITEM(out.get(), i, value.release());
  }
  return out.release();
}

PyObject* enabled_braidwell_features(Function* self, PyObject* const*, Py_ssize_t, PyObject*) {
  Ref get_option = load_global(self->globals, names.get_option);
  Ref value = get_option ? call(get_option.get(), names.braidwell_features) : Ref{};
  const int enabled = value ? PyObject_IsTrue(value.get()) : -1;
  if (enabled < 0) {
    return nullptr;
  }
  return Py_NewRef(enabled ? Py_True : Py_False);
}

}  // namespace pykora::options
