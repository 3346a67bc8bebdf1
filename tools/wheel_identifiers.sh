#!/usr/bin/env bash
# Checks that the release configuration ([tool.cibuildwheel] in
# pyproject.toml) builds exactly the wheels the README promises: CPython
# 3.11 to 3.15 on manylinux, x86_64 and aarch64. cibuildwheel lists them
# without containers; its release is the one the release workflow pins.
#
#   tools/wheel_identifiers.sh
set -euo pipefail
cd "$(dirname "$0")/.."
pin="$(sed -n 's/^  CIBUILDWHEEL: *//p' .github/workflows/release.yml)"
python -m pip install --quiet "$pin"
expected="$(for v in 311 312 313 314 315; do
  for arch in x86_64 aarch64; do echo "cp$v-manylinux_$arch"; done
done | sort)"
listed="$(cibuildwheel --print-build-identifiers --platform linux | sort)"
echo "$listed" | tr '\n' ' '
echo
if [ "$listed" != "$expected" ]; then
  echo "cibuildwheel would build a different set of wheels:" >&2
  diff <(echo "$expected") <(echo "$listed") | sed -n 's/^</  missing:/p; s/^>/  extra:  /p' >&2
  exit 1
fi
