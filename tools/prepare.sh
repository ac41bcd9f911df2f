#!/usr/bin/env bash
# Installs what a stage needs (Debian 12), then configures and builds `build/`.
# Usage: tools/prepare.sh [run|headless|package|test|ci]
#   run       the compiler, CMake, Qt and help2man (for the manual pages); builds the two
#             programs and their manual pages only (the default)
#   headless  run, plus Xvfb, so that `xvfb-run ./run.sh` shows the window without a display
#   package   run, plus the packaging tools (file, dpkg-dev); a build folder it configures gets
#             Debian's hardening flags (dpkg-buildflags) and no tests (tools/package.sh uses
#             build/deb)
#   test      run, plus the end-to-end window test's X server, xdotool and ImageMagick, and ffmpeg for
#             the video tests; builds everything: programs, tests and benchmarks
#   ci        test, plus clang for the fuzzers, the packaging tools, QEMU for the ARM check, GNU
#             parallel, Slurm and debootstrap for the checks of the README, and lintian,
#             AppStream's validator and man for the checks of the package
# Safe to call again: it installs only what is missing and rebuilds only what changed. Every
# stage prints its progress, and a step that takes long says every 10 s that it is still going;
# the tools' whole output shows only when a step fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
stage=${1:-run}

packages=(cmake make g++ pkg-config qt6-base-dev qt6-qpa-plugins libgl-dev zlib1g-dev fonts-dejavu-core help2man)
x_tools=(xvfb xauth xdotool imagemagick openbox)
target=(--target programs)
case "$stage" in
  run) ;;
  headless) packages+=(xvfb xauth) ;;
  package) packages+=(file dpkg-dev) ;;
  test) packages+=("${x_tools[@]}" ffmpeg); target=() ;;
  ci) packages+=("${x_tools[@]}" ffmpeg clang-14 libclang-rt-14-dev dpkg-dev file qemu-user
                 parallel slurmctld slurmd slurm-client munge debootstrap)
      target=() ;;
  *) echo "prepare: unknown stage '$stage' (run, headless, package, test or ci)" >&2; exit 2 ;;
esac
# What tools/ci-package.sh checks the package with.
[ "$stage" != ci ] || packages+=(lintian appstream man-db)

# Shows what the function named $1 makes of each line on standard input, as the lines come: it
# sets `show` to the line to print, or to nothing. After 10 s with nothing shown it says that the
# work goes on, and since when, so that no step is silent for long.
relay() {
  local filter=$1 line got last="" since=$SECONDS said=$SECONDS wait show=""
  while true; do
    # Lines the filter passes over count as nothing shown.
    wait=$((10 - (SECONDS - said)))
    ((wait >= 1)) || wait=1
    got=0
    IFS= read -r -t "$wait" line || got=$?
    if ((got > 128)); then
      echo "  ... still working${last:+ (last step: $last)}, $((SECONDS - since)) s" >&2
      said=$SECONDS
      continue
    fi
    ((got == 0)) || [ -n "$line" ] || break
    "$filter" "$line"
    if [ -n "$show" ]; then
      echo "$show" >&2
      last=${show#"${show%%[! ]*}"}
      [[ ! $last =~ ^\[\ *[0-9]+%\]\ (.*)$ ]] || last=${BASH_REMATCH[1]}
      since=$SECONDS
      said=$SECONDS
    fi
    ((got == 0)) || break
  done
}

# apt's progress from its status lines (APT::Status-Fd): a line when the step changes and at
# most one every five seconds.
apt_shown="" apt_last=0
apt_line() {
  local kind pct what
  show=""
  IFS=: read -r kind _ pct what <<<"$1"
  case "$kind" in
    dlstatus) what="downloading" ;;
    pmstatus) what="unpacking and setting up" ;;
    *) return 0 ;;
  esac
  if [ "$what" != "$apt_shown" ] || ((SECONDS - apt_last >= 5)); then
    show=$(LC_NUMERIC=C printf '  %s, %.0f%%' "$what" "$pct")
    apt_shown=$what
    apt_last=$SECONDS
  fi
}

