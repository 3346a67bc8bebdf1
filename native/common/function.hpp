// The function object of pykora's native modules.
//
// CPython's builtin functions have no __annotations__, no writable __doc__,
// no __dict__ and a fixed __qualname__, and they cannot carry a module name
// of their own; a Python-level function is what users of these modules see,
// so the native functions use this small type instead. It is called through
// vectorcall, checks its arguments with the interpreter's usual wording and
// pickles as a reference to its module-level name.
//
// Each module has a type of its own, `<module>.native_function`, made from
// one PyType_Spec when the module defines its functions: a heap type, which
// the functions keep alive. The modules are independent of each other, so no
// type is shared between them.
#pragma once

#include <algorithm>
#include <span>

#include "common/function_def.hpp"

namespace pykora {

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

namespace detail {
void define_functions(PyObject* module, std::span<const FunctionDef> defs);
}  // namespace detail

// Makes the module's function type, then creates each function of the table
// `Defs` in turn and binds it in `module` right after its creation, as a
// sequence of `def` statements would. Called once per module, with all its
// functions. The table is checked when the module is compiled, so that a
// function the function object cannot bind never builds.
template <const auto& Defs>
void define_functions(PyObject* module) {
  static_assert(std::ranges::all_of(Defs, [](const FunctionDef& def) { return well_formed(def); }),
                "a function of this table cannot be bound: see well_formed()");
  detail::define_functions(module, Defs);
}

}  // namespace pykora
