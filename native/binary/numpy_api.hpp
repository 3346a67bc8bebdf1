// NumPy C API for the translation units of pykora.binary. The API table is
// filled in once, by the module body (binary_module.cpp).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define PY_ARRAY_UNIQUE_SYMBOL pykora_binary_numpy_api
#ifndef PYKORA_IMPORTS_NUMPY_API
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
#include <numpy/arrayscalars.h>
