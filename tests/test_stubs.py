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

import pykora.binary
import pykora.options

MODULES = [pykora.binary, pykora.options]
P = inspect.Parameter


def stub_tree(module):
    """The parsed stub installed next to ``module`` (a missing stub fails here)."""
    return ast.parse(
        Path(module.__file__).with_name(module.__name__.split(".")[-1] + ".pyi").read_text()
    )


def stub_parameters(node):
    """(name, kind, default) of a stub function's parameters, as inspect.signature gives them."""
    a = node.args
    positional = [(x, P.POSITIONAL_ONLY) for x in a.posonlyargs]
    positional += [(x, P.POSITIONAL_OR_KEYWORD) for x in a.args]
    defaults = [P.empty] * (len(positional) - len(a.defaults)) + a.defaults
    params = [(x.arg, kind, d) for (x, kind), d in zip(positional, defaults, strict=True)]
    if a.vararg:
        params.append((a.vararg.arg, P.VAR_POSITIONAL, P.empty))
    params += [
        (x.arg, P.KEYWORD_ONLY, d or P.empty)
        for x, d in zip(a.kwonlyargs, a.kw_defaults, strict=True)
    ]
    if a.kwarg:
        params.append((a.kwarg.arg, P.VAR_KEYWORD, P.empty))
    return [(n, k, d if d is P.empty else ast.literal_eval(d)) for n, k, d in params]


@pytest.mark.parametrize("module", MODULES, ids=lambda m: m.__name__)
def test_stub_signatures_match_the_runtime(module):
    tree = stub_tree(module)
    functions = {n.name: n for n in tree.body if isinstance(n, ast.FunctionDef)}
    native = {
        name
        for name, obj in vars(module).items()
        if callable(obj) and getattr(obj, "__module__", None) == module.__name__
    }
    assert native and native <= functions.keys()
    for name, node in functions.items():
        runtime = inspect.signature(getattr(module, name))
        got = [(p.name, p.kind, p.default) for p in runtime.parameters.values()]
        assert stub_parameters(node) == got, name
    for node in tree.body:
        if isinstance(node, ast.AnnAssign):
            kind = getattr(builtins, ast.unparse(node.annotation).split("[")[0])
            assert isinstance(getattr(module, node.target.id), kind), node.target.id


@pytest.mark.parametrize("module", MODULES, ids=lambda m: m.__name__)
def test_help_lists_public_functions_with_signatures(module):
    text = pydoc.render_doc(module, renderer=pydoc.plaintext)
    public = [n for n, f in vars(module).items() if n.startswith("kora_") and callable(f)]
    for name in public:
        if getattr(module, name).__module__ == module.__name__:
            assert f"{name}{inspect.signature(getattr(module, name))}" in text


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
from pykora.binary import kora_read_binary_file, kora_interpret_vector
from pykora.options import kora_enabled_Braidwell_features, kora_get_option, kora_set_option
kora_read_binary_file(3)  # E
kora_read_binary_file(path="x", mode="rb")  # E
matrix: str = kora_interpret_vector([1.0])  # E
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
