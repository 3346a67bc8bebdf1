// Binding call arguments to a native function's parameters, with the
// interpreter's standard TypeError wording naming the function.
#pragma once

#include "common/function.hpp"

namespace pykora {

// Binds a vectorcall's arguments to the parameters of `def`. On success
// `bound` (room for def.params.size() entries) holds borrowed references in
// parameter order, with None for omitted optional parameters. Returns false
// with a TypeError set.
bool bind_arguments(const FunctionDef& def, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** bound);

}  // namespace pykora
