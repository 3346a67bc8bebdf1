#include "common/function.hpp"

#include <structmember.h>

#include <array>
#include <exception>
#include <new>

#include "common/arguments.hpp"

namespace pykora {
namespace {

// The most parameters any native function declares.
constexpr size_t kMaxParams = 4;

// Turns a C++ exception escaping a function body into a Python exception:
// nothing C++ may unwind through the interpreter.
PyObject* translate_exception() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "unexpected native error");
  }
  return nullptr;
}

PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) {
  auto* self = reinterpret_cast<Function*>(callable);
  const FunctionDef& def = *self->def;
  const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  try {
    if (def.takes_varargs) {
      return def.impl(self, args, nargs, kwnames);
    }
    std::array<PyObject*, kMaxParams> bound{};
    if (!bind_arguments(def, args, nargs, kwnames, bound.data())) {
      return nullptr;
    }
    return def.impl(self, bound.data(), static_cast<Py_ssize_t>(def.params.size()), nullptr);
  } catch (...) {
    return translate_exception();
  }
}

int function_traverse(PyObject* obj, visitproc visit, void* arg) {
  auto* self = reinterpret_cast<Function*>(obj);
  Py_VISIT(self->globals);
  Py_VISIT(self->name);
  Py_VISIT(self->qualname);
  Py_VISIT(self->module);
  Py_VISIT(self->doc);
  Py_VISIT(self->annotations);
  Py_VISIT(self->dict);
  return 0;
}

int function_clear(PyObject* obj) {
  auto* self = reinterpret_cast<Function*>(obj);
  Py_CLEAR(self->globals);
  Py_CLEAR(self->name);
  Py_CLEAR(self->qualname);
  Py_CLEAR(self->module);
  Py_CLEAR(self->doc);
  Py_CLEAR(self->annotations);
  Py_CLEAR(self->dict);
  return 0;
}

void function_dealloc(PyObject* obj) {
  PyObject_GC_UnTrack(obj);
  if (reinterpret_cast<Function*>(obj)->weakreflist != nullptr) {
    PyObject_ClearWeakRefs(obj);
  }
  function_clear(obj);
  PyObject_GC_Del(obj);
}

PyObject* function_repr(PyObject* obj) {
  auto* self = reinterpret_cast<Function*>(obj);
  return PyUnicode_FromFormat("<function %U at %p>", self->qualname, obj);
}

// Pickled by reference, like a Python function: pickle imports __module__ and
// fetches the attribute of this name.
PyObject* function_reduce(PyObject* obj, PyObject*) {
  return Py_NewRef(reinterpret_cast<Function*>(obj)->qualname);
}

int set_str_attribute(PyObject** slot, PyObject* value, const char* attr) {
  if (value == nullptr || !PyUnicode_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s must be set to a string object", attr);
    return -1;
  }
  Py_SETREF(*slot, Py_NewRef(value));
  return 0;
}

PyObject* get_name(PyObject* obj, void*) {
  return Py_NewRef(reinterpret_cast<Function*>(obj)->name);
}
int set_name(PyObject* obj, PyObject* value, void*) {
  return set_str_attribute(&reinterpret_cast<Function*>(obj)->name, value, "__name__");
}

PyObject* get_qualname(PyObject* obj, void*) {
  return Py_NewRef(reinterpret_cast<Function*>(obj)->qualname);
}
int set_qualname(PyObject* obj, PyObject* value, void*) {
  return set_str_attribute(&reinterpret_cast<Function*>(obj)->qualname, value, "__qualname__");
}

PyObject* get_doc(PyObject* obj, void*) { return Py_NewRef(reinterpret_cast<Function*>(obj)->doc); }
int set_doc(PyObject* obj, PyObject* value, void*) {
  Py_SETREF(reinterpret_cast<Function*>(obj)->doc, Py_NewRef(value == nullptr ? Py_None : value));
  return 0;
}

PyObject* get_annotations(PyObject* obj, void*) {
  auto* self = reinterpret_cast<Function*>(obj);
  if (self->annotations == nullptr) {
    self->annotations = PyDict_New();
  }
  return Py_XNewRef(self->annotations);
}
int set_annotations(PyObject* obj, PyObject* value, void*) {
  if (value == Py_None) {
    value = nullptr;
  }
  if (value != nullptr && !PyDict_Check(value)) {
    PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
    return -1;
  }
  Py_XSETREF(reinterpret_cast<Function*>(obj)->annotations, Py_XNewRef(value));
  return 0;
}

// inspect.Parameter(name, kind, default=..., annotation=...) for parameter
// `name`, with its annotation from the function's current annotations.
Ref new_parameter(PyObject* parameter_type, PyObject* name, const char* kind, PyObject* fallback,
                  PyObject* annotations) {
  Ref kind_value = Ref::steal(PyObject_GetAttrString(parameter_type, kind));
  Ref kwargs = Ref::steal(PyDict_New());
  if (!kind_value || !kwargs) {
    return {};
  }
  if (fallback != nullptr && PyDict_SetItemString(kwargs.get(), "default", fallback) < 0) {
    return {};
  }
  PyObject* annotation =
      annotations == nullptr ? nullptr : PyDict_GetItemWithError(annotations, name);
  if ((annotation == nullptr && PyErr_Occurred()) ||
      (annotation != nullptr && PyDict_SetItemString(kwargs.get(), "annotation", annotation) < 0)) {
    return {};
  }
  Ref args = Ref::steal(PyTuple_Pack(2, name, kind_value.get()));
  return args ? Ref::steal(PyObject_Call(parameter_type, args.get(), kwargs.get())) : Ref{};
}

