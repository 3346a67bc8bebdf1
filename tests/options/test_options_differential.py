"""pykora.options against its plain-Python twin, and reference counting of the native code."""

import builtins
import gc
import os
import sys
import warnings

import pytest

from tests.support import reference_options
from tests.support.compare import transient_bytes
from tests.support.dependencies import Recorder, dependencies, direct_dependencies
from tests.support.options_scripts import FIXED, Text, random_script, replay


@pytest.mark.parametrize("seed", [None, *range(25)])
def test_native_matches_reference(opts, ref, seed):
    script = FIXED if seed is None else random_script(seed)
    for native, plain in zip(replay(opts, script), replay(ref, script), strict=True):
        assert native == plain


def fresh(text):
    return "".join(list(text))  # an equal but distinct, uninterned string


def _remote_script_overwrites_marker(mod):
    mod._KORA_OPTIONS["kora.call"] = fresh("remote")

    def script():
        mod._KORA_OPTIONS["kora.call"] = "other"  # drops the last reference to the marker
        gc.collect()

    mod.kora_remote_script = script
    return mod.kora_get_option(["kora.call", "kora.call"])


def _remote_script_rebinds_store(mod):
    mod._KORA_OPTIONS["kora.call"] = "remote"

    def script():
        mod._KORA_OPTIONS = {"keep": "new"}

    mod.kora_remote_script = script
    return mod.kora_get_option(["kora.call", "keep"]), mod._KORA_OPTIONS


def _path_check_overwrites_value(mod):
    def exists(_):
        mod._KORA_OPTIONS["malloc.lib"] = "replaced"
        gc.collect()
        return False

    path = type("Path", (), {"exists": staticmethod(exists)})
    mod.os = type("Os", (), {"path": path, "cpu_count": staticmethod(lambda: 4)})
    for value in ["/abc/def", "abc"]:
        mod._KORA_OPTIONS["malloc.lib"] = fresh(value)
        mod._post_set_checks()
    return mod._KORA_OPTIONS


def _membership_tests_rebind_store(mod):
    seen = []

    class Store(dict):
        def __contains__(self, key):
            seen.append(key)
            if len(seen) == 4:  # "kora.call" in _KORA_OPTIONS, before the read
                mod._KORA_OPTIONS = {"kora.call": "new"}
            return dict.__contains__(self, key)

    class Key(str):
        __hash__ = str.__hash__

        def __ne__(self, other):
            mod._KORA_OPTIONS = {"keep": "new"}
            return str.__ne__(self, other)

    mod._KORA_OPTIONS = Store({"kora.call": "old", "weftgen.call": "w"})
    first = mod.kora_get_option("kora.call")
    mod._KORA_OPTIONS = {"keep": "old", "kora.call": "k", "weftgen.call": "w"}
    return first, mod.kora_get_option(Key("keep")), seen


def _message_operand_rebinds_warnings(mod):
    heard = []

    class Warnings:
        @staticmethod
        def warn(message):
            heard.append(message)

    class Text(str):
        def __radd__(self, other):
            mod.warnings = Warnings  # the call already holds the real warnings.warn
            return str.__add__(other, str(self))

    mod._KORA_OPTIONS["malloc.lib"] = Text("/no/such/lib.so")
    mod._KORA_OPTIONS["working.directory"] = Text("/tmp/ü")
    mod._post_set_checks()
    return heard


def _repr_of_value_added_with_its_own_addition(mod):
    class Shown(str):
        def __radd__(self, other):
            return "shown by __radd__"

    class Library:
        def __repr__(self):
            return Shown("library")

    path = type("Path", (), {"exists": staticmethod(lambda _: False)})
    mod.os = type("Os", (), {"path": path, "cpu_count": staticmethod(lambda: 4)})
    mod._KORA_OPTIONS["malloc.lib"] = Library()
    mod._post_set_checks()


def _defaults_and_store_given_as_pairs(mod):
    class Store:
        def __contains__(self, key):
            return True

        def __iter__(self):
            return iter([("kora.call", "k"), ("keep", "on")])

        def get(self, key, default=None):
            return None

    mod._KORA_OPTIONS = Store()
    everything = mod.kora_get_option()
    mod.kora_get_option_default = lambda: [("only.key", 1)]
    return everything, mod.kora_get_option()


