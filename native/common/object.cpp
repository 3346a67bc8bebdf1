#include "common/object.hpp"

namespace pykora {

Object Object::at(Py_ssize_t index) const { return (*this)[integer(index)]; }

Object integer(Py_ssize_t value) { return Object::steal(PyLong_FromSsize_t(value)); }

Object text(const char* utf8) { return Object::steal(PyUnicode_FromString(utf8)); }

Object list(std::initializer_list<PyObject*> items) {
  Object out = Object::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
  Py_ssize_t i = 0;
  for (PyObject* item : items) {
    PyList_SET_ITEM(out.get(), i++, Py_NewRef(item));
  }
  return out;
}

Object slice(PyObject* start, PyObject* stop) {
  return Object::steal(PySlice_New(start, stop, nullptr));
}

}  // namespace pykora
