// What the functions of pykora.options share: interned names, the option
// table as Python objects, and the module's own kora_get_option_default.
#pragma once

#include <array>

#include "common/ref.hpp"
#include "core/option_table.hpp"

namespace pykora::options {

struct Names {
  // module globals
  PyObject *os, *warnings, *kora_call_builtin, *weftgen_call_builtin, *kora_remote_script, *any_mb,
      *store, *cpu_default_string, *get_option_default, *get_option, *set_one, *post_set_checks;
  // attributes and methods
  PyObject *cpu_count, *path, *exists, *warn, *lower, *startswith, *get, *keys, *update;
  // option keys and texts the functions use
  PyObject *kora_call, *weftgen_call, *kora_mode, *malloc_lib, *working_directory,
      *braidwell_features, *experimental, *compact, *remote, *kora_remote, *default_, *slash;
};
extern Names names;

// The default table as the objects a lookup returns; the value of
// "num.threads" is computed at each call and left null here.
struct Table {
  std::array<PyObject*, core::kDefaultTable.size()> values;
  PyObject* index;            // dict: key -> position in the table
  PyObject* prototype;        // the table as a dict, with None for "num.threads"
  PyObject* num_threads_key;  // "num.threads", the object the table holds
  PyObject* valid_keys;       // frozenset of the 26 keys that may be set
  PyObject* modes;            // tuple of the accepted "kora.mode" values
  PyObject* malloc_names;
};
extern Table table;

// The module's own kora_get_option_default and _cpu_default_string: while
// the module still binds them, a caller may skip building what they return
// and run only what of them can be observed.
extern PyObject* own_get_option_default;
extern PyObject* own_cpu_default_string;

bool init_state();
bool init_originals(PyObject* module);

}  // namespace pykora::options
