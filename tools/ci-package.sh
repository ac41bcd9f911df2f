#!/usr/bin/env bash
# Checks the Debian package where a user meets it: made by tools/package.sh and checked with
# lintian (--pedantic -I: any error or warning fails), its AppStream metadata with appstreamcli
# and its manual pages with man --warnings; then installed with apt-get into a clean Debian 12
# (a debootstrap minbase root, kept as a tarball in LUMIVEX_CI_CACHE, default
# /var/cache/lumivex-ci, for the next run), where lumivex-render must give the bytes of build/'s
# (which has no hardening flags), lumivex without a display must say so in one line with status
# 1, and `man` must find both pages; then removed again. Also checks that the README's uninstall
# list names every file that `cmake --install` writes. Without root (or when the archive cannot
# be reached) only the package's dependencies are checked, and it says so.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${LUMIVEX_BUILD_DIR:-$root/build}
cache=${LUMIVEX_CI_CACHE:-/var/cache/lumivex-ci}
say() { echo "ci-package: $*" >&2; }
die() { say "$*"; exit 1; }

# build/'s programs, to compare the package's with, and its files for `cmake --install`.
"$root/tools/prepare.sh" run
deb=$("$root/tools/package.sh" | tail -n 1)
[ -f "$deb" ] || die "tools/package.sh printed no package path"
say "made $deb"

work=$(mktemp -d /tmp/lumivex-package.XXXXXX)
trap 'rm -rf "$work"' EXIT

# lintian, as a Debian maintainer checks a package: every error and warning fails, and every
# info is fixed or overridden with its reason in the package.
say "lintian --pedantic -I:"
status=0
lintian --pedantic -I --fail-on error,warning "$deb" >"$work/lintian.txt" 2>&1 || status=$?
grep -v '^running with root privileges' "$work/lintian.txt" | sed 's/^/  /' >&2 || true
if [ "$status" -ne 0 ] || grep -qE '^[EW]: ' "$work/lintian.txt"; then
  die "lintian finds errors or warnings in the package (status $status)"
fi
say "lintian: no errors and no warnings"

# The metadata software centres list the program by, and the manual pages, as packaged.
dpkg-deb -x "$deb" "$work/contents"
for metainfo in "$work"/contents/usr/share/metainfo/*.metainfo.xml; do
  appstreamcli validate --no-net "$metainfo" >"$work/appstream.txt" 2>&1 || {
    cat "$work/appstream.txt" >&2
    die "appstreamcli validate --no-net fails on $(basename "$metainfo")"
  }
done
say "appstreamcli: $(tail -n 1 "$work/appstream.txt")"
for program in lumivex lumivex-render; do
  page=$work/contents/usr/share/man/man1/$program.1.gz
  [ -f "$page" ] || die "the package has no manual page for $program"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || die "man --warnings on $program.1: $warnings"
done
say "man --warnings: both manual pages are clean"

# The README's uninstall line, against what an install into /usr/local writes.
DESTDIR="$work/staged" cmake --install "$build" --prefix /usr/local >/dev/null
listed=$(grep -m1 -E '^(sudo )?rm /usr/local/' "$root/README.md" | tr ' ' '\n' | grep '^/' | sort)
written=$(cd "$work/staged" && find . -type f | sed 's/^\.//' | sort)
[ -n "$listed" ] || die "the README has no 'rm /usr/local/...' uninstall line"
[ "$listed" = "$written" ] || die "the README's uninstall line differs from what cmake --install writes:
$(diff <(echo "$listed") <(echo "$written"))"
say "the README's uninstall line names every installed file"

# Debian's own mirror, as this machine's apt is set up.
mirror() {
  local url
  url=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
        sed -nE 's#^(deb|URIs:)[[:space:]]+(\[[^]]*\][[:space:]]+)?(https?://[^[:space:]]*/debian/?)([[:space:]]|$).*#\3#p' | head -n 1)
  echo "${url:-http://deb.debian.org/debian}"
}

