// The function object of pykora's native modules.
//
// CPython's builtin functions have no __annotations__, no writable __doc__,
// no __dict__ and a fixed __qualname__, and they cannot carry a module name
// of their own; a Python-level function is what users of these modules see,
// so the native functions use this small type instead. It is called through
// vectorcall, checks its arguments with the interpreter's usual wording and
// pickles as a reference to its module-level name.
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
// returns a new reference, or NULL with an exception set; it may also throw
// (PythonError when the exception is set already).
using NativeFunction = PyObject*(Function* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames);

struct Annotation {
  const char* name;
  const char* text;
};

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

// Creates the function described by `def`, bound to the namespace and the
// name of `module`.
Ref new_function(const FunctionDef& def, PyObject* module);

// Creates each function in turn and binds it in `module` right after its
// creation, as a sequence of `def` statements would. Returns false with an
// exception set.
bool define_functions(PyObject* module, std::span<const FunctionDef> defs);

}  // namespace pykora
