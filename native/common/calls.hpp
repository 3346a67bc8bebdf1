// Calling back into Python from native function bodies.
#pragma once

#include <array>

#include "common/ref.hpp"

namespace pykora {

// The builtins namespace that module code falls back on for a name it does
// not bind itself. Set once when the first native module is created.
PyObject* builtins_namespace();
bool init_builtins_namespace();

// A module-level name as module code sees it at the moment of the call:
// the module namespace first, then the builtins. NameError if neither has it.
Ref load_global(PyObject* globals, PyObject* name);

template <typename... Args>
Ref call(PyObject* callable, Args... args) {
  std::array<PyObject*, sizeof...(Args) + 1> stack{nullptr, args...};
  return Ref::steal(PyObject_Vectorcall(callable, stack.data() + 1,
                                        sizeof...(Args) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// callable(*args, <one keyword>=kwvalue)
template <typename... Args>
Ref call_with_keyword(PyObject* callable, PyObject* kwname, PyObject* kwvalue, Args... args) {
  std::array<PyObject*, sizeof...(Args) + 2> stack{nullptr, args..., kwvalue};
  Ref kwnames = Ref::steal(PyTuple_Pack(1, kwname));
  if (!kwnames) {
    return {};
  }
  return Ref::steal(PyObject_Vectorcall(
      callable, stack.data() + 1, sizeof...(Args) | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames.get()));
}

template <typename... Args>
Ref call_method(PyObject* obj, PyObject* name, Args... args) {
  std::array<PyObject*, sizeof...(Args) + 1> stack{obj, args...};
  return Ref::steal(PyObject_VectorcallMethod(
      name, stack.data(), (sizeof...(Args) + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

inline Ref getattr(PyObject* obj, PyObject* name) {
  return Ref::steal(PyObject_GetAttr(obj, name));
}

}  // namespace pykora
