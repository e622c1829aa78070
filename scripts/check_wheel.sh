#!/bin/sh
# Installs the newest manylinux wheel of tarnwell from $1 into a brand-new
# venv and runs one detection there, with only that venv on PATH (so no
# compiler can be found) and binary packages only (so pip builds nothing).
set -eu
wheel=$(ls -t "$1"/tarnwell-*manylinux*.whl | head -n 1)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
python3 -m venv "$root/venv"
bin="$root/venv/bin"
if env PATH="$bin" /bin/sh -c 'command -v g++ || command -v c++ || command -v cc || command -v clang++' >/dev/null 2>&1; then
  echo "check_wheel: a compiler is still on PATH" >&2
  exit 1
fi
env -u CC -u CXX PATH="$bin" "$bin/python" -m pip install -q --only-binary=:all: "$wheel"
cd "$root"  # away from the source tree, so the installed package is the one imported
env -u CC -u CXX PATH="$bin" "$bin/python" -c '
import tarnwell
result = tarnwell.detect([0] * 50 + [5] * 50)
assert result.breakpoints == [50, 100], result.breakpoints
print("wheel works:", tarnwell.__file__, result.breakpoints)
'
