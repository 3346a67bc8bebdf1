"""pykora.options: storing option values by key and value or by keywords."""

import pytest

FORM_ERROR = "Use either kora_set_option('key', value) or kora_set_option(key=value, ...)."
VALID_KEYS = [
    "kora.arg", "weftgen.arg", "num.threads", "smtp", "safe", "keep", "verbose", "save.memory",
    "internal.opt", "working.directory", "silent", "debug", "show.warning.graph.file",
    "scale.model.default", "short.summary", "kora.timeout", "weftgen.timeout", "kora.mode",
    "malloc.lib", "weftgen.evolution", "weftgen.evolution.warn", "weftgen.evolution.verbosity",
    "Braidwell.features", "numa", "kora.call", "weftgen.call",
]  # fmt: skip


class Text(str):
    pass


@pytest.fixture
def checks(both, monkeypatch):
    """Replace the post-set checks by a fake recording its arguments and the store it sees."""
    seen = []

    def fake(*args, **kwargs):
        seen.append((args, kwargs, dict(both._KORA_OPTIONS)))

    monkeypatch.setattr(both, "_post_set_checks", fake)
    return seen


@pytest.mark.parametrize("key", VALID_KEYS)
def test_every_valid_key_can_be_set_with_any_value(both, checks, key):
    value = object()
    assert both.kora_set_option(key, value) is None
    assert both._KORA_OPTIONS == {key: value}
    assert both._KORA_OPTIONS[key] is value
    assert checks == [((), {}, {key: value})]


def test_keywords_are_stored_in_call_order_then_checked_once(both, checks):
    both._KORA_OPTIONS["debug"] = "old"
    both.kora_set_option(verbose=1, keep=True, debug=False, **{"num.threads": "4:1"})
    assert list(both._KORA_OPTIONS.items()) == [
        ("debug", False), ("verbose", 1), ("keep", True), ("num.threads", "4:1"),
    ]  # fmt: skip
    assert checks == [((), {}, both._KORA_OPTIONS)]


@pytest.mark.parametrize(
    "args, kwargs",
    [((), {}), (("keep",), {}), (("keep", True, 1), {}), (("keep", True), {"verbose": True}),
     (("keep",), {"verbose": True}), ((5,), {})],
)  # fmt: skip
def test_wrong_calling_form(both, checks, args, kwargs):
    with pytest.raises(TypeError) as info:
        both.kora_set_option(*args, **kwargs)
    assert info.value.args == (FORM_ERROR,)
    assert both._KORA_OPTIONS == {} and checks == []


@pytest.mark.parametrize("key", [5, None, b"keep", ("keep",)])
def test_positional_key_must_be_a_string(both, checks, key):
    with pytest.raises(TypeError) as info:
        both.kora_set_option(key, True)
    assert info.value.args == ("First positional argument must be a string key",)
    assert both._KORA_OPTIONS == {} and checks == []


@pytest.mark.parametrize(
    "call, key, shown",
    [("set", Text("keep"), "Text"), ("one", Text("keep"), "Text"), ("one", None, "NoneType"),
     ("one", 1, "int")],
)  # fmt: skip
def test_set_one_wants_an_exact_string(both, checks, call, key, shown):
    with pytest.raises(TypeError) as info:
        if call == "set":
            both.kora_set_option(key, True)
        else:
            both._set_one(key, True)
    assert str(info.value) == f"Argument 'option' has incorrect type (expected str, got {shown})"
    assert both._KORA_OPTIONS == {} and checks == []


@pytest.mark.parametrize(
    "key", ["Keep", "num_threads", "kora.remote", "", "keep ", "kora.Call", "extra"]
)
def test_unknown_keys_are_rejected(both, checks, key):
    with pytest.raises(KeyError) as info:
        both.kora_set_option(key, True)
    assert info.value.args == (f"Unknown option '{key}'",)
    with pytest.raises(KeyError):
        both._set_one(option=key, value=True)
    assert both._KORA_OPTIONS == {} and checks == []


def test_failure_midway_keeps_earlier_values_and_skips_checks(both, checks):
    with pytest.raises(KeyError, match="num_threads"):
        both.kora_set_option(keep=True, num_threads="4:1", verbose=True)
    assert both._KORA_OPTIONS == {"keep": True}
    assert checks == []


def test_invalid_mode_stays_stored_and_fails_every_later_set(both):
    with pytest.raises(ValueError, match="Invalid 'kora.mode'"):
        both.kora_set_option("kora.mode", "fast")
    with pytest.raises(ValueError, match="Invalid 'kora.mode'"):
        both.kora_set_option(keep=True)
    assert both._KORA_OPTIONS == {"kora.mode": "fast", "keep": True}
    both.kora_set_option(**{"kora.mode": "classic"})
    assert both.kora_get_option("kora.mode") == "classic"


def test_rebound_set_one_is_used(both, checks, counter, monkeypatch):
    fake = counter()
    monkeypatch.setattr(both, "_set_one", fake)
    both.kora_set_option("keep", 1)
    both.kora_set_option(keep=2, Keep=3)
    assert fake.calls == [(("keep", 1), {}), (("keep", 2), {}), (("Keep", 3), {})]
    assert both._KORA_OPTIONS == {} and len(checks) == 2


def test_valid_keys_follow_rebound_default_table(both, checks, monkeypatch):
    monkeypatch.setattr(both, "kora_get_option_default", lambda: {"only.key": 0})
    both.kora_set_option("only.key", 1)
    both.kora_set_option("kora.call", 2)
    with pytest.raises(KeyError, match="keep"):
        both.kora_set_option("keep", True)
    assert both._KORA_OPTIONS == {"only.key": 1, "kora.call": 2}
