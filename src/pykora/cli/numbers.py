"""How numbers are written: six digits for people, every digit for programs.

Non-finite values are ``NaN``, ``inf`` and ``-inf`` in every format; in JSON
they are the strings "NaN", "inf" and "-inf", so that the output stays strict
JSON and Python's ``float()`` reads all three back.

The ``*_cells`` and ``*_list`` functions format many values at once:
per-value calls cost several times more, which adds up to seconds over
millions of cells. Both ``repr`` and ``{:.6g}`` spell infinities as wanted
already; only NaN needs renaming.
"""

from __future__ import annotations

import json
import math
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

    FloatArray = npt.NDArray[np.float64]

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
    round-trip form, so that the text names exactly one float64.
    """
    idx = float(idx)
    if idx.is_integer() and abs(idx) < _INTEGRAL_LIMIT:
        return str(int(idx))
    return exact_text(idx)


def count_text(count: int) -> str:
    """A count in digits, or in six significant digits once it has more than fifteen."""
    return str(count) if count < 10**15 else f"{count:.6g}"


def plural(count: int, word: str) -> str:
    return f"{count} {word}" if count == 1 else f"{count} {word}s"


def short_cells(values: list[float]) -> list[str]:
    """Six significant digits, for tables meant to be read by people."""
    return ["NaN" if s == "nan" else s for s in map("{:.6g}".format, values)]


def _nan_named(reprs: str) -> str:
    """Values' ``repr`` texts with NaN written ``NaN``."""
    return reprs.replace("nan", "NaN") if "n" in reprs else reprs  # only nan and inf have an n


def exact_list(values: FloatArray) -> str:
    """``repr(values.tolist())`` with NaN written ``NaN``: every value's shortest round-trip
    text in Python's list syntax, made in one pass of C rather than one call per value."""
    return _nan_named(repr(values.tolist()))


def exact_fields(values: FloatArray) -> str:
    """The shortest round-trip texts of a 1-D array's values, comma-separated."""
    return _nan_named(",".join(map(repr, values.tolist())))


def json_list(values: FloatArray) -> str:
    """``exact_list`` with the non-finite values as JSON strings."""
    text = repr(values.tolist())
    if "n" not in text:  # neither nan nor inf
        return text
    text = text.replace("nan", '"NaN"')
    if "inf" in text:
        text = text.replace("inf", '"inf"').replace('-"inf"', '"-inf"')
    return text


def exact_cells(values: FloatArray) -> list[str]:
    """The shortest round-trip texts of a 1-D array's values."""
    return exact_list(values)[1:-1].split(", ") if values.size else []


def json_cells(values: FloatArray) -> list[str]:
    """The JSON texts of a 1-D array's values, as ``json_scalar(v)`` writes each."""
    return json_list(values)[1:-1].split(", ") if values.size else []


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
