#include "common/object.hpp"

#include "common/calls.hpp"

namespace pykora {

Object Object::at(Py_ssize_t index) const { return (*this)[integer(index)]; }

Object integer(Py_ssize_t value) { return Object::steal(PyLong_FromSsize_t(value)); }

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

Object global(PyObject* globals, PyObject* name) { return Object(load_global(globals, name)); }

std::pair<Object, Object> unpack_pair(const Object& obj) {
  PyObject* raw = obj.get();
  if (PyTuple_CheckExact(raw) && PyTuple_GET_SIZE(raw) == 2) {
    return {Object::borrow(PyTuple_GET_ITEM(raw, 0)), Object::borrow(PyTuple_GET_ITEM(raw, 1))};
  }
  PyObject* it = PyObject_GetIter(raw);
  if (it == nullptr) {
    if (PyErr_ExceptionMatches(PyExc_TypeError) && Py_TYPE(raw)->tp_iter == nullptr &&
        !PySequence_Check(raw)) {
      PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object",
                   Py_TYPE(raw)->tp_name);
    }
    throw PythonError{};
  }
  Object iterator = Object::steal(it);
  Object items[2];
  for (Py_ssize_t got = 0; got < 2; ++got) {
    PyObject* item = PyIter_Next(it);
    if (item == nullptr) {
      if (!PyErr_Occurred()) {
        PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %zd)", got);
      }
      throw PythonError{};
    }
    items[got] = Object::steal(item);
  }
  PyObject* extra = PyIter_Next(it);
  if (extra != nullptr) {
    Py_DECREF(extra);
    PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
    throw PythonError{};
  }
  checked(PyErr_Occurred() ? -1 : 0);
  return {std::move(items[0]), std::move(items[1])};
}

}  // namespace pykora
