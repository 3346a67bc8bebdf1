// How a module declares its native functions: a table of FunctionDef,
// checked when the module is compiled (function.hpp) and bound at each call
// (arguments.hpp).
#pragma once

#include <initializer_list>
#include <span>

#include "common/ref.hpp"

namespace pykora {

struct Function;

// Native body of a function. For a function with a fixed parameter list,
// `args` holds the bound parameters in declaration order (omitted optional
// parameters are None), `nargs` their count and `kwnames` is null. A function
// that takes *args and **kwargs receives the call exactly as made. A body
// returns a new reference; it reports a failure by throwing (PythonError once
// the Python exception is set), and the function object turns that into the
// interpreter's NULL.
using NativeFunction = PyObject*(Function* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames);

struct Annotation {
  const char* name;
  const char* text;
};

// The most parameters a function may declare: the function object binds the
// arguments of a call into an array of this size.
inline constexpr size_t kMaxParams = 8;

// Positions of parameters, written as the list of their indices: {0}.
class ParamSet {
 public:
  constexpr ParamSet() = default;
  constexpr ParamSet(std::initializer_list<unsigned> indices) {
    for (unsigned i : indices) {
      bits_ |= 1U << i;
    }
  }
  constexpr bool contains(size_t index) const { return (bits_ >> index & 1U) != 0; }
  // Whether every position is below `count`.
  constexpr bool below(size_t count) const { return count >= 32 || (bits_ >> count) == 0; }

 private:
  unsigned bits_ = 0;
};

// One function, declared with designated initialisers; what is left out
// takes the default below.
struct FunctionDef {
  const char* name;
  const char* doc = nullptr;  // nullptr: the function has no docstring
  std::span<const char* const> params = {};
  int required = 0;            // leading parameters without a default; the rest default to None
  ParamSet exact_str{};        // parameters that accept only an exact str
  bool takes_varargs = false;  // *args, **kwargs: no argument checking at all
  std::span<const Annotation> annotations = {};  // in order, "return" last
  NativeFunction* impl = nullptr;
};

// Whether the function object can bind the calls of `def`: no more than
// kMaxParams parameters, no more required than declared, exact-str checks
// only on parameters that exist.
constexpr bool well_formed(const FunctionDef& def) {
  return def.params.size() <= kMaxParams && def.required >= 0 &&
         static_cast<size_t>(def.required) <= def.params.size() &&
         def.exact_str.below(def.params.size()) && (!def.takes_varargs || def.params.empty());
}

}  // namespace pykora
