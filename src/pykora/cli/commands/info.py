"""``info FILE...``: what result files hold, described without printing their values.

A file is read (``source``) and its blocks summarised in one native scan
(``pykora._layout.block_summary``), which counts a block's NaN padding
rather than making it: a 200 MB file is described in a fraction of a second,
and a block that declares 2**62 pairs costs no more than its header.

Every figure is exact. A count the layout caps at 2**62 is read back from the
file, so that the padding of a block that declares 1e300 pairs is the
integer the decoders would round that count to. Where the values cannot be
read as blocks (a count that is NaN or infinite), the block figures are
``null`` and ``reason`` says which count stopped the scan; the values are
still described, and the file is no failure: ``show --as raw`` shows it.
"""

from __future__ import annotations

import argparse
from typing import TYPE_CHECKING, Any

from pykora.cli.errors import EXIT_FAILURE, EXIT_OK, CliError, error
from pykora.cli.layout import MAX_DECLARED
from pykora.cli.numbers import block_label, count_text, idx_text, json_value, plural
from pykora.cli.output import Output
from pykora.cli.parser import Parser, integer
from pykora.cli.render.json import write_json
from pykora.cli.source import STDIN, Source, display_name, read_source

if TYPE_CHECKING:
    from pykora._layout import BlockSummary
    from pykora.cli.source import FloatArray

NAME = "info"
HELP = "describe result files: blocks, pairs, padding, NaN, ranges"
DESCRIPTION = (
    "Describe each result file without printing its values: its size, its blocks and "
    "their pairs, the NaN padding the decoders add to a block cut short, the NaN and "
    "infinite values, the range of the finite x and y values and the blocks' idx. "
    "With --format json, one object per file, every figure exact; several files give one "
    "object keyed by each file's name. The exit status is the worst of the files'."
)
FORMATS = ("text", "json")
#: Significant digits of x and y in the text form, as tables show numbers.
DEFAULT_PRECISION = 6
#: What is null, with ``blocks``, where the values cannot be read as blocks.
_BLOCK_COUNTS = ("pairs", "padded_pairs", "empty_blocks", "pairs_per_block", "leftover")
_RANGES = ("x", "y", "idx")


def add_arguments(info: Parser) -> None:
    info.add_argument("files", nargs="+", metavar="FILE", help="a result file; - reads stdin")
    info.add_argument(
        "--format",
        choices=FORMATS,
        default="text",
        help="text, for people, or JSON, every figure exact (default: %(default)s)",
    )
    info.add_argument(
        "--precision",
        type=integer(1, 17),
        default=DEFAULT_PRECISION,
        metavar="N",
        help="significant digits of the x and y ranges in the text form, 1 to 17; JSON is "
        "always exact (default: %(default)s)",
    )


def check(args: argparse.Namespace) -> str | None:
    if args.files.count(STDIN) > 1:
        return "standard input (-) can be read only once"
    if args.format == "json" and len(set(args.files)) < len(args.files):
        twice = next(arg for arg in args.files if args.files.count(arg) > 1)
        return f"{twice} is named twice; the JSON object keys each file by its name"
    return None


def _exact_count(values: FloatArray, summary: BlockSummary) -> int:
    """The most pairs a block declares, beyond the layout's cap too.

    Only the last block can reach the cap (2**62 pairs would take 2**63
    values), so its own count says how far beyond it goes.
    """
    most = summary["most_pairs"]
    last = summary["last_start"]
    if most < MAX_DECLARED or last is None:
        return most
    return round(float(values[last + 1]))


def _unreadable_count(values: FloatArray, summary: BlockSummary) -> str:
    """Which count stopped the scan, and what it is."""
    start = summary["end"]
    label = block_label(summary["blocks"], float(values[start]))
    count = idx_text(float(values[start + 1]))  # NaN, inf or -inf
    return f"{label} has a count of {count}, at index {start + 1} of the values"


def _block_counts(values: FloatArray, summary: BlockSummary) -> dict[str, Any]:
    blocks = summary["blocks"]
    most = _exact_count(values, summary)
    least = most if blocks == 1 else summary["least_pairs"]
    return {
        "blocks": blocks,
        "pairs": summary["pairs"],
        # What the cap left out of the padding, if anything, is added back.
        "padded_pairs": summary["padded_pairs"] + most - summary["most_pairs"],
        "empty_blocks": summary["empty_blocks"],
        "pairs_per_block": {"min": least, "max": most} if blocks else None,
        "leftover": int(values.size) - summary["end"],
    }


