#!/usr/bin/env bash
# Builds the documentation site into docs/_build/html with every warning an error (and every
# internal reference checked), then runs every example on its pages and in the README and
# compares what each prints with what the page shows. Needs `pip install ".[docs]"`.
#
#   bash tools/docs.sh            build, then check the examples
#   bash tools/docs.sh --open     ... and print the path of the front page
set -euo pipefail
cd "$(dirname "$0")/.."
rm -rf docs/_build
started=$SECONDS
python -m sphinx -W --keep-going -n -q -b html docs docs/_build/html
echo "site built in $((SECONDS - started)) s: docs/_build/html/index.html"
python -m pytest -q -p no:cacheprovider tests/docs
