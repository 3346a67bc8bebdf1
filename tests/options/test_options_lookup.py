"""pykora.options: reading one, several or all options."""

import pytest


class Text(str):
    pass


def test_three_result_forms(both):
    both._KORA_OPTIONS["keep"] = True
    assert both.kora_get_option("keep") is True
    assert both.kora_get_option(Text("keep")) is True
    assert both.kora_get_option(option="debug") is False
    assert both.kora_get_option(["keep", "debug", "keep"]) == [True, False, True]
    assert both.kora_get_option(("keep",)) == [True]
    assert both.kora_get_option({"debug": 1, "keep": 2}.keys()) == [False, True]
    assert both.kora_get_option(k for k in ["safe"]) == [True]
    assert both.kora_get_option([]) == []
    everything = both.kora_get_option()
    assert list(everything)[5] == "keep" and everything["keep"] is True
    assert everything == both.kora_get_option(None)


@pytest.mark.parametrize(
    "stored, tail",
    [
        ([], ["kora.call", "weftgen.call"]),
        (["keep", "kora.arg"], ["kora.call", "weftgen.call"]),
        (["kora.call"], ["weftgen.call", "kora.call"]),
        (["weftgen.call", "keep"], ["kora.call", "weftgen.call"]),
        (["weftgen.call", "kora.call"], ["weftgen.call", "kora.call"]),
    ],
)
def test_dict_form_order(both, sibling, stored, tail):
    sibling(both)
    for key in stored:
        both._KORA_OPTIONS[key] = "set:" + key
    everything = both.kora_get_option()
    keys = list(everything)
    assert len(keys) == 26
    assert keys[:24] == list(both.kora_get_option_default())
    assert keys[24:] == tail
    assert everything["kora.call"] == ("set:kora.call" if "kora.call" in stored else "kora-bin")
    assert everything["weftgen.call"] == (
        "set:weftgen.call" if "weftgen.call" in stored else "weftgen-bin"
    )


@pytest.mark.parametrize("key", ["kora.arg", "kora.call", "weftgen.call", "malloc.lib"])
def test_values_are_the_stored_objects(both, key):
    value = both._KORA_OPTIONS[key] = ["mutable"]
    assert both.kora_get_option(key) is value
    assert both.kora_get_option([key])[0] is value
    assert both.kora_get_option()[key] is value
    both.kora_get_option()[key] = "changed"
    both.kora_get_option(key).append("more")
    assert both._KORA_OPTIONS == {key: ["mutable", "more"]}


LOOKUPS = {
    "one": lambda m: m.kora_get_option("keep"),
    "unknown": lambda m: m.kora_get_option("nope"),
    "empty list": lambda m: m.kora_get_option([]),
    "list": lambda m: m.kora_get_option(["kora.call", "weftgen.call"]),
    "all": lambda m: m.kora_get_option(),
    "Braidwell": lambda m: m.kora_enabled_Braidwell_features(),
}


@pytest.mark.parametrize("lookup", list(LOOKUPS))
@pytest.mark.parametrize(
    "stored, calls",
    [([], (1, 1)), (["kora.call"], (0, 1)), (["weftgen.call"], (1, 0)),
     (["kora.call", "weftgen.call"], (0, 0))],
)  # fmt: skip
def test_builtins_called_once_per_lookup_for_unset_keys(both, sibling, lookup, stored, calls):
    fakes = sibling(both)
    for key in stored:
        both._KORA_OPTIONS[key] = "x"
    try:
        LOOKUPS[lookup](both)
    except KeyError:
        assert lookup == "unknown"
    assert (
        len(fakes["kora_call_builtin"].calls),
        len(fakes["weftgen_call_builtin"].calls),
    ) == calls
    assert len(fakes["kora_remote_script"].calls) == 0
    assert all(f.calls == [((), {})] for f in fakes.values() if len(f.calls))


