// Binding call arguments to a native function's parameters, with the
// interpreter's standard TypeError wording naming the function.
#pragma once

#include <array>

#include "common/function_def.hpp"

namespace pykora {

// Binds a vectorcall's arguments to the parameters of `def`: `bound` then
// holds borrowed references in parameter order, with None for omitted
// optional parameters. Throws with a TypeError set.
void bind_arguments(const FunctionDef& def, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::array<PyObject*, kMaxParams>& bound);

}  // namespace pykora
