"""pykora.options: the module as imported, the default table and the CPU-count default."""

import os
import subprocess
import sys
import textwrap
import typing
import warnings

import pytest

import pykora.kora_call
import pykora.options
import pykora.utils

FUNCTIONS = {
    "_cpu_default_string": ({"return": "str"}, None),
    "kora_get_option_default": (
        {"return": "Dict[str, Any]"},
        "\n    Default options (no recursion to get current options).\n    ",
    ),
    "kora_get_option": (
        {"option": "Optional[Union[str, list]]"},
        "\n    Get current option(s). If option is None, return a dict of current values.\n"
        "    Special handling for 'kora.call' and 'weftgen.call' to avoid recursion.\n    ",
    ),
    "kora_set_option": (
        {"return": "None"},
        "\n    Set global options.\n\n    Supports:\n"
        '      kora_set_option("keep", True)\n'
        '      kora_set_option(keep=True, num_threads="4:1")\n'
        '      kora_set_option(keep=True, num_threads="4:1", verbose=True)\n    ',
    ),
    "_set_one": ({"option": "str", "value": "Any", "return": "None"}, None),
    "_post_set_checks": ({"return": "None"}, None),
    "kora_enabled_Braidwell_features": ({"return": "bool"}, None),
}

DEFAULTS = [
    ("kora.arg", None), ("weftgen.arg", ""), ("num.threads", "8:1"), ("smtp", "default"),
    ("safe", True), ("keep", False), ("verbose", False), ("save.memory", False),
    ("internal.opt", True), ("working.directory", None), ("silent", True), ("debug", False),
    ("show.warning.graph.file", True), ("scale.model.default", False), ("short.summary", False),
    ("kora.timeout", 0), ("weftgen.timeout", 0), ("kora.mode", "compact"), ("malloc.lib", "mi"),
    ("weftgen.evolution", 2), ("weftgen.evolution.warn", True),
    ("weftgen.evolution.verbosity", "default"), ("Braidwell.features", False), ("numa", False),
]  # fmt: skip


def test_module_binds_its_names_in_import_order():
    names = [n for n in vars(pykora.options) if not n.startswith("__")]
    assert names == [
        "os", "warnings", "Any", "Dict", "Optional", "Union",
        "kora_call_builtin", "weftgen_call_builtin", "kora_remote_script", "_any_mb",
        "_KORA_OPTIONS", *FUNCTIONS,
    ]  # fmt: skip
    mod = pykora.options
    assert mod.os is os and mod.warnings is warnings and mod.Union is typing.Union
    assert mod.kora_remote_script is pykora.kora_call.kora_remote_script
    assert mod._any_mb is pykora.utils.kora_anyMultibyteUTF8Characters
    assert type(mod._KORA_OPTIONS) is dict


def test_module_docstring_lists_the_public_call_forms():
    doc = pykora.options.__doc__
    for form in [
        "kora_get_option_default()",
        "kora_get_option(option=None)",
        "kora_set_option(**kwargs)",
        'kora_set_option("key", value)',
        "kora_enabled_Braidwell_features()",
    ]:
        assert form in doc


@pytest.mark.parametrize("name", list(FUNCTIONS))
def test_function_metadata(name, ref):
    fn = getattr(pykora.options, name)
    annotations, doc = FUNCTIONS[name]
    assert (fn.__name__, fn.__qualname__, fn.__module__) == (name, name, "pykora.options")
    assert fn.__annotations__ == annotations
    assert fn.__doc__ == doc
    # The reference is compiled by the running interpreter, which from 3.13
    # on strips docstring indentation: only its annotations must agree.
    assert getattr(ref, name).__annotations__ == annotations


