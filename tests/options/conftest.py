"""Fixtures shared by the tests of pykora.options (loaded through ``pytest_plugins``)."""

import os
import warnings

import pytest

import pykora.options
from tests.support import reference_options


def _isolated(mod):
    """Run a test against ``mod`` with an empty store, restoring the old contents after."""
    saved = dict(mod._KORA_OPTIONS)
    mod._KORA_OPTIONS.clear()
    try:
        yield mod
    finally:
        mod._KORA_OPTIONS.clear()
        mod._KORA_OPTIONS.update(saved)


@pytest.fixture
def opts():
    """The native module with an empty option store for the duration of the test."""
    yield from _isolated(pykora.options)


@pytest.fixture
def ref():
    """The plain-Python reference module with an empty option store."""
    yield from _isolated(reference_options)


@pytest.fixture(params=["native", "reference"])
def both(request):
    """Each of the two implementations in turn, with an empty store."""
    mod = pykora.options if request.param == "native" else reference_options
    yield from _isolated(mod)


class Counter:
    """A callable returning a fixed value and counting its calls."""

    def __init__(self, result=None):
        self.result = result
        self.calls = []

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        return self.result


class FakeOs:
    """Stands in for the module's ``os``: a chosen cpu_count and the real ``os.path``."""

    def __init__(self, cpus, path=os.path):
        self.cpus = cpus
        self.path = path

    def cpu_count(self):
        if isinstance(self.cpus, BaseException):
            raise self.cpus
        return self.cpus


@pytest.fixture
def fake_os():
    """Factory of stand-ins for the module's ``os``."""
    return FakeOs


@pytest.fixture
def counter():
    """Factory of counting callables."""
    return Counter


@pytest.fixture
def sibling(monkeypatch):
    """Counting fakes for the three engine-locating functions, installed in a module."""

    def install(mod, call="kora-bin", weft="weftgen-bin", remote=None):
        fakes = {
            "kora_call_builtin": Counter(call),
            "weftgen_call_builtin": Counter(weft),
            "kora_remote_script": Counter(remote),
        }
        for name, fake in fakes.items():
            monkeypatch.setattr(mod, name, fake)
        return fakes

    return install


@pytest.fixture
def caught():
    """Record every warning issued during the test, without any filtering."""
    with warnings.catch_warnings(record=True) as log:
        warnings.simplefilter("always")
        yield log
