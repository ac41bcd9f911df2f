#!/usr/bin/env bash
# Fuzzes both scene file readers with libFuzzer (clang), each for SECONDS (default 60), seeded
# with the built-in scene's files and the tests' edge cases. Usage: tools/fuzz.sh [SECONDS]
# Findings of this run are left in build-fuzz/ as crash-*, timeout-* or oom-* files (those of
# earlier runs are cleared first); the exit status is non-zero if there are any. Each reader's
# executions per second are reported.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
out="$root/build-fuzz"
cxx=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$cxx" ]; then
  echo "fuzz: clang++ is not installed (package clang-14)" >&2
  exit 1
fi
mkdir -p "$out"
rm -f "$out"/crash-* "$out"/timeout-* "$out"/oom-*
sources=("$root"/src/fileio/*.cpp "$root"/src/scene/*.cpp "$root"/src/serial/*.cpp)
flags=(-std=c++17 -g -O1 -fPIC -ffp-contract=off -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -I"$root/src" $(pkg-config --cflags Qt6Core))
libs=($(pkg-config --libs Qt6Core))

# Seeds: the built-in scene in both formats, then variants the tests use.
seeds="$out/seeds"
rm -rf "$seeds" && mkdir -p "$seeds"
"$root/tools/prepare.sh" >/dev/null
"$root/build/lumivex-render" --save-xml "$seeds/builtin.xml" --save-bin "$seeds/builtin.bin"
sed 's/"Width"> 1024/"Width">1024/' "$seeds/builtin.xml" > "$seeds/glued.xml"
sed 's/"Radius"> 1.000000/"Radius"> abc/' "$seeds/builtin.xml" > "$seeds/abc.xml"
sed 's/$/\r/' "$seeds/builtin.xml" > "$seeds/crlf.xml"
sed 's/$/\r/' "$seeds/builtin.bin" > "$seeds/crlf.bin"
sed 's/^int 1024$/float 1024/' "$seeds/builtin.bin" > "$seeds/retyped.bin"
head -c 1000 "$seeds/builtin.bin" > "$seeds/cut.bin"
head -c 1500 "$seeds/builtin.xml" > "$seeds/cut.xml"

status=0
for format in xml bin; do
  flag=$([ "$format" = xml ] && echo 1 || echo 0)
  "$cxx" "${flags[@]}" -DLUMIVEX_FUZZ_XML=$flag "$root/tests/fuzz/fuzz_scene_reader.cpp" "${sources[@]}" \
    "${libs[@]}" -o "$out/fuzz_$format"
  corpus="$out/corpus-$format"
  mkdir -p "$corpus"
  echo "fuzz: $format reader for ${seconds}s"
  log="$out/fuzz_$format.log"
  (cd "$out" && ./"fuzz_$format" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -malloc_limit_mb=512 \
     -print_final_stats=1 "$corpus" "$seeds" >"$log" 2>&1 || true)
  grep -E "^(Done|stat::number_of_executed_units|stat::peak_rss_mb)|ERROR|SUMMARY|artifact" "$log" || true
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz: $format reader: ${runs:-0} executions, $(( ${runs:-0} / (seconds > 0 ? seconds : 1) )) per second"
done
if ls "$out"/crash-* "$out"/timeout-* "$out"/oom-* >/dev/null 2>&1; then
  echo "fuzz: findings in $out" >&2
  status=1
fi
exit $status
