// What the route tables of both modules share: the row that maps a native
// route to the dependencies its guard holds fixed, the check that a table has
// one row per route, and the pointer comparison that guards are made of.
#pragma once

#include <cstddef>

#include "common/ref.hpp"

namespace pykora {

template <typename Route>
struct RouteGuard {
  Route route;
  const char* function;   // the module functions whose route it is
  unsigned dependencies;  // a set of the module's Dependency flags
};

// Whether `table` has a row for every route of `Route` (up to Route::kCount),
// each at its route's own position, so that a route's row is found by index.
template <typename Route, std::size_t N>
constexpr bool one_row_per_route(const RouteGuard<Route> (&table)[N]) {
  if (N != static_cast<std::size_t>(Route::kCount)) {
    return false;
  }
  for (std::size_t i = 0; i < N; ++i) {
    if (static_cast<std::size_t>(table[i].route) != i) {
      return false;
    }
  }
  return true;
}

template <typename Route, std::size_t N>
constexpr unsigned dependencies_of(const RouteGuard<Route> (&table)[N], Route route) {
  return table[static_cast<std::size_t>(route)].dependencies;
}

// Whether `dict[name]` is `expected`. A failed lookup counts as a change, and
// the caller then takes the module-level route, which reports the failure.
inline bool holds(PyObject* dict, PyObject* name, PyObject* expected) {
  PyObject* value = PyDict_GetItemWithError(dict, name);
  if (value == nullptr && PyErr_Occurred() != nullptr) {
    PyErr_Clear();
    return false;
  }
  return value == expected;
}

}  // namespace pykora
