#!/usr/bin/env bash
# Installs what a stage needs (Debian 12), then configures and builds `build/`.
# Usage: tools/prepare.sh [run|test|ci]
#   run   building and running the program (the default)
#   test  also the end-to-end window test's X server, xdotool and ImageMagick, and ffmpeg
#   ci    also clang for the fuzzers, the packaging tools and an ARM cross compiler
# Safe to call again: it installs only what is missing and rebuilds only what changed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
stage=${1:-run}

packages=(cmake make g++ pkg-config qt6-base-dev qt6-qpa-plugins libgl-dev fonts-dejavu-core)
case "$stage" in
  run) ;;
  test) packages+=(xvfb xauth xdotool imagemagick ffmpeg) ;;
  ci) packages+=(xvfb xauth xdotool imagemagick ffmpeg clang-14 libclang-rt-14-dev dpkg-dev file g++-aarch64-linux-gnu) ;;
  *) echo "prepare: unknown stage '$stage' (run, test or ci)" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "Lumivex needs these Debian packages: ${missing[*]}" >&2
      echo "Install them as root, then run this again:  apt-get install ${missing[*]}" >&2
      exit 1
    fi
    sudo=sudo
  fi
  echo "Installing ${#missing[@]} Debian packages, first run only (this downloads them): ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Quiet when all goes well; the whole output when a step fails.
quietly() {
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
}

build=${LUMIVEX_BUILD_DIR:-$root/build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "Configuring $build" >&2
  quietly cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release ${LUMIVEX_CMAKE_ARGS:-}
fi
echo "Building $build" >&2
quietly cmake --build "$build" -j"$(nproc)"
