"""What the native modules have in common as modules: each is created once per
process and loaded by one interpreter, and its functions are of a type of its own."""

import importlib
import sys
import textwrap

import pytest

from tests.support.compare import run_child

MODULES = ["pykora.binary", "pykora.options", "pykora._layout", "pykora._text"]


@pytest.mark.parametrize("name", MODULES)
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


@pytest.mark.parametrize("name", MODULES)
def test_function_type_makes_no_functions_of_its_own(name):
    module = importlib.import_module(name)
    types = {type(f) for f in vars(module).values() if type(f).__name__ == "native_function"}
    assert len(types) == 1
    (function_type,) = types
    assert repr(function_type) == f"<class '{name}.native_function'>"
    # An instance made from Python would have no body to call.
    with pytest.raises(TypeError, match="cannot create"):
        function_type()
    with pytest.raises(TypeError, match="immutable"):
        function_type.tag = 1


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
    out = run_child(
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
        ),
        timeout=120,
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


@pytest.mark.parametrize(
    ("module", "name", "looked_up", "expected"),
    [
        ("pykora.binary", "kora_interpret_vector", "vec", "(vec)"),
        ("pykora.options", "kora_get_option_default", "return", "()"),
        ("pykora.options", "kora_set_option", "args", "(*args, **kwargs)"),
    ],
)
def test_signature_survives_annotations_replaced_while_read(module, name, looked_up, expected):
    out = run_child(
        f"""
        import importlib, inspect
        f = getattr(importlib.import_module({module!r}), {name!r})
        class Key:
            def __hash__(self):
                return hash({looked_up!r})
            def __eq__(self, other):
                f.__annotations__ = {{}}
                return False
        f.__annotations__ = {{Key(): 0, **{{str(i): i for i in range(20)}}}}
        print(inspect.signature(f))
        """
    )
    assert out == expected + "\n"
