"""pykora._text's writers against plain Python and against the command line's own output:
the same text, chunk boundaries anywhere, and every bad input an exception."""

import itertools
import re
import struct

import numpy as np
import pytest
from hypothesis import assume, given, settings
from hypothesis import strategies as st

import pykora._text as text
from pykora._layout import block_layout
from pykora.cli import main
from tests.support import reference_text as reference
from tests.support.compare import bits
from tests.support.strategies import EXAMPLES, flat_vectors, padding_rows

CSV_PREFIXES = [None, "", "a.dat,", '"b,c.dat",', "\u00e9t\u00e9.dat,", "\udcff.dat,"]
LEVELS = [None, 0, 1, 2, 7]
NAN_PAYLOAD = struct.unpack("<d", struct.pack("<Q", 0xFFF0_0000_0000_0BAD))[0]


def laid_out(values):
    """A vector and its layout, or None where block_layout refuses a count."""
    try:
        return values, block_layout(values)
    except (ValueError, OverflowError):
        return None


def text_of(chunks, want, chunk_bytes, prefix=None, threads=1):
    """The text of a writer's chunks, read no further than ``want`` and a chunk more, after
    checking their sizes: at least CHUNK_BYTES bytes but the last (formatted in turn; on two
    threads the text is cut into parts of at most that), no more than one step beyond, and
    never empty."""
    step = 200 + len((prefix or "").encode("utf-8", "surrogatepass")) + 16 * max(LEVELS[1:])
    limit = len(want) + chunk_bytes + step
    got, sizes = [], []
    for chunk in chunks:
        got.append(chunk)
        sizes.append(len(chunk.encode("utf-8", "surrogatepass")))
        if sum(sizes) > 4 * limit:  # a writer that never ends
            break
    assert all(sizes), sizes
    assert threads == 2 or all(chunk_bytes <= size for size in sizes[:-1]), (chunk_bytes, sizes)
    assert all(size < chunk_bytes + step for size in sizes), (chunk_bytes, sizes)
    return "".join(got)


def chunk_size(size, threads=1):
    """Sets CHUNK_BYTES and THREADS for the calls in its scope; hypothesis forbids
    monkeypatch here."""

    class Scope:
        def __enter__(self):
            self.saved = text.CHUNK_BYTES, text.THREADS
            text.CHUNK_BYTES, text.THREADS = size, threads

        def __exit__(self, *exc):
            text.CHUNK_BYTES, text.THREADS = self.saved

    return Scope()


@settings(max_examples=EXAMPLES, deadline=None)
@given(flat_vectors(), st.sampled_from(["raw", "marginals", "matrix"]), st.data())
def test_writers_match_the_reference(values, view, data):
    assume(padding_rows(values) <= 2000)
    found = laid_out(np.array(values, dtype=np.float64))
    assume(found is not None)
    vec, layout = found
    n = len(layout[0])
    # Lists as often as arrays: the writer then holds the only arrays of its input.
    as_lists = data.draw(st.booleans())
    args = (vec.tolist(), tuple(a.tolist() for a in layout)) if as_lists else (vec, layout)
    prefix, level = data.draw(st.sampled_from(CSV_PREFIXES)), data.draw(st.sampled_from(LEVELS))
    precision = data.draw(st.sampled_from([None, 1, 6, 17]))
    # A table's rows, their widths drawn at least as wide as their cells, and "..." columns.
    rows = data.draw(st.builds(range, st.integers(0, 9), st.integers(0, 12)))
    label_width = data.draw(st.integers(0, 4))
    if view == "raw":
        cases = [
            (lambda: text.raw_csv(args[0], prefix), reference.raw_csv(vec, prefix)),
            (lambda: text.raw_json(args[0]), reference.raw_json(vec)),
        ]
        tables = [(args[0], None, None)]
    elif view == "marginals":
        chosen = data.draw(st.none() | st.lists(st.integers(0, max(n - 1, 0)), max_size=2 * n))
        blocks = None if chosen is None or not n else np.array(chosen, dtype=np.int64)
        cases = [
            (
                lambda: text.marginals_csv(*args, blocks, prefix),
                reference.marginals_csv(vec, layout, blocks, prefix),
            ),
            (
                lambda: text.marginals_json(*args, blocks, level),
                reference.marginals_json(vec, layout, blocks, level),
            ),
            (
                lambda: text.marginals_table(*args, blocks, precision),
                reference.marginals_table(vec, layout, blocks, precision),
            ),
        ]
        tables = []
    else:
        chosen = data.draw(st.none() | st.lists(st.integers(0, max(2 * n - 1, 0)), max_size=2 * n))
        columns = None if chosen is None or not n else np.array(chosen, dtype=np.int64)
        cases = [
            (lambda: text.matrix_csv(*args, columns), reference.matrix_csv(vec, layout, columns)),
            (
                lambda: text.matrix_json(*args, columns, level),
                reference.matrix_json(vec, layout, columns, level),
            ),
        ]
        stepped = data.draw(
            st.builds(range, st.integers(0, 9), st.integers(0, 12), st.integers(1, 4))
        )
        got = text.column_values(*args, columns, stepped)
        want = reference.column_values(vec, layout, columns, stepped)
        assert got.shape == (len(stepped), len(want[0]) if want else got.shape[1])
        assert np.array_equal(bits(got.ravel()), bits(np.array(want, dtype=np.float64).ravel()))
        tables = [(*args, columns)] if n else []
    for table in tables:  # a raw stream's table (no layout), or a matrix's
        table_layout = None if view == "raw" else layout
        widths = text.table_widths(*table, rows, precision)
        assert widths.tolist() == reference.table_widths(
            vec, table_layout, table[2], rows, precision
        )
        extra = st.lists(st.integers(0, 3), min_size=len(widths), max_size=len(widths))
        wider = widths + np.array(data.draw(extra), dtype=np.int64)
        gaps = data.draw(st.none() | st.lists(st.integers(0, len(widths)), max_size=2).map(sorted))
        shape = (rows, precision, wider, label_width, gaps)
        cases.append(
            (
                lambda table=table, shape=shape: text.table_rows(*table, *shape),
                reference.table_rows(vec, table_layout, table[2], *shape),
            )
        )
    chunk_bytes = data.draw(st.sampled_from([1, 5, 64, 1 << 20]))
    threads = data.draw(st.sampled_from([1, 2]))  # on two, cut into parts at every size
    with chunk_size(chunk_bytes, threads):
        for make, want in cases:
            want = "".join(want)
            assert text_of(make(), want, chunk_bytes, prefix, threads) == want


