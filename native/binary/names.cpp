#include "binary/names.hpp"

#include "common/module.hpp"

namespace pykora::binary {

Names names;

bool init_names() {
  if (names.zero == nullptr) {
    names.zero = PyLong_FromLong(0);
    names.one = PyLong_FromLong(1);
    names.two = PyLong_FromLong(2);
    if (names.zero == nullptr || names.one == nullptr || names.two == nullptr) {
      return false;
    }
  }
  return intern_names({
      {&names.np, "np"},
      {&names.Path, "Path"},
      {&names.F8_LE, "_F8_LE"},
      {&names.split_vector_blocks, "_split_vector_blocks"},
      {&names.numpy_attr[kAsarray], "asarray"},
      {&names.numpy_attr[kFloat64], "float64"},
      {&names.numpy_attr[kZeros], "zeros"},
      {&names.numpy_attr[kFull], "full"},
      {&names.numpy_attr[kNan], "nan"},
      {&names.numpy_attr[kConcatenate], "concatenate"},
      {&names.numpy_attr[kEmpty], "empty"},
      {&names.numpy_attr[kFrombuffer], "frombuffer"},
      {&names.builtin[kRound], "round"},
      {&names.builtin[kInt], "int"},
      {&names.builtin[kMax], "max"},
      {&names.builtin[kLen], "len"},
      {&names.builtin[kEnumerate], "enumerate"},
      {&names.ravel, "ravel"},
      {&names.size, "size"},
      {&names.shape, "shape"},
      {&names.reshape, "reshape"},
      {&names.copy, "copy"},
      {&names.exists, "exists"},
      {&names.read_bytes, "read_bytes"},
      {&names.open, "open"},
      {&names.io, "io"},
      {&names.dtype, "dtype"},
  });
}

}  // namespace pykora::binary
