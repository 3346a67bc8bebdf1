// The module-level route of _split_vector_blocks, kora_interpret_vector and
// kora_interpret_vector_list: the Python these functions stand for, run one
// step at a time through whatever the module binds at each step, so that a
// rebound `np`, splitter or builtin takes effect at once. Each statement is
// one sub-expression, in the order Python evaluates them; the comments give
// the line of Python each block stands for.
#include "binary/state.hpp"
#include "binary/vectors.hpp"
#include "common/globals.hpp"
#include "common/python_code.hpp"

namespace pykora::binary {
namespace {

// `(block[1].shape[0] for block in blocks)` is handed to whatever `max` is
// bound to, which may tell a generator from any stand-in (its type, its
// qualified name, StopIteration turned into RuntimeError, "generator already
// executing"). So it is a real one, made by a function whose code carries
// the names the module's own would.
constexpr const char kRowCountsSource[] =
    "def kora_interpret_vector(blocks):\n"
    "    return (block[1].shape[0] for block in blocks)\n";

// np.<attr>, looking up `np` at this use
Object np_attr(PyObject* globals, NumpyAttr attr) {
  const Names& names = state().names;
  Object np = global(globals, names.np);
  return np.attr(names.numpy_attr[attr]);
}

Object builtin(PyObject* globals, Builtin which) {
  return global(globals, state().names.builtin[which]);
}

// The key of obj[:stop, column]; a null stop gives obj[:, column].
Object column_key(PyObject* stop, const Object& column) {
  return tuple(slice(nullptr, stop), column);
}

}  // namespace

void compile_module_level_code(PyObject* module) {
  State& s = state();
  if (s.row_counts == nullptr) {
    s.row_counts = compile_function(kRowCountsSource, "<pykora.binary>", "kora_interpret_vector",
                                    checked(PyModule_GetDict(module)))
                       .release();
  }
}

Object split_module_level(PyObject* globals, PyObject* vec) {
  const Names& names = state().names;
  // arr = np.asarray(vec, dtype=np.float64).ravel()
  Object asarray = np_attr(globals, kAsarray);
  Object float64 = np_attr(globals, kFloat64);
  Object converted = asarray.call_with_keyword(names.dtype, float64, vec);
  Object arr = converted.method(names.ravel);
  return split_loop_module_level(globals, arr);
}

Object split_loop_module_level(PyObject* globals, const Object& arr) {
  const Names& names = state().names;
  const Object zero = integer(0);
  const Object one = integer(1);
  const Object two = integer(2);
  Object blocks = Object::steal(PyList_New(0));
  Object i = zero;
  Object count = arr.attr(names.size);
  for (;;) {
    // while i + 1 < count:
    Object next = i + one;
    if (!(next < count).truth()) {
      return blocks;
    }
    // idx = arr[i]
    Object idx = arr[i];
    // n = int(round(arr[i + 1]))
    Object int_ = builtin(globals, kInt);
    Object round_ = builtin(globals, kRound);
    Object at = i + one;
    Object declared = arr[at];
    Object rounded = round_(declared);
    Object n = int_(rounded);
    // i = i + 2
    i = i + two;
    Object pairs;
    if ((n <= zero).truth()) {
      // blocks.append((idx, np.zeros((0, 2), dtype=np.float64))); continue
      Object zeros = np_attr(globals, kZeros);
      Object float64 = np_attr(globals, kFloat64);
      pairs = zeros.call_with_keyword(names.dtype, float64, tuple(zero, two));
    } else {
      // needed = 2 * n ... blocks.append((idx, chunk.reshape(n, 2)))
      pairs = pairs_module_level(globals, arr, i, n, count);
    }
    checked(PyList_Append(blocks.get(), tuple(idx, pairs).get()));
  }
}

Object pairs_module_level(PyObject* globals, const Object& arr, Object& i, const Object& n,
                          const Object& count) {
  const Names& names = state().names;
  const Object two = integer(2);
  // needed = 2 * n
  Object needed = two * n;
  // chunk = arr[i : i + needed]
  Object stop = i + needed;
  Object chunk = arr[slice(i.get(), stop.get())];
  // if chunk.size < needed:
  Object size = chunk.attr(names.size);
  if ((size < needed).truth()) {
    // padding = np.full((needed - chunk.size,), np.nan, dtype=np.float64)
    Object full = np_attr(globals, kFull);
    Object present = chunk.attr(names.size);
    Object missing = needed - present;
    Object nan = np_attr(globals, kNan);
    Object float64 = np_attr(globals, kFloat64);
    Object padding = full.call_with_keyword(names.dtype, float64, tuple(missing), nan);
    // chunk = np.concatenate([chunk, padding])
    Object concatenate = np_attr(globals, kConcatenate);
    chunk = concatenate(list({chunk.get(), padding.get()}));
    // i = count
    i = count;
  } else {
    // i = i + needed
    i = i + needed;
  }
  // chunk.reshape(n, 2)
  return chunk.method(names.reshape, n, two);
}

Object call_splitter(PyObject* globals, PyObject* vec) {
  Object splitter = global(globals, state().names.split_vector_blocks);
  return splitter(vec);
}

Object dense_module_level(PyObject* globals, const Object& blocks) {
  const Names& names = state().names;
  const Object zero = integer(0);
  const Object one = integer(1);
  const Object two = integer(2);
  // if not blocks: return np.empty((0, 0), dtype=np.float64)
  if (!blocks.truth()) {
    Object empty = np_attr(globals, kEmpty);
    Object float64 = np_attr(globals, kFloat64);
    return empty.call_with_keyword(names.dtype, float64, tuple(zero, zero));
  }
  // if len(blocks) == 1: return blocks[0][1].copy()
  Object len = builtin(globals, kLen);
  Object length = len(blocks);
  if ((length == one).truth()) {
    Object first = blocks.at(0);
    Object pairs = first.at(1);
    return pairs.method(names.copy);
  }
  // max_rows = max(block[1].shape[0] for block in blocks)
  Object max = builtin(globals, kMax);
  Object row_counts = Object::borrow(state().row_counts)(blocks);
  Object max_rows = max(row_counts);
  // n_blocks = len(blocks)
  len = builtin(globals, kLen);
  Object n_blocks = len(blocks);
  // if max_rows == 0: return np.zeros((0, 1 + 2 * n_blocks), dtype=np.float64)
  if ((max_rows == zero).truth()) {
    Object zeros = np_attr(globals, kZeros);
    Object twice = two * n_blocks;
    Object columns = one + twice;
    Object float64 = np_attr(globals, kFloat64);
    return zeros.call_with_keyword(names.dtype, float64, tuple(zero, columns));
  }
  // out = np.full((max_rows, 1 + 2 * n_blocks), np.nan, dtype=np.float64)
  Object full = np_attr(globals, kFull);
  Object twice = two * n_blocks;
  Object columns = one + twice;
  Object nan = np_attr(globals, kNan);
  Object float64 = np_attr(globals, kFloat64);
  Object out = full.call_with_keyword(names.dtype, float64, tuple(max_rows, columns), nan);

  // first_pairs = blocks[0][1]
  Object first = blocks.at(0);
  Object first_pairs = first.at(1);
  // if first_pairs.size != 0: out[:first_pairs.shape[0], 0] = first_pairs[:, 0]
  Object first_size = first_pairs.attr(names.size);
  if ((first_size != zero).truth()) {
    Object xs = first_pairs[column_key(nullptr, zero)];
    Object first_shape = first_pairs.attr(names.shape);
    Object stop = first_shape.at(0);
    out.set_item(column_key(stop.get(), zero), xs);
  }

  // for k, (idx, pairs) in enumerate(blocks):
  Object enumerate = builtin(globals, kEnumerate);
  Object numbered = enumerate(blocks);
  for (const Object& entry : iterate(numbered)) {
    auto [k, block] = unpack_pair(entry);
    auto [idx, pairs] = unpack_pair(block);
    // if pairs.size == 0: continue
    Object size = pairs.attr(names.size);
    if ((size == zero).truth()) {
      continue;
    }
    // rows = pairs.shape[0]
    Object shape = pairs.attr(names.shape);
    Object rows = shape.at(0);
    // out[:rows, 1 + 2 * k] = pairs[:, 1]
    Object ys = pairs[column_key(nullptr, one)];
    Object twice_k = two * k;
    Object y_column = one + twice_k;
    out.set_item(column_key(rows.get(), y_column), ys);
    // out[:rows, 1 + 2 * k + 1] = pairs[:, 0]
    Object xs = pairs[column_key(nullptr, zero)];
    twice_k = two * k;
    Object after_y = one + twice_k;
    Object x_column = after_y + one;
    out.set_item(column_key(rows.get(), x_column), xs);
  }
  return out;
}

Object list_module_level(PyObject*, const Object& blocks) {
  // if not blocks: return None
  if (!blocks.truth()) {
    return Object::borrow(Py_None);
  }
  // out = []
  // for idx, pairs in blocks: out.append(pairs.copy())
  Object out = Object::steal(PyList_New(0));
  for (const Object& block : iterate(blocks)) {
    auto [idx, pairs] = unpack_pair(block);
    Object copy = pairs.method(state().names.copy);
    checked(PyList_Append(out.get(), copy.get()));
  }
  return out;
}

}  // namespace pykora::binary
