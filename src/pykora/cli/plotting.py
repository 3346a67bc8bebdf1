"""What ``plot`` draws, and drawing it with matplotlib's non-interactive Agg backend.

Each line is a block's pairs that the file holds, read in place: NaN
padding draws nothing, so a block cut short is drawn as far as it goes.

Lines are told apart by colour and line style together: ten colours and four
styles, combined so that each of the first 40 lines looks like no other and
neighbours differ in both. Those 40 are drawn one artist each and named in
the legend; the lines beyond them, which could only repeat their looks, are
drawn as one collection in the same looks, in turn, at the cost of one
artist however many there are.

The legend never leaves the image: a short one sits inside the axes, a
longer one beside them, in columns, and the image is widened by its width
so that the axes keep theirs. It names at most ``LEGEND_ENTRIES`` lines; when
there are more, its last entry says how many it leaves unnamed, and so does
a note on stderr.
"""

from __future__ import annotations

import io
import math
import os
from collections.abc import Iterable
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING, Any

from pykora.cli.errors import EXIT_FAILURE, EXIT_INVALID, CliError, one_line
from pykora.cli.layout import Layout

if TYPE_CHECKING:
    from pykora.cli.source import FloatArray, IntArray

#: Points in a plot above which lines are drawn without markers and the legend
#: is not placed by searching for the emptiest corner: both cost seconds per
#: million points and show nothing more at that density.
MARKER_LIMIT = 10_000
#: matplotlib's ten categorical colours; with the four line styles, 40 looks.
COLOURS = 10
LINE_STYLES = ("-", "--", ":", "-.")
LOOKS = COLOURS * len(LINE_STYLES)
#: Lines the legend names at most: one per look, so that an entry names one line only.
LEGEND_ENTRIES = LOOKS
#: Entries of a legend column: 20 small lines fit the 4.5 inch figure's height.
LEGEND_ROWS = 20
#: Lines above which the legend goes beside the axes, where it hides no data.
LEGEND_INSIDE = 8
FIGURE_SIZE = (7.0, 4.5)


@dataclass(frozen=True)
class Series:
    label: str
    x: FloatArray
    y: FloatArray


def plot_series(
    values: FloatArray, layout: Layout | None, limit: int, blocks: IntArray | None = None
) -> tuple[list[Series], int]:
    """The first ``limit`` lines to draw, and how many there are in all.

    Without a layout (the raw view) the values are drawn against their
    position. Otherwise each block that declares pairs is a series, its y
    against its x, the same in the marginals and the matrix view: a column of
    the matrix is a block's values, NaN below. ``blocks`` picks out the blocks
    to draw, by position, in the order given (default: every block).
    """
    import numpy as np

    if layout is None:
        if not values.size:
            return [], 0
        return [Series("values", np.arange(values.size, dtype=np.float64), values)], 1
    if blocks is None:
        drawable = np.flatnonzero(layout.declared > 0)
    else:
        drawable = blocks[layout.declared[blocks] > 0]
    series = []
    for k in drawable[:limit].tolist():
        start, n = int(layout.starts[k]) + 2, int(layout.present[k])
        pairs = values[start : start + 2 * n].reshape(n, 2)
        series.append(Series(layout.label(k), pairs[:, 0], pairs[:, 1]))
    return series, int(drawable.size)


def look(i: int) -> tuple[int, str]:
    """Line ``i``'s colour (of the ten) and line style.

    Line i = 10 q + c has colour c and style (c + 3 q) mod 4, which runs
    through all four styles as q does: no two of the first 40 lines share
    both, and neighbours differ in each.
    """
    return i % COLOURS, LINE_STYLES[(i + i // COLOURS) % len(LINE_STYLES)]


def legend_named(n_series: int) -> int:
    """How many of ``n_series`` lines the legend names; the rest it counts in one entry."""
    return n_series if n_series <= LEGEND_ENTRIES else LEGEND_ENTRIES - 1


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


def _draw_lines(axes: Any, series: list[Series], markers: bool) -> list[Any]:
    """The first ``LOOKS`` series one artist each, the rest as one collection; the
    artists the legend may name, in order."""
    import matplotlib
    import numpy as np
    from matplotlib.collections import LineCollection

    palette = [matplotlib.colormaps["tab10"](c) for c in range(COLOURS)]
    looks = [look(i) for i in range(LOOKS)]
    rest = series[LOOKS:]
    if rest:
        # A collection cycles through its colours and styles, so the 40 looks, listed
        # once, go to its lines in turn, as they went to the first 40: line 40 + j
        # looks like line j. Added first, so that the named lines are drawn over it.
        collection = LineCollection(
            [np.column_stack([s.x, s.y]) for s in rest],
            colors=[palette[colour] for colour, _ in looks],
            linestyles=[style for _, style in looks],
            linewidths=matplotlib.rcParams["lines.linewidth"],
        )
        axes.add_collection(collection, autolim=True)
    lines = []
    for s, (colour, style) in zip(series, looks, strict=False):
        (line,) = axes.plot(
            s.x,
            s.y,
            marker="." if markers else None,
            label=s.label,
            color=palette[colour],
            linestyle=style,
        )
        lines.append(line)
    axes.autoscale_view()
    return lines


def _legend(figure: Any, axes: Any, lines: list[Any], n_series: int, dense: bool) -> None:
    """The legend, whole within the image, of at most ``LEGEND_ENTRIES`` entries."""
    from matplotlib.lines import Line2D

    if n_series <= LEGEND_INSIDE:
        axes.legend(loc="upper right" if dense else "best")
        return
    named = legend_named(n_series)
    handles = lines[:named]
    labels = [line.get_label() for line in handles]
    if named < n_series:
        handles.append(Line2D([], [], linestyle="none"))
        labels.append(f"… and {n_series - named} more blocks")
    legend = figure.legend(
        handles,
        labels,
        loc="outside right upper",
        fontsize="small",
        ncols=math.ceil(len(handles) / LEGEND_ROWS),
    )
    # The figure grows by the legend's width, so that the axes keep theirs.
    width = legend.get_window_extent(figure.canvas.get_renderer()).width / figure.dpi
    figure.set_figwidth(FIGURE_SIZE[0] + width)


def draw(series: list[Series], labels: Labels, fmt: str, dpi: int, output: str) -> bytes:
    """The image, drawn in full before any file is touched."""
    import matplotlib
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    try:
        figure = Figure(figsize=FIGURE_SIZE, layout="constrained")
        FigureCanvasAgg(figure)
        dense = sum(s.x.size for s in series) > MARKER_LIMIT
        axes = figure.add_subplot()
        # Long lines are drawn in chunks: Agg refuses a single path of too many vertices.
        with matplotlib.rc_context({"agg.path.chunksize": 10_000}):
            lines = _draw_lines(axes, series, markers=not dense and len(series) <= LOOKS)
            if series:
                _legend(figure, axes, lines, len(series), dense)
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
