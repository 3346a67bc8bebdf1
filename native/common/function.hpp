// The function object of pykora's native modules.
//
// CPython's builtin functions have no __annotations__, no writable __doc__,
// no __dict__ and a fixed __qualname__, and they cannot carry a module name
// of their own; a Python-level function is what users of these modules see,
// so the native functions use this small type instead. It is called through
// vectorcall, checks its arguments with the interpreter's usual wording and
// pickles as a reference to its module-level name.
#pragma once

#include <algorithm>
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
inline constexpr size_t kMaxParams = 4;

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

struct Function {
  PyObject_HEAD
  vectorcallfunc vectorcall;
  const FunctionDef* def;
  PyObject* globals;  // namespace of the defining module
  PyObject* name;
  PyObject* qualname;
  PyObject* module;
  PyObject* doc;
  PyObject* annotations;
  PyObject* dict;
  PyObject* weakreflist;
};

// Whether the function object can bind the calls of `def`: no more than
// kMaxParams parameters, no more required than declared, exact-str checks
// only on parameters that exist.
constexpr bool well_formed(const FunctionDef& def) {
  return def.params.size() <= kMaxParams && def.required >= 0 &&
         static_cast<size_t>(def.required) <= def.params.size() &&
         def.exact_str.below(def.params.size()) && (!def.takes_varargs || def.params.empty());
}

namespace detail {
void define_functions(PyObject* module, std::span<const FunctionDef> defs);
}  // namespace detail

// Creates each function of the table `Defs` in turn and binds it in
// `module` right after its creation, as a sequence of `def` statements
// would. The table is checked when the module is compiled, so that a
// function the function object cannot bind never builds.
template <const auto& Defs>
void define_functions(PyObject* module) {
  static_assert(std::ranges::all_of(Defs, [](const FunctionDef& def) { return well_formed(def); }),
                "a function of this table cannot be bound: see well_formed()");
  detail::define_functions(module, Defs);
}

}  // namespace pykora
