#!/usr/bin/env bash
# The same pictures on 64-bit ARM: cross-builds lumivex-render and the core library's tests for
# arm64 into build-arm64/, runs them under QEMU's user mode, and compares the ARM renderer's
# files byte for byte with the x86 build's (build/, made first if missing): the built-in scene,
# the benchmark's cameras, random scenes, supersampling and the blur, through the fast and the
# plain path.
#
# The cross compiler and Debian's arm64 Qt live in a Debian 12 root of their own (debootstrap,
# kept in LUMIVEX_CI_CACHE, default /var/cache/lumivex-ci, for the next run), since installing
# arm64 libraries beside the machine's own would have apt upgrade or replace the machine's
# packages. Needs root, debootstrap and qemu-user (tools/prepare.sh ci installs them).
#
# LUMIVEX_ARM_SCENES (default 12) sets the number of random scenes, LUMIVEX_ARM_POW_STRIDE
# (default 1031) the sampling of the floats whose eighth power is checked against ARM's pow.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${LUMIVEX_BUILD_DIR:-$root/build}
armbuild=$root/build-arm64
cache=${LUMIVEX_CI_CACHE:-/var/cache/lumivex-ci}
sysroot=$cache/bookworm-arm64-cross
start=$SECONDS
say() { echo "arm-check: $* ($((SECONDS - start)) s)" >&2; }
die() { echo "arm-check: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || die "needs root, for the build root's chroot (run it as root or through sudo)"
command -v qemu-aarch64 >/dev/null || die "qemu-aarch64 is not installed (package qemu-user)"

# Debian's own mirror, as this machine's apt is set up.
mirror() {
  local url
  url=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
        sed -nE 's#^(deb|URIs:)[[:space:]]+(\[[^]]*\][[:space:]]+)?(https?://[^[:space:]]*/debian/?)([[:space:]]|$).*#\3#p' | head -n 1)
  echo "${url:-http://deb.debian.org/debian}"
}

# What the build root holds besides Debian's minimal base: CMake, the cross compiler, the x86
# Qt (its moc and CMake tools run during the build) and the arm64 Qt and zlib linked into the
# programs.
root_packages=(cmake make ccache pkg-config g++-aarch64-linux-gnu qt6-base-dev qt6-base-dev:arm64
               zlib1g-dev:arm64 libqt6test6:arm64)

make_sysroot() {
  local part=$sysroot.part log
  remove_root "$part"
  mkdir -p "$cache"
  log=$(mktemp)
  if [ -f "$cache/bookworm-minbase.tar" ]; then
    # The clean Debian 12 that tools/ci-package.sh keeps, when it has made one.
    mkdir "$part"
    tar -C "$part" -xf "$cache/bookworm-minbase.tar"
  else
    command -v debootstrap >/dev/null || die "debootstrap is not installed (package debootstrap)"
    say "making a Debian 12 build root with debootstrap (a few minutes, once; kept in $cache)"
    if ! debootstrap --variant=minbase bookworm "$part" "$(mirror)" >"$log" 2>&1; then
      tail -n 20 "$log" >&2
      die "debootstrap failed"
    fi
  fi
  cp /etc/resolv.conf "$part/etc/resolv.conf"
  say "installing the cross compiler and the arm64 Qt into the build root"
  if ! { chroot "$part" dpkg --add-architecture arm64 &&
         chroot "$part" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin apt-get -o DPkg::Lock::Timeout=600 update &&
         chroot "$part" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
           apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${root_packages[@]}" &&
         chroot "$part" apt-get clean; } >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    die "could not install the build root's packages"
  fi
  rm -f "$log"
  printf '%s\n' "${root_packages[@]}" >"$part/lumivex-packages"
  mv "$part" "$sysroot"
}

# A run that was killed may have left the project mounted in the build root: take such mounts
# down before anything there is removed, so that removing the root never reaches the project.
release_mounts() {
  local m
  for m in $(awk -v r="$1" 'index($2, r "/") == 1 { print $2 }' /proc/mounts | sort -r); do
    umount "$m" 2>/dev/null || umount -l "$m"
  done
}
# Removes a build root, never while anything is mounted in it.
remove_root() {
  release_mounts "$1"
  ! awk -v r="$1" 'index($2, r "/") == 1 { found = 1 } END { exit !found }' /proc/mounts ||
    die "something is still mounted in $1: not removing it"
  rm -rf "$1"
}
release_mounts "$sysroot"

