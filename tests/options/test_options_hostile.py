"""Hostile option keys, and warnings turned into errors: each ends in the
reference's own outcome, never a crash."""

import warnings

import pytest

import pykora.options
from tests.support import reference_options
from tests.support.compare import outcome, run_child
from tests.support.hostile import Boom, hostile, raiser, raising_lookup


class HashlessText(str):
    __hash__ = raiser


@pytest.mark.parametrize("call", [
    ("kora_get_option", ([[]],)), ("kora_get_option", ([hostile(__hash__=1)],)),
    ("kora_get_option", ([hostile(__str__=1, __hash__=object.__hash__)],)),
    ("kora_get_option", (HashlessText("keep"),)), ("kora_get_option", (hostile(__iter__=1),)),
    ("_set_one", (type("Text", (str,), {})("keep"), 1)), ("kora_set_option", ([], 1)),
    ("kora_set_option", (HashlessText("keep"), 1)),
])  # fmt: skip
def test_hostile_option_keys(call):
    name, args = call
    results = []
    for module in (pykora.options, reference_options):
        saved = dict(module._KORA_OPTIONS)
        results.append((outcome(getattr(module, name), *args), dict(module._KORA_OPTIONS)))
        module._KORA_OPTIONS.clear()
        module._KORA_OPTIONS.update(saved)
    (native, native_store), (plain, plain_store) = results
    assert (type(native[1]), str(native[1])) == (type(plain[1]), str(plain[1]))
    assert native[0] == plain[0] and native_store == plain_store


@pytest.mark.parametrize(
    "looked_up", ["kora_get_option_default", "_cpu_default_string", "_KORA_OPTIONS"]
)
def test_namespace_lookup_that_raises(looked_up):
    """The guards look the same names up: their failure is the module's own error."""
    results = []
    for module in (pykora.options, reference_options):
        with raising_lookup(module.__dict__, looked_up):
            value, error = outcome(module.kora_get_option, "keep")
        results.append((value, type(error), str(error)))
    assert results[0] == results[1] and results[0][1] is Boom


@pytest.mark.parametrize("value", ["/no/such/lib.so", "unknown-lib"])
def test_warnings_turned_into_errors(value):
    results = []
    for module in (pykora.options, reference_options):
        saved = dict(module._KORA_OPTIONS)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            got = outcome(module.kora_set_option, "malloc.lib", value)
        results.append((type(got[1]), str(got[1]), dict(module._KORA_OPTIONS)))
        module._KORA_OPTIONS.clear()
        module._KORA_OPTIONS.update(saved)
    assert results[0] == results[1]
    assert results[0][0] is UserWarning and results[0][2]["malloc.lib"] == value


class ScriptedKey:
    """A stored key that hashes like `text` and answers == from a script, then no."""

    def __init__(self, text, answers):
        self.text, self.answers, self.calls = text, list(answers), 0

    def __hash__(self):
        return hash(self.text)

    def __eq__(self, other):
        self.calls += 1
        return self.answers.pop(0) if self.answers else False

    def __repr__(self):
        return f"ScriptedKey({self.text!r})"


class ScriptedText(ScriptedKey, str):
    """The same, as a str subclass: not an exact str, so every lookup is the store's own."""

    def __new__(cls, text, answers):
        return str.__new__(cls, text)


@pytest.mark.parametrize(
    "text, answers, option",
    [
        # `key in store` says yes, `store[key]` then finds nothing: KeyError.
        ("keep", [True, False], "keep"),
        ("keep", [True, True], "keep"),
        ("keep", [True, False], ["debug", "keep"]),
        # "kora.call" is tested for membership twice before it is read.
        ("kora.call", [True, False], "kora.call"),
        ("kora.call", [True, True, True], "kora.call"),
        ("keep", [True], None),
    ],
)
@pytest.mark.parametrize("kind", [ScriptedKey, ScriptedText])
def test_stored_keys_with_their_own_equality(text, answers, option, kind):
    results = []
    for module in (pykora.options, reference_options):
        saved = dict(module._KORA_OPTIONS)
        key = kind(text, answers)
        module._KORA_OPTIONS[key] = "stored-by-key"
        try:
            value, error = outcome(module.kora_get_option, option)
        finally:
            module._KORA_OPTIONS.clear()
            module._KORA_OPTIONS.update(saved)
        shown = repr(list(value.items())) if isinstance(value, dict) else repr(value)
        results.append((shown, type(error), str(error), key.calls))
    assert results[0] == results[1]


@pytest.mark.parametrize("name", ["_cpu_default_string", "kora_get_option_default"])
def test_deleted_function_whose_address_is_taken_again(name):
    """The guards keep the module's own functions alive: deleted from the
    module, the function is not freed, so no new object takes its address and
    passes for it."""
    out = run_child(
        f"""
        import pykora.options as o
        from tests.support.hostile import slot_classes
        sizes = slot_classes()
        address = id(o.{name})
        del o.{name}
        objects = [cls() for cls in sizes for _ in range(4)]
        o.{name} = next((x for x in objects if id(x) == address), objects[0])
        try:
            print(o.kora_get_option("num.threads"))
        except TypeError as exc:
            print(exc)
        """
    )
    assert out.endswith("object is not callable\n"), out
