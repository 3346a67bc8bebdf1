"""Random vectors through the decoders, compared with the plain-Python reference."""

from hypothesis import assume, given, settings
from hypothesis import strategies as st

import pykora.binary
from tests.support import reference_binary
from tests.support.compare import VECTOR_FUNCTIONS, same_as_reference
from tests.support.strategies import (
    AFFORDABLE_ROWS,
    EXAMPLES,
    LAYOUTS,
    UNALLOCATABLE_ROWS,
    flat_vectors,
    laid_out,
    padding_rows,
)


@settings(max_examples=EXAMPLES, deadline=None)
@given(flat_vectors(), st.sampled_from(LAYOUTS), st.sampled_from(VECTOR_FUNCTIONS))
def test_decoders_match_reference(values, layout, name):
    rows = padding_rows(values)
    assume(rows <= AFFORDABLE_ROWS or rows >= UNALLOCATABLE_ROWS)
    vec = laid_out(values, layout)
    same_as_reference(pykora.binary, reference_binary, name, vec)