# Blocks as the engine writes them, and the values that test the formatter's corners: an
# empty block, NaN with a payload, infinities, -0.0, a subnormal, 1e16 and 1e-05, and a last
# block declaring six pairs of which the file holds two and a half.
RICH_FILE = [
    1, 3, 0.025, -1.96, 0.5, -0.0, 0.975, 1e16,
    2, 0,
    3.5, 2, NAN_PAYLOAD, float("inf"), 5e-324, float("-inf"),
    4, 6, 1e-05, 123456789012345.0, 2.0**53, 0.1, 1.7976931348623157e308,
]  # fmt: skip


@pytest.mark.parametrize("view", ["raw", "marginals", "matrix"])
@pytest.mark.parametrize("fmt", ["csv", "json"])
def test_the_text_is_what_the_command_line_writes(tmp_path, capsys, view, fmt):
    path = tmp_path / "rich.dat"
    values = np.array(RICH_FILE, dtype="<f8")
    values.tofile(path)
    assert main(["show", str(path), "--as", view, "--format", fmt]) == 0
    written = capsys.readouterr().out
    layout = block_layout(values)
    writers = {
        ("raw", "csv"): (text.raw_csv(values), "index,value\n", ""),
        ("raw", "json"): (text.raw_json(values), '"values": [', "]\n}\n"),
        ("marginals", "csv"): (text.marginals_csv(values, layout), "block,idx,x,y\n", ""),
        ("marginals", "json"): (
            text.marginals_json(values, layout),
            '"blocks": [\n    ',
            "\n  ]\n}\n",
        ),
        ("matrix", "csv"): (text.matrix_csv(values, layout), "x,y0,x0,y1,x1,y2,x2,y3,x3\n", ""),
        ("matrix", "json"): (text.matrix_json(values, layout), '"rows": [\n    ', "\n  ]\n}\n"),
    }
    chunks, before, after = writers[view, fmt]
    head, body = written.split(before, 1)
    assert fmt == "json" or not head
    assert body == "".join(chunks) + after


HUGE = [1, 2.0**62, 0.1, 10]  # 32 bytes declaring 2**62 pairs


@pytest.mark.parametrize(
    "writer, make_reference",
    [
        (lambda v, lay: text.marginals_csv(v, lay), reference.marginals_csv),
        (lambda v, lay: text.marginals_json(v, lay), reference.marginals_json),
        (lambda v, lay: text.matrix_csv(v, lay), reference.matrix_csv),
        (
            lambda v, lay: text.matrix_json(v, lay, [1, 0, 1]),
            lambda v, lay: reference.matrix_json(v, lay, [1, 0, 1]),
        ),
    ],
)
def test_padding_of_any_count_is_written_as_it_is_read(writer, make_reference):
    values = np.array(HUGE)
    layout = block_layout(values)
    assert layout[2][0] == 2**62
    with chunk_size(1 << 12):
        got = "".join(itertools.islice(writer(values, layout), 3))
    want = itertools.islice(make_reference(values, layout), 4 << 12)
    assert 3 << 12 <= len(got) and "".join(want).startswith(got)


