// The seven functions of pykora.options, and what they share.
#pragma once

#include "common/function.hpp"

namespace pykora::options {

PyObject* cpu_default_string(Function* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);
PyObject* get_option_default(Function* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);
PyObject* get_option(Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* set_option(Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* set_one(Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* post_set_checks(Function* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames);
PyObject* enabled_braidwell_features(Function* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames);

// What a call of the module's kora_get_option_default gives. While the
// module binds its own function, only the observable part of that call runs
// (its _cpu_default_string call) and the entries are read from the table;
// otherwise `rebound` holds what the rebound function returned.
struct Defaults {
  Ref rebound;
  Ref num_threads;  // the table's "num.threads" value, when the table is used

  bool fetch(PyObject* globals);
  // The table as a new dict, in table order.
  Ref table_dict() const;
  // The table's value for `key`, an exact str; nullptr when it has none.
  PyObject* table_value(PyObject* key) const;
};

// The module-level name `name`, called without arguments.
Ref call_global(PyObject* globals, PyObject* name);

// KeyError("Unknown option '<key>'").
void raise_unknown_option(PyObject* key);

}  // namespace pykora::options
