"""pykora.binary as a module: what it binds, its function objects, how calls bind arguments."""

import copy
import gc
import importlib
import inspect
import pathlib
import pickle
import subprocess
import sys
import textwrap
import typing

import numpy as np
import pytest

import pykora.binary
from tests.support.compare import outcome

FUNCTIONS = {
    "kora_read_binary_file": {"path": "str | Path", "return": "Optional[np.ndarray]"},
    "_split_vector_blocks": {"vec": "Sequence[float]", "return": "List[Tuple[float, np.ndarray]]"},
    "kora_interpret_vector": {"vec": "Optional[Sequence[float]]", "return": "Optional[np.ndarray]"},
    "kora_interpret_vector_list": {
        "vec": "Optional[Sequence[float]]",
        "return": "Optional[List[np.ndarray]]",
    },
}
TYPING_NAMES = ["List", "Optional", "Sequence", "Tuple"]


def test_module_binds_its_names_in_order(binary):
    names = [name for name in vars(binary) if not name.startswith("__")]
    assert names == ["Path", *TYPING_NAMES, "np", "_F8_LE", *FUNCTIONS]
    assert (binary.Path, binary.np, binary._F8_LE) == (pathlib.Path, np, "<f8")
    assert all(getattr(binary, name) is getattr(typing, name) for name in TYPING_NAMES)
    assert binary.__doc__.strip()
    doc = binary.kora_read_binary_file.__doc__
    assert "File-system location of the binary file." in doc and "ndarray or None" in doc


@pytest.mark.parametrize(("name", "annotations"), FUNCTIONS.items())
def test_function_objects(binary, oracle, name, annotations):
    func = getattr(binary, name)
    assert (func.__name__, func.__qualname__, func.__module__) == (name, name, "pykora.binary")
    assert inspect.signature(func) == inspect.signature(getattr(oracle, name))
    assert func.__annotations__ == annotations and func.__doc__.strip()
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(func, protocol)) is func
    assert copy.deepcopy(func) is func
    func.__dict__["tag"] = name
    assert func.tag == name
    del func.tag


@pytest.mark.parametrize("name", FUNCTIONS)
def test_argument_errors_name_the_function(binary, name):
    func, param = getattr(binary, name), next(iter(FUNCTIONS[name]))
    count = name + "() takes exactly 1 positional argument ({} given)"
    unexpected = name + "() got an unexpected keyword argument 'x'"
    for args, kwargs, message in [
        ((), {}, count.format(0)),
        ((None, None), {}, count.format(2)),
        ((None, None), {param: None}, count.format(2)),
        ((), {param: None, "x": 1}, unexpected),
        ((None,), {"x": 1}, unexpected),
        ((None,), {param: None}, f"{name}() got multiple values for keyword argument '{param}'"),
    ]:
        with pytest.raises(TypeError) as caught:
            func(*args, **kwargs)
        assert str(caught.value) == message


def test_parameters_can_be_given_by_keyword(binary, write_file):
    path = write_file(np.float64(3.0).tobytes())
    assert binary.kora_read_binary_file(path=path).tolist() == [3.0]
    assert binary._split_vector_blocks(vec=[1, 1, 2, 3])[0][1].tolist() == [[2.0, 3.0]]
    assert binary.kora_interpret_vector(vec=[1, 1, 2, 3]).tolist() == [[2.0, 3.0]]
    assert binary.kora_interpret_vector_list(vec=[1, 1, 2, 3])[0].tolist() == [[2.0, 3.0]]


@pytest.mark.parametrize("name", ["pykora.binary", "pykora.options"])
def test_module_is_created_once(name, monkeypatch):
    module = importlib.import_module(name)
    monkeypatch.setattr(module, "marker", object(), raising=False)
    # What a user assigned survives: the body, which sets the docstring,
    # does not run again.
    monkeypatch.setattr(module, "__doc__", "mine")
    monkeypatch.delitem(sys.modules, name)
    again = importlib.import_module(name)
    assert again is module and again.marker is module.marker and again.__doc__ == "mine"
    assert importlib.reload(module) is module and module.marker is again.marker
    assert module.__doc__ == "mine"


