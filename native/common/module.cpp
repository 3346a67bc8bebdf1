#include "common/module.hpp"

#include <exception>
#include <new>

#include "common/compat.hpp"

namespace pykora {

PyObject* create_singleton(ModuleSingleton& singleton, PyObject* spec) {
  const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (interpreter == -1) {
    return nullptr;
  }
  std::int64_t owner = -1;
  if (!singleton.owner_interpreter.compare_exchange_strong(owner, interpreter) &&
      owner != interpreter) {
    PyErr_SetString(PyExc_ImportError,
                    "Interpreter change detected - this module can only be loaded into one "
                    "interpreter per process.");
    return nullptr;
  }
  if (singleton.module != nullptr) {
#if PY_VERSION_HEX < 0x030C0000
    // The interpreter drops the module's state pointer as soon as this
    // returns and allocates a fresh one before running the exec slot; free
    // the old one so that re-imports do not leak it.
    PyMem_Free(PyModule_GetState(singleton.module));
#endif
    return Py_NewRef(singleton.module);
  }
  Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
  if (!name) {
    return nullptr;
  }
  return PyModule_NewObject(name.get());
}

int exec_singleton(ModuleSingleton& singleton, PyObject* module, bool (*body)(PyObject*)) {
  if (singleton.module != nullptr) {
    if (singleton.module == module) {
      return 0;  // re-import or reload: the body has run already
    }
    PyErr_Format(PyExc_ImportError,
                 "Module '%s' has already been imported. Re-initialisation is not supported.",
                 PyModule_GetName(module));
    return -1;
  }
  // Held for the life of the process; dropped again if the body fails, so
  // that no half-built module is handed out by a later import.
  singleton.module = Py_NewRef(module);
  bool ok = false;
  try {
    ok = body(module);
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_ImportError, e.what());
    }
  } catch (...) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_ImportError, "unexpected native error while loading the module");
    }
  }
  if (!ok) {
    // Nothing was loaded, so the interpreter does not keep the module: the
    // next one to import it (this one or another) starts afresh.
    Py_CLEAR(singleton.module);
    singleton.owner_interpreter.store(-1);
    return -1;
  }
  return 0;
}

bool set_docstring(PyObject* module, const char* doc) {
  Ref text = Ref::steal(PyUnicode_FromString(doc));
  return text && PyObject_SetAttrString(module, "__doc__", text.get()) == 0;
}

bool intern_names(std::initializer_list<std::pair<PyObject**, const char*>> table) {
  for (const auto& [slot, text] : table) {
    if (*slot == nullptr) {
      *slot = PyUnicode_InternFromString(text);
      if (*slot == nullptr) {
        return false;
      }
    }
  }
  return true;
}

namespace {

// The attribute `name` of an imported module, falling back to the submodule
// of that name as the interpreter's `from ... import` does.
Ref imported_attribute(PyObject* source, PyObject* name) {
  PyObject* value = nullptr;
  if (get_optional_attr(source, name, &value) != 0) {
    return Ref::steal(value);  // found, or an error other than AttributeError
  }
  Ref source_name = Ref::steal(PyObject_GetAttrString(source, "__name__"));
  if (source_name && PyUnicode_Check(source_name.get())) {
    Ref full = Ref::steal(PyUnicode_FromFormat("%U.%U", source_name.get(), name));
    if (!full) {
      return {};
    }
    Ref submodule = Ref::steal(PyImport_GetModule(full.get()));
    if (submodule || PyErr_Occurred()) {
      return submodule;
    }
  }
  PyErr_Clear();
  Ref path = Ref::steal(PyModule_GetFilenameObject(source));
  Ref message;
  if (!source_name) {
    source_name = Ref::steal(PyUnicode_FromString("<unknown module name>"));
  }
  if (path && PyUnicode_Check(path.get())) {
    message = Ref::steal(PyUnicode_FromFormat("cannot import name %R from %R (%S)", name,
                                              source_name.get(), path.get()));
  } else {
    PyErr_Clear();
    path.reset();
    message = Ref::steal(PyUnicode_FromFormat("cannot import name %R from %R (unknown location)",
                                              name, source_name.get()));
  }
  if (message) {
    PyErr_SetImportError(message.get(), source_name.get(), path.get());
  }
  return {};
}

}  // namespace

bool import_from(PyObject* module, const char* source, int level,
                 std::initializer_list<ImportedName> names) {
  PyObject* globals = PyModule_GetDict(module);
  Ref source_name = Ref::steal(PyUnicode_FromString(source));
  Ref fromlist = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
  if (!source_name || !fromlist) {
    return false;
  }
  Py_ssize_t i = 0;
  for (const ImportedName& entry : names) {
    PyObject* name = PyUnicode_InternFromString(entry.name);
    if (name == nullptr) {
      return false;
    }
    PyTuple_SET_ITEM(fromlist.get(), i++, name);
  }
  Ref imported = Ref::steal(
      PyImport_ImportModuleLevelObject(source_name.get(), globals, globals, fromlist.get(), level));
  if (!imported) {
    return false;
  }
  i = 0;
  for (const ImportedName& entry : names) {
    Ref value = imported_attribute(imported.get(), PyTuple_GET_ITEM(fromlist.get(), i++));
    if (!value || PyDict_SetItemString(globals, entry.alias, value.get()) < 0) {
      return false;
    }
  }
  return true;
}

bool import_as(PyObject* module, const char* source, const char* alias) {
  PyObject* globals = PyModule_GetDict(module);
  Ref source_name = Ref::steal(PyUnicode_FromString(source));
  if (!source_name) {
    return false;
  }
  Ref imported =
      Ref::steal(PyImport_ImportModuleLevelObject(source_name.get(), globals, globals, nullptr, 0));
  return imported && PyDict_SetItemString(globals, alias, imported.get()) == 0;
}

}  // namespace pykora
