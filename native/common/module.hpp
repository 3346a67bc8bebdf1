// Creating a native module once per process, and running its body.
//
// A module is created on its first import and then kept for the life of
// the process: a second import, an import after `del sys.modules[...]` and
// importlib.reload() all hand back the same object without running the body
// again. Another (sub-)interpreter of the process cannot load it.
#pragma once

#include <initializer_list>

#include "common/state.hpp"

namespace pykora {

// A module body: binds the module's names in order, as the statements of a
// Python module would, and throws when one of them fails.
using ModuleBody = void(PyObject* module);

// The module's create and exec slots: the boundaries where module creation
// returns to the interpreter. The exec slot sets up what the shared code
// needs before it runs the body the first time.
PyObject* create_singleton(ModuleState& state, PyObject* spec) noexcept;
int exec_singleton(ModuleState& state, PyObject* module, ModuleBody* body) noexcept;

// Multi-phase init slots of a module whose state is `StateOf()` (the
// module's `state` accessor) and whose body is `Body`.
template <auto StateOf, ModuleBody* Body>
struct SingletonSlots {
  static PyObject* create(PyObject* spec, PyModuleDef*) {
    return create_singleton(StateOf(), spec);
  }
  static int exec(PyObject* module) { return exec_singleton(StateOf(), module, Body); }
  static inline PyModuleDef_Slot slots[] = {
      {Py_mod_create, reinterpret_cast<void*>(&create)},
      {Py_mod_exec, reinterpret_cast<void*>(&exec)},
#if PY_VERSION_HEX >= 0x030C0000
      // The create slot refuses every interpreter but the first with the
      // module's own ImportError, touching nothing but an atomic to do so.
      // Any weaker declaration would have CPython refuse an isolated
      // sub-interpreter first, with a message of its own.
      {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
#if PY_VERSION_HEX >= 0x030D0000
      // The functions rely on the GIL: a free-threaded build turns it on.
      {Py_mod_gil, Py_MOD_GIL_USED},
#endif
      {0, nullptr},
  };
};

// The definition of the module `name`, created once per process with the
// state `StateOf()` and the body `Body`:
//
//   PyModuleDef module_def = module_definition<state, module_body>("pykora.m");
//   PyMODINIT_FUNC PyInit_m() { return PyModuleDef_Init(&module_def); }
//
// It carries no docstring: the interpreter would write it into the existing
// module again at every re-import, over whatever a user assigned. The
// module body sets it, once.
template <auto StateOf, ModuleBody* Body>
PyModuleDef module_definition(const char* name) {
  return {
      PyModuleDef_HEAD_INIT,
      name,
      nullptr,
      0,  // no per-module state: the module exists once per process (state.hpp)
      nullptr,
      SingletonSlots<StateOf, Body>::slots,
      nullptr,
      nullptr,
      nullptr,
  };
}

// The statements of a module body; each throws when it fails.

// module.__doc__ = doc
void set_docstring(PyObject* module, const char* doc);

// `from <source> import name [as alias], ...` run in `module`'s namespace;
// `level` counts leading dots as in a relative import.
struct ImportedName {
  const char* name;
  const char* alias;
};
void import_from(PyObject* module, const char* source, int level,
                 std::initializer_list<ImportedName> names);

// `import <source> as <alias>` run in `module`'s namespace.
void import_as(PyObject* module, const char* source, const char* alias);

}  // namespace pykora
