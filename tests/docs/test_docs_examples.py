"""Every example of the documentation, run and compared byte for byte with what its page shows.

The pages are README.md and docs/**/*.md. Each page runs in order, in a new empty directory
that is the current one:

* a ``pycon`` block runs as the interactive interpreter runs it: each ``>>>`` statement, with
  its ``...`` lines, is compiled as ``<stdin>``, and what it prints (its value, stdout, stderr,
  warnings and tracebacks) must be the lines up to the next prompt. A page's statements share
  one namespace, and start from options that nobody has set;
* a ``console`` block's ``$`` lines run in bash, ``python`` being this interpreter, and what
  each prints (stderr, then stdout) must be the lines up to the next ``$``;
* a ``{code-block}`` captioned with a file name is written to that file, for later examples
  to import.

Examples see a machine of 2 CPUs, so that "num.threads" defaults to "2:1", and a terminal 80
columns wide, as where the pages were written. A page whose front matter says
``needs: module, ...`` is skipped where one of those modules cannot be imported.
"""

import code
import contextlib
import difflib
import importlib.util
import io
import os
import re
import shlex
import subprocess
import sys
import warnings
from dataclasses import dataclass
from pathlib import Path

import pytest

TOP = Path(__file__).resolve().parents[2]
PAGES = sorted([TOP / "README.md", *(TOP / "docs").glob("**/*.md")])
PAGES = [page for page in PAGES if page.exists() and "_build" not in page.parts]
FENCE = re.compile(r"^```(\S*)[ \t]*([^\n]*)\n(.*?)^```[ \t]*$", re.M | re.S)
CPUS = 2
PIN_CPUS = f"import os\nos.cpu_count = lambda: {CPUS}\n"


@dataclass
class Example:
    kind: str  # "pycon", "console" or "file"
    line: int  # where it starts on its page
    source: str  # the statement, the command line, or the file's name
    expected: str  # what it prints, or the file's text


def examples(page):
    """The page's examples in order."""
    text = page.read_text()
    found = []
    for fence in FENCE.finditer(text):
        lang, info, body = fence.groups()
        first = text.count("\n", 0, fence.start(3)) + 1
        if lang == "pycon":
            found += _session(body, first, prompt=">>> ", kind="pycon")
        elif lang == "console":
            found += _session(body, first, prompt="$ ", kind="console")
        elif lang == "{code-block}":
            caption = re.match(r":caption: (\S+\.py)\n(?::\w+:.*\n)*\n", body)
            if caption:
                found.append(Example("file", first, caption[1], body[caption.end() :]))
    return found


def _session(body, first, prompt, kind):
    """A block's (statement, output) pairs: a statement runs from its prompt through its
    continuation lines, and what it prints up to the next prompt."""
    found = []
    for number, line in enumerate(body.splitlines(keepends=True), first):
        if line.startswith(prompt):
            found.append(Example(kind, number, line[len(prompt) :], ""))
        elif not found:
            raise AssertionError(f"line {number}: output before the first {prompt.strip()!r}")
        elif kind == "pycon" and not found[-1].expected and re.match(r"\.\.\.( |$)", line):
            found[-1].source += line[4:]
        else:
            found[-1].expected += line
    return found


def needs(page):
    """The modules the page's front matter says its examples need."""
    front = re.match(r"---\n(.*?)\n---\n", page.read_text(), re.S)
    wanted = re.search(r"^needs: *(.+)$", front[1], re.M) if front else None
    return [name.strip() for name in wanted[1].split(",")] if wanted else []


class Console(code.InteractiveInterpreter):
    """The interactive interpreter of one page: statements compiled as <stdin>, everything
    they print written to one stream, and warnings shown as the interpreter shows them, once
    for each message and line until the filters change. Statements are compiled whole, as the
    interpreter's own loop does: the code module's compiler would reset the filters at every
    line, so that the same warning showed again."""

    def __init__(self):
        super().__init__({"__name__": "__main__", "__builtins__": __builtins__})
        self.filename = "<stdin>"

    def __enter__(self):
        self._warnings = warnings.catch_warnings()
        self._warnings.__enter__()
        warnings.resetwarnings()
        warnings.simplefilter("default")
        warnings.showwarning = self.show_warning
        return self

    def __exit__(self, *exc_info):
        return self._warnings.__exit__(*exc_info)

    def run(self, statement):
        out = io.StringIO()
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(out):
            try:
                compiled = compile(statement, self.filename, "single")
            except SyntaxError:
                self.showsyntaxerror(self.filename)
            else:
                self.runcode(compiled)
        return out.getvalue()

    @staticmethod
    def show_warning(message, category, filename, lineno, file=None, line=None):
        sys.stderr.write(warnings.formatwarning(message, category, filename, lineno, line))


def run_command(command, where, shims):
    env = dict(os.environ, COLUMNS="80", PYTHONPATH=str(shims))
    env["PATH"] = f"{shims}{os.pathsep}{env['PATH']}"
    done = subprocess.run(
        ["bash", "-c", command], cwd=where, env=env, capture_output=True, text=True, timeout=120
    )
    return done.stderr + done.stdout


@pytest.fixture(scope="module")
def shims(tmp_path_factory):
    """`python` for this interpreter, and a sitecustomize that shows it 2 CPUs."""
    where = tmp_path_factory.mktemp("shims")
    (where / "python").write_text(f'#!/bin/sh\nexec {shlex.quote(sys.executable)} "$@"\n')
    (where / "python").chmod(0o755)
    (where / "sitecustomize.py").write_text(PIN_CPUS)
    return where


@pytest.fixture
def fresh_options():
    """Options as a new process has them, during the page and restored after it."""
    from pykora.options import _KORA_OPTIONS

    saved = dict(_KORA_OPTIONS)
    _KORA_OPTIONS.clear()
    yield
    _KORA_OPTIONS.clear()
    _KORA_OPTIONS.update(saved)


def checked(pages):
    """Pages as test parameters, skipped where what they need is missing."""
    for page in pages:
        missing = [name for name in needs(page) if importlib.util.find_spec(name) is None]
        marks = [pytest.mark.skip(reason=f"needs {', '.join(missing)}")] if missing else []
        yield pytest.param(page, id=str(page.relative_to(TOP)), marks=marks)


@pytest.mark.skipif(not (TOP / "docs").is_dir(), reason="no docs/ beside the tests (an sdist)")
@pytest.mark.parametrize("page", list(checked(PAGES)))
def test_examples_print_what_the_page_shows(
    page, tmp_path, monkeypatch, shims, fresh_options, count_examples
):
    monkeypatch.chdir(tmp_path)
    monkeypatch.syspath_prepend(str(tmp_path))  # for the files the page writes
    monkeypatch.setattr(os, "cpu_count", lambda: CPUS)
    monkeypatch.setenv("COLUMNS", "80")
    ran = 0
    with Console() as console:
        for example in examples(page):
            if example.kind == "file":
                (tmp_path / example.source).write_text(example.expected)
                continue
            if example.kind == "pycon":
                got = console.run(example.source)
            else:
                got = run_command(example.source, tmp_path, shims)
            ran += 1
            if got != example.expected:
                diff = "".join(
                    difflib.unified_diff(
                        example.expected.splitlines(True), got.splitlines(True), "page", "run"
                    )
                )
                pytest.fail(
                    f"{page.relative_to(TOP)}:{example.line}: {example.source.strip()}\n{diff}",
                    pytrace=False,
                )
    count_examples(ran)
