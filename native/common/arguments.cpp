#include "common/arguments.hpp"

#include "common/object.hpp"

namespace pykora {
namespace {

[[noreturn]] void raise_count(const FunctionDef& def, Py_ssize_t given) {
  const auto max = static_cast<Py_ssize_t>(def.params.size());
  const Py_ssize_t min = def.required;
  const bool too_few = given < min;
  const Py_ssize_t expected = too_few ? min : max;
  const char* bound = min == max ? "exactly" : (too_few ? "at least" : "at most");
  PyErr_Format(PyExc_TypeError, "%.200s() takes %s %zd positional argument%s (%zd given)", def.name,
               bound, expected, expected == 1 ? "" : "s", given);
  throw PythonError{};
}

// Index of the keyword called `name` among `kwnames`, or -1.
Py_ssize_t find_keyword(PyObject* kwnames, const char* name) {
  const Py_ssize_t n = PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t j = 0; j < n; ++j) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, j);
    if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, name) == 0) {
      return j;
    }
  }
  return -1;
}

// Index of the parameter called `key` among params[first:last], or -1.
Py_ssize_t find_param(const FunctionDef& def, PyObject* key, size_t first, size_t last) {
  for (size_t i = first; i < last; ++i) {
    if (PyUnicode_CompareWithASCIIString(key, def.params[i]) == 0) {
      return static_cast<Py_ssize_t>(i);
    }
  }
  return -1;
}

// Some keyword found no open parameter: say which one and why.
[[noreturn]] void raise_stray_keyword(const FunctionDef& def, PyObject* kwnames, Py_ssize_t nargs) {
  const auto npos = static_cast<size_t>(nargs);
  const Py_ssize_t n = PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t j = 0; j < n; ++j) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, j);
    if (!PyUnicode_Check(key)) {
      PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", def.name);
      throw PythonError{};
    }
    const Py_ssize_t open = find_param(def, key, npos, def.params.size());
    if (open >= 0 && find_keyword(kwnames, def.params[static_cast<size_t>(open)]) == j) {
      continue;  // this keyword bound its parameter
    }
    if (open >= 0 || find_param(def, key, 0, npos) >= 0) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", def.name,
                   key);
    } else {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", def.name, key);
    }
    throw PythonError{};
  }
  // Unreachable while the caller counted a keyword left unclaimed.
  PyErr_SetString(PyExc_SystemError, "pykora: a keyword was left unbound");
  throw PythonError{};
}

// "Argument 'option' has incorrect type (expected str, got int)"
[[noreturn]] void raise_argument_type(const char* param, const char* expected, PyObject* got) {
  PyErr_Format(PyExc_TypeError,
               "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", param,
               expected, Py_TYPE(got)->tp_name);
  throw PythonError{};
}

}  // namespace

void bind_arguments(const FunctionDef& def, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::array<PyObject*, kMaxParams>& bound) {
  const auto count = static_cast<Py_ssize_t>(def.params.size());
  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);

  if (count == 0) {
    if (nkw != 0) {
      PyErr_Format(PyExc_TypeError, "%.200s() takes no keyword arguments", def.name);
      throw PythonError{};
    }
    if (nargs != 0) {
      PyErr_Format(PyExc_TypeError, "%.200s() takes no arguments (%zd given)", def.name, nargs);
      throw PythonError{};
    }
    return;
  }

  if (nargs > count || (nkw == 0 && nargs < def.required)) {
    raise_count(def, nargs);
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) {
    bound[i] = args[i];
  }

  // Parameters not given by position are looked for among the keywords, in
  // parameter order; the first missing required one is reported with the
  // number of parameters before it as the count given.
  Py_ssize_t unclaimed = nkw;
  for (Py_ssize_t i = nargs; i < count; ++i) {
    bound[i] = nullptr;
    if (unclaimed > 0) {
      const Py_ssize_t j = find_keyword(kwnames, def.params[static_cast<size_t>(i)]);
      if (j >= 0) {
        bound[i] = args[nargs + j];
        --unclaimed;
      }
    }
    if (bound[i] == nullptr) {
      if (i < def.required) {
        raise_count(def, i);
      }
      bound[i] = Py_None;
    }
  }
  if (unclaimed > 0) {
    raise_stray_keyword(def, kwnames, nargs);
  }

  for (Py_ssize_t i = 0; i < count; ++i) {
    if (def.exact_str.contains(static_cast<size_t>(i)) && !PyUnicode_CheckExact(bound[i])) {
      raise_argument_type(def.params[static_cast<size_t>(i)], "str", bound[i]);
    }
  }
}

}  // namespace pykora
