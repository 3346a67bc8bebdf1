#include "text/chunks.hpp"

#include <algorithm>
#include <cassert>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <utility>

#include "common/boundary.hpp"
#include "common/gil.hpp"
#include "text/state.hpp"

// GCC 12's libstdc++ gave std::condition_variable::wait a second symbol
// version (GLIBCXX_3.4.30), which differs from the first only in letting a
// thread cancellation unwind through it; these threads are never cancelled.
// Binding the first version, which every libstdc++ since GCC 4.4 has, keeps
// the module loadable on the manylinux_2_28 systems the wheels promise.
#if defined(__GLIBCXX__) && defined(__linux__)
__asm__(
    ".symver _ZNSt18condition_variable4waitERSt11unique_lockISt5mutexE,"
    "_ZNSt18condition_variable4waitERSt11unique_lockISt5mutexE@GLIBCXX_3.4.11");
#endif

namespace pykora::texts {
namespace {

// A part of a view's text, formatted by one thread.
struct Part {
  std::unique_ptr<core::ViewWriter> writer;
  std::vector<char> text;
  std::size_t size = 0;
  core::ViewError error;
  bool out_of_memory = false;
  bool formatted = false;
  bool taken = false;  // by a thread, to be formatted
};

// Formats a part's writer to its end into the part's text, which grows if
// the part turns out longer than its writer said.
void format(Part& part, const core::ViewInputs& inputs, std::size_t part_bytes) {
  core::ViewWriter& writer = *part.writer;
  const std::size_t step = writer.max_step();
  try {
    if (part.text.size() < part_bytes + step) {
      part.text.resize(part_bytes + step);
    }
    for (;;) {
      char* const begin = part.text.data();
      const core::Fill fill =
          writer.fill(inputs, begin + part.size, begin + part.text.size() - step);
      part.size = static_cast<std::size_t>(fill.end - begin);
      part.error = fill.error;
      if (fill.done || fill.error.fault != core::ViewFault::kNone) {
        break;
      }
      if (part.size + 2 * step > part.text.size()) {
        part.text.resize(2 * part.text.size());
      }
    }
  } catch (const std::bad_alloc&) {  // never out of a thread: the consumer raises it
    part.out_of_memory = true;
  }
  part.writer.reset();
}

// A view's text cut into parts that two threads format at once: a helper
// thread, and the thread that asks for the next part, which formats a part
// itself while the one it waits for is not ready. At most kAhead parts are
// kept formatted ahead of the one asked for, so memory stays a few parts.
// Nothing here touches Python.
class Ahead {
 public:
  static constexpr std::size_t kAhead = 3;

  Ahead(const core::ViewInputs& inputs, std::unique_ptr<core::ViewWriter> writer,
        std::size_t part_bytes)
      : inputs_(inputs), rest_(std::move(writer)), part_bytes_(part_bytes) {}

  ~Ahead() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    if (helper_.joinable()) {
      helper_.join();  // it ends after the part it formats: a few milliseconds
    }
  }

  Ahead(const Ahead&) = delete;
  Ahead& operator=(const Ahead&) = delete;

  // The next part, formatted; none at the end of the text.
  std::optional<Part> next() {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (!parts_.empty() && parts_.front().formatted) {
        Part part = std::move(parts_.front());
        parts_.pop_front();
        if (part.error.fault != core::ViewFault::kNone || part.out_of_memory) {
          rest_.reset();  // what follows a fault is not written
        }
        lock.unlock();
        changed_.notify_all();  // room for the helper to format one more
        return part;
      }
      if (parts_.empty() && !rest_) {
        return std::nullopt;
      }
      if (Part* part = claim()) {
        lock.unlock();
        format(*part, inputs_, part_bytes_);
        lock.lock();
        part->formatted = true;
        changed_.notify_all();
        continue;
      }
      changed_.wait(lock);
    }
  }

