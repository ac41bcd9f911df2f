#!/usr/bin/env bash
# Builds Lumivex if needed and starts it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$root/tools/prepare.sh" >/dev/null
exec "$root/build/lumivex" "$@"
