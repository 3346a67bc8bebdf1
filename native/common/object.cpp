#include "common/object.hpp"

#include "common/python_code.hpp"

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

std::pair<Object, Object> unpack_pair(const Object& obj) {
  PyObject* raw = obj.get();
  // A 2-tuple unpacks without running anything of anyone's; everything else
  // goes through the interpreter, with its own errors.
  if (PyTuple_CheckExact(raw) && PyTuple_GET_SIZE(raw) == 2) {
    return {Object::borrow(PyTuple_GET_ITEM(raw, 0)), Object::borrow(PyTuple_GET_ITEM(raw, 1))};
  }
  return interpreter_unpack_pair(obj);
}

}  // namespace pykora
