#!/usr/bin/env bash
# Builds Lumivex if needed and starts it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$root/tools/prepare.sh" run
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "lumivex: no display to show the window on; try: xvfb-run ./run.sh (or build/lumivex-render for pictures without a window)" >&2
  exit 1
fi
exec "$root/build/lumivex" "$@"
