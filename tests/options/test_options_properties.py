"""Random option scripts, compared with the plain-Python reference."""

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import pykora.options
from tests.support import reference_options
from tests.support.options_scripts import replay
from tests.support.strategies import EXAMPLES, OPERATIONS, empty_store


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(OPERATIONS, max_size=25))
def test_option_sequences_match_reference(script):
    with empty_store(pykora.options), empty_store(reference_options):
        native, plain = replay(pykora.options, script), replay(reference_options, script)
    assert native == plain
