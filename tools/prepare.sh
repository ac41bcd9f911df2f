#!/usr/bin/env bash
# Installs what the build and tests need (Debian 12), then configures and builds `build/`.
# Safe to call again: it installs only what is missing and rebuilds only what changed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

packages=(cmake make g++ pkg-config qt6-base-dev qt6-qpa-plugins libgl-dev fonts-dejavu-core
          xvfb xauth xdotool imagemagick clang-14 libclang-rt-14-dev dpkg-dev file)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

build=${LUMIVEX_BUILD_DIR:-$root/build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release ${LUMIVEX_CMAKE_ARGS:-} >/dev/null
fi
cmake --build "$build" -j"$(nproc)"
