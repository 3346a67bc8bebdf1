// Interned names that the functions of pykora.binary look up: module
// globals, NumPy attributes, builtins, methods and keywords.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace pykora::binary {

// NumPy attributes the functions use, and the builtins they call.
enum NumpyAttr {
  kAsarray,
  kFloat64,
  kZeros,
  kFull,
  kNan,
  kConcatenate,
  kEmpty,
  kFrombuffer,
  kNumpyAttrCount
};
enum Builtin { kRound, kInt, kMax, kLen, kEnumerate, kBuiltinCount };

struct Names {
  PyObject *np, *Path, *F8_LE, *split_vector_blocks;  // module globals
  PyObject* numpy_attr[kNumpyAttrCount];
  PyObject* builtin[kBuiltinCount];
  PyObject *ravel, *size, *shape, *reshape, *copy, *exists, *read_bytes, *open, *io, *dtype;
  PyObject *zero, *one, *two;  // the ints the functions compute with
};
extern Names names;

bool init_names();

}  // namespace pykora::binary
