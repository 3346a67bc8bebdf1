// What kora_get_option_default gives, as the other functions of
// pykora.options use it.
#pragma once

#include "common/object.hpp"

namespace pykora::options {

// What a call of the module's kora_get_option_default gives. While the
// module binds its own function (Route::kDefaultsTable), only the
// observable part of that call runs (its _cpu_default_string call, itself
// reduced to os.cpu_count() while the module binds its own) and the entries
// are read from the table; otherwise `rebound` holds what the rebound
// function returned.
class Defaults {
 public:
  // defaults = kora_get_option_default()
  explicit Defaults(PyObject* globals);

  // The rebound function's result; empty while the table is used.
  const Object& rebound() const { return rebound_; }
  // The table as a new dict, in table order.
  Object table_dict();
  // The table's value for `key`, an exact str, borrowed; nullptr when it has
  // none.
  PyObject* table_value(PyObject* key);

 private:
  PyObject* num_threads();

  Object rebound_;
  Object num_threads_;  // the "num.threads" text, once made
  long long cpus_ = 0;  // os.cpu_count(), when the text is still to be made
};

}  // namespace pykora::options