  // A part's buffer, to be reused for another part. Buffers are kept, not
  // freed: one freed by a thread other than the one that made it goes back
  // to that thread's heap, which gives the pages back to the system, to be
  // faulted in again for the next part.
  void recycle(std::vector<char> buffer) {
    std::lock_guard lock(mutex_);
    spare_.push_back(std::move(buffer));
  }

 private:
  // The first part no thread has taken, cut from the rest of the text if
  // there is none and the parts ahead leave room; null if there is nothing
  // to do now. Called under the lock.
  Part* claim() {
    for (Part& part : parts_) {
      if (!part.taken) {
        part.taken = true;
        return &part;
      }
    }
    if (!rest_ || parts_.size() >= kAhead) {
      return nullptr;
    }
    Part& part = parts_.emplace_back();
    if (!spare_.empty()) {
      part.text = std::move(spare_.back());
      spare_.pop_back();
    }
    part.writer = std::move(rest_);
    rest_ = part.writer->split(inputs_, part_bytes_);
    part.taken = true;
    if (rest_ && !helper_.joinable() && !stopping_) {
      helper_ = std::thread([this] { help(); });
    }
    return &part;
  }

  void help() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (Part* part = claim()) {
        lock.unlock();
        format(*part, inputs_, part_bytes_);
        lock.lock();
        part->formatted = true;
        changed_.notify_all();
      } else {
        changed_.wait(lock);
      }
    }
  }

  const core::ViewInputs& inputs_;          // owned by the chunks' state, which owns this
  std::unique_ptr<core::ViewWriter> rest_;  // the text not yet in a part
  std::size_t part_bytes_;
  std::deque<Part> parts_;                // in the order of the text
  std::vector<std::vector<char>> spare_;  // buffers of parts written, at most kAhead
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread helper_;
};

struct ChunkState {
  ViewSource source;
  std::unique_ptr<core::ViewWriter> writer;
  std::size_t chunk_bytes;
  bool utf8;
  std::unique_ptr<char[]> buffer;  // made at the first chunk, reused by the others
  std::unique_ptr<Ahead> ahead;    // formats on two threads; null: in turn, on the caller's
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

// The next part of a text formatted on two threads; no object once the view
// has ended, with `ended` set.
Object next_part(ChunkState& state, bool& ended) {
  std::optional<Part> part = without_gil([&] { return state.ahead->next(); });
  if (!part) {
    ended = true;
    return Object();
  }
  if (part->out_of_memory) {
    throw std::bad_alloc();
  }
  if (part->error.fault != core::ViewFault::kNone) {
    raise_view_error(part->error, state.source.inputs);
  }
  Object text;
  if (part->size != 0) {
    text = new_text(part->text.data(), part->size, state.utf8);
  }
  state.ahead->recycle(std::move(part->text));
  return text;
}

// The next chunk; no object once the view has ended, with `ended` set.
Object next_text(ChunkState& state, bool& ended) {
  if (state.ahead) {
    // A part may be empty (a run of blocks that write nothing): the next
    // one is asked for, as a fill that stops short is followed by another.
    for (;;) {
      Object text = next_part(state, ended);
      if (text || ended) {
        return text;
      }
      checked(PyErr_CheckSignals());
    }
  }
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
                  std::size_t chunk_bytes, bool utf8, bool two_threads) {
  auto* type = reinterpret_cast<PyTypeObject*>(state().chunks_type);
  auto* self = PyObject_GC_New(Chunks, type);  // holds a reference to its type
  checked(reinterpret_cast<PyObject*>(self));
  self->state = nullptr;
  Object chunks = Object::steal(reinterpret_cast<PyObject*>(self));
  auto* made = new ChunkState{std::move(source), std::move(writer), chunk_bytes, utf8, {}, {}};
  self->state = made;
  if (two_threads) {
    made->ahead =
        std::make_unique<Ahead>(made->source.inputs, std::move(made->writer), chunk_bytes);
  }
  PyObject_GC_Track(self);
  return chunks;
}

}  // namespace pykora::texts
