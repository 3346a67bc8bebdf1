#!/usr/bin/env bash
# Builds the documentation site into docs/_build/html with every warning an error and every
# internal reference checked, then runs every example on its pages and in the README, each
# compared byte for byte with what the page shows, and the scaling tests on a Dask cluster.
# What it needs is the `docs` extra of pyproject.toml, which it installs into the current
# environment if it is missing (the package itself must be installed already):
#
#   pip install ".[docs]" && bash tools/docs.sh
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t needed < <(python - <<'PY'
import tomllib

with open("pyproject.toml", "rb") as f:
    print("\n".join(tomllib.load(f)["project"]["optional-dependencies"]["docs"]))
PY
)
python -m pip install --quiet "${needed[@]}"
rm -rf docs/_build
started=$SECONDS
python -m sphinx -W --keep-going -n -q -b html docs docs/_build/html
echo "site built in $((SECONDS - started)) s: docs/_build/html/index.html"
python -m pytest -q -p no:cacheprovider tests/docs tests/test_scaling.py
