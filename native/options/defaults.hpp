// What kora_get_option_default gives, as the other functions of
// pykora.options use it.
#pragma once

#include <cassert>

#include "common/object.hpp"
#include "options/state.hpp"

namespace pykora::options {

// `defaults = kora_get_option_default()` and what the functions then do with
// `defaults`. The route is decided once, when the call is made: while the
// module binds its original function (Route::kDefaultsTable), only the
// observable part of that call runs (its _cpu_default_string call, itself
// reduced to os.cpu_count() while the module binds the original) and the
// entries are read from the table, with no dict built unless one is asked
// for. Otherwise the module-level route calls whatever the module binds, and
// every operation below goes to the object it returned. Callers cannot tell
// which route was taken.
class Defaults {
 public:
  // defaults = kora_get_option_default()
  explicit Defaults(PyObject* globals);

  // `key in defaults`, then `defaults[key]`: the value, or an empty Object
  // when the key is absent.
  Object find(PyObject* key);
  // defaults[key]
  Object item(PyObject* key);
  // defaults[key] = value, for `key` "kora.call" or "weftgen.call" (the
  // interned names): the only entries the functions add. Defined here
  // because every lookup runs it twice.
  void set_item(PyObject* key, Object&& value) {
    if (returned_) {
      returned_.set_item(Object::borrow(key), value);
      return;
    }
    const Names& names = state().names;
    assert(key == names.kora_call || key == names.weftgen_call);
    (key == names.kora_call ? kora_call_ : weftgen_call_) = std::move(value);
    if (materialized_) {
      materialized_ = Object();  // made before this entry was added
    }
  }
  // dict(defaults)
  Object to_dict();
  // key in set(defaults.keys()) | {"kora.call", "weftgen.call"}
  bool valid_key(PyObject* key);

 private:
  PyObject* num_threads();
  PyObject* table_value(PyObject* key);
  const Object& materialized();

  // The module-level route: what the module's kora_get_option_default
  // returned. Empty on the table route, which keeps what follows.
  Object returned_;
  Object num_threads_;               // the "num.threads" text, once made
  long long cpus_ = 0;               // os.cpu_count(), while the text is still to be made
  Object kora_call_, weftgen_call_;  // set_item() of the two computed entries
  Object materialized_;              // dict(defaults), once a lookup needed a real mapping
};

}  // namespace pykora::options
