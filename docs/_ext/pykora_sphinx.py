"""What pykora's pages generate from the package itself, so that they cannot drift from it.

* ``pykora-options``: the table of every option, its default and the type of its default, as
  ``pykora.options`` reports them at build time; the directive's content adds a note per key.
* ``pykora-api``: every public function of a module, with its signature from the module's
  stub (``binary.pyi``, ``options.pyi``) and its docstring exactly as the module has it.
* ``pykora-scaling-table``: the figures of ``bench/bench_scaling.py --json``, from the file
  given, with the conditions they were measured in.
* ``pykora-benchmarks``: the figures of the bench scripts, from the file given.
* ``cli_parser()``: the command line's parser for ``sphinx-argparse``, found through the
  ``pykora_cli_parser`` setting of conf.py.

A key or a function that the package does not have, a public function without a stub, and
options set in the building process are errors, which fail the build.
"""

from __future__ import annotations

import ast
import importlib
import inspect
from pathlib import Path
from typing import Any

from docutils.parsers.rst import directives
from sphinx.application import Sphinx
from sphinx.util.docutils import SphinxDirective

_cli_parser_path = ""


def cli_parser() -> Any:
    """The command line's top-level parser, for ``.. argparse:: :module: pykora_sphinx``."""
    module_name, _, attr = _cli_parser_path.partition(":")
    made = getattr(importlib.import_module(module_name), attr)()
    return made[0] if isinstance(made, tuple) else made


class _GeneratedMarkup(SphinxDirective):
    def parse_markup(self, lines: list[str]) -> list[Any]:
        from docutils import nodes
        from docutils.statemachine import StringList

        container = nodes.container()
        self.state.nested_parse(StringList(lines, self.get_source_info()[0]), 0, container)
        return list(container.children)


class OptionsTable(_GeneratedMarkup):
    """Every option in lookup order: key, default, type of the default, and the note given."""

    has_content = True

    def run(self) -> list[Any]:
        import pykora.options as options

        if options._KORA_OPTIONS:
            raise self.error(
                "options were set in the building process, so the table would not show defaults: "
                f"{sorted(options._KORA_OPTIONS)}"
            )
        effective = options.kora_get_option()
        defaults = options.kora_get_option_default()
        notes = {}
        for line in self.content:
            key, sep, note = line.partition(": ")
            if not sep or key not in effective:
                raise self.error(f"not an option of pykora.options: {key!r}")
            notes[key] = note
        rows = ["```{list-table}", ":header-rows: 1", ":widths: 22 12 8 58", ""]
        rows += ["* - Key", "  - Default", "  - Type", "  - Notes"]
        for key, value in effective.items():
            if key in defaults:
                default = f"`{value!r}`"
            else:
                default = f"computed: `{value!r}`"
            rows += [f"* - `{key}`", f"  - {default}", f"  - `{type(value).__name__}`"]
            rows += [f"  - {notes.get(key, '')}"]
        rows.append("```")
        return self.parse_markup(rows)


class ModuleApi(_GeneratedMarkup):
    """A module's docstring and its public functions (and the private ones named)."""

    required_arguments = 1
    option_spec = {"private": directives.unchanged}

    def run(self) -> list[Any]:
        name = self.arguments[0]
        module = importlib.import_module(name)
        stub = Path(module.__file__).with_name(name.rpartition(".")[2] + ".pyi")
        self.env.note_dependency(str(stub))
        functions = {
            node.name: node
            for node in ast.parse(stub.read_text()).body
            if isinstance(node, ast.FunctionDef)
        }
        # The module's own functions: the helpers it imports from sibling modules are theirs.
        public = [
            n
            for n in dir(module)
            if n.startswith("kora_") and getattr(getattr(module, n), "__module__", "") == name
        ]
        missing = sorted(set(public) - set(functions))
        if missing:
            raise self.error(f"{name} binds functions its stub does not declare: {missing}")
        wanted = set(public) | set(self.options.get("private", "").split())
        lines = [f"```{{py:module}} {name}", "```", ""]
        lines += _verbatim(module.__doc__)
        for function_name, node in functions.items():
            if function_name not in wanted:
                continue
            if not hasattr(module, function_name):
                raise self.error(f"{name} has no {function_name}, which its stub declares")
            signature = f"{function_name}({ast.unparse(node.args)})"
            if node.returns is not None:
                signature += f" -> {ast.unparse(node.returns)}"
            lines += [f"````{{py:function}} {signature}", f":module: {name}", ""]
            lines += _verbatim(getattr(module, function_name).__doc__)
            lines += ["````", ""]
        return self.parse_markup(lines)