# Runs apt-get (through sudo when needed) with its progress shown and its own output kept in a
# file that is printed only if it fails, so debconf's and dpkg's chatter stays out of sight.
apt_quietly() {
  local log status
  log=$(mktemp)
  set +e
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive sh -c 'log=$1; shift; exec "$@" 3>&1 >"$log" 2>&1' sh "$log" \
    apt-get -o DPkg::Lock::Timeout=600 -o APT::Status-Fd=3 -o Dpkg::Use-Pty=0 "$@" | relay apt_line
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
    # sudo is used where it is allowed: at once, or after asking for the password on this
    # session's terminal. Otherwise what is missing, and the command to run as root, is said.
    why="" next="Run this as root (for instance after 'su -'), then run this command again:"
    if ! command -v sudo >/dev/null 2>&1; then
      why="this user is not root, and sudo is not installed"
    elif sudo -n true 2>/dev/null; then
      sudo=(sudo)
    elif ! (: </dev/tty) 2>/dev/null; then
      why="sudo asks for this user's password, and there is no terminal to ask on (as under 'su -c' or 'ssh' without '-t')"
      next="Run this command again from a terminal, or run this as root, then this command again:"
    else
      echo "Installing ${#missing[@]} Debian packages needs root: sudo asks for this user's password" >&2
      if sudo -v; then
        sudo=(sudo)
      else
        why="sudo did not let this user install them"
      fi
    fi
    if [ -n "$why" ]; then
      {
        echo "Lumivex needs these Debian packages: ${missing[*]}"
        echo "They cannot be installed from here: $why."
        echo "$next"
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

# Nothing of CMake's configure output shows but that it is still going.
nothing() { show=""; }

# The build's steps as make starts them, with the build's percentage: each file compiled,
# each program and library linked, Qt's meta-object code generated, each manual page made.
build_line() {
  local l=$1
  show=""
  [[ $l =~ ^(\[\ *[0-9]+%\])\ (.*)$ ]] || return 0
  local pct=${BASH_REMATCH[1]} step=${BASH_REMATCH[2]}
  if [[ $step =~ ^Building\ CXX\ object\ (.*/)?CMakeFiles/[^/]+\.dir/(.*)\.o$ ]]; then
    step="compiling ${BASH_REMATCH[1]}${BASH_REMATCH[2]}"
  elif [[ $step =~ ^Linking\ CXX\ [a-z\ ]+\ (\.\./)*(.*)$ ]]; then
    step="linking ${BASH_REMATCH[2]}"
  elif [[ $step =~ ^Automatic\ MOC\ and\ UIC\ for\ target\ (.*)$ ]]; then
    step="Qt's meta-object code (moc) for ${BASH_REMATCH[1]}"
  elif [[ $step == "Built target "* ]]; then
    return 0
  fi
  show="$pct $step"
}

# Runs a step with its output kept in a file that is printed only if it fails; what the filter
# named $1 picks from the output shows as it comes.
step() {
  local filter=$1 log status
  shift
  log=$(mktemp)
  set +e
  "$@" 2>&1 | tee "$log" | relay "$filter"
  status=${PIPESTATUS[0]}
  set -e
  if [ "$status" -ne 0 ]; then
    cat "$log" >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
}

build=${LUMIVEX_BUILD_DIR:-$root/build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  configure=(-DCMAKE_BUILD_TYPE=Release)
  if [ "$stage" = package ]; then
    # The package's programs get Debian's hardening flags (fortified functions, stack
    # protector, format checks, read-only relocations bound at start), none of which changes
    # a result; the build type's optimisation comes after the flags' -O2 and wins, so the
    # package renders what build/ does, as fast.
    flags() { (cd "$root" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"); }
    configure+=("-DCMAKE_CXX_FLAGS=$(flags CPPFLAGS) $(flags CXXFLAGS)" "-DCMAKE_EXE_LINKER_FLAGS=$(flags LDFLAGS)"
                -DBUILD_TESTING=OFF)
  fi
  echo "Configuring $build" >&2
  # shellcheck disable=SC2086 # LUMIVEX_CMAKE_ARGS holds several arguments
  step nothing cmake -S "$root" -B "$build" "${configure[@]}" ${LUMIVEX_CMAKE_ARGS:-}
fi
echo "Building $build${target:+ (the two programs)}" >&2
step build_line cmake --build "$build" -j"$(nproc)" "${target[@]}"
