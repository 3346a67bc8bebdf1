// Releasing the interpreter lock around work that needs no Python.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace pykora {

// Releases the GIL for its lifetime, as Py_BEGIN/END_ALLOW_THREADS do, and
// takes it back however the scope is left. Nothing inside may touch Python.
class ReleasedGil {
 public:
  ReleasedGil() noexcept : state_(PyEval_SaveThread()) {}
  ~ReleasedGil() { PyEval_RestoreThread(state_); }
  ReleasedGil(const ReleasedGil&) = delete;
  ReleasedGil& operator=(const ReleasedGil&) = delete;

 private:
  PyThreadState* state_;
};

// Runs `work` without the GIL and returns what it returns.
template <typename Work>
auto without_gil(Work&& work) -> decltype(work()) {
  ReleasedGil released;
  return work();
}

}  // namespace pykora
