#include "text/chunks.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

#include "common/boundary.hpp"
#include "common/gil.hpp"
#include "text/state.hpp"

namespace pykora::texts {
namespace {

struct ChunkState {
  ViewSource source;
  std::unique_ptr<core::ViewWriter> writer;
  std::size_t chunk_bytes;
  bool utf8;
  std::unique_ptr<char[]> buffer;  // made at the first chunk, reused by the others
  bool busy = false;               // a chunk is being formatted, without the lock
};

struct Chunks {
  PyObject_HEAD
  ChunkState* state;  // null once the text has ended, failed or been dropped
};

// Marks the state busy for its lifetime: a second thread that advances the
// same iterator while the first formats without the lock is refused, as a
// generator refuses to run twice at once.
class BusyScope {
 public:
  explicit BusyScope(bool& busy) : busy_(busy) {
    if (busy_) {
      PyErr_SetString(PyExc_ValueError, "this text is already being written by another thread");
      throw PythonError{};
    }
    busy_ = true;
  }
  ~BusyScope() { busy_ = false; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  bool& busy_;
};

Object new_text(const char* text, std::size_t size, bool utf8) {
  if (utf8) {
    // Lone surrogates of a prefix (a file name read with surrogateescape)
    // were encoded with surrogatepass and come back as they were.
    return Object::steal(
        PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(size), "surrogatepass"));
  }
  return ascii_text(text, size);
}

// The next chunk; no object once the view has ended, with `ended` set.
Object next_text(ChunkState& state, bool& ended) {
  if (!state.buffer) {
    state.buffer = std::make_unique<char[]>(state.chunk_bytes + state.writer->max_step());
  }
  char* const begin = state.buffer.get();
  const char* const target = begin + state.chunk_bytes;
  char* out = begin;
  for (;;) {
    const core::Fill fill =
        without_gil([&] { return state.writer->fill(state.source.inputs, out, target); });
    assert(fill.end <= target + state.writer->max_step());
    out = fill.end;
    if (fill.error.fault != core::ViewFault::kNone) {
      raise_view_error(fill.error, state.source.inputs);
    }
    if (fill.done) {
      ended = true;
      break;
    }
    if (out >= target) {
      break;
    }
    // A fill that stops short of its target has walked a long run of blocks
    // that write nothing: the moment to let a Ctrl-C through.
    checked(PyErr_CheckSignals());
  }
  if (out == begin) {
    return Object();
  }
  return new_text(begin, static_cast<std::size_t>(out - begin), state.utf8);
}

// Drops the state, and with it the arrays, the writer and the buffer.
void end(Chunks* self) { delete std::exchange(self->state, nullptr); }

PyObject* chunks_next(PyObject* obj) {
  auto* self = reinterpret_cast<Chunks*>(obj);
  return guarded_call([&]() -> PyObject* {
    ChunkState* state = self->state;
    if (state == nullptr) {
      return nullptr;  // exhausted: StopIteration
    }
    bool ended = false;
    Object text;
    try {
      BusyScope busy(state->busy);
      text = next_text(*state, ended);
    } catch (...) {
      if (!state->busy) {  // not the refusal of a second thread
        end(self);
      }
      throw;
    }
    if (ended) {
      end(self);
    }
    return text.release();
  });
}

int chunks_traverse(PyObject* obj, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(obj));  // a heap type, held by each of its instances
  if (const ChunkState* state = reinterpret_cast<Chunks*>(obj)->state) {
    for (const Object& owner : state->source.owners) {
      Py_VISIT(owner.get());
    }
  }
  return 0;
}

int chunks_clear(PyObject* obj) {
  end(reinterpret_cast<Chunks*>(obj));
  return 0;
}

void chunks_dealloc(PyObject* obj) {
  PyTypeObject* type = Py_TYPE(obj);
  PyObject_GC_UnTrack(obj);
  chunks_clear(obj);
  PyObject_GC_Del(obj);
  Py_DECREF(type);  // the reference the instance held since its creation
}

PyType_Slot chunks_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(chunks_dealloc)},
    {Py_tp_doc, const_cast<char*>("The text of a view, made a chunk at a time as it is iterated.")},
    {Py_tp_traverse, reinterpret_cast<void*>(chunks_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(chunks_clear)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(chunks_next)},
    {0, nullptr},
};

}  // namespace

Object ascii_text(const char* text, std::size_t size) {
  Object str = Object::steal(PyUnicode_New(static_cast<Py_ssize_t>(size), 127));
  std::memcpy(PyUnicode_1BYTE_DATA(str.get()), text, size);
  return str;
}

void raise_view_error(const core::ViewError& error, const core::ViewInputs& inputs) {
  const auto blocks = static_cast<long long>(
      std::min({inputs.starts.size(), inputs.idx.size(), inputs.declared.size()}));
  const auto at = static_cast<long long>(error.at);
  const auto value = static_cast<long long>(error.value);
  switch (error.fault) {
    case core::ViewFault::kBlockOutOfRange:
      PyErr_Format(PyExc_IndexError, "blocks[%lld] is %lld, but the layout has %lld blocks", at,
                   value, blocks);
      break;
    case core::ViewFault::kSourceOutOfRange:
      PyErr_Format(PyExc_IndexError,
                   "columns[%lld] is %lld, but the column sources of the layout's %lld blocks run "
                   "from 0 to %lld",
                   at, value, blocks, 2 * blocks - 1);
      break;
    case core::ViewFault::kLayoutMismatch:
      PyErr_Format(PyExc_ValueError,
                   "the layout does not fit the values: block %lld starts at %lld and declares "
                   "%lld pairs, in %zu values",
                   at, static_cast<long long>(inputs.starts[error.at]),
                   static_cast<long long>(inputs.declared[error.at]), inputs.values.size());
      break;
    case core::ViewFault::kNegativeRow:
      PyErr_Format(PyExc_IndexError, "rows hold %lld, but rows start at 0", value);
      break;
    case core::ViewFault::kNone:
      PyErr_SetString(PyExc_SystemError, "a view reported a fault without naming it");
      break;
  }
  throw PythonError{};
}

Object new_chunks_type() {
  PyType_Spec spec = {
      "pykora._text.Chunks",
      static_cast<int>(sizeof(Chunks)),
      0,
      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE |
          Py_TPFLAGS_DISALLOW_INSTANTIATION,
      chunks_slots,
  };
  return Object::steal(PyType_FromSpec(&spec));
}

Object new_chunks(ViewSource source, std::unique_ptr<core::ViewWriter> writer,
                  std::size_t chunk_bytes, bool utf8) {
  auto* type = reinterpret_cast<PyTypeObject*>(state().chunks_type);
  auto* self = PyObject_GC_New(Chunks, type);  // holds a reference to its type
  checked(reinterpret_cast<PyObject*>(self));
  self->state = nullptr;
  Object chunks = Object::steal(reinterpret_cast<PyObject*>(self));
  self->state = new ChunkState{std::move(source), std::move(writer), chunk_bytes, utf8, {}};
  PyObject_GC_Track(self);
  return chunks;
}

}  // namespace pykora::texts
