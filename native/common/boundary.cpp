#include "common/boundary.hpp"

#include <cassert>
#include <exception>
#include <new>

namespace pykora {

void set_error_from_current_exception() noexcept {
  try {
    throw;
  } catch (const PythonError&) {
    assert(PyErr_Occurred());
    if (!PyErr_Occurred()) {
      // A bug of ours, never the caller's: say so rather than fail silently.
      PyErr_SetString(PyExc_SystemError, "pykora: error signalled without an exception set");
    }
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "unexpected native error");
  }
}

}  // namespace pykora
