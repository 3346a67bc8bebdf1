// The names that the functions of pykora.binary look up, interned once per
// process: module globals, NumPy attributes, builtins, attributes of arrays
// and paths, and keywords.
#pragma once

#include "common/interned.hpp"

namespace pykora::binary {

// NumPy attributes and builtins the functions use; the guards check each in
// a loop, so they live in arrays indexed by these enums.
#define PYKORA_NUMPY_ATTRS(X)    \
  X(kAsarray, "asarray")         \
  X(kFloat64, "float64")         \
  X(kZeros, "zeros")             \
  X(kFull, "full")               \
  X(kNan, "nan")                 \
  X(kConcatenate, "concatenate") \
  X(kEmpty, "empty")             \
  X(kFrombuffer, "frombuffer")
#define PYKORA_BUILTINS(X) \
  X(kRound, "round")       \
  X(kInt, "int")           \
  X(kMax, "max")           \
  X(kLen, "len")           \
  X(kEnumerate, "enumerate")

enum NumpyAttr { PYKORA_NUMPY_ATTRS(PYKORA_NAME_ENUMERATOR) kNumpyAttrCount };
enum Builtin { PYKORA_BUILTINS(PYKORA_NAME_ENUMERATOR) kBuiltinCount };
inline constexpr const char* kNumpyAttrTexts[] = {PYKORA_NUMPY_ATTRS(PYKORA_NAME_TEXT)};
inline constexpr const char* kBuiltinTexts[] = {PYKORA_BUILTINS(PYKORA_NAME_TEXT)};

#define PYKORA_BINARY_NAMES(X)                   \
  X(np, "np")                                    \
  X(Path, "Path")                                \
  X(F8_LE, "_F8_LE")                             \
  X(split_vector_blocks, "_split_vector_blocks") \
  X(ravel, "ravel")                              \
  X(size, "size")                                \
  X(shape, "shape")                              \
  X(reshape, "reshape")                          \
  X(copy, "copy")                                \
  X(exists, "exists")                            \
  X(read_bytes, "read_bytes")                    \
  X(open, "open")                                \
  X(io, "io")                                    \
  X(dtype, "dtype")

struct BinaryNames {
  PYKORA_BINARY_NAMES(PYKORA_NAME_MEMBER)
  PyObject* numpy_attr[kNumpyAttrCount] = {};
  PyObject* builtin[kBuiltinCount] = {};
};
extern BinaryNames names;

// Interns every name, then checks that none was left out.
void intern_binary_names();

}  // namespace pykora::binary
