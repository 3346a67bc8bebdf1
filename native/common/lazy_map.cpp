#include "common/lazy_map.hpp"

#include "common/boundary.hpp"

namespace pykora {
namespace {

struct LazyMap {
  PyObject_HEAD
  PyObject* source;  // iter(iterable)
  ItemTransform transform;
};

PyObject* lazy_map_next(PyObject* obj) {
  auto* self = reinterpret_cast<LazyMap*>(obj);
  if (self->source == nullptr) {
    return nullptr;  // exhausted
  }
  return guarded_call([&]() -> PyObject* {
    // Held for the call: the source's __next__ may itself exhaust this map
    // and drop the map's own reference to it.
    Object source = Object::borrow(self->source);
    PyObject* item = PyIter_Next(source.get());
    if (item == nullptr) {
      checked(PyErr_Occurred() ? -1 : 0);
      Py_CLEAR(self->source);  // like a finished generator, stays exhausted
      return nullptr;
    }
    return self->transform(Object::steal(item)).release();
  });
}

int lazy_map_traverse(PyObject* obj, visitproc visit, void* arg) {
  Py_VISIT(reinterpret_cast<LazyMap*>(obj)->source);
  return 0;
}

int lazy_map_clear(PyObject* obj) {
  Py_CLEAR(reinterpret_cast<LazyMap*>(obj)->source);
  return 0;
}

void lazy_map_dealloc(PyObject* obj) {
  PyObject_GC_UnTrack(obj);
  lazy_map_clear(obj);
  PyObject_GC_Del(obj);
}

PyTypeObject lazy_map_type = [] {
  PyTypeObject type{PyVarObject_HEAD_INIT(nullptr, 0)};
  type.tp_name = "pykora.lazy_map";
  type.tp_basicsize = sizeof(LazyMap);
  type.tp_dealloc = lazy_map_dealloc;
  type.tp_getattro = PyObject_GenericGetAttr;
  type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;
  type.tp_traverse = lazy_map_traverse;
  type.tp_clear = lazy_map_clear;
  type.tp_iter = PyObject_SelfIter;
  type.tp_iternext = lazy_map_next;
  return type;
}();

}  // namespace

Object lazy_map(const Object& iterable, ItemTransform transform) {
  checked(PyType_Ready(&lazy_map_type));
  Object source = Object::steal(PyObject_GetIter(iterable.get()));
  auto* self = PyObject_GC_New(LazyMap, &lazy_map_type);
  checked(reinterpret_cast<PyObject*>(self));
  self->source = source.release();
  self->transform = transform;
  PyObject_GC_Track(self);
  return Object::steal(reinterpret_cast<PyObject*>(self));
}

}  // namespace pykora
