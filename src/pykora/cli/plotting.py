"""What ``plot`` draws, and drawing it with matplotlib's non-interactive Agg backend.

Only the blocks drawn are decoded. Lines are told apart by colour and line
style together: ten colours and four styles that change from each line to
the next, so that no two of the first twenty lines look alike.
"""

from __future__ import annotations

import io
import os
from collections.abc import Iterable
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING

from pykora.cli.blocks import find_blocks
from pykora.cli.errors import EXIT_FAILURE, EXIT_INVALID, CliError
from pykora.cli.files import Source
from pykora.cli.matrix import DenseColumns, series_columns

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

    FloatArray = npt.NDArray[np.float64]

#: Points in a plot above which lines are drawn without markers and the legend
#: is not placed by searching for the emptiest corner: both cost seconds per
#: million points and show nothing more at that density.
MARKER_LIMIT = 10_000
LINE_STYLES = ("-", "--", ":", "-.")


@dataclass(frozen=True)
class Series:
    label: str
    x: FloatArray
    y: FloatArray


def plot_series(source: Source, view: str, limit: int) -> tuple[list[Series], int]:
    """The first ``limit`` lines to draw, and how many there are in all.

    A block without pairs has nothing to draw and is no series. In the matrix
    view each block's y column is drawn against its own x column, NaN below
    its pairs as in the matrix.
    """
    import numpy as np

    values = source.values
    if view == "raw":
        if not values.size:
            return [], 0
        return [Series("values", np.arange(values.size, dtype=np.float64), values)], 1
    blocks = find_blocks(source)
    drawable = np.flatnonzero(blocks.declared > 0)
    ks = drawable[:limit].tolist()
    if view == "marginals":
        pairs = {k: blocks.pairs(k, k + 1)[0] for k in ks}
        blocks.warn_padding()
        series = [Series(blocks.label(k), pairs[k][:, 0], pairs[k][:, 1]) for k in ks]
        return series, int(drawable.size)
    columns = {k: series_columns(k, blocks.n_blocks) for k in ks}
    dense = DenseColumns(blocks, [range(min(c), max(c) + 1) for c in columns.values()])
    blocks.warn_padding()
    series = [
        Series(blocks.label(k), dense.column(columns[k][0]), dense.column(columns[k][1]))
        for k in ks
    ]
    return series, int(drawable.size)


def image_format(output: str, formats: Iterable[str]) -> str:
    """The format that ``output``'s suffix names, or a ``CliError`` that writes nothing.

    The image goes exactly where ``-o`` says: a name without a known suffix
    would otherwise get one appended, and a directory would get a hidden
    ".png" written inside it or next to it.
    """
    known = sorted(formats)
    if output.endswith(("/", os.sep)) or os.path.isdir(output):
        raise CliError(
            f"{output}: is a directory; give the image's file name, e.g. "
            f"{os.path.join(output, 'plot.png')}",
            EXIT_INVALID,
        )
    suffix = Path(output).suffix[1:].lower()
    if suffix not in known:
        raise CliError(
            f"{output}: no known image suffix; end the name with one of "
            + ", ".join("." + name for name in known),
            EXIT_INVALID,
        )
    return suffix


@dataclass(frozen=True)
class Labels:
    title: str
    x: str
    y: str


def draw(series: list[Series], labels: Labels, fmt: str, dpi: int, output: str) -> bytes:
    """The image, drawn in full before any file is touched."""
    import matplotlib
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    figure = Figure(figsize=(7, 4.5), layout="constrained")
    FigureCanvasAgg(figure)
    dense = sum(s.x.size for s in series) > MARKER_LIMIT
    axes = figure.add_subplot()
    palette = matplotlib.colormaps["tab10"]
    # Long lines are drawn in chunks: Agg refuses a single path of too many vertices.
    with matplotlib.rc_context({"agg.path.chunksize": 10_000}):
        for i, s in enumerate(series):
            axes.plot(
                s.x,
                s.y,
                marker=None if dense else ".",
                label=s.label,
                color=palette(i % 10),
                linestyle=LINE_STYLES[i % len(LINE_STYLES)],
            )
        if len(series) > 8:  # beside the axes, where a long legend hides no data
            figure.legend(loc="outside right upper", fontsize="small")
        elif series:
            axes.legend(loc="upper right" if dense else "best")
        else:
            axes.text(0.5, 0.5, "no data", ha="center", va="center", transform=axes.transAxes)
        axes.set_title(labels.title)
        axes.set_xlabel(labels.x)
        axes.set_ylabel(labels.y)
        image = io.BytesIO()
        try:
            figure.savefig(image, format=fmt, dpi=dpi)
        except (RuntimeError, ValueError, OverflowError, OSError) as exc:
            raise CliError(f"{output}: cannot draw the image: {exc}", EXIT_FAILURE) from None
    return image.getvalue()