if [ ! -f "$sysroot/lumivex-packages" ] ||
   [ "$(cat "$sysroot/lumivex-packages")" != "$(printf '%s\n' "${root_packages[@]}")" ]; then
  remove_root "$sysroot"
  make_sysroot
fi
[ "${LUMIVEX_ARM_ROOT_ONLY:-0}" = 1 ] && { say "the build root is ready in $sysroot"; exit 0; }

# The x86 build the ARM pictures are compared with (./test.sh has made it in CI).
if [ ! -x "$build/lumivex-render" ]; then
  say "building the x86 lumivex-render in $build"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j"$(nproc)" --target lumivex-render >/dev/null
fi

# The project is seen in the build root at its own path, so that the build's paths hold on both
# sides (ctest and QEMU run outside); the compiler cache too, when there is one.
mounts=()
unmount_all() {
  local m
  for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" || true; done
}
trap unmount_all EXIT
trap 'exit 130' INT TERM HUP
bind() {
  mkdir -p "$sysroot$1"
  mountpoint -q "$sysroot$1" || { mount --bind "$1" "$sysroot$1" && mounts+=("$sysroot$1"); }
}
bind "$root"
[ -e "$sysroot/dev/null" ] || bind /dev
# Without a cache of the caller's, the build root keeps its own, so that a new checkout (CI's)
# compiles only what changed since the last run.
ccache_env=(CCACHE_DIR=/var/cache/lumivex-ccache CCACHE_BASEDIR="$root")
if [ -n "${CCACHE_DIR:-}" ] && [ -d "$CCACHE_DIR" ]; then
  case "$CCACHE_DIR" in "$root"/*) ;; *) bind "$CCACHE_DIR" ;; esac
  ccache_env=(CCACHE_DIR="$CCACHE_DIR" CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}")
fi
in_root() {
  chroot "$sysroot" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "${ccache_env[@]}" "$@"
}

# Debian's multiarch layout: the arm64 libraries and their CMake files under aarch64-linux-gnu,
# Qt's build tools (moc) from the x86 Qt. Tests run through QEMU with the build root as the
# place of the arm64 libraries.
mkdir -p "$armbuild"
cat >"$armbuild/toolchain.cmake" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;$sysroot)
TOOLCHAIN

core_tests=(test_scene test_render test_blur test_picturefile test_fastpath test_serial test_fileio
            test_threadpool test_raybounds test_animation)
log=$(mktemp)
say "cross-building lumivex-render and the core's tests for arm64 in build-arm64/"
if ! in_root cmake -S "$root" -B "$armbuild" -DCMAKE_TOOLCHAIN_FILE="$armbuild/toolchain.cmake" \
       -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
       -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >"$log" 2>&1 ||
   ! in_root cmake --build "$armbuild" -j"$(nproc)" --target lumivex-render pow8-exhaustive "${core_tests[@]}" \
       >>"$log" 2>&1; then
  tail -n 40 "$log" >&2
  die "the arm64 build failed"
fi
rm -f "$log"
file -b "$armbuild/lumivex-render" | grep -q 'ARM aarch64' || die "build-arm64/lumivex-render is not an arm64 program"

# Every compile of the build has the flags exact pictures rest on: GCC for ARM fuses multiplies
# and adds into one rounding unless told not to.
compiles=$(grep -c '"command":' "$armbuild/compile_commands.json")
loose=$(grep '"command":' "$armbuild/compile_commands.json" | grep -v -- '-ffp-contract=off' | grep -c . || true)
fast=$(grep '"command":' "$armbuild/compile_commands.json" | grep -c -- '-ffast-math' || true)
[ "$loose" -eq 0 ] && [ "$fast" -eq 0 ] ||
  die "$loose of $compiles compiles lack -ffp-contract=off, $fast use -ffast-math"
say "all $compiles compiles have -ffp-contract=off and no -ffast-math"

arm() { qemu-aarch64 -L "$sysroot" "$@"; }

# The eighth power's fast form against the ARM library's pow, on a sample of the floats (every
# float is checked on x86 by bench/pow8_exhaustive).
out=$(arm "$armbuild/pow8-exhaustive" "${LUMIVEX_ARM_POW_STRIDE:-1031}") ||
  { echo "$out" >&2; die "the eighth power differs from the arm64 library's pow"; }
say "pow8 on arm64: ${out##*$'\n'}"

# Where the fast eighth power is within a hair of a rounding midpoint it takes the library's
# pow itself, so the two machines' pow must agree: both builds hash pow(x, 8) over a sample of
# the floats.
cat >"$armbuild/powhash.cpp" <<'POWHASH'
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
int main(int, char** argv)
{
    const std::uint64_t stride = std::strtoull(argv[1], nullptr, 10);
    std::uint64_t hash = 1469598103934665603ull, n = 0;
    for (std::uint64_t b = 0; b < (std::uint64_t(1) << 32); b += stride, ++n) {
        const std::uint32_t bits = std::uint32_t(b);
        float x;
        std::memcpy(&x, &bits, sizeof x);
        const double y = std::isnan(x) ? 0.0 : std::pow(double(x), 8.0);
        std::uint64_t v;
        std::memcpy(&v, &y, sizeof v);
        hash = (hash ^ v) * 1099511628211ull;
    }
    std::printf("%llu floats, hash %016llx\n", (unsigned long long)n, (unsigned long long)hash);
}
POWHASH
g++ -O2 -ffp-contract=off -o "$armbuild/powhash-x86" "$armbuild/powhash.cpp"
in_root aarch64-linux-gnu-g++ -O2 -ffp-contract=off -o "$armbuild/powhash" "$armbuild/powhash.cpp"
stride=${LUMIVEX_ARM_POW_STRIDE:-1031}
x86_pow=$("$armbuild/powhash-x86" "$stride")
arm_pow=$(arm "$armbuild/powhash" "$stride")
[ "$x86_pow" = "$arm_pow" ] || die "pow(x, 8) differs: x86 $x86_pow, arm64 $arm_pow"
say "pow(x, 8) the same on both: $arm_pow"

# The core's tests under QEMU, two at a time, the longest first. Emulation runs about 40 times
# slower than the vector kernels on x86, so the few rows that render millions of pixels are
# left out here (x86 runs them; their kind is covered by the other rows and by the pictures
# compared below). QEMU's user mode refuses the way QProcess starts a program (clone with a
# pidfd), so the rows that start ffmpeg stay on x86 too.
left_out=("test_animation videoWriterRefusesWhatItCannotMake"
          "test_animation aFrameCountsOnceItsFileIsInPlace:frames and a video"
          "test_fastpath largePicturesAreRenderedInBands"
          "test_fastpath picturesMatchTheReference:built-in"
          "test_animation supersampledEqualsTheFineRenderReduced:8192 x 20, k 8"
          "test_animation supersampledEqualsTheFineRenderReduced:1 x 8192, k 8")
# QtTest ends a test function after 5 minutes; emulation on a busy machine may take longer.
export QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH=$sysroot/usr/lib/aarch64-linux-gnu/qt6/plugins QTEST_FUNCTION_TIMEOUT=1800000
work=$(mktemp -d /tmp/lumivex-arm.XXXXXX)
trap 'unmount_all; rm -rf "$work"' EXIT
mkdir "$work/tests"
run_test() {
  local name=$1 bin=$armbuild/tests/$1 selection=() entry cls fn tag skip t0=$SECONDS
  if printf '%s\n' "${left_out[@]}" | grep -q "^$name "; then
    # Every function and data row but those left out, named one by one.
    while read -r cls fn tag; do
      entry=$fn${tag:+:$tag}
      skip=0
      for l in "${left_out[@]}"; do
        [ "$l" = "$name $fn" ] || [ "$l" = "$name $entry" ] && skip=1
      done
      ((skip)) || selection+=("$entry")
    done < <(arm "$bin" -datatags)
  fi
  if (cd "$armbuild/tests" && arm "$bin" "${selection[@]}") >"$work/tests/$name.log" 2>&1; then
    echo "  $name passed ($((SECONDS - t0)) s)" >"$work/tests/$name.ok"
  else
    echo "  $name FAILED ($((SECONDS - t0)) s)" >"$work/tests/$name.failed"
  fi
}
say "running the core's tests under QEMU"
for t in test_fastpath test_animation test_render "${core_tests[@]}"; do
  [ ! -e "$work/tests/$t.started" ] || continue
  touch "$work/tests/$t.started"
  run_test "$t" &
  while (($(jobs -rp | wc -l) >= $(nproc))); do wait -n || true; done
done
wait
cat "$work"/tests/*.ok "$work"/tests/*.failed >&2 2>/dev/null || true
for f in "$work"/tests/*.failed; do
  [ -e "$f" ] || continue
  name=$(basename "$f" .failed)
  grep -E '^(FAIL|QWARN|QFATAL)|Totals' "$work/tests/$name.log" | head -n 40 >&2
done
ls "$work"/tests/*.failed >/dev/null 2>&1 && die "core tests fail on arm64"
say "the core's tests pass on arm64"

# The pictures: the same options to both builds, the files compared byte for byte.
mkdir "$work/x86" "$work/arm64"
cases=()
add() { cases+=("$*"); }
add -o builtin.png
add -o builtin.ppm --reference
add -o builtin-blur.ppm --blur
add -o builtin-ss3.ppm --supersample 3 --size 512x384
for cam in 1,0.5,-3 -2,1,0.5 4,-2,-0.5; do
  add -o "bench-$cam.ppm" --camera "$cam"
done
add -o bench-back-reference.ppm --camera 1,0.5,-3 --reference --size 320x240
add -o tall.bmp --size 97x1203 --camera 0.3,-0.2,-2
# Random scenes: every number of the built-in scene's file drawn anew (sizes zero and negative
# too, see-through materials, lights of any strength), from a fixed seed.
"$build/lumivex-render" --save-xml "$work/builtin.xml" -o "$work/unused.ppm" --size 4x3
for n in $(seq 1 "${LUMIVEX_ARM_SCENES:-12}"); do
  awk -v seed="$n" '
    function u(lo, hi) { return sprintf("%.6f", lo + rand() * (hi - lo)) }
    function size(hi,  pick) { pick = int(rand() * 8); return pick == 0 ? "0.000000" : (pick == 1 ? u(-1, 0) : u(0.05, hi)) }
    BEGIN { srand(seed) }
    /Name = "Width">/ && /<Int/ { sub(/> [0-9]+ </, "> " (40 + int(rand() * 200)) " <") }
    /Name = "Height">/ && /<Int/ { sub(/> [0-9]+ </, "> " (30 + int(rand() * 150)) " <") }
    /<Camera>/ { camera = 1 }
    /Name = "Position">/ {
      if (camera) { sub(/>.*</, "> " u(-4, 4) " " u(-4, 4) " " u(-8, 2) " <"); camera = 0 }
      else sub(/>.*</, "> " u(-3, 3) " " u(-3, 3) " " u(-3, 3) " <")
    }
    /Name = "(Radius|Width)">/ && /<Float/ { sub(/>.*</, "> " size(2) " <") }
    /Name = "(Color|Specular|Reflectivity)">/ {
      if (/Reflectivity/ && rand() < 0.25) sub(/>.*</, "> 1.000000 1.000000 1.000000 <")
      else sub(/>.*</, "> " u(0, 1) " " u(0, 1) " " u(0, 1) " <")
    }
    /Attenuation">/ { sub(/>.*</, "> " u(-0.1, 0.3) " <") }
    { print }' "$work/builtin.xml" >"$work/random-$n.xml"
  cp "$work/random-$n.xml" "$work/x86/" && cp "$work/random-$n.xml" "$work/arm64/"
  add --xml "random-$n.xml" -o "random-$n.ppm"
  ((n % 3 != 0)) || add --xml "random-$n.xml" -o "random-$n-reference.ppm" --reference
  ((n % 4 != 1)) || add --xml "random-$n.xml" -o "random-$n-ss2-blur.ppm" --supersample 2 --blur
done

say "rendering ${#cases[@]} pictures with both builds"
for c in "${cases[@]}"; do
  read -r -a args <<<"$c"
  (cd "$work/x86" && "$build/lumivex-render" --quiet "${args[@]}") || die "x86 lumivex-render failed: $c"
  (cd "$work/arm64" && arm "$armbuild/lumivex-render" --quiet "${args[@]}") || die "arm64 lumivex-render failed: $c"
done
differ=()
bytes=0
for f in "$work"/x86/*; do
  name=$(basename "$f")
  case "$name" in *.xml) continue ;; esac
  cmp -s "$f" "$work/arm64/$name" || differ+=("$name")
  bytes=$((bytes + $(stat -c %s "$f")))
done
count=$(find "$work/x86" -type f ! -name '*.xml' | wc -l)
[ "$count" -eq "${#cases[@]}" ] || die "expected ${#cases[@]} pictures, found $count"
((${#differ[@]} == 0)) || die "${#differ[@]} of $count pictures differ between x86 and arm64: ${differ[*]}"
say "all $count pictures ($bytes bytes) are the same bit for bit on arm64 and x86"
