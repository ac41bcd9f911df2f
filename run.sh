#!/usr/bin/env bash
# Builds Lumivex if needed and starts it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  # No screen to show the window on: Xvfb comes along, so that the virtual one named below is there.
  "$root/tools/prepare.sh" headless
  echo "lumivex: no display to show the window on; try: xvfb-run ./run.sh (or build/lumivex-render for pictures without a window)" >&2
  exit 1
fi
"$root/tools/prepare.sh" run
exec "$root/build/lumivex" "$@"
