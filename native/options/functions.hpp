// The seven functions of pykora.options, and what they share.
#pragma once

#include "common/function.hpp"

namespace pykora::options {

NativeFunction cpu_default_string;          // _cpu_default_string (defaults.cpp)
NativeFunction get_option_default;          // kora_get_option_default (defaults.cpp)
NativeFunction get_option;                  // kora_get_option (lookup.cpp)
NativeFunction set_option;                  // kora_set_option (setting.cpp)
NativeFunction set_one;                     // _set_one (setting.cpp)
NativeFunction post_set_checks;             // _post_set_checks (checks.cpp)
NativeFunction enabled_braidwell_features;  // kora_enabled_Braidwell_features (lookup.cpp)

// The module-level name `name`, called without arguments.
Ref call_global(PyObject* globals, PyObject* name);

// KeyError("Unknown option '<key>'").
void raise_unknown_option(PyObject* key);

}  // namespace pykora::options
