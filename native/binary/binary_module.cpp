// pykora.binary: decoding the engine's binary results.
#define PYKORA_IMPORTS_NUMPY_API
#include "binary/functions.hpp"
#include "binary/guards.hpp"
#include "binary/state.hpp"
#include "binary/vectors.hpp"
#include "common/module.hpp"

namespace pykora::binary {
namespace {

constexpr const char kModuleDoc[] =
    "Lightweight helpers for decoding kora's binary exports.\n"
    "\n"
    "They live inside the package so that installing ``pykora`` alone gives the\n"
    "high-level ``collect`` helpers everything they expect.\n";

constexpr const char kReadDoc[] =
    "Read a kora ``*.dat`` style file: a little-endian float64 stream.\n"
    "\n"
    "    Parameters\n"
    "    ----------\n"
    "    path : str or Path\n"
    "        File-system location of the binary file.\n"
    "\n"
    "    Returns\n"
    "    -------\n"
    "    ndarray or None\n"
    "        One-dimensional float64 array of the raw contents; ``None`` when the\n"
    "        file is missing, and an empty array when the file exists but has no\n"
    "        payload.\n"
    "    ";

constexpr const char kSplitDoc[] =
    "Interpret the flattened \"[idx, n, x1, y1, ...]\" representation that kora\n"
    "    uses for quantiles, modes and marginal densities.\n"
    "\n"
    "    Returns one ``(idx, pairs)`` tuple per block, ``pairs`` of shape (n, 2)\n"
    "    with x in column 0 and y in column 1. A block cut short by the end of\n"
    "    the vector is completed with NaN.\n"
    "    ";

constexpr const char kDenseDoc[] =
    "Decode kora's vector format into a dense matrix.\n"
    "\n"
    "    The result has shape ``(max_count, 1 + 2 * n_blocks)``. Column 0 holds the\n"
    "    abscissa (probabilities, grid points and the like) taken from the first\n"
    "    block when available; columns ``1 + 2*k`` and ``1 + 2*k + 1`` hold the\n"
    "    y-values and the x-values of block ``k``. Missing entries are NaN.\n"
    "    ";

constexpr const char kListDoc[] =
    "Decode a vector-of-vectors marginal structure into a list of (n\u00d72) arrays.\n"
    "\n"
    "    Each array contains the (x, y) pairs of one marginal.\n"
    "    ";

constexpr const char* kPathParams[] = {"path"};
constexpr const char* kVecParams[] = {"vec"};

constexpr Annotation kReadAnnotations[] = {{"path", "str | Path"},
                                           {"return", "Optional[np.ndarray]"}};
constexpr Annotation kSplitAnnotations[] = {{"vec", "Sequence[float]"},
                                            {"return", "List[Tuple[float, np.ndarray]]"}};
constexpr Annotation kDenseAnnotations[] = {{"vec", "Optional[Sequence[float]]"},
                                            {"return", "Optional[np.ndarray]"}};
constexpr Annotation kListAnnotations[] = {{"vec", "Optional[Sequence[float]]"},
                                           {"return", "Optional[List[np.ndarray]]"}};

constexpr FunctionDef kFunctions[] = {
    {.name = "kora_read_binary_file",
     .doc = kReadDoc,
     .params = kPathParams,
     .required = 1,
     .annotations = kReadAnnotations,
     .impl = read_binary_file},
    {.name = "_split_vector_blocks",
     .doc = kSplitDoc,
     .params = kVecParams,
     .required = 1,
     .annotations = kSplitAnnotations,
     .impl = split_vector_blocks},
    {.name = "kora_interpret_vector",
     .doc = kDenseDoc,
     .params = kVecParams,
     .required = 1,
     .annotations = kDenseAnnotations,
     .impl = interpret_vector},
    {.name = "kora_interpret_vector_list",
     .doc = kListDoc,
     .params = kVecParams,
     .required = 1,
     .annotations = kListAnnotations,
     .impl = interpret_vector_list},
};

void module_body(PyObject* module) {
  set_docstring(module, kModuleDoc);
  init_names();
  import_from(module, "pathlib", 0, {{"Path", "Path"}});
  import_from(
      module, "typing", 0,
      {{"List", "List"}, {"Optional", "Optional"}, {"Sequence", "Sequence"}, {"Tuple", "Tuple"}});
  import_as(module, "numpy", "np");
  checked(PyArray_ImportNumPyAPI());
  checked(PyModule_AddStringConstant(module, "_F8_LE", "<f8"));
  define_functions<kFunctions>(module);
  capture_originals(module);
  compile_module_level_code(module);
}

PyModuleDef module_def = module_definition<state, module_body>("pykora.binary");

}  // namespace
}  // namespace pykora::binary

PyMODINIT_FUNC PyInit_binary() { return PyModuleDef_Init(&pykora::binary::module_def); }
