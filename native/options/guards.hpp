// The native routes of pykora.options and the guards that open them.
//
// Every function runs the Python it stands for step by step (the
// module-level route), looking every global up at each use. A few steps
// have a native route that skips work nobody can observe: building a dict
// that is read once, asking a dict twice what one lookup answers. A native
// route is taken only while its guard holds; the table kRouteGuards is the
// map from route to guard, and route_open() is the only way to ask it.
#pragma once

#include <cstddef>

#include "common/object.hpp"
#include "common/routes.hpp"

namespace pykora::options {

// What a route's module-level code looks up or relies on, each held to its
// original: what the module was created with.
enum Dependency : unsigned {
  // The module's `kora_get_option_default` is the original: its dict is the
  // table, and all of its call that anyone sees is _cpu_default_string().
  kDefaultsFunction = 1U << 0,
  // The module's `_cpu_default_string` is the original: all of its call
  // that anyone sees is os.cpu_count().
  kCpuDefaultFunction = 1U << 1,
  // The module's `_KORA_OPTIONS` is an exact dict.
  kDictStore = 1U << 2,
  // ... whose keys are all exact str, and the key looked up is an exact str:
  // no __eq__ or __hash__ of anyone's runs in a lookup, so `key in store`
  // followed by `store[key]` is one lookup.
  kStrKeyedStore = 1U << 3,
};

enum class Route : std::size_t {
  // kora_get_option, _set_one, _post_set_checks: the default table read
  // directly instead of the dict kora_get_option_default() would build.
  kDefaultsTable,
  // ... and of _cpu_default_string(), only os.cpu_count() called.
  kCpuCountOnly,
  // kora_get_option(key): `key in _KORA_OPTIONS` and `_KORA_OPTIONS[key]`
  // (and the "kora.call" tests between them) as one dict lookup.
  kStoreLookup,
  // kora_get_option(): `out.update(_KORA_OPTIONS)` and
  // `_KORA_OPTIONS.get("kora.call")` as C calls on the dict.
  kStoreMerge,
  kCount,
};

inline constexpr RouteGuard<Route> kRouteGuards[] = {
    {Route::kDefaultsTable, "kora_get_option, _set_one, _post_set_checks", kDefaultsFunction},
    {Route::kCpuCountOnly, "kora_get_option, _set_one, _post_set_checks",
     kDefaultsFunction | kCpuDefaultFunction},
    {Route::kStoreLookup, "kora_get_option", kDictStore | kStrKeyedStore},
    {Route::kStoreMerge, "kora_get_option", kDictStore},
};

static_assert(one_row_per_route(kRouteGuards), "each route needs its row, in order");

// What a guard looks at besides the module namespace: for kDictStore, the
// store as the caller looked it up already (else the guard looks it up); for
// kStrKeyedStore, the key being looked up.
struct GuardSubject {
  PyObject* globals;
  PyObject* key = nullptr;
  PyObject* store = nullptr;
};

// Whether `route` may be taken now.
bool route_open(Route route, const GuardSubject& subject);

// Captures state().originals once the module body has defined its
// functions.
void capture_originals(PyObject* module);

}  // namespace pykora::options
