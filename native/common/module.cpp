#include "common/module.hpp"

#include "common/boundary.hpp"
#include "common/compat.hpp"
#include "common/globals.hpp"
#include "common/python_code.hpp"

namespace pykora {

PyObject* create_singleton(ModuleState& state, PyObject* spec) noexcept {
  return guarded_call([&]() -> PyObject* {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter == -1) {
      throw PythonError{};
    }
    std::int64_t owner = -1;
    if (!state.owner_interpreter.compare_exchange_strong(owner, interpreter) &&
        owner != interpreter) {
      PyErr_SetString(PyExc_ImportError,
                      "Interpreter change detected - this module can only be loaded into one "
                      "interpreter per process.");
      throw PythonError{};
    }
    if (state.module != nullptr) {
#if PY_VERSION_HEX < 0x030C0000
      // The interpreter drops the module's state pointer as soon as this
      // returns and allocates a fresh one before running the exec slot; free
      // the old one so that re-imports do not leak it.
      PyMem_Free(PyModule_GetState(state.module));
#endif
      return Py_NewRef(state.module);
    }
    Object name = Object::steal(PyObject_GetAttrString(spec, "name"));
    return checked(PyModule_NewObject(name.get()));
  });
}

int exec_singleton(ModuleState& state, PyObject* module, ModuleBody* body) noexcept {
  if (state.module != nullptr) {
    if (state.module == module) {
      return 0;  // re-import or reload: the body has run already
    }
    PyErr_Format(PyExc_ImportError,
                 "Module '%s' has already been imported. Re-initialisation is not supported.",
                 PyModule_GetName(module));
    return -1;
  }
  // Held for the life of the process; dropped again if the body fails, so
  // that no half-built module is handed out by a later import.
  state.module = Py_NewRef(module);
  const int status = guarded_call([&] {
    init_builtins_namespace();
    init_python_code();
    body(module);
    return 0;
  });
  if (status < 0) {
    // Nothing was loaded, so the interpreter does not keep the module: the
    // next one to import it (this one or another) starts afresh.
    Py_CLEAR(state.module);
    state.owner_interpreter.store(-1);
  }
  return status;
}

void set_docstring(PyObject* module, const char* doc) {
  checked(PyObject_SetAttrString(module, "__doc__", text(doc).get()));
}

namespace {

// The attribute `name` of an imported module, falling back to the submodule
// of that name as the interpreter's `from ... import` does.
Object imported_attribute(PyObject* source, PyObject* name) {
  PyObject* value = nullptr;
  if (checked(get_optional_attr(source, name, &value)) == 1) {
    return Object::steal(value);
  }
  Ref source_name = Ref::steal(PyObject_GetAttrString(source, "__name__"));
  if (source_name && PyUnicode_Check(source_name.get())) {
    Object full = Object::steal(PyUnicode_FromFormat("%U.%U", source_name.get(), name));
    PyObject* submodule = PyImport_GetModule(full.get());
    if (submodule != nullptr) {
      return Object::steal(submodule);
    }
    throw_if_error_set();
  }
  PyErr_Clear();
  if (!source_name) {
    source_name = Ref::steal(checked(PyUnicode_FromString("<unknown module name>")));
  }
  Ref path = Ref::steal(PyModule_GetFilenameObject(source));
  Object message;
  if (path && PyUnicode_Check(path.get())) {
    message = Object::steal(PyUnicode_FromFormat("cannot import name %R from %R (%S)", name,
                                                 source_name.get(), path.get()));
  } else {
    PyErr_Clear();
    path.reset();
    message = Object::steal(PyUnicode_FromFormat("cannot import name %R from %R (unknown location)",
                                                 name, source_name.get()));
  }
  PyErr_SetImportError(message.get(), source_name.get(), path.get());
  throw PythonError{};
}

}  // namespace

void import_from(PyObject* module, const char* source, int level,
                 std::initializer_list<ImportedName> names) {
  PyObject* globals = checked(PyModule_GetDict(module));
  Object source_name = text(source);
  Object fromlist = Object::steal(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
  Py_ssize_t i = 0;
  for (const ImportedName& entry : names) {
    PyTuple_SET_ITEM(fromlist.get(), i++, checked(PyUnicode_InternFromString(entry.name)));
  }
  Object imported = Object::steal(
      PyImport_ImportModuleLevelObject(source_name.get(), globals, globals, fromlist.get(), level));
  i = 0;
  for (const ImportedName& entry : names) {
    Object value = imported_attribute(imported.get(), PyTuple_GET_ITEM(fromlist.get(), i++));
    checked(PyDict_SetItemString(globals, entry.alias, value.get()));
  }
}

void import_as(PyObject* module, const char* source, const char* alias) {
  PyObject* globals = checked(PyModule_GetDict(module));
  Object imported = Object::steal(
      PyImport_ImportModuleLevelObject(text(source).get(), globals, globals, nullptr, 0));
  checked(PyDict_SetItemString(globals, alias, imported.get()));
}

}  // namespace pykora
