// What pykora.options keeps for the life of the process, in one struct: the
// names its functions look up, interned; the option table as Python
// objects; and the functions the module was created with, which the guards
// compare against (guards.hpp).
#pragma once

#include <array>

#include "common/interned.hpp"
#include "common/state.hpp"
#include "core/option_table.hpp"

namespace pykora::options {

#define PYKORA_OPTION_NAMES(X)                     \
  /* module globals */                             \
  X(os, "os")                                      \
  X(warnings, "warnings")                          \
  X(kora_call_builtin, "kora_call_builtin")        \
  X(weftgen_call_builtin, "weftgen_call_builtin")  \
  X(kora_remote_script, "kora_remote_script")      \
  X(any_mb, "_any_mb")                             \
  X(store, "_KORA_OPTIONS")                        \
  X(cpu_default_string, "_cpu_default_string")     \
  X(get_option_default, "kora_get_option_default") \
  X(get_option, "kora_get_option")                 \
  X(set_one, "_set_one")                           \
  X(post_set_checks, "_post_set_checks")           \
  /* attributes and methods */                     \
  X(cpu_count, "cpu_count")                        \
  X(path, "path")                                  \
  X(exists, "exists")                              \
  X(warn, "warn")                                  \
  X(lower, "lower")                                \
  X(startswith, "startswith")                      \
  X(get, "get")                                    \
  X(keys, "keys")                                  \
  X(update, "update")                              \
  /* option keys and texts the functions use */    \
  X(kora_call, "kora.call")                        \
  X(weftgen_call, "weftgen.call")                  \
  X(kora_mode, "kora.mode")                        \
  X(malloc_lib, "malloc.lib")                      \
  X(working_directory, "working.directory")        \
  X(braidwell_features, "Braidwell.features")      \
  X(experimental, "experimental")                  \
  X(compact, "compact")                            \
  X(remote, "remote")                              \
  X(kora_remote, "kora.remote")                    \
  X(default_, "default")                           \
  X(slash, "/")

struct Names {
  PYKORA_OPTION_NAMES(PYKORA_NAME_MEMBER)
};

// The default table as the objects a lookup returns; the value of
// "num.threads" is computed at each call and left null here.
struct Table {
  std::array<PyObject*, core::kDefaultTable.size()> values = {};
  PyObject* index = nullptr;            // dict: key -> position in the table
  PyObject* prototype = nullptr;        // the table as a dict, with None for "num.threads"
  PyObject* num_threads_key = nullptr;  // "num.threads", the object the table holds
  PyObject* valid_keys = nullptr;       // frozenset of the 26 keys that may be set
  PyObject* modes = nullptr;            // tuple of the accepted "kora.mode" values
  PyObject* malloc_names = nullptr;
};

// The functions the module was created with.
struct Originals {
  PyObject* get_option_default = nullptr;  // kora_get_option_default
  PyObject* cpu_default_string = nullptr;  // _cpu_default_string
};

struct State : ModuleState {
  Names names;          // interned by init_names()
  Table table;          // built by init_table()
  Originals originals;  // captured by capture_originals() (guards.hpp)
};

inline State& state() {
  static constinit State instance;
  return instance;
}

// Interns every name, then builds the table; once per process.
void init_names();
void init_table();

}  // namespace pykora::options
