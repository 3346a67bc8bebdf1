"""Fixtures shared by the tests of pykora.binary."""

import pytest

import pykora.binary
from tests.support import reference_binary


@pytest.fixture
def binary():
    return pykora.binary


@pytest.fixture
def oracle():
    """The plain NumPy decoders that the native module must match."""
    return reference_binary


@pytest.fixture
def write_file(tmp_path):
    """Write bytes to a new file under tmp_path and return its path as a str."""
    counter = iter(range(1_000_000))

    def write(data, name=None):
        path = tmp_path / (name or f"values{next(counter)}.dat")
        path.write_bytes(bytes(data))
        return str(path)

    return write
