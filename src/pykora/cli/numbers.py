"""Numbers in the command line's own words: block labels, counts, and plain values as JSON.

The cells of a view are formatted by ``pykora.cli.cells``; what is here names
one thing at a time. Non-finite values are ``NaN``, ``inf`` and ``-inf``; in
JSON they are the strings "NaN", "inf" and "-inf", so that the output stays
strict JSON and Python's ``float()`` reads all three back.
"""

from __future__ import annotations

import json
import math
from typing import Any

#: Integral values below this are named in digits; beyond it the digits would
#: run on without telling a user more than the shortest round-trip form does.
_INTEGRAL_LIMIT = 1e16


def _nonfinite_text(value: float) -> str | None:
    if math.isnan(value):
        return "NaN"
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return None


def exact_text(value: float) -> str:
    """The shortest text that reads back as the same float64."""
    value = float(value)
    return _nonfinite_text(value) or repr(value)


def idx_text(idx: float) -> str:
    """A block's idx as a user would look it up: 1234567, not 1.23457e+06.

    An integral idx is written as an integer and any other as its shortest
    round-trip form, so that the text names exactly one float64: -0.0 is
    "-0", which reads back as -0.0, where "0" would name 0.0.
    """
    idx = float(idx)
    if idx.is_integer() and abs(idx) < _INTEGRAL_LIMIT:
        return "-0" if idx == 0 and math.copysign(1.0, idx) < 0 else str(int(idx))
    return exact_text(idx)


def block_label(k: int, idx: float) -> str:
    """How a block is named wherever it is: its position, and its idx."""
    return f"block {k} (idx {idx_text(idx)})"


def count_text(count: int) -> str:
    """A count in digits, or in six significant digits once it has more than fifteen."""
    return str(count) if count < 10**15 else f"{count:.6g}"


def plural(count: int, word: str) -> str:
    return f"{count} {word}" if count == 1 else f"{count} {word}s"


def json_value(value: Any) -> Any:
    """``value`` made serialisable with ``allow_nan=False``.

    Non-finite floats become the strings "NaN", "inf" and "-inf"; containers
    are converted item by item; objects JSON has no type for become their
    ``repr`` (an option may hold any Python object).
    """
    if value is None or isinstance(value, bool | int | str):
        return value
    if isinstance(value, float):
        return _nonfinite_text(value) or value
    if isinstance(value, dict):
        return {str(k): json_value(v) for k, v in value.items()}
    if isinstance(value, list | tuple):
        return [json_value(v) for v in value]
    tolist = getattr(value, "tolist", None)  # NumPy scalars and arrays
    if callable(tolist):
        return json_value(tolist())
    return repr(value)


def json_scalar(value: Any) -> str:
    """The JSON text of one value."""
    return json.dumps(json_value(value), allow_nan=False)
