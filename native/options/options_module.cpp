// pykora.options: the package's global options.
#include "common/module.hpp"
#include "options/functions.hpp"
#include "options/guards.hpp"
#include "options/state.hpp"

namespace pykora::options {
namespace {

constexpr const char kModuleDoc[] =
    "Global options of the Python port of kora.\n"
    "\n"
    "Public functions:\n"
    "\n"
    "- kora_get_option_default()\n"
    "- kora_get_option(option=None)\n"
    "- kora_set_option(**kwargs), also as kora_set_option(\"key\", value)\n"
    "- kora_enabled_Braidwell_features()\n";

constexpr const char kDefaultsDoc[] =
    "\n"
    "    Default options (no recursion to get current options).\n"
    "    ";

constexpr const char kGetDoc[] =
    "\n"
    "    Get current option(s). If option is None, return a dict of current values.\n"
    "    Special handling for 'kora.call' and 'weftgen.call' to avoid recursion.\n"
    "    ";

constexpr const char kSetDoc[] =
    "\n"
    "    Set global options.\n"
    "\n"
    "    Supports:\n"
    "      kora_set_option(\"keep\", True)\n"
    "      kora_set_option(keep=True, num_threads=\"4:1\")\n"
    "      kora_set_option(keep=True, num_threads=\"4:1\", verbose=True)\n"
    "    ";

constexpr const char* kOptionParam[] = {"option"};
constexpr const char* kSetOneParams[] = {"option", "value"};

constexpr Annotation kReturnsStr[] = {{"return", "str"}};
constexpr Annotation kReturnsDict[] = {{"return", "Dict[str, Any]"}};
constexpr Annotation kGetAnnotations[] = {{"option", "Optional[Union[str, list]]"}};
constexpr Annotation kReturnsNone[] = {{"return", "None"}};
constexpr Annotation kSetOneAnnotations[] = {
    {"option", "str"}, {"value", "Any"}, {"return", "None"}};
constexpr Annotation kReturnsBool[] = {{"return", "bool"}};

constexpr FunctionDef kFunctions[] = {
    {.name = "_cpu_default_string", .annotations = kReturnsStr, .impl = cpu_default_string},
    {.name = "kora_get_option_default",
     .doc = kDefaultsDoc,
     .annotations = kReturnsDict,
     .impl = get_option_default},
    {.name = "kora_get_option",
     .doc = kGetDoc,
     .params = kOptionParam,
     .annotations = kGetAnnotations,
     .impl = get_option},
    {.name = "kora_set_option",
     .doc = kSetDoc,
     .takes_varargs = true,
     .annotations = kReturnsNone,
     .impl = set_option},
    {.name = "_set_one",
     .params = kSetOneParams,
     .required = 2,
     .exact_str = {0},
     .annotations = kSetOneAnnotations,
     .impl = set_one},
    {.name = "_post_set_checks", .annotations = kReturnsNone, .impl = post_set_checks},
    {.name = "kora_enabled_Braidwell_features",
     .annotations = kReturnsBool,
     .impl = enabled_braidwell_features},
};

void module_body(PyObject* module) {
  set_docstring(module, kModuleDoc);
  init_names();
  init_table();
  import_as(module, "os", "os");
  import_as(module, "warnings", "warnings");
  import_from(module, "typing", 0,
              {{"Any", "Any"}, {"Dict", "Dict"}, {"Optional", "Optional"}, {"Union", "Union"}});
  import_from(module, "kora_call", 1,
              {{"kora_call_builtin", "kora_call_builtin"},
               {"weftgen_call_builtin", "weftgen_call_builtin"},
               {"kora_remote_script", "kora_remote_script"}});
  import_from(module, "utils", 1, {{"kora_anyMultibyteUTF8Characters", "_any_mb"}});
  Object store = Object::steal(PyDict_New());
  checked(PyModule_AddObjectRef(module, "_KORA_OPTIONS", store.get()));
  define_functions<kFunctions>(module);
  capture_originals(module);
}

PyModuleDef module_def = module_definition<state, module_body>("pykora.options");

}  // namespace
}  // namespace pykora::options

PyMODINIT_FUNC PyInit_options() { return PyModuleDef_Init(&pykora::options::module_def); }
