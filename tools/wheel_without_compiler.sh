#!/usr/bin/env bash
# Installs the repaired wheel of tools/build_wheel.sh into a new virtual
# environment where no compiler can be reached, and runs the suite there: CC
# and CXX name `false`, and PATH leads only to the venv and to copies of the
# system's commands without the compilers. A wheel that needed a build step
# at install time would fail here.
#
#   tools/wheel_without_compiler.sh
set -euo pipefail
cd "$(dirname "$0")/.."
venv=build/wheel-venv
bin=build/no-compiler-bin
wheel="$(bash tools/build_wheel.sh)"
rm -rf "$venv" "$bin"
python -m venv "$venv"
mkdir -p "$bin"
for dir in /usr/local/bin /usr/bin /bin; do
  for tool in "$dir"/*; do
    case "${tool##*/}" in
      cc | c++ | gcc* | g++* | cpp* | clang* | *-gcc* | *-g++* | *-cc | *-c++ | c89* | c99* | ld | ld.* | *-ld | *-ld.*) ;;
      *) [ -e "$bin/${tool##*/}" ] || ln -s "$tool" "$bin/${tool##*/}" ;;
    esac
  done
done

export PATH="$PWD/$venv/bin:$PWD/$bin" CC=false CXX=false
for tool in cc c++ gcc g++ clang clang++; do
  if command -v "$tool" >/dev/null; then
    echo "a compiler is still reachable: $(command -v "$tool")" >&2
    exit 1
  fi
done
python -m pip install --quiet "${wheel}[test]"
python -m tools.version_report --under "$venv"
python -m pytest -q -p no:cacheprovider tests
