#include "common/python_code.hpp"

#include "common/state.hpp"

namespace pykora {
namespace {

constexpr const char kUnpackSource[] =
    "def unpack_pair(pair):\n"
    "    first, second = pair\n"
    "    return first, second\n";

// Removes the outermost entry from the traceback of the exception being
// raised: the frame of a helper that raised it on the caller's behalf.
void drop_outermost_traceback_entry() {
#if PY_VERSION_HEX >= 0x030C0000
  PyObject* exc = PyErr_GetRaisedException();
#else
  PyObject *type = nullptr, *exc = nullptr, *tb = nullptr;
  PyErr_Fetch(&type, &exc, &tb);
  PyErr_NormalizeException(&type, &exc, &tb);
  if (exc != nullptr && tb != nullptr) {
    PyException_SetTraceback(exc, tb);
  }
  Py_XDECREF(tb);
#endif
  if (exc != nullptr) {
    Ref outermost = Ref::steal(PyException_GetTraceback(exc));
    Ref rest = outermost ? Ref::steal(PyObject_GetAttrString(outermost.get(), "tb_next")) : Ref();
    if (rest) {
      PyException_SetTraceback(exc, rest.get());
    }
  }
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exc);
#else
  Ref remaining = exc != nullptr ? Ref::steal(PyException_GetTraceback(exc)) : Ref();
  PyErr_Restore(type, exc, remaining.release());
#endif
}

// `first, second = pair` run by the interpreter.
std::pair<Object, Object> interpreter_unpack_pair(const Object& pair) {
  PyObject* stack[] = {nullptr, pair.get()};
  PyObject* result = PyObject_Vectorcall(shared_state().unpack_pair, stack + 1,
                                         1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
  if (result == nullptr) {
    // The error belongs to the caller's statement, not to the helper.
    drop_outermost_traceback_entry();
    throw PythonError{};
  }
  Object unpacked = Object::steal(result);
  return {Object::borrow(PyTuple_GET_ITEM(result, 0)), Object::borrow(PyTuple_GET_ITEM(result, 1))};
}

}  // namespace

Object compile_function(const char* source, const char* filename, const char* name,
                        PyObject* globals) {
  Object module_code = Object::steal(Py_CompileString(source, filename, Py_file_input));
  Object constants = Object::steal(PyObject_GetAttrString(module_code.get(), "co_consts"));
  for (const Object& constant : iterate(constants)) {
    if (!PyCode_Check(constant.get())) {
      continue;
    }
    Object code_name = Object::steal(PyObject_GetAttrString(constant.get(), "co_name"));
    if (PyUnicode_Check(code_name.get()) &&
        PyUnicode_CompareWithASCIIString(code_name.get(), name) == 0) {
      return Object::steal(PyFunction_New(constant.get(), globals));
    }
  }
  PyErr_Format(PyExc_SystemError, "pykora: compiled source defines no function %s", name);
  throw PythonError{};
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

void init_python_code() {
  SharedState& shared = shared_state();
  if (shared.unpack_pair == nullptr) {
    Object namespace_ = Object::steal(PyDict_New());
    shared.unpack_pair =
        compile_function(kUnpackSource, "<pykora>", "unpack_pair", namespace_.get()).release();
  }
}

}  // namespace pykora