// An inspect.Signature built from the parameters and the current
// annotations, so that inspect.signature() and help() show the function as
// they would show a Python function.
PyObject* get_signature(PyObject* obj, void*) {
  auto* self = reinterpret_cast<Function*>(obj);
  const FunctionDef& def = *self->def;
  Ref inspect = Ref::steal(PyImport_ImportModule("inspect"));
  Ref parameter_type =
      inspect ? Ref::steal(PyObject_GetAttrString(inspect.get(), "Parameter")) : Ref{};
  Ref signature_type =
      parameter_type ? Ref::steal(PyObject_GetAttrString(inspect.get(), "Signature")) : Ref{};
  Ref parameters = signature_type ? Ref::steal(PyList_New(0)) : Ref{};
  if (!parameters) {
    return nullptr;
  }
  auto add = [&](const char* name, const char* kind, PyObject* fallback) {
    Ref text = Ref::steal(PyUnicode_FromString(name));
    Ref parameter =
        text ? new_parameter(parameter_type.get(), text.get(), kind, fallback, self->annotations)
             : Ref{};
    return parameter && PyList_Append(parameters.get(), parameter.get()) == 0;
  };
  for (size_t i = 0; i < def.params.size(); ++i) {
    const bool optional = static_cast<int>(i) >= def.required;
    if (!add(def.params[i], "POSITIONAL_OR_KEYWORD", optional ? Py_None : nullptr)) {
      return nullptr;
    }
  }
  if (def.takes_varargs &&
      (!add("args", "VAR_POSITIONAL", nullptr) || !add("kwargs", "VAR_KEYWORD", nullptr))) {
    return nullptr;
  }
  Ref args = Ref::steal(PyTuple_Pack(1, parameters.get()));
  Ref kwargs = args ? Ref::steal(PyDict_New()) : Ref{};
  if (!kwargs) {
    return nullptr;
  }
  if (self->annotations != nullptr) {
    PyObject* returns = PyDict_GetItemString(self->annotations, "return");
    if (returns != nullptr &&
        PyDict_SetItemString(kwargs.get(), "return_annotation", returns) < 0) {
      return nullptr;
    }
  }
  return PyObject_Call(signature_type.get(), args.get(), kwargs.get());
}

// Bound to an instance when stored on a class, as a Python function is.
PyObject* function_descr_get(PyObject* obj, PyObject* instance, PyObject*) {
  if (instance == nullptr || instance == Py_None) {
    return Py_NewRef(obj);
  }
  return PyMethod_New(obj, instance);
}

PyGetSetDef function_getset[] = {
    {"__signature__", get_signature, nullptr, nullptr, nullptr},
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"__doc__", get_doc, set_doc, nullptr, nullptr},
    {"__annotations__", get_annotations, set_annotations, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_members[] = {
    {"__module__", T_OBJECT, offsetof(Function, module), 0, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject function_type = [] {
  PyTypeObject type{PyVarObject_HEAD_INIT(nullptr, 0)};
  type.tp_name = "pykora.native_function";
  type.tp_basicsize = sizeof(Function);
  type.tp_dealloc = function_dealloc;
  type.tp_vectorcall_offset = offsetof(Function, vectorcall);
  type.tp_repr = function_repr;
  type.tp_call = PyVectorcall_Call;
  type.tp_getattro = PyObject_GenericGetAttr;
  type.tp_setattro = PyObject_GenericSetAttr;
  type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
                  Py_TPFLAGS_METHOD_DESCRIPTOR;
  type.tp_descr_get = function_descr_get;
  type.tp_traverse = function_traverse;
  type.tp_clear = function_clear;
  type.tp_weaklistoffset = offsetof(Function, weakreflist);
  type.tp_methods = function_methods;
  type.tp_members = function_members;
  type.tp_getset = function_getset;
  type.tp_dictoffset = offsetof(Function, dict);
  return type;
}();

Ref new_annotations(const FunctionDef& def) {
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) {
    return {};
  }
  for (const Annotation& a : def.annotations) {
    Ref text = Ref::steal(PyUnicode_FromString(a.text));
    if (!text || PyDict_SetItemString(dict.get(), a.name, text.get()) < 0) {
      return {};
    }
  }
  return dict;
}

}  // namespace

Ref new_function(const FunctionDef& def, PyObject* module) {
  if (PyType_Ready(&function_type) < 0) {
    return {};
  }
  PyObject* globals = PyModule_GetDict(module);
  Ref module_name = Ref::steal(PyObject_GetAttrString(module, "__name__"));
  Ref name = Ref::steal(PyUnicode_InternFromString(def.name));
  Ref doc = def.doc == nullptr ? Ref::borrow(Py_None) : Ref::steal(PyUnicode_FromString(def.doc));
  Ref annotations = new_annotations(def);
  if (globals == nullptr || !module_name || !name || !doc || !annotations) {
    return {};
  }
  auto* self = PyObject_GC_New(Function, &function_type);
  if (self == nullptr) {
    return {};
  }
  self->vectorcall = function_vectorcall;
  self->def = &def;
  self->globals = Py_NewRef(globals);
  self->name = Py_NewRef(name.get());
  self->qualname = name.release();
  self->module = module_name.release();
  self->doc = doc.release();
  self->annotations = annotations.release();
  self->dict = nullptr;
  self->weakreflist = nullptr;
  PyObject_GC_Track(self);
  return Ref::steal(reinterpret_cast<PyObject*>(self));
}

bool define_functions(PyObject* module, std::span<const FunctionDef> defs) {
  for (const FunctionDef& def : defs) {
    Ref function = new_function(def, module);
    if (!function || PyModule_AddObjectRef(module, def.name, function.get()) < 0) {
      return false;
    }
  }
  return true;
}

}  // namespace pykora
