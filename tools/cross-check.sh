#!/usr/bin/env bash
# Compiles the core library for 64-bit ARM (objects only, nothing is linked or run), so that
# code meant for x86 vector units stays behind its guards. Needs g++-aarch64-linux-gnu.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cxx=$(command -v aarch64-linux-gnu-g++ || true)
if [ -z "$cxx" ]; then
  echo "cross-check: aarch64-linux-gnu-g++ is not installed (package g++-aarch64-linux-gnu)" >&2
  exit 1
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
n=0
for f in "$root"/src/scene/*.cpp "$root"/src/render/*.cpp "$root"/src/picture/*.cpp "$root"/src/serial/*.cpp; do
  "$cxx" -std=c++17 -O1 -c -fPIC -ffp-contract=off -fno-math-errno -Wall -Wextra -Werror=attributes \
    -I"$root/src" $(pkg-config --cflags Qt6Core Qt6Gui) "$f" -o "$out/$(basename "$f").o"
  n=$((n + 1))
done
echo "cross-check: $n files of the core compile for aarch64"