@pytest.mark.parametrize(
    "call",
    [
        lambda m: m._cpu_default_string(1),
        lambda m: m.kora_get_option_default(x=1),
        lambda m: m.kora_get_option("keep", "debug"),
        lambda m: m.kora_get_option(options="keep"),
        lambda m: m.kora_enabled_Braidwell_features(True),
        lambda m: m._post_set_checks(None),
        lambda m: m._set_one("keep"),
        lambda m: m._set_one("keep", 1, 2),
        lambda m: m._set_one("keep", value=1, extra=2),
        lambda m: m._set_one("keep", 1, option="keep"),
    ],
)
def test_wrong_argument_lists_raise_type_error(opts, call):
    with pytest.raises(TypeError):
        call(opts)
    assert opts._KORA_OPTIONS == {}


def test_set_one_accepts_keywords(opts):
    assert opts._set_one(value=3, option="kora.timeout") is None
    assert opts._KORA_OPTIONS == {"kora.timeout": 3}


def test_default_table(both, monkeypatch, fake_os):
    monkeypatch.setattr(both, "os", fake_os(8))
    table = both.kora_get_option_default()
    assert type(table) is dict and list(table.items()) == DEFAULTS
    # Equal is not enough: False == 0, so check the exact types too.
    assert [type(v) for v in table.values()] == [type(v) for _, v in DEFAULTS]
    again = both.kora_get_option_default()
    assert again is not table
    table["extra"] = 1
    assert "extra" not in both.kora_get_option_default()
    assert both._KORA_OPTIONS == {}


@pytest.mark.parametrize(
    "cpus, text",
    [(None, "1:1"), (0, "1:1"), (1, "1:1"), (2, "2:1"), (8, "8:1"), (15, "15:1"),
     (16, "16:1"), (17, "16:1"), (64, "16:1"), (2**64, "16:1"),
     # Not an exact int: the clamps are "not below 16" and "not above 1", as written.
     (16.0, "16:1"), (float("nan"), "16:1"), (1.0, "1:1"), (2.5, "2.5:1")],
)  # fmt: skip
def test_thread_default_follows_cpu_count(both, monkeypatch, fake_os, cpus, text):
    monkeypatch.setattr(both, "os", fake_os(cpus))
    assert both._cpu_default_string() == text
    assert both.kora_get_option_default()["num.threads"] == text
    assert both.kora_get_option("num.threads") == text


def test_cpu_count_failure_propagates(both, monkeypatch, fake_os):
    monkeypatch.setattr(both, "os", fake_os(OSError("no sysfs")))
    with pytest.raises(OSError, match="no sysfs"):
        both.kora_get_option_default()


def test_rebound_helpers_take_effect_at_once(both, monkeypatch):
    monkeypatch.setattr(both, "_cpu_default_string", lambda: "3:1")
    assert both.kora_get_option("num.threads") == "3:1"

    real = both.kora_get_option_default

    def extended():
        table = real()
        table["extra.key"] = "x"
        table["malloc.lib"] = "je"
        return table

    monkeypatch.setattr(both, "kora_get_option_default", extended)
    assert both.kora_get_option("extra.key") == "x"
    assert list(both.kora_get_option())[24:] == ["extra.key", "kora.call", "weftgen.call"]
    both.kora_set_option("extra.key", "y")
    assert both.kora_get_option("extra.key") == "y"
    # The correction of malloc.lib takes its default from the rebound table.
    both.kora_set_option("malloc.lib", None)
    assert both._KORA_OPTIONS["malloc.lib"] == "je"


@pytest.mark.parametrize(
    "setup, expected",
    [
        ("sys.modules['pykora.kora_call'] = types.ModuleType('pykora.kora_call')",
         "kora_call_builtin"),
        ("m = types.ModuleType('pykora.utils'); sys.modules['pykora.utils'] = m",
         "kora_anyMultibyteUTF8Characters"),
        ("sys.modules['pykora.kora_call'] = None", "pykora.kora_call"),
    ],
)  # fmt: skip
def test_import_fails_without_sibling_modules(setup, expected):
    code = textwrap.dedent(f"""
        import sys, types
        import pykora
        {setup}
        try:
            import pykora.options
        except ImportError as exc:
            print("ImportError", exc)
        print("pykora.options" in sys.modules, hasattr(pykora, "options"))
    """)
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    first, second = run.stdout.splitlines()
    assert first.startswith("ImportError") and expected in first
    assert second == "False False"
