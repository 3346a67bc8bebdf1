// The seven functions of pykora.options, and what they share.
//
// A function body runs the Python it stands for step by step through
// Object, which throws PythonError when a step raises; the function
// boundary turns that into the interpreter's NULL. The native routes that
// skip unobservable work are listed with their guards in guards.hpp.
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

// raise KeyError("Unknown option '<key>'")
[[noreturn]] void raise_unknown_option(PyObject* key);

// `exact_str == interned`, for an exact str: str's own comparison, which no
// one can observe, with the identity of interned texts as its shortcut.
inline bool same_text(PyObject* exact_str, PyObject* interned) {
  return exact_str == interned ||
         (PyUnicode_GET_LENGTH(exact_str) == PyUnicode_GET_LENGTH(interned) &&
          PyUnicode_Compare(exact_str, interned) == 0);
}

}  // namespace pykora::options
