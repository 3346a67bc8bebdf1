"""Typed user code calling every public function of pykora.binary and pykora.options.

test_stubs.py checks it with ``mypy --strict``; it is not meant to be run.
"""

from pathlib import Path
from typing import Any

import numpy as np
import numpy.typing as npt

from pykora.binary import (
    kora_interpret_vector,
    kora_interpret_vector_list,
    kora_read_binary_file,
)
from pykora.options import (
    kora_enabled_Braidwell_features,
    kora_get_option,
    kora_get_option_default,
    kora_set_option,
)


def decode(name: str) -> list[npt.NDArray[np.float64]]:
    values = kora_read_binary_file(name)
    same = kora_read_binary_file(Path(name))
    if values is None or same is None:
        return []
    first: float = float(values[0])
    matrix: npt.NDArray[np.float64] | None = kora_interpret_vector(values)
    small = kora_interpret_vector([1.0, 2.0, 0.1, 10.0, 0.5, 20.0])
    nested = kora_interpret_vector(np.array([[1, 1], [0.5, 3]]))
    nothing = kora_interpret_vector(None)
    marginals = kora_interpret_vector_list(values) or []
    shapes = [m.shape for m in marginals if m.size and first]
    return [a for a in (matrix, small, nested, nothing) if a is not None and shapes]


def configure() -> bool:
    defaults: dict[str, Any] = kora_get_option_default()
    threads: str = defaults["num.threads"]
    everything: dict[str, Any] = kora_get_option()
    keep: bool = kora_get_option("keep")
    several: list[Any] = kora_get_option(["keep", "debug"]) + kora_get_option(("safe",))
    kora_set_option("num.threads", threads)
    kora_set_option(keep=not keep, verbose=bool(several), silent="kora.mode" in everything)
    kora_set_option(**{"kora.mode": "classic", "malloc.lib": "je"})
    return kora_enabled_Braidwell_features()
