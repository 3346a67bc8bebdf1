#!/usr/bin/env bash
# Builds the sdist of this checkout into build/dist/ and prints its path,
# after checking that it holds only files that git tracks (and the PKG-INFO
# the build writes): a stray file left in the checkout, such as the
# quick start's demo/*.dat, fails the build instead of shipping.
#
# Whether the sdist holds everything a build needs is shown by building it:
# tools/test_matrix.sh debian X.Y and tools/debug_python.sh install from it.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/dist
rm -rf "$out"
python -m pip install --quiet "build>=1.2"
python -m build --sdist --outdir "$out" . >&2
sdist="$(ls "$out"/pykora-*.tar.gz)"

stray="$(
  tar -tzf "$sdist" | grep -v '/$' | sed 's|^[^/]*/||' | grep -v -x 'PKG-INFO' |
    sort | comm -23 - <(git ls-files | sort)
)"
if [ -n "$stray" ]; then
  echo "$sdist holds files that git does not track:" >&2
  while read -r file; do echo "  $file"; done <<<"$stray" >&2
  exit 1
fi
echo "$sdist"
