// The native routes of pykora.binary and the guards that open them.
//
// Every function has a module-level route, the Python it stands for run
// step by step through whatever the module binds at each step, and a native
// route that computes the same result directly. A native route is taken only
// while its guard shows that it cannot be told apart from the module-level
// route: every name the module-level code would look up still holds the
// object the module was created with (the originals, captured by the module
// body). A guard compares pointers, so it costs a few dictionary lookups.
//
// The table kRouteGuards below is the map from route to guard, and the only
// way to ask whether a route is open is route_open(), which reads it: a new
// native route gets a Route, a row and the dependencies its module-level
// code has, or it does not compile.
//
// Why the dependencies suffice: with NumPy's own functions, the dtype
// float64, the builtins and pathlib's reading, the module-level code runs no
// code of the caller's once its input is converted, so its result, errors
// and side effects are fixed by the input alone, and the native route
// computes the same. Where the caller's code can run inside a call
// (converting `vec` runs its __array__, __len__ or __float__; opening a file
// runs audit hooks and __fspath__), the route's guard is asked again right
// after, and a call whose guard fails there goes on along the module-level
// route from that point.
#pragma once

#include <cstddef>

#include "binary/state.hpp"
#include "common/routes.hpp"

namespace pykora::binary {

// What a route's module-level code looks up, each held to its original.
enum Dependency : unsigned {
  // The module's `np` is NumPy, and NumPy's asarray, float64, zeros, full,
  // nan, concatenate, empty and frombuffer are its own.
  kNumpy = 1U << 0,
  // round, int, max, len and enumerate: not shadowed in the module, and the
  // originals in builtins.
  kBuiltins = 1U << 1,
  // The module's `_split_vector_blocks` is its own.
  kSplitter = 1U << 2,
  // The module's `Path` is pathlib's; the path's class resolves read_bytes
  // and open to pathlib's own, and Path.open's `io.open` is the original.
  kPathReading = 1U << 3,
  // The module's `_F8_LE` is the exact str "<f8".
  kF8Le = 1U << 4,
};

enum class Route : std::size_t {
  // _split_vector_blocks: the vector scanned in C++, the blocks built directly.
  kSplitNative,
  // kora_interpret_vector, kora_interpret_vector_list: the blocks scanned and
  // arranged in C++, without calling the splitter.
  kDecodeNative,
  // kora_read_binary_file: the file read straight into the result's storage.
  kReadNative,
  // kora_read_binary_file: the bytes read, decoded in C++ (after the caller's
  // code ran while the file was opened).
  kDecodeBytesNative,
  kCount,
};

inline constexpr RouteGuard<Route> kRouteGuards[] = {
    {Route::kSplitNative, "_split_vector_blocks", kNumpy | kBuiltins},
    {Route::kDecodeNative, "kora_interpret_vector, kora_interpret_vector_list",
     kNumpy | kBuiltins | kSplitter},
    {Route::kReadNative, "kora_read_binary_file", kPathReading | kNumpy | kF8Le},
    {Route::kDecodeBytesNative, "kora_read_binary_file", kNumpy | kF8Le},
};

static_assert(one_row_per_route(kRouteGuards), "each route needs its row, in order");

// What a guard looks at besides the module namespace: for kPathReading, the
// class the module's `Path` named and the path object it made.
struct GuardSubject {
  PyObject* globals;
  PyObject* path_type = nullptr;
  PyObject* path = nullptr;
};

// Whether `route` may be taken now.
bool route_open(Route route, const GuardSubject& subject);

// Captures state().originals once the module body has bound its names.
void capture_originals(PyObject* module);

}  // namespace pykora::binary