def layout_of(values, **changes):
    """block_layout(values) with some of its arrays replaced."""
    starts, idx, declared, present = block_layout(values)
    found = {"starts": starts, "idx": idx, "declared": declared, "present": present}
    return tuple({**found, **changes}.values())


V = np.array([1, 2, 0.5, 5, 0.25, 6, 2, 0, 3, 1, 7, 8])  # blocks of 2, 0 and 1 pairs
L = block_layout(V)


@pytest.mark.parametrize(
    "call, error, says",
    [
        (lambda: text.marginals_csv(V, L[:3]), ValueError, "four arrays of one length"),
        (lambda: text.matrix_csv(V, 5), TypeError, "layout must be a tuple"),
        (lambda: text.matrix_csv(V, layout_of(V, idx=L[1][:2])), ValueError, "one length"),
        (lambda: text.matrix_csv(V, layout_of(V, starts=L[0] * 1.0)), TypeError, "safe"),
        (lambda: text.matrix_csv(V[:5], L), ValueError, "block 1 starts at 6"),
        (lambda: text.marginals_csv(V, layout_of(V, starts=L[0] - 1)), ValueError, "block 0"),
        (lambda: text.marginals_json(V, layout_of(V, declared=L[2] + 2**62)), ValueError, "fit"),
        (lambda: text.matrix_json(V, layout_of(V, declared=-L[2])), ValueError, "declares -2"),
        (lambda: text.marginals_csv(V, L, [0, 3]), IndexError, "blocks[1] is 3, but the lay"),
        (lambda: text.marginals_json(V, L, [-1]), IndexError, "blocks[0] is -1"),
        (lambda: text.matrix_csv(V, L, [0, 6]), IndexError, "columns[1] is 6, but"),
        (lambda: text.column_values(V, L, [-1], range(1)), IndexError, "columns[0] is -1"),
        (lambda: text.raw_csv(V.reshape(3, 4)), ValueError, "too deep"),
        (lambda: text.marginals_json(V, L, None, -1), ValueError, "level must be from 0"),
        (lambda: text.matrix_json(V, L, None, 2**70), ValueError, "level must be from 0"),
        (lambda: text.matrix_json(V, L, None, 1.5), TypeError, "integer"),
        (lambda: text.raw_csv(V, b"a,"), TypeError, "prefix must be a str"),
        (lambda: text.cells(V, 18), ValueError, "precision must be from 1 to 17"),
        (lambda: text.cells(V, 0), ValueError, "precision must be from 1 to 17"),
        (lambda: text.column_values(V, L, None, [0]), TypeError, "rows must be a range"),
        (lambda: text.column_values(V, L, None, range(-1, 1)), IndexError, "rows hold -1"),
        (lambda: text.column_values(V, L, None, range(2**64, 2**65)), OverflowError, None),
    ],
)
def test_bad_input_raises_before_anything_is_written(call, error, says):
    with pytest.raises(error, match=says and re.escape(says)):
        call()


@pytest.mark.parametrize(
    "size, error", [(0, ValueError), (2**30 + 1, ValueError), ("1", TypeError)]
)
def test_chunk_bytes_out_of_range_is_refused(monkeypatch, size, error):
    monkeypatch.setattr(text, "CHUNK_BYTES", size)
    with pytest.raises(error):
        text.raw_json(V)


@pytest.mark.parametrize(
    "make, change, error",
    [
        (lambda s, lay: text.marginals_csv(V, lay, s), lambda s, lay: lay[0].fill(99), ValueError),
        (lambda s, lay: text.marginals_json(V, lay, s), lambda s, lay: s.fill(3), IndexError),
        (
            lambda s, lay: text.matrix_json(V, lay, s * 2),
            lambda s, lay: lay[2].fill(-1),
            ValueError,
        ),
    ],
)
def test_inputs_changed_while_written_raise_and_end_the_text(monkeypatch, make, change, error):
    monkeypatch.setattr(text, "CHUNK_BYTES", 1)
    selection, layout = np.array([0, 1, 2, 0, 1, 2]), tuple(a.copy() for a in L)
    chunks = make(selection, layout)
    next(chunks)
    change(selection, layout)
    with pytest.raises(error):
        list(chunks)
    assert list(chunks) == []
