// The four functions of pykora.binary.
#pragma once

#include "common/function.hpp"

namespace pykora::binary {

PyObject* read_binary_file(Function* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames);
PyObject* split_vector_blocks(Function* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);
PyObject* interpret_vector(Function* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames);
PyObject* interpret_vector_list(Function* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames);

}  // namespace pykora::binary
