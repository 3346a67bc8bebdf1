// What pykora.binary keeps for the life of the process, in one struct: the
// names its functions look up, interned; the objects the module was created
// with, which the guards compare against (guards.hpp); and the code its
// module-level route compiles (vectors_module_level.cpp).
#pragma once

#include "binary/numpy_api.hpp"
#include "common/interned.hpp"
#include "common/state.hpp"

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

// Module globals, attributes of arrays and paths, and keywords.
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

struct Names {
  PYKORA_BINARY_NAMES(PYKORA_NAME_MEMBER)
  PyObject* numpy_attr[kNumpyAttrCount] = {};
  PyObject* builtin[kBuiltinCount] = {};
};

// The objects the module was created with; read by the native routes, which
// may use them only while their guard holds.
struct Originals {
  PyObject* numpy = nullptr;
  PyObject* numpy_attr[kNumpyAttrCount] = {};
  PyObject* builtin[kBuiltinCount] = {};
  PyObject* path_type = nullptr;     // pathlib.Path
  PyObject* read_bytes = nullptr;    // pathlib.Path.read_bytes
  PyObject* open = nullptr;          // pathlib.Path.open
  PyObject* open_globals = nullptr;  // namespace of the module defining Path.open
  PyObject* pathlib_io = nullptr;    // the io module as Path.open sees it
  PyObject* io_open = nullptr;       // io.open, which Path.open calls; null: never read natively
  PyObject* splitter = nullptr;      // this module's _split_vector_blocks
  PyArray_Descr* f8_le = nullptr;    // the dtype that "<f8" names
  PyArray_Descr* float64_descr = nullptr;  // NumPy's own float64 dtype
  double nan = 0.0;                        // numpy.nan, bit for bit
};

struct State : ModuleState {
  Names names;          // interned by init_names()
  Originals originals;  // captured by capture_originals() (guards.hpp)
  // The generator expression of kora_interpret_vector's module-level route,
  // compiled by compile_module_level_code() (vectors.hpp).
  PyObject* row_counts = nullptr;
};

inline State& state() {
  static constinit State instance;
  return instance;
}

// Interns every name, once per process.
void init_names();

}  // namespace pykora::binary
