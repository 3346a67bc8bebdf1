"""The type stubs shipped next to the native modules, and what help() shows of them."""

import ast
import builtins
import importlib.util
import inspect
import pydoc
import subprocess
import sys
from pathlib import Path

import pytest

import pykora._layout
import pykora._text
import pykora.binary
import pykora.options

MODULES = [pykora.binary, pykora.options, pykora._layout, pykora._text]


def stub_functions(module):
    """The stub installed next to ``module``, its functions compiled without annotations,
    so that inspect.signature() compares their parameter names, kinds and defaults."""
    stub = Path(module.__file__).with_name(module.__name__.split(".")[-1] + ".pyi")
    tree = ast.parse(stub.read_text())
    constants = {
        n.target.id: ast.unparse(n.annotation) for n in tree.body if isinstance(n, ast.AnnAssign)
    }
    tree.body = [n for n in tree.body if isinstance(n, ast.FunctionDef)]
    for node in ast.walk(tree):
        if isinstance(node, ast.arg | ast.FunctionDef):
            setattr(node, "annotation" if isinstance(node, ast.arg) else "returns", None)
    namespace = {}
    exec(compile(tree, str(stub), "exec"), namespace)
    return {n.name: namespace[n.name] for n in tree.body}, constants


def parameters(function):
    return [(p.name, p.kind, p.default) for p in inspect.signature(function).parameters.values()]


@pytest.mark.parametrize("module", MODULES, ids=lambda m: m.__name__)
def test_stub_signatures_match_the_runtime(module):
    functions, constants = stub_functions(module)
    native = {
        n for n, f in vars(module).items() if getattr(f, "__module__", None) == module.__name__
    }
    assert native and native <= functions.keys()
    assert module.__doc__.strip()
    for name, stub in functions.items():
        assert parameters(stub) == parameters(getattr(module, name)), name
    for name, annotation in constants.items():
        assert isinstance(getattr(module, name), getattr(builtins, annotation.split("[")[0])), name


def plain_twin(name, function):
    """A plain Python function with the same name, parameters, defaults and annotations."""
    namespace = {}
    exec(f"def {name}{inspect.signature(function)}: pass", namespace)
    return namespace[name]


@pytest.mark.parametrize("module", MODULES, ids=lambda m: m.__name__)
def test_help_lists_public_functions_with_signatures(module):
    # help() must show each function as it shows a plain Python function of
    # the same signature: how it prints annotations is the interpreter's
    # choice (string annotations lost their quotes in 3.14).
    text = pydoc.render_doc(module, renderer=pydoc.plaintext)
    public = [n for n, f in vars(module).items() if n.startswith("kora_") and callable(f)]
    for name in public:
        if getattr(module, name).__module__ == module.__name__:
            twin = plain_twin(name, getattr(module, name))
            assert pydoc.plaintext.document(twin).splitlines()[0] in text


@pytest.fixture(scope="module")
def mypy(tmp_path_factory):
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("mypy is not installed")
    cache = tmp_path_factory.mktemp("mypy")

    def check(path):
        cmd = [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(cache), str(path)]
        return subprocess.run(cmd, capture_output=True, text=True, cwd=cache, timeout=600)

    return check


def test_typed_usage_passes_mypy_strict(mypy):
    done = mypy(Path(__file__).with_name("typing_usage.py"))
    assert done.returncode == 0, done.stdout + done.stderr


MISUSES = """\
import pykora
from pykora.options import kora_enabled_Braidwell_features, kora_get_option, kora_set_option
pykora.binary.kora_read_binary_file("x")
pykora.binary.kora_read_binary_file(3)  # E
pykora.binary.kora_read_binary_file(path="x", mode="rb")  # E
matrix: str = pykora.binary.kora_interpret_vector([1.0])  # E
flag: str = kora_enabled_Braidwell_features()  # E
kora_enabled_Braidwell_features(True)  # E
kora_get_option(5)  # E
result: int = kora_set_option("keep", True)  # E
"""


def test_misuse_is_reported_by_mypy(mypy, tmp_path):
    path = tmp_path / "misuse.py"
    path.write_text(MISUSES)
    done = mypy(path)
    flagged = {int(line.split(":")[1]) for line in done.stdout.splitlines() if ": error:" in line}
    lines = MISUSES.splitlines()
    assert flagged == {i for i, line in enumerate(lines, start=1) if line.endswith("# E")}
