// The iterator that every writer of pykora._text returns: the text of a
// view, formatted a chunk at a time without the interpreter lock.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "common/object.hpp"
#include "core/view_text.hpp"

namespace pykora::texts {

// A view's input: the arrays that own the values, the layout and the
// selection, and spans over their data. The spans stay valid while the
// arrays are held: an array's data moves only by resize(), which refuses an
// array that is referenced.
struct ViewSource {
  std::vector<Object> owners;
  core::ViewInputs inputs;
  // A table's layout, which its writers read for as long as they live.
  std::unique_ptr<core::TableShape> table_shape;
};

// A str of ASCII text.
Object ascii_text(const char* text, std::size_t size);

// Raises the exception that a fault of a writer or of a gather stands for.
[[noreturn]] void raise_view_error(const core::ViewError& error, const core::ViewInputs& inputs);

// The type of the iterators, pykora._text.Chunks, made from its
// PyType_Spec once per process by the module body. Like a static type it is
// immutable and cannot be instantiated or subclassed from Python.
Object new_chunks_type();

// An iterator of str chunks that ends with the view. `utf8`: the text may
// hold more than ASCII (a CSV prefix does), so each chunk is decoded.
//
// Formatted in turn, each chunk is about `chunk_bytes` (one step of the
// writer more at most). With `two_threads` the text is cut into parts of at
// most about `chunk_bytes`, formatted ahead by a second thread and by the
// caller's while it waits, at most a few parts ahead of the one asked for;
// the inputs are then read ahead of the chunks that show them.
Object new_chunks(ViewSource source, std::unique_ptr<core::ViewWriter> writer,
                  std::size_t chunk_bytes, bool utf8, bool two_threads);

}  // namespace pykora::texts