def run_python(code):
    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120
    )
    assert done.returncode == 0, done.stderr
    return done.stdout


# A sub-interpreter of the running CPython: _xxsubinterpreters up to 3.12,
# _interpreters from 3.13. Its default configuration is the isolated one
# from 3.12 on (its own GIL, strict extension checks). The sub-interpreter
# reports through the shared stdout, so no version's way of passing errors
# back is relied on.
SUBINTERPRETER_PRELUDE = '''
try:
    import _interpreters as subinterpreters
except ImportError:
    import _xxsubinterpreters as subinterpreters

def run_in(interp, module):
    subinterpreters.run_string(interp, f"""if True:
        try:
            import {module}
        except ImportError as exc:
            print("sub:", type(exc).__name__, exc, flush=True)
        else:
            print("sub: loaded", flush=True)
    """)
'''


@pytest.mark.parametrize(
    ("module", "first"),
    [("pykora.binary", "main"), ("pykora.options", "main"), ("pykora.options", "sub")],
)
def test_only_one_interpreter_can_load_the_module(module, first):
    out = run_python(
        SUBINTERPRETER_PRELUDE
        + textwrap.dedent(
            f"""
            import importlib
            interp = subinterpreters.create()
            if "{first}" == "sub":
                run_in(interp, "{module}")
            try:
                loaded = importlib.import_module("{module}")
            except ImportError as exc:
                print("main:", type(exc).__name__, exc)
            else:
                run_in(interp, "{module}")
                # The refused import leaves the main interpreter's module working.
                if hasattr(loaded, "kora_interpret_vector"):
                    print("main: works", loaded.kora_interpret_vector([1, 1, 2, 3]).tolist())
                else:
                    print("main: works", loaded.kora_get_option("keep"))
            """
        )
    )
    refused = (
        "ImportError Interpreter change detected - this module can only be loaded into one "
        "interpreter per process."
    )
    works = "[[2.0, 3.0]]" if module == "pykora.binary" else "False"
    if first == "main":
        assert out.splitlines() == [f"sub: {refused}", f"main: works {works}"]
    else:
        assert out.splitlines() == ["sub: loaded", f"main: {refused}"]


def leak_cases(tmp_path):
    (tmp_path / "good.dat").write_bytes(np.arange(4.0).tobytes())
    (tmp_path / "ragged.dat").write_bytes(b"\0" * 9)
    paths = [str(tmp_path / name) for name in ("good.dat", "ragged.dat", "none", "")]
    vectors = [[1, 2, 0.1, 10, 0.5, 20, 2, 3, 1], np.array([1, 1, 5, 6, 2, 0, 3, 2, 7.0])]
    vectors += [[1, np.nan, 2], np.array([1, np.inf]), "abc"]
    for name in FUNCTIONS:
        func = getattr(pykora.binary, name)
        for arg in paths if name == "kora_read_binary_file" else vectors:
            yield arg, lambda func=func, arg=arg: func(arg)
            yield arg, lambda func=func, arg=arg: func(arg, arg)
            yield arg, lambda func=func, arg=arg: func(arg, x=arg)


def test_calls_do_not_leak_references(tmp_path):
    for arg, call in leak_cases(tmp_path):
        watched = [arg, None, True, np.nan, np.float64, np]
        for _ in range(10):
            outcome(call)
        gc.collect()
        before = [sys.getrefcount(obj) for obj in watched]
        for _ in range(2000):
            outcome(call)
        gc.collect()
        after = [sys.getrefcount(obj) for obj in watched]
        assert after[0] == before[0], arg
        assert all(abs(a - b) < 100 for a, b in zip(after, before, strict=True)), arg
