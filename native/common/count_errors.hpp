// What the decoders' int(round(count)) raises for a block count that has no
// integer value, for every native route that scans blocks.
#pragma once

#include "common/object.hpp"
#include "core/vector_blocks.hpp"

namespace pykora {

// Throws the ValueError of a NaN count or the OverflowError of an infinite
// one, with Python's own messages; returns for a scan that read every count.
inline void raise_for_count(core::ScanStatus status) {
  switch (status) {
    case core::ScanStatus::kOk:
      return;
    case core::ScanStatus::kNanCount:
    case core::ScanStatus::kSignallingNanCount:
      PyErr_SetString(PyExc_ValueError, "cannot convert float NaN to integer");
      throw PythonError{};
    case core::ScanStatus::kInfiniteCount:
      PyErr_SetString(PyExc_OverflowError, "cannot convert float infinity to integer");
      throw PythonError{};
  }
}

}  // namespace pykora