def _range(bounds: tuple[float, float] | None) -> dict[str, float] | None:
    return None if bounds is None else {"min": bounds[0], "max": bounds[1]}


def _ranges(values: FloatArray, summary: BlockSummary) -> dict[str, Any]:
    last = summary["last_start"]
    idx = None
    if last is not None:
        idx = {
            "first": float(values[0]),
            "last": float(values[last]),
            "integral": summary["idx_integral"],
            "increasing": summary["idx_increasing"],
        }
    return {"x": _range(summary["x"]), "y": _range(summary["y"]), "idx": idx}


def describe(source: Source) -> dict[str, Any]:
    """The description of one file: its JSON document, every figure exact."""
    from pykora._layout import block_summary

    values = source.values
    summary = block_summary(values)
    n_values = int(values.size)
    document = {"file": source.name, "bytes": 8 * n_values, "values": n_values}
    nonfinite = {"nan_values": summary["nan_values"], "inf_values": summary["inf_values"]}
    if not summary["complete"]:
        unread = {"blocks": None, "reason": _unreadable_count(values, summary)}
        return document | unread | dict.fromkeys(_BLOCK_COUNTS) | nonfinite | dict.fromkeys(_RANGES)
    return document | _block_counts(values, summary) | nonfinite | _ranges(values, summary)


# The text form -------------------------------------------------------------------------


def _number(value: float, precision: int) -> str:
    return f"{value:.{precision}g}"


def _span(bounds: dict[str, float] | None, precision: int) -> str:
    if bounds is None:
        return "no finite value"
    return f"{_number(bounds['min'], precision)} to {_number(bounds['max'], precision)}"


def text(document: dict[str, Any], precision: int) -> str:
    """The description for people: a header line, then one line a figure, x and y to
    ``precision`` significant digits and idx exact, as block labels give it."""
    size = f"{plural(document['bytes'], 'byte')}, {plural(document['values'], 'value')}"
    lines = [f"{document['file']}: {size}"]
    rows: list[tuple[str, str]] = []
    if document["blocks"] is None:
        rows.append(("blocks", f"none: {document['reason']}"))
    else:
        blocks, per_block = document["blocks"], document["pairs_per_block"]
        sizes = ""
        if per_block is not None:
            least, most = per_block["min"], per_block["max"]
            pairs = f"{count_text(most)} pair{'s' * (most != 1)}"
            sizes = f", of {pairs}" if least == most else f", of {count_text(least)} to {pairs}"
        rows.append(("blocks", f"{blocks}{sizes}; {document['empty_blocks']} empty"))
        padding = count_text(document["padded_pairs"])
        # Only the last block can be cut short, so the padding is all its own.
        where = f", in {block_label(blocks - 1, document['idx']['last'])}" if padding != "0" else ""
        rows.append(("pairs", f"{document['pairs']} in the file; {padding} of NaN padding{where}"))
        leftover = document["leftover"]
        rows.append(("leftover", "1 value after the last block" if leftover else "none"))
    rows += [
        ("NaN values", str(document["nan_values"])),
        ("inf values", str(document["inf_values"])),
    ]
    if document["blocks"] is not None:
        rows += [("x", _span(document["x"], precision)), ("y", _span(document["y"], precision))]
        idx = document["idx"]
        if idx is None:
            rows.append(("idx", "none"))
        else:
            kinds = [("" if idx[k] else "not ") + k for k in ("integral", "increasing")]
            span = f"{idx_text(idx['first'])} to {idx_text(idx['last'])}"
            rows.append(("idx", f"{span}; {', '.join(kinds)}"))
    width = max(len(key) for key, _ in rows)
    lines += [f"  {key:{width}}  {value}" for key, value in rows]
    return "\n".join(lines) + "\n"


def run(args: argparse.Namespace, out: Output) -> int:
    documents: dict[str, Any] = {}
    status = EXIT_OK
    for arg in args.files:
        try:
            document = describe(read_source(arg))
        except CliError as exc:
            status = max(status, _failed(out, str(exc), exc.code))
            continue
        except MemoryError:
            message = f"{display_name(arg)}: not enough memory"
            status = max(status, _failed(out, message, EXIT_FAILURE))
            continue
        if args.format == "json":
            documents[arg] = document
            continue
        if documents:
            out.write("\n")
        documents[arg] = document
        out.write(text(document, args.precision))
    if args.format == "json" and documents:
        several = len(args.files) > 1
        write_json(out, json_value(documents if several else next(iter(documents.values()))))
    return status


def _failed(out: Output, message: str, code: int) -> int:
    """Report a file that cannot be described, after what was written before it."""
    out.flush()
    error(message)
    return code
