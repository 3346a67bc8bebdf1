// The seven functions of pykora.options, and what they share.
//
// A function body replays module-level Python step by step through Object,
// which throws PythonError when a step raises; the function boundary turns
// that into the interpreter's NULL. The shortcuts for the common case (the
// module's own helpers still bound, exact str keys, a dict store) stay
// explicit C API code that needs no exception to do its work.
#pragma once

#include "common/function.hpp"
#include "common/object.hpp"

namespace pykora::options {

NativeFunction cpu_default_string;          // _cpu_default_string (defaults.cpp)
NativeFunction get_option_default;          // kora_get_option_default (defaults.cpp)
NativeFunction get_option;                  // kora_get_option (lookup.cpp)
NativeFunction set_option;                  // kora_set_option (setting.cpp)
NativeFunction set_one;                     // _set_one (setting.cpp)
NativeFunction post_set_checks;             // _post_set_checks (checks.cpp)
NativeFunction enabled_braidwell_features;  // kora_enabled_Braidwell_features (lookup.cpp)

// `item in container`
template <ObjectLike Container, ObjectLike Item>
bool contains(const Container& container, const Item& item) {
  return checked(PySequence_Contains(Object::raw(container), Object::raw(item))) == 1;
}

// raise KeyError("Unknown option '<key>'")
[[noreturn]] void raise_unknown_option(PyObject* key);

}  // namespace pykora::options
