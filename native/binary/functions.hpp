// The four functions of pykora.binary.
#pragma once

#include "common/function.hpp"

namespace pykora::binary {

NativeFunction read_binary_file;       // kora_read_binary_file (reader.cpp)
NativeFunction split_vector_blocks;    // _split_vector_blocks (vectors_native.cpp)
NativeFunction interpret_vector;       // kora_interpret_vector (vectors_native.cpp)
NativeFunction interpret_vector_list;  // kora_interpret_vector_list (vectors_native.cpp)

}  // namespace pykora::binary
