#include "common/python_code.hpp"

#include "common/compat.hpp"

namespace pykora {
namespace {

PyObject* g_unpack_pair = nullptr;

constexpr const char kUnpackSource[] =
    "def unpack_pair(pair):\n"
    "    first, second = pair\n"
    "    return first, second\n";

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

std::pair<Object, Object> interpreter_unpack_pair(const Object& pair) {
  PyObject* stack[] = {nullptr, pair.get()};
  PyObject* result =
      PyObject_Vectorcall(g_unpack_pair, stack + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
  if (result == nullptr) {
    // The error belongs to the caller's statement, not to the helper.
    drop_outermost_traceback_entry();
    throw PythonError{};
  }
  Object unpacked = Object::steal(result);
  return {Object::borrow(PyTuple_GET_ITEM(result, 0)), Object::borrow(PyTuple_GET_ITEM(result, 1))};
}

void init_python_code() {
  if (g_unpack_pair == nullptr) {
    Object namespace_ = Object::steal(PyDict_New());
    g_unpack_pair =
        compile_function(kUnpackSource, "<pykora>", "unpack_pair", namespace_.get()).release();
  }
}

}  // namespace pykora
