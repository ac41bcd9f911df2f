#!/usr/bin/env bash
# Builds Lumivex if needed and runs the whole test suite headless. A test skipped for want of a
# tool fails the run: a green run has run every test. LUMIVEX_BUILD_DIR picks another build.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$root/tools/prepare.sh" test
export QT_QPA_PLATFORM=offscreen
cd "${LUMIVEX_BUILD_DIR:-$root/build}"
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Passes ctest's lines on as they come; after 10 s without one it names the tests still running.
still_running() {
  local line got running=() since=$SECONDS i
  while true; do
    got=0
    IFS= read -r -t 10 line || got=$?
    if ((got > 128)); then
      echo "  ... still running: ${running[*]:-the tests} ($((SECONDS - since)) s since the last line)"
      continue
    fi
    ((got == 0)) || [ -n "$line" ] || break
    echo "$line"
    since=$SECONDS
    if [[ $line =~ ^\ *Start\ +[0-9]+:\ (.*)$ ]]; then
      running+=("${BASH_REMATCH[1]}")
    elif [[ $line =~ Test\ +#[0-9]+:\ ([^ ]+)\ \. ]]; then
      for i in "${!running[@]}"; do
        [ "${running[$i]}" != "${BASH_REMATCH[1]}" ] || unset 'running[i]'
      done
      running=("${running[@]}")
    fi
    ((got == 0)) || break
  done
}

ctest --output-on-failure -j"$(nproc)" "$@" | tee "$log" | still_running
# ctest counts a skipped test as passed; its reason shows only in its own output.
skipped=$(sed -nE 's/^\s*[0-9]+ - (.*) \(Skipped\)$/\1/p' "$log")
if [ -n "$skipped" ]; then
  for name in $skipped; do
    ctest -R "^$name\$" -V | grep -m1 -E '^[0-9]+: SKIP' || true
  done
  echo "test.sh: skipped, and so failed: $(echo $skipped): every test must run" >&2
  exit 1
fi