@pytest.mark.parametrize(
    "scenario",
    [_remote_script_overwrites_marker, _remote_script_rebinds_store, _path_check_overwrites_value,
     _membership_tests_rebind_store, _message_operand_rebinds_warnings,
     _repr_of_value_added_with_its_own_addition, _defaults_and_store_given_as_pairs],
)  # fmt: skip
def test_callbacks_that_change_the_store(opts, ref, monkeypatch, scenario):
    results = []
    for mod in (opts, ref):
        for name in ["_KORA_OPTIONS", "os", "kora_remote_script", "warnings",
                     "kora_get_option_default"]:  # fmt: skip
            monkeypatch.setattr(mod, name, getattr(mod, name))
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            results.append((scenario(mod), [str(w.message) for w in caught]))
    assert results[0] == results[1]


def test_no_reference_leaks(opts):
    key, value, bad, unhashable, sub, call = (
        fresh("kora.arg"), object(), fresh("no.such"), [fresh("keep"), []], Text("keep"), object(),
    )  # fmt: skip
    opts._set_one(key, value)
    opts._KORA_OPTIONS["kora.call"] = call
    failing = [
        (lambda: opts.kora_get_option([key, bad]), KeyError),
        (lambda: opts.kora_get_option(unhashable), TypeError),
        (lambda: opts.kora_get_option([unhashable]), TypeError),
        (lambda: opts.kora_set_option(bad, value), KeyError),
        (lambda: opts.kora_set_option(sub, value), TypeError),
        (lambda: opts._set_one(option=bad, value=value), KeyError),
    ]

    def exercise():
        for _ in range(2000):
            opts.kora_get_option(key)
            opts.kora_get_option([key, "kora.call", key])
            opts.kora_get_option()
            opts.kora_set_option(key, value)
            opts.kora_set_option(**{key: value})
            for call_, exc in failing:
                with pytest.raises(exc):
                    call_()

    exercise()  # let caches that may legitimately keep a reference fill first
    watched = [key, value, bad, unhashable, sub, call]
    before = [sys.getrefcount(obj) for obj in watched]
    exercise()
    assert [sys.getrefcount(obj) for obj in watched] == before
    assert opts._KORA_OPTIONS == {key: value, "kora.call": call}


@pytest.mark.parametrize("rebound", [False, True])
def test_lookup_builds_nothing_on_the_side(opts, monkeypatch, rebound):
    """A lookup reads the default table, and asks os.cpu_count() alone or,
    with `_cpu_default_string` rebound, that: a guard that wrongly fails shows
    as the dict of defaults, or the thread count's text, built for nothing."""
    if rebound:
        monkeypatch.setattr(opts, "_cpu_default_string", lambda: "3:1")
    assert transient_bytes(opts.kora_get_option, "keep") < 48


# Every name the module-level code of a function looks up, rebound to a
# stand-in that records its use: the native function must use each as its
# plain-Python twin does. A native route whose guard forgets a name it
# depends on fails here. Builtins and the methods of the functions' own
# dicts, lists and strs are the interpreter's.
MODULE = reference_options
INTRINSIC = {(".startswith",), (".__name__",), (".keys",), (".append",), (".lower",),
             (".update",), (".items",)}  # fmt: skip


class RecordedModule:
    """A module whose attributes are logged as they are asked for."""

    def __init__(self, recorder, module):
        self.recorder, self.module = recorder, module

    def __getattr__(self, name):
        self.recorder.log.append(name)
        return getattr(self.module, name)


class RecordedStore(dict):
    """A store that logs every way the functions read or write it."""

    def __init__(self, recorder, contents):
        super().__init__(contents)
        self.recorder = recorder

    def __contains__(self, key):
        self.recorder.log.append(("in", key))
        return super().__contains__(key)

    def __getitem__(self, key):
        self.recorder.log.append(("get", key))
        return super().__getitem__(key)

    def __setitem__(self, key, value):
        self.recorder.log.append(("set", key))
        super().__setitem__(key, value)

    def get(self, key, default=None):
        self.recorder.log.append(("get", key))
        return super().get(key, default)

    def keys(self):
        self.recorder.log.append("keys")
        return super().keys()


