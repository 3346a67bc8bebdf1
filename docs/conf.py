"""Sphinx configuration of pykora's documentation.

Build it from the checkout's top with ``bash tools/docs.sh``, which builds with warnings as
errors and then checks every example on the pages; ``pip install ".[docs]"`` installs what it
needs. The pages document the installed package: the options table, the API reference and the
command-line reference are generated from it at every build.
"""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent / "_ext"))

import pykora  # noqa: E402

project = "pykora"
author = "the pykora developers"
copyright = "the pykora developers"  # noqa: A001
release = version = pykora.__version__

extensions = [
    "myst_parser",
    "sphinx.ext.mathjax",
    "sphinxarg.ext",
    "matplotlib.sphinxext.plot_directive",
    "pykora_sphinx",
]

# The command line's parser, as "module:function"; the function returns the parser, or
# (parser, parsers by command) as build_parser does today. The command-line reference is
# generated from what it returns, so this is the one line to change if the parser moves.
pykora_cli_parser = "pykora.cli.parser:build_parser"

source_suffix = {".md": "markdown"}
exclude_patterns = ["_build"]
myst_enable_extensions = ["colon_fence", "deflist"]
myst_heading_anchors = 3

# Every reference inside the documentation must resolve. Types from outside it (Python's
# and NumPy's, which the stubs' signatures name) are not documented here, and there is no
# network to fetch their inventories from.
nitpicky = True
nitpick_ignore_regex = [
    ("py:class", r"(os|np|npt|numpy|typing|collections\.abc)\..+"),
    ("py:class", r"str|bool|int|float|dict|list|tuple|None|Any|Iterable"),
]

html_theme = "pydata_sphinx_theme"
html_title = f"pykora {release}"
html_theme_options = {
    "navigation_with_keys": False,
    "show_toc_level": 2,
    "footer_start": ["copyright"],
    "footer_end": ["sphinx-version"],
}
# Pages without sub-pages need no section navigation.
html_sidebars = {
    page: []
    for page in ("index", "getting-started", "api", "performance", "development", "changelog")
}
# Option names are written with two hyphens, and quotes are Python's: keep both as typed.
smartquotes = False

# Figures drawn at build time from the code on the page: PNG for the page, nothing else.
plot_formats = [("png", 110)]
plot_html_show_formats = False
plot_html_show_source_link = False
plot_include_source = False
