"""The texts of pykora._text written plainly in Python, one value at a time with repr() and
format(), laid out as the command line's CSV and JSON renderers lay them out.

Each writer yields its text in pieces, so that a block declaring 2**62 pairs can be
compared as far as a test reads.
"""

import itertools
import math
from collections.abc import Iterator
from itertools import repeat

import numpy as np


def exact(value, quoted=False):
    """repr(value), with NaN and the infinities spelled as the command line spells them."""
    value = float(value)
    if math.isfinite(value):
        return repr(value)
    text = "NaN" if math.isnan(value) else "inf" if value > 0 else "-inf"
    return f'"{text}"' if quoted else text


def rounded(value, precision):
    value = float(value)
    return "NaN" if math.isnan(value) else format(value, f".{precision}g")


def python_texts(values, precision=None):
    """exact() or rounded() of every value of a float64 array, as a list: map() over repr
    and format, then NaN renamed (inf and -inf are spelled alike), half the cost of a
    call per value."""
    floats = values.tolist()
    if precision is None:
        texts = list(map(repr, floats))
    else:
        texts = list(map(format, floats, repeat(f".{precision}g")))
    for i in np.flatnonzero(np.isnan(values)):
        texts[i] = "NaN"
    return texts


def mismatches(values, got, want, limit=5):
    """The first (bit pattern, text, Python's text) triples where the texts differ."""
    found = (
        (f"{int(v):#018x}", g, w)
        for v, g, w in zip(values.view(np.uint64), got, want, strict=True)
        if g != w
    )
    return list(itertools.islice(found, limit))


def pair_value(values, layout, k, i):
    """Pair value i of block k: read from the values while they last, NaN beyond."""
    start = int(layout[0][k])
    return values[start + 2 + i] if start + 2 + i < len(values) else math.nan


def matrix_sources(n_blocks):
    """The column sources of kora_interpret_vector's whole matrix."""
    if n_blocks == 1:
        return [0, 1]
    return [0] + [s for k in range(n_blocks) for s in (2 * k + 1, 2 * k)] if n_blocks else []


def matrix_cell(values, layout, source, row):
    k, axis = divmod(source, 2)
    if row >= layout[2][k]:
        return math.nan
    return pair_value(values, layout, k, 2 * row + axis)


def raw_csv(values, prefix=None) -> Iterator[str]:
    for i, value in enumerate(values):
        yield f"{prefix or ''}{i},{exact(value)}\n"


def raw_json(values) -> Iterator[str]:
    yield ", ".join(exact(v, quoted=True) for v in values)


def _blocks(layout, blocks):
    return range(len(layout[0])) if blocks is None else [int(k) for k in blocks]


def marginals_csv(values, layout, blocks=None, prefix=None) -> Iterator[str]:
    for k in _blocks(layout, blocks):
        head = f"{prefix or ''}{k},{exact(layout[1][k])},"
        for r in range(int(layout[2][k])):
            x, y = (pair_value(values, layout, k, 2 * r + a) for a in (0, 1))
            yield f"{head}{exact(x)},{exact(y)}\n"


def marginals_json(values, layout, blocks=None, level=None) -> Iterator[str]:
    level = 1 if level is None else level
    outer, inner, row_pad = ("  " * (level + n) for n in (1, 2, 3))
    for i, k in enumerate(_blocks(layout, blocks)):
        if i:
            yield ",\n" + outer
        idx = exact(layout[1][k], quoted=True)
        rows = int(layout[2][k])
        if not rows:
            yield f'{{"block": {k}, "idx": {idx}, "pairs": []}}'
            continue
        yield f'{{\n{inner}"block": {k},\n{inner}"idx": {idx},\n{inner}"pairs": [\n'
        for r in range(rows):
            x, y = (exact(pair_value(values, layout, k, 2 * r + a), quoted=True) for a in (0, 1))
            yield f"{',' + chr(10) if r else ''}{row_pad}[{x}, {y}]"
        yield f"\n{inner}]\n{outer}}}"


def _matrix_rows(values, layout, columns, quoted):
    sources = matrix_sources(len(layout[0])) if columns is None else [int(s) for s in columns]
    n_rows = int(max(layout[2], default=0)) if sources else 0
    for r in range(n_rows):
        yield [exact(matrix_cell(values, layout, s, r), quoted) for s in sources]


def matrix_csv(values, layout, columns=None) -> Iterator[str]:
    for cells in _matrix_rows(values, layout, columns, quoted=False):
        yield ",".join(cells) + "\n"


def matrix_json(values, layout, columns=None, level=None) -> Iterator[str]:
    pad = "  " * ((1 if level is None else level) + 1)
    for r, cells in enumerate(_matrix_rows(values, layout, columns, quoted=True)):
        yield (",\n" + pad if r else "") + "[" + ", ".join(cells) + "]"


def column_values(values, layout, columns, rows):
    sources = matrix_sources(len(layout[0])) if columns is None else [int(s) for s in columns]
    return [[matrix_cell(values, layout, s, r) for s in sources] for r in rows]


def label(idx):
    """How a block's idx names it: an integral idx below 1e16 as its integer, any other as
    exact() writes it."""
    idx = float(idx)
    if idx.is_integer() and abs(idx) < 1e16:
        return "-0" if idx == 0 and math.copysign(1, idx) < 0 else str(int(idx))
    return exact(idx)


def _table_cells(values, layout, columns, row):
    if layout is None:
        return [values[row] if row < len(values) else math.nan]
    sources = matrix_sources(len(layout[0])) if columns is None else [int(s) for s in columns]
    return [matrix_cell(values, layout, s, row) for s in sources]


def table_widths(values, layout, columns, rows, precision=None):
    precision = 6 if precision is None else precision
    n = len(_table_cells(values, layout, columns, 0))
    widths = [0] * n
    for r in rows:
        texts = [rounded(v, precision) for v in _table_cells(values, layout, columns, r)]
        widths = [max(w, len(t)) for w, t in zip(widths, texts, strict=True)]
    return widths


def table_rows(values, layout, columns, rows, precision, widths, label_width, gaps=None):
    precision = 6 if precision is None else precision
    gaps = [] if gaps is None else [int(g) for g in gaps]
    for r in rows:
        line = str(r).rjust(label_width)
        texts = [rounded(v, precision) for v in _table_cells(values, layout, columns, r)]
        for j, (text, width) in enumerate(zip(texts, widths, strict=True)):
            line += "  ..." * (j in gaps) + "  " + text.rjust(int(width))
        yield line + "  ..." * (len(texts) in gaps) + "\n"


def marginals_table(values, layout, blocks=None, precision=None) -> Iterator[str]:
    precision = 6 if precision is None else precision
    for k in _blocks(layout, blocks):
        rows = int(layout[2][k])
        yield f"\nblock {k} (idx {label(layout[1][k])}): {rows} row{'' if rows == 1 else 's'}\n"
        if not rows:
            continue
        cells = [
            [rounded(pair_value(values, layout, k, 2 * r + a), precision) for a in (0, 1)]
            for r in range(rows)
        ]
        widths = [max(3, len(str(rows - 1)))] + [
            max(1, *(len(row[a]) for row in cells)) for a in (0, 1)
        ]
        lines = [["row", "x", "y"]] + [[str(r), *row] for r, row in enumerate(cells)]
        for line in lines:
            yield "  ".join(t.rjust(w) for t, w in zip(line, widths, strict=True)) + "\n"
