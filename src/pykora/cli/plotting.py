"""What ``plot`` draws, and drawing it with matplotlib's non-interactive Agg backend.

Each line is a block's pairs that the file holds, read in place: NaN
padding draws nothing, so a block cut short is drawn as far as it goes.
Lines are told apart by colour and line style together: ten colours and four
styles that change from each line to the next, so that no two of the first
twenty lines look alike.
"""

from __future__ import annotations

import io
import os
from collections.abc import Iterable
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING

from pykora.cli.errors import EXIT_FAILURE, EXIT_INVALID, CliError, one_line
from pykora.cli.layout import Layout

if TYPE_CHECKING:
    from pykora.cli.source import FloatArray

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


def plot_series(values: FloatArray, layout: Layout | None, limit: int) -> tuple[list[Series], int]:
    """The first ``limit`` lines to draw, and how many there are in all.

    Without a layout (the raw view) the values are drawn against their
    position. Otherwise each block that declares pairs is a series, its y
    against its x, the same in the marginals and the matrix view: a column of
    the matrix is a block's values, NaN below.
    """
    import numpy as np

    if layout is None:
        if not values.size:
            return [], 0
        return [Series("values", np.arange(values.size, dtype=np.float64), values)], 1
    drawable = np.flatnonzero(layout.declared > 0)
    series = []
    for k in drawable[:limit].tolist():
        start, n = int(layout.starts[k]) + 2, int(layout.present[k])
        pairs = values[start : start + 2 * n].reshape(n, 2)
        series.append(Series(layout.label(k), pairs[:, 0], pairs[:, 1]))
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


def _drawable(text: str) -> str:
    """``text`` with whatever is not UTF-8 (a file name's stray bytes) as replacement
    characters, which the fonts can draw."""
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


def draw(series: list[Series], labels: Labels, fmt: str, dpi: int, output: str) -> bytes:
    """The image, drawn in full before any file is touched."""
    import matplotlib
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    try:
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
            axes.set_title(_drawable(labels.title))
            axes.set_xlabel(_drawable(labels.x))
            axes.set_ylabel(_drawable(labels.y))
            image = io.BytesIO()
            figure.savefig(image, format=fmt, dpi=dpi)
    except MemoryError:
        raise
    except Exception as exc:  # whatever matplotlib cannot draw: mathtext, values, fonts
        raise CliError(f"{output}: cannot draw the image: {one_line(exc)}", EXIT_FAILURE) from None
    return image.getvalue()
