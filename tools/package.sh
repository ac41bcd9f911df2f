#!/usr/bin/env bash
# Builds the Debian package of both programs, with their manual pages, desktop entry, icon and
# AppStream metadata, and prints its path as the last line. The package's programs are built in
# build/deb with Debian's hardening flags (tools/prepare.sh package, which installs file,
# dpkg-dev and help2man first) and stripped; the package goes into build/. It names the Qt
# libraries it was linked with, as dpkg-shlibdeps finds them, so a package without them is never
# made: it would install and then fail to start. CI checks it with lintian (tools/ci-package.sh).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${LUMIVEX_BUILD_DIR:-$root/build}
pkgbuild=$build/deb
LUMIVEX_BUILD_DIR=$pkgbuild "$root/tools/prepare.sh" package

if ! command -v dpkg-shlibdeps >/dev/null 2>&1; then
  echo "package: dpkg-shlibdeps is missing (package dpkg-dev): without it the package would not name the Qt libraries it needs" >&2
  exit 1
fi

echo "Packaging" >&2
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! (cd "$pkgbuild" && cpack -G DEB) >"$log" 2>&1; then
  cat "$log" >&2
  echo "package: cpack failed" >&2
  exit 1
fi
made=$(sed -nE 's/^CPack: - package: (.*\.deb) generated\.$/\1/p' "$log" | tail -n 1)
if [ -z "$made" ] || [ ! -f "$made" ]; then
  cat "$log" >&2
  echo "package: cpack made no .deb" >&2
  exit 1
fi
deb=$build/$(basename "$made")
mv -f "$made" "$deb"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins; do
  if ! grep -qE "(^|[ ,])$needed([ ,(]|$)" <<<"$depends"; then
    rm -f "$deb"
    echo "package: the package would not depend on $needed (Depends: $depends); nothing made" >&2
    exit 1
  fi
done
echo "Depends: $depends" >&2
echo "$deb"
