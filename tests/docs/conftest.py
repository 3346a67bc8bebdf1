"""Counts the documentation's examples that ran, and says how many in pytest's summary."""

import pytest

_RAN = pytest.StashKey[list[int]]()


@pytest.fixture
def count_examples(request):
    """Call with the number of examples a page ran."""
    return request.config.stash.setdefault(_RAN, []).append


def pytest_terminal_summary(terminalreporter, config):
    ran = config.stash.get(_RAN, [])
    if ran:
        pages = f"{len(ran)} page" + "s" * (len(ran) != 1)
        terminalreporter.write_line(f"docs: {sum(ran)} examples run on {pages}")
