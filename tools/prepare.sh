#!/usr/bin/env bash
# Installs what a stage needs (Debian 12), then configures and builds `build/`.
# Usage: tools/prepare.sh [run|headless|package|test|ci]
#   run       the compiler, CMake and Qt; builds the two programs only (the default)
#   headless  run, plus Xvfb, so that `xvfb-run ./run.sh` shows the window without a display
#   package   run, plus the packaging tools (file, dpkg-dev)
#   test      run, plus the end-to-end window test's X server, xdotool and ImageMagick, and ffmpeg for
#             the video tests; builds everything: programs, tests and benchmarks
#   ci        test, plus clang for the fuzzers, the packaging tools, an ARM cross compiler, GNU
#             parallel, Slurm and debootstrap for the checks of the README and the package
# Safe to call again: it installs only what is missing and rebuilds only what changed. Every
# stage prints its progress; the tools' whole output shows only when a step fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
stage=${1:-run}

packages=(cmake make g++ pkg-config qt6-base-dev qt6-qpa-plugins libgl-dev zlib1g-dev fonts-dejavu-core)
x_tools=(xvfb xauth xdotool imagemagick openbox)
target=(--target programs)
case "$stage" in
  run) ;;
  headless) packages+=(xvfb xauth) ;;
  package) packages+=(file dpkg-dev) ;;
  test) packages+=("${x_tools[@]}" ffmpeg); target=() ;;
  ci) packages+=("${x_tools[@]}" ffmpeg clang-14 libclang-rt-14-dev dpkg-dev file g++-aarch64-linux-gnu
                 parallel slurmctld slurmd slurm-client munge debootstrap)
      target=() ;;
  *) echo "prepare: unknown stage '$stage' (run, headless, package, test or ci)" >&2; exit 2 ;;
esac

# Shows apt's progress from its status lines (APT::Status-Fd) on standard input: a line when
# the step changes and at most one every five seconds, so a long download is never silent.
show_apt_progress() {
  local line kind pct what shown="" last=0 now got
  while true; do
    got=0
    IFS= read -r -t 20 line || got=$?
    if ((got > 128)); then
      # Nothing for 20 seconds (a slow mirror, triggers): say it is still going.
      echo "  ... still working" >&2
      continue
    fi
    ((got == 0)) || break
    IFS=: read -r kind _ pct what <<<"$line"
    case "$kind" in
      dlstatus) what="downloading" ;;
      pmstatus) what="unpacking and setting up" ;;
      *) continue ;;
    esac
    now=$SECONDS
    if [ "$what" != "$shown" ] || ((now - last >= 5)); then
      printf '  %s, %.0f%%\n' "$what" "$pct" >&2
      shown=$what
      last=$now
    fi
  done
}

# Runs apt-get (through sudo when needed) with its progress shown and its own output kept in a
# file that is printed only if it fails, so debconf's and dpkg's chatter stays out of sight.
apt_quietly() {
  local log status
  log=$(mktemp)
  set +e
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive sh -c 'log=$1; shift; exec "$@" 3>&1 >"$log" 2>&1' sh "$log" \
    apt-get -o DPkg::Lock::Timeout=600 -o APT::Status-Fd=3 -o Dpkg::Use-Pty=0 "$@" | show_apt_progress
  status=${PIPESTATUS[0]}
  set -e
  if [ "$status" -ne 0 ]; then
    cat "$log" >&2
    rm -f "$log"
    echo "prepare: apt-get $1 failed (status $status)" >&2
    exit 1
  fi
  rm -f "$log"
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    # sudo is used only where it is allowed: at once, or after asking for a password on a
    # terminal. Otherwise the command to run as root is all that is said.
    if command -v sudo >/dev/null 2>&1 && { sudo -n true 2>/dev/null || { [ -t 0 ] && sudo -v 2>/dev/null; }; }; then
      sudo=(sudo)
    else
      {
        echo "Lumivex needs these Debian packages, and this user may not install them: ${missing[*]}"
        echo "Run this as root (for instance after 'su -'), then run this command again:"
        echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
      } >&2
      exit 1
    fi
  fi
  echo "Installing ${#missing[@]} Debian packages, first run only (this downloads them): ${missing[*]}" >&2
  echo "Updating the package lists" >&2
  apt_quietly update
  echo "Installing the packages and what they need" >&2
  apt_quietly install -y --no-install-recommends "${missing[@]}"
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
echo "Building $build${target:+ (the two programs)}" >&2
# The compile and link steps show as they start, with the build's percentage; the rest of the
# build's output shows only when it fails.
log=$(mktemp)
set +e
cmake --build "$build" -j"$(nproc)" "${target[@]}" 2>&1 | tee "$log" |
  sed -nE -u 's#^(\[ *[0-9]+%\]) Building CXX object (.*/)?CMakeFiles/[^/]+\.dir/(.*)\.o$#\1 compiling \2\3#p
              s#^(\[ *[0-9]+%\]) Linking CXX (static library|executable) (\.\./)*(.*)#\1 linking \4#p' >&2
status=${PIPESTATUS[0]}
set -e
if [ "$status" -ne 0 ]; then
  cat "$log" >&2
  rm -f "$log"
  exit 1
fi
rm -f "$log"
