// Version shims: public C API replacements for what the interpreter only
// offers privately, or only from a later version on, so that every
// supported CPython builds. Nothing else belongs here.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "common/ref.hpp"

namespace pykora {

// getattr(obj, name) that tells a missing attribute apart from a failure:
// 1 with a new reference in *value, 0 with *value null and no exception set
// when obj has no such attribute, -1 with an exception set.
inline int get_optional_attr(PyObject* obj, PyObject* name, PyObject** value) {
#if PY_VERSION_HEX >= 0x030D0000
  return PyObject_GetOptionalAttr(obj, name, value);
#else
  *value = PyObject_GetAttr(obj, name);
  if (*value != nullptr) {
    return 1;
  }
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
    return -1;
  }
  PyErr_Clear();
  return 0;
#endif
}

// dict[key] as a new reference: null with no exception set when the key is
// missing, null with an exception set when the lookup failed. Unlike a
// borrowed result, it stays valid when the lookup ran a key's __eq__ that
// changed the dict.
inline Ref dict_get_item(PyObject* dict, PyObject* key) {
#if PY_VERSION_HEX >= 0x030D0000
  PyObject* value = nullptr;
  PyDict_GetItemRef(dict, key, &value);
  return Ref::steal(value);
#else
  return Ref::borrow(PyDict_GetItemWithError(dict, key));
#endif
}

// The object that `name` names in the namespace of `type` or of the first
// class of its MRO that defines it, without running descriptors: what
// attribute lookup on an instance starts from. Borrowed (the class keeps it
// alive); null with no exception set when no class defines it, or when a
// lookup failed, which callers treat alike as "not the original".
inline PyObject* find_in_mro(PyTypeObject* type, PyObject* name) {
  PyObject* mro = type->tp_mro;
  if (mro == nullptr || !PyTuple_Check(mro)) {
    return nullptr;
  }
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
    auto* base = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i));
#if PY_VERSION_HEX >= 0x030C0000
    // Static builtin types keep their namespace per interpreter from 3.12 on.
    PyObject* dict = PyType_GetDict(base);
    Py_XDECREF(dict);  // still owned by the type
#else
    PyObject* dict = base->tp_dict;
#endif
    if (dict == nullptr) {
      continue;
    }
    PyObject* found = PyDict_GetItemWithError(dict, name);
    if (found != nullptr) {
      return found;
    }
    if (PyErr_Occurred()) {
      PyErr_Clear();
      return nullptr;
    }
  }
  return nullptr;
}

}  // namespace pykora
