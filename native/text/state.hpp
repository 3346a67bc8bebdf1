// What pykora._text keeps for the life of the process, in one struct: the
// names its functions look up, interned, and the type of the iterator its
// writers return.
#pragma once

#include "common/interned.hpp"
#include "common/state.hpp"

namespace pykora::texts {

#define PYKORA_TEXT_NAMES(X) \
  X(chunk_bytes, "CHUNK_BYTES") X(threads, "THREADS") X(start, "start") X(step, "step")

struct Names {
  PYKORA_TEXT_NAMES(PYKORA_NAME_MEMBER)
};

struct State : ModuleState {
  Names names;                      // interned by the module body
  PyObject* chunks_type = nullptr;  // made by the module body (chunks.hpp)
};

inline State& state() {
  static constinit State instance;
  return instance;
}

}  // namespace pykora::texts