def recorded_global(name):
    def apply(recorder, monkeypatch, module):
        monkeypatch.setattr(module, name, recorder.wrap(name, getattr(module, name)))

    return apply


def recorded_attribute(owner, name):
    def apply(recorder, monkeypatch, module):
        monkeypatch.setattr(owner, name, recorder.wrap(name, getattr(owner, name)))

    return apply


def recorded_module(name):
    def apply(recorder, monkeypatch, module):
        monkeypatch.setattr(module, name, RecordedModule(recorder, getattr(module, name)))

    return apply


def recorded_store(recorder, monkeypatch, module):
    monkeypatch.setattr(module, "_KORA_OPTIONS", RecordedStore(recorder, module._KORA_OPTIONS))


REBINDINGS = {
    **{(name,): recorded_global(name) for name in (
        "_any_mb", "kora_call_builtin", "weftgen_call_builtin", "kora_remote_script",
        "_cpu_default_string", "kora_get_option_default", "kora_get_option", "_set_one",
        "_post_set_checks")},
    ("os",): recorded_module("os"),
    ("warnings",): recorded_module("warnings"),
    ("os", "cpu_count"): recorded_attribute(os, "cpu_count"),
    ("os", "path", "exists"): recorded_attribute(os.path, "exists"),
    ("warnings", "warn"): recorded_attribute(warnings, "warn"),
    ("_KORA_OPTIONS",): recorded_store,
    ("_KORA_OPTIONS", "get"): recorded_store,
}  # fmt: skip

CALLS = {
    "kora_get_option": [(None,), ("keep",), (["keep", "kora.call", "weftgen.call"],), ("nope",),
                        ("num.threads",)],
    "kora_set_option": [("keep", True), ("kora.mode", "experimental"), ("malloc.lib", None),
                        ("malloc.lib", "/no/such/lib.so"), ("malloc.lib", "foo"),
                        ("working.directory", "d\u00e9j\u00e0")],
    "_set_one": [("keep", True), ("nope", 1)],
    "_post_set_checks": [()],
    "_cpu_default_string": [()],
    "kora_get_option_default": [()],
    "kora_enabled_Braidwell_features": [()],
}  # fmt: skip
STORES = [{}, {"kora.call": "Remote", "malloc.lib": "foo", "working.directory": "caf\u00e9"}]

DEPENDENCIES = [
    pytest.param(name, dependency, id=f"{name}-{'.'.join(dependency)}")
    for name in CALLS
    for dependency in sorted(dependencies(reference_options, name) - INTRINSIC)
    if not hasattr(builtins, dependency[0])
]


@pytest.mark.parametrize("name, dependency", DEPENDENCIES)
def test_every_name_looked_up_is_seen(opts, ref, monkeypatch, sibling, name, dependency):
    recorder = Recorder()
    for module in (opts, ref):
        sibling(module, remote="remote-script")
        REBINDINGS[dependency](recorder, monkeypatch, module)
    seen = False
    for args in CALLS[name]:
        for store in STORES:
            results = []
            for module in (opts, ref):
                module._KORA_OPTIONS.clear()
                module._KORA_OPTIONS.update(store)
                recorder.log = []
                with warnings.catch_warnings(record=True) as caught:
                    warnings.simplefilter("always")
                    value, error = outcome(getattr(module, name), *args)
                results.append(
                    (
                        repr(value),
                        type(error),
                        str(error),
                        recorder.log,
                        dict(module._KORA_OPTIONS),
                        [str(w.message) for w in caught],
                    )
                )
            assert results[0] == results[1], args
            seen = seen or bool(results[1][3])
    # A name that only a called function looks up may go unused by these calls.
    direct = dependency in direct_dependencies(MODULE, name)
    assert seen or not direct, "the rebinding changed nothing the test can observe"


def outcome(function, *args):
    try:
        return function(*args), None
    except Exception as exc:
        return None, exc
