"""pykora.options: the checks of kora.mode, malloc.lib and working.directory after a set."""

import sys
import warnings

import pytest

MODE_ERROR = "Invalid 'kora.mode'. Must be 'compact', 'classic', 'twostage', or 'experimental'."
MISSING = "User-defined library for option 'malloc.lib', {}, does not exist. Using default."
UNKNOWN = "Value for option 'malloc.lib' = {} may not be available on this system."
MULTIBYTE = (
    "*** working.directory=[{}] contains multibyte characters. This may fail on some systems."
)


def messages(log):
    assert all(w.category is UserWarning for w in log)
    return [str(w.message) for w in log]


def test_untouched_store_passes_silently(both, caught):
    assert both._post_set_checks() is None
    assert both._KORA_OPTIONS == {} and caught == []


@pytest.mark.parametrize(
    "mode, stored", [("compact", "compact"), ("classic", "classic"), ("twostage", "twostage"),
                     ("experimental", "compact")],
)  # fmt: skip
def test_accepted_modes(both, caught, mode, stored):
    both.kora_set_option("kora.mode", mode)
    assert both._KORA_OPTIONS == {"kora.mode": stored} and caught == []


@pytest.mark.parametrize("mode", ["Compact", "fast", "", None, 1, b"compact", ["compact"]])
def test_rejected_modes_stop_the_checks(both, caught, mode):
    both._KORA_OPTIONS.update({"malloc.lib": "foo", "working.directory": "/tmp/é"})
    both._KORA_OPTIONS["kora.mode"] = mode
    with pytest.raises(ValueError) as info:
        both._post_set_checks()
    assert info.value.args == (MODE_ERROR,)
    assert both._KORA_OPTIONS["kora.mode"] is mode and caught == []


@pytest.mark.parametrize(
    "lib, stored, warned",
    [
        (None, "mi", []),
        ("default", "mi", []),
        ("compiler", "compiler", []),
        ("je", "je", []),
        ("tc", "tc", []),
        ("mi", "mi", []),
        (sys.executable, sys.executable, []),
        (".", ".", []),
        ("/no/such/libmalloc.so", "mi", [MISSING.format("/no/such/libmalloc.so")]),
        ("./libx.so", "./libx.so", [UNKNOWN.format("'./libx.so'")]),
        ("foo", "foo", [UNKNOWN.format("'foo'")]),
        ("Default", "Default", [UNKNOWN.format("'Default'")]),
        (987654, 987654, [UNKNOWN.format("987654")]),
    ],
)
def test_malloc_library(both, caught, lib, stored, warned):
    both.kora_set_option("malloc.lib", lib)
    assert both._KORA_OPTIONS == {"malloc.lib": stored}
    assert messages(caught) == warned


def test_malloc_value_unusable_as_path_propagates(both):
    both._KORA_OPTIONS["kora.mode"] = "experimental"
    with pytest.raises(TypeError):
        both.kora_set_option("malloc.lib", ["je"])
    assert both._KORA_OPTIONS == {"kora.mode": "compact", "malloc.lib": ["je"]}


def test_path_existence_uses_the_module_os(both, monkeypatch, fake_os, counter):
    class Path:
        exists = counter(True)

    monkeypatch.setattr(both, "os", fake_os(4, path=Path))
    for lib in ["/opt/libfast.so", "je", "default", "custom", 7]:
        both.kora_set_option("malloc.lib", lib)
    # An absolute path is tested once as a user library and once as any other value.
    assert [args for args, _ in Path.exists.calls] == [
        ("/opt/libfast.so",), ("/opt/libfast.so",), ("custom",), (7,),
    ]  # fmt: skip
    assert both._KORA_OPTIONS["malloc.lib"] == 7


@pytest.mark.parametrize(
    "wdir, warned",
    [("/tmp/données", True), ("/tmp/数据", True), ("/tmp/data", False), ("", False)],
)
def test_working_directory(both, caught, wdir, warned):
    both.kora_set_option("working.directory", wdir)
    assert messages(caught) == ([MULTIBYTE.format(wdir)] if warned else [])
    assert both._KORA_OPTIONS == {"working.directory": wdir}


@pytest.mark.parametrize("wdir, calls", [(None, 0), (b"/tmp/\xc3\xa9", 0), (42, 0), ("x", 1)])
def test_multibyte_helper_is_called_for_strings_only(
    both, monkeypatch, counter, caught, wdir, calls
):
    fake = counter(True)
    monkeypatch.setattr(both, "_any_mb", fake)
    both.kora_set_option("working.directory", wdir)
    assert fake.calls == [((wdir,), {})] * calls
    assert messages(caught) == [MULTIBYTE.format(wdir)] * calls


def test_all_three_checks_warn_in_order(both, caught):
    both.kora_set_option(
        **{"malloc.lib": "/gone.so", "working.directory": "é", "kora.mode": "experimental"}
    )
    assert messages(caught) == [MISSING.format("/gone.so"), MULTIBYTE.format("é")]
    assert both._KORA_OPTIONS == {
        "malloc.lib": "mi",
        "working.directory": "é",
        "kora.mode": "compact",
    }


def test_warnings_go_through_the_module_warnings(both, monkeypatch, counter):
    class FakeWarnings:
        warn = counter()

    monkeypatch.setattr(both, "warnings", FakeWarnings)
    both.kora_set_option("malloc.lib", "foo")
    both.kora_set_option("working.directory", "ü")
    assert FakeWarnings.warn.calls == [
        ((UNKNOWN.format("'foo'"),), {}),
        ((UNKNOWN.format("'foo'"),), {}),
        ((MULTIBYTE.format("ü"),), {}),
    ]


@pytest.mark.parametrize(
    "key, value, left",
    [("malloc.lib", "/gone.so", "/gone.so"), ("malloc.lib", "foo", "foo"),
     ("working.directory", "é", "é")],
)  # fmt: skip
def test_warnings_raised_by_filters_propagate(both, key, value, left):
    both._KORA_OPTIONS["kora.mode"] = "experimental"
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(UserWarning):
            both.kora_set_option(key, value)
    # The mode correction came first and stays; a missing library is not replaced.
    assert both._KORA_OPTIONS == {"kora.mode": "compact", key: left}


def test_checks_read_through_the_current_lookup(both, monkeypatch, caught):
    seen = {"kora.mode": "experimental", "malloc.lib": None, "working.directory": "é"}
    asked = []
    monkeypatch.setattr(both, "kora_get_option", lambda key: asked.append(key) or seen[key])
    both._post_set_checks()
    assert asked == ["kora.mode", "malloc.lib", "working.directory"]
    assert both._KORA_OPTIONS == {"kora.mode": "compact", "malloc.lib": "mi"}
    assert messages(caught) == [MULTIBYTE.format("é")]