clean_root() {
  local tarball=$cache/bookworm-minbase.tar
  if [ ! -f "$tarball" ]; then
    say "making a clean Debian 12 with debootstrap (about a minute; kept in $cache)"
    command -v debootstrap >/dev/null || return 1
    mkdir -p "$cache"
    # Each of debootstrap's steps shows once as it begins (retrieving, extracting, ...).
    debootstrap --variant=minbase bookworm "$work/boot" "$(mirror)" 2>&1 | tee "$work/debootstrap.log" |
      awk '/^I: / { step = tolower($2); if (!seen[step]++) { print "  debootstrap: " step; fflush() } }' >&2
    if [ "${PIPESTATUS[0]}" -ne 0 ]; then
      tail -n 20 "$work/debootstrap.log" >&2
      return 1
    fi
    tar -C "$work/boot" -cf "$tarball.part" . && mv "$tarball.part" "$tarball"
    rm -rf "$work/boot"
  fi
  mkdir "$work/root"
  tar -C "$work/root" -xf "$tarball"
  cp /etc/resolv.conf "$work/root/etc/resolv.conf"
}

depends=$(dpkg-deb -f "$deb" Depends)
if [ "$(id -u)" -ne 0 ] || ! clean_root; then
  say "NOTE: no clean root (needs root and Debian's archive): only the package's dependencies are checked"
  say "Depends: $depends"
  exit 0
fi

in_root() { chroot "$work/root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
cp "$deb" "$work/root/tmp/lumivex.deb"
say "installing the package into the clean root with apt-get"
if ! { in_root apt-get -o DPkg::Lock::Timeout=600 update && DEBIAN_FRONTEND=noninteractive \
       in_root apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends /tmp/lumivex.deb; } \
     >"$work/apt.log" 2>&1; then
  cat "$work/apt.log" >&2
  die "apt-get could not install the package"
fi

# The installed renderer gives the build's bytes.
same_picture() {
  local name=$1
  shift
  in_root lumivex-render "$@" -o "/tmp/$name" || die "the installed lumivex-render failed: $* -o $name"
  "$build/lumivex-render" "$@" -o "$work/$name"
  cmp -s "$work/root/tmp/$name" "$work/$name" || die "the installed lumivex-render gives other bytes for: $* -o $name"
}
same_picture a.png
same_picture b.ppm --camera 0.5,0,-2 --blur
say "the installed lumivex-render gives the build's bytes"

# The manual pages, where a user looks for them.
DEBIAN_FRONTEND=noninteractive in_root apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends man-db \
  >"$work/man.log" 2>&1 || { cat "$work/man.log" >&2; die "apt-get could not install man-db"; }
for program in lumivex lumivex-render; do
  in_root man -w "$program" >/dev/null 2>&1 || die "man $program finds no page in the clean root"
  warnings=$(in_root env MANWIDTH=80 man --warnings "$program" 2>&1 >/dev/null)
  [ -z "$warnings" ] || die "man --warnings $program in the clean root: $warnings"
  in_root env MANWIDTH=80 man "$program" 2>/dev/null | grep -q "^NAME" || die "man $program shows no NAME section"
done
say "man lumivex and man lumivex-render show their pages in the clean root"

# The installed window program without a display: one line that says so, status 1.
status=0
in_root lumivex >/dev/null 2>"$work/window.err" || status=$?
lines=$(wc -l <"$work/window.err")
# It names the package that brings xvfb-run, which it suggests.
if [ "$status" -eq 1 ] && [ "$lines" -eq 1 ] && grep -q 'xvfb-run.*(package xvfb)' "$work/window.err"; then
  say "the installed lumivex without a display: \"$(cat "$work/window.err")\", status 1"
else
  cat "$work/window.err" >&2
  die "the installed lumivex without a display gave status $status and $lines lines, not one line naming xvfb-run's package and status 1"
fi

DEBIAN_FRONTEND=noninteractive in_root apt-get remove -y lumivex >"$work/remove.log" 2>&1 || {
  cat "$work/remove.log" >&2
  die "apt-get could not remove the package"
}
for f in /usr/bin/lumivex /usr/bin/lumivex-render /usr/share/applications/lumivex.desktop /usr/share/man/man1/lumivex.1.gz; do
  [ ! -e "$work/root$f" ] || die "$f is still there after apt-get remove"
done
say "installed into a clean Debian 12, rendered the build's bytes and removed again; Depends: $depends"