@pytest.mark.parametrize(
    "marker", ["remote", "Remote", "KORA.REMOTE", "kora.Remote", Text("REMOTE")]
)
@pytest.mark.parametrize("script", ["ssh-run", None, ""])
def test_remote_marker_is_replaced_by_a_truthy_script(both, sibling, marker, script):
    fakes = sibling(both, remote=script)
    both._KORA_OPTIONS["kora.call"] = marker
    expected = script or marker
    assert both.kora_get_option("kora.call") is expected
    assert both.kora_get_option()["kora.call"] is expected
    assert both.kora_get_option(["kora.call", "keep", "kora.call"]) == [expected, False, expected]
    assert len(fakes["kora_remote_script"].calls) == 4
    assert both._KORA_OPTIONS == {"kora.call": marker}


@pytest.mark.parametrize("value", [" remote", "remote ", "kora_remote", "remote\n", b"remote", 1])
def test_near_markers_are_left_alone(both, sibling, value):
    fakes = sibling(both, remote="ssh-run")
    both._KORA_OPTIONS["kora.call"] = value
    assert both.kora_get_option("kora.call") is value
    assert both.kora_get_option()["kora.call"] is value
    assert len(fakes["kora_remote_script"].calls) == 0


def test_remote_resolution_of_builtin_and_weftgen_values(both, sibling):
    # An unset kora.call whose builtin default is a marker resolves for single lookups only;
    # the dict form looks at the stored value alone. weftgen.call is never resolved.
    fakes = sibling(both, call="remote", weft="remote", remote="ssh-run")
    assert both.kora_get_option("kora.call") == "ssh-run"
    assert both.kora_get_option("weftgen.call") == "remote"
    everything = both.kora_get_option()
    assert (everything["kora.call"], everything["weftgen.call"]) == ("remote", "remote")
    assert len(fakes["kora_remote_script"].calls) == 1


@pytest.mark.parametrize(
    "option, missing",
    [("num_threads", "num_threads"), ("kora.remote", "kora.remote"), ("", ""),
     ("Keep", "Keep"), (["keep", "num_threads", "other"], "num_threads"),
     (("keep", 5), "5"), ([None], "None")],
)  # fmt: skip
def test_unknown_key_raises_key_error(both, option, missing):
    with pytest.raises(KeyError) as info:
        both.kora_get_option(option)
    assert info.value.args == (f"Unknown option '{missing}'",)


@pytest.mark.parametrize("option", [5, 2.5, True, object(), ["keep", ["x"]], [{}]])
def test_bad_option_argument_raises_type_error(both, option):
    with pytest.raises(TypeError):
        both.kora_get_option(option)


@pytest.mark.parametrize("builtin", ["kora_call_builtin", "weftgen_call_builtin"])
def test_builtin_failure_propagates(both, monkeypatch, builtin):
    def broken():
        raise RuntimeError("cannot locate engine")

    monkeypatch.setattr(both, builtin, broken)
    with pytest.raises(RuntimeError, match="cannot locate engine"):
        both.kora_get_option("keep")


@pytest.mark.parametrize(
    "value, expected",
    [(True, True), ("no", True), ("false", True), (1, True), ([0], True),
     (0, False), (None, False), ("", False), ([], False), (False, False)],
)  # fmt: skip
def test_braidwell_features_switch(both, value, expected):
    assert both.kora_enabled_Braidwell_features() is False
    both._KORA_OPTIONS["Braidwell.features"] = value
    assert both.kora_enabled_Braidwell_features() is expected


def test_braidwell_features_uses_current_lookup(both, monkeypatch, counter):
    fake = counter(["on"])
    monkeypatch.setattr(both, "kora_get_option", fake)
    assert both.kora_enabled_Braidwell_features() is True
    assert fake.calls == [(("Braidwell.features",), {})]


def test_rebound_store_is_used_for_lookups_and_sets(both, monkeypatch):
    original = both._KORA_OPTIONS
    other = {"keep": "other"}
    monkeypatch.setattr(both, "_KORA_OPTIONS", other)
    assert both.kora_get_option("keep") == "other"
    assert both.kora_get_option()["keep"] == "other"
    both.kora_set_option("debug", True)
    both.kora_set_option("kora.mode", "experimental")
    assert other == {"keep": "other", "debug": True, "kora.mode": "compact"}
    assert original == {}