class ScalingTable(_GeneratedMarkup):
    """The figures of bench_scaling runs, the conditions of each, then one row per job, cache
    state and mode with every run's best time and speedup side by side."""

    required_arguments = 1

    def run(self) -> list[Any]:
        import json

        path = Path(self.env.doc2path(self.env.docname)).parent / self.arguments[0]
        self.env.note_dependency(str(path))
        runs = json.loads(path.read_text())["runs"]
        lines = []
        for number, run in enumerate(runs, 1):
            lines += [
                f"- Run {number}: {run['files']:,} files of {run['megabytes']:g} MB, "
                f"{run['workers']} workers, best and median of {run['repeat']} rounds, on "
                f"{run['date']}, {run['cpus']} CPUs, Python {run['python']}, NumPy "
                f"{run['numpy']}, nice {run['nice']}; load average (1, 5, 15 minutes) "
                f"{run['load_before']} before, {run['load_after']} after."
            ]
        lines.append("")
        first = runs[0]["results"]
        rows = []
        for row in first:
            key = (row["job"], row["cache"], row["mode"])
            same = [
                next(r for r in run["results"] if (r["job"], r["cache"], r["mode"]) == key)
                for run in runs
            ]
            rows.append(
                [
                    *key,
                    " / ".join(f"{r['best']:.3f}" for r in same),
                    " / ".join(f"{r['speedup']:.2f}×" for r in same),
                ]
            )
        header = ["Job", "Cache", "Mode", "Best (s), runs 1 / 2 / ...", "Speedup, runs 1 / 2 / ..."]
        lines += _table(header, rows)
        return self.parse_markup(lines)


class BenchmarkTables(_GeneratedMarkup):
    """The figures of bench_binary, bench_options and bench_cli, as tables."""

    required_arguments = 1

    def run(self) -> list[Any]:
        import json

        path = Path(self.env.doc2path(self.env.docname)).parent / self.arguments[0]
        self.env.note_dependency(str(path))
        data = json.loads(path.read_text())
        lines = [f"Measured on {data['date']}. {data['note']}", ""]
        lines += _table(
            ["Function", "Case", "Native", "Plain", "Speedup"],
            [
                [
                    f"`{r['function']}`",
                    r["case"],
                    _seconds(r["native_s"]),
                    _seconds(r["reference_s"]),
                    f"{r['reference_s'] / r['native_s']:.2f}×",
                ]
                for r in data["binary"]
            ],
        )
        lines += _table(
            ["Call", "Native (ns)", "Plain (ns)", "Speedup"],
            [
                [
                    f"`{r['call']}`",
                    str(r["native_ns"]),
                    str(r["reference_ns"]),
                    f"{r['reference_ns'] / r['native_ns']:.2f}×",
                ]
                for r in data["options"]
            ],
        )
        if "cli" in data:
            lines += ["`python -m pykora` on the files of `bench/bench_cli.py`:", ""]
            lines += _table(
                ["Command", "Seconds", "Peak memory (MB)", "Output (bytes)"],
                [
                    [
                        f"`{r['case']}`",
                        f"{r['seconds']:.2f}",
                        str(r["peak_mb"]),
                        f"{r['output_bytes']:,}",
                    ]
                    for r in data["cli"]
                ],
            )
        if "cli_polars" in data:
            lines += [
                "The outputs of `blocks.dat` (208 MB, 2 million blocks), from the process's "
                "start to the last byte read from its standard output: the command line "
                "before its text was formatted natively, now, and polars' "
                "`DataFrame.write_csv` of the same columns, timed alone and from the start "
                "of a process that reads the file and makes the columns:",
                "",
            ]
            lines += _table(
                ["Output", "Before (s)", "Now (s)", "polars write (s)", "polars from start (s)"],
                [
                    [
                        r["output"],
                        f"{r['before_s']:.2f}",
                        f"{r['after_s']:.2f}",
                        "" if r["polars_write_s"] is None else f"{r['polars_write_s']:.2f}",
                        ""
                        if r["polars_from_start_s"] is None
                        else f"{r['polars_from_start_s']:.2f}",
                    ]
                    for r in data["cli_polars"]
                ],
            )
        return self.parse_markup(lines)


def _seconds(value: float) -> str:
    if value >= 1:
        return f"{value:.3f} s"
    if value >= 1e-3:
        return f"{value * 1e3:.2f} ms"
    return f"{value * 1e6:.1f} µs"


def _table(header: list[str], rows: list[list[str]]) -> list[str]:
    lines = ["```{list-table}", ":header-rows: 1", ":widths: auto", ""]
    for row in [header, *rows]:
        lines += [f"* - {row[0]}", *(f"  - {cell}" for cell in row[1:])]
    return [*lines, "```", ""]


def _verbatim(docstring: str | None) -> list[str]:
    """A docstring as help() shows it, indentation cleaned, as a literal block."""
    if not docstring:
        return []
    return ["```text", *inspect.cleandoc(docstring).splitlines(), "```", ""]


def _remember_parser(app: Sphinx, config: Any) -> None:
    global _cli_parser_path
    _cli_parser_path = config.pykora_cli_parser


def setup(app: Sphinx) -> dict[str, Any]:
    app.add_config_value("pykora_cli_parser", "", "env", types=[str])
    app.connect("config-inited", _remember_parser)
    app.add_directive("pykora-options", OptionsTable)
    app.add_directive("pykora-api", ModuleApi)
    app.add_directive("pykora-scaling-table", ScalingTable)
    app.add_directive("pykora-benchmarks", BenchmarkTables)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
