#include "common/function.hpp"

#include <structmember.h>

#include <array>
#include <cassert>

#include "common/arguments.hpp"
#include "common/boundary.hpp"
#include "common/compat.hpp"

namespace pykora {
namespace {

PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) {
  auto* self = reinterpret_cast<Function*>(callable);
  const FunctionDef& def = *self->def;
  const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  PyObject* result = guarded_call([&]() -> PyObject* {
    if (def.takes_varargs) {
      return def.impl(self, args, nargs, kwnames);
    }
    std::array<PyObject*, kMaxParams> bound{};
    bind_arguments(def, args, nargs, kwnames, bound);
    return def.impl(self, bound.data(), static_cast<Py_ssize_t>(def.params.size()), nullptr);
  });
  // Every body returns a result or sets an exception, never both or neither.
  assert((result == nullptr) == (PyErr_Occurred() != nullptr));
  return result;
}

int function_traverse(PyObject* obj, visitproc visit, void* arg) {
  auto* self = reinterpret_cast<Function*>(obj);
  Py_VISIT(Py_TYPE(obj));  // a heap type, held by each of its instances
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
  PyTypeObject* type = Py_TYPE(obj);
  PyObject_GC_UnTrack(obj);
  if (reinterpret_cast<Function*>(obj)->weakreflist != nullptr) {
    PyObject_ClearWeakRefs(obj);
  }
  function_clear(obj);
  PyObject_GC_Del(obj);
  Py_DECREF(type);  // the reference the instance held since its creation
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
// `name`, with its annotation from `annotations` (the function's own, held
// by the caller: the lookup may run a key's __eq__, which may replace them).
Object new_parameter(const Object& parameter_type, const char* name, const char* kind,
                     PyObject* fallback, const Object& annotations) {
  Object parameter_name = text(name);
  Object kind_value = parameter_type.attr(text(kind).get());
  Object kwargs = Object::steal(PyDict_New());
  if (fallback != nullptr) {
    checked(PyDict_SetItemString(kwargs.get(), "default", fallback));
  }
  if (annotations) {
    Ref annotation = dict_get_item(annotations.get(), parameter_name.get());
    if (annotation) {
      checked(PyDict_SetItemString(kwargs.get(), "annotation", annotation.get()));
    } else {
      throw_if_error_set();
    }
  }
  Object args = tuple(parameter_name, kind_value);
  return Object::steal(PyObject_Call(parameter_type.get(), args.get(), kwargs.get()));
}

// An inspect.Signature built from the parameters and the current
// annotations, so that inspect.signature() and help() show the function as
// they would show a Python function.
PyObject* get_signature(PyObject* obj, void*) {
  auto* self = reinterpret_cast<Function*>(obj);
  const FunctionDef& def = *self->def;
  return guarded_call([&]() -> PyObject* {
    // Read once and held, as inspect reads a Python function's annotations.
    Object annotations =
        self->annotations != nullptr ? Object::borrow(self->annotations) : Object();
    Object inspect = Object::steal(PyImport_ImportModule("inspect"));
    Object parameter_type = Object::steal(PyObject_GetAttrString(inspect.get(), "Parameter"));
    Object signature_type = Object::steal(PyObject_GetAttrString(inspect.get(), "Signature"));
    Object parameters = Object::steal(PyList_New(0));
    auto add = [&](const char* name, const char* kind, PyObject* fallback) {
      Object parameter = new_parameter(parameter_type, name, kind, fallback, annotations);
      checked(PyList_Append(parameters.get(), parameter.get()));
    };
    for (size_t i = 0; i < def.params.size(); ++i) {
      const bool optional = static_cast<int>(i) >= def.required;
      add(def.params[i], "POSITIONAL_OR_KEYWORD", optional ? Py_None : nullptr);
    }
    if (def.takes_varargs) {
      add("args", "VAR_POSITIONAL", nullptr);
      add("kwargs", "VAR_KEYWORD", nullptr);
    }
    Object args = tuple(parameters);
    Object kwargs = Object::steal(PyDict_New());
    if (annotations) {
      Object key = text("return");
      Ref returns = dict_get_item(annotations.get(), key.get());
      if (returns) {
        checked(PyDict_SetItemString(kwargs.get(), "return_annotation", returns.get()));
      } else {
        throw_if_error_set();
      }
    }
    return PyObject_Call(signature_type.get(), args.get(), kwargs.get());
  });
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

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// Members the PyType_Spec declares by offset: where the instance keeps its
// vectorcall entry, its __dict__ and its weak references, and __module__.
PyMemberDef function_members[] = {
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(Function, vectorcall), READONLY, nullptr},
    {"__dictoffset__", T_PYSSIZET, offsetof(Function, dict), READONLY, nullptr},
    {"__weaklistoffset__", T_PYSSIZET, offsetof(Function, weakreflist), READONLY, nullptr},
    {"__module__", T_OBJECT, offsetof(Function, module), 0, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot function_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(function_descr_get)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_methods, function_methods},
    {Py_tp_members, function_members},
    {Py_tp_getset, function_getset},
    {0, nullptr},
};

// The function type of `module`, named after it. Like a static type, it is
// immutable and cannot be instantiated or subclassed from Python: its
// functions are made only here.
Object new_function_type(PyObject* module) {
  Object module_name = Object::steal(PyObject_GetAttrString(module, "__name__"));
  Object name = Object::steal(PyUnicode_FromFormat("%U.native_function", module_name.get()));
  const char* utf8 = PyUnicode_AsUTF8(name.get());  // copied by the type
  if (utf8 == nullptr) {
    throw PythonError{};
  }
  PyType_Spec spec = {
      utf8,
      static_cast<int>(sizeof(Function)),
      0,
      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
          Py_TPFLAGS_METHOD_DESCRIPTOR | Py_TPFLAGS_IMMUTABLETYPE |
          Py_TPFLAGS_DISALLOW_INSTANTIATION,
      function_slots,
  };
  return Object::steal(PyType_FromSpec(&spec));
}

Object new_annotations(const FunctionDef& def) {
  Object dict = Object::steal(PyDict_New());
  for (const Annotation& a : def.annotations) {
    checked(PyDict_SetItemString(dict.get(), a.name, text(a.text).get()));
  }
  return dict;
}

// The function described by `def`, of type `type`, bound to the namespace
// and the name of `module`.
Object new_function(const Object& type, const FunctionDef& def, PyObject* module) {
  PyObject* globals = checked(PyModule_GetDict(module));
  Object module_name = Object::steal(PyObject_GetAttrString(module, "__name__"));
  Object name = Object::steal(PyUnicode_InternFromString(def.name));
  Object doc = def.doc == nullptr ? Object::borrow(Py_None) : text(def.doc);
  Object annotations = new_annotations(def);
  auto* self = PyObject_GC_New(Function, reinterpret_cast<PyTypeObject*>(type.get()));
  checked(reinterpret_cast<PyObject*>(self));
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
  return Object::steal(reinterpret_cast<PyObject*>(self));
}

}  // namespace

void detail::define_functions(PyObject* module, std::span<const FunctionDef> defs) {
  Object type = new_function_type(module);
  for (const FunctionDef& def : defs) {
    Object function = new_function(type, def, module);
    checked(PyModule_AddObjectRef(module, def.name, function.get()));
  }
}

}  // namespace pykora
