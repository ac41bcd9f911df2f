#!/usr/bin/env bash
# Runs the shell examples of the README's "Rendering without a window" section as they stand, in
# a new folder beside a built tree: every ```sh block with bash, the ```bash block (the Slurm
# script) through sbatch on a one-node Slurm started here. Each block that renders the camera
# path must write all its frames, byte for byte the same as every other block's, and the key
# frames must be the pictures --camera gives. Needs root (Slurm's daemons), GNU parallel, Slurm
# and munge: tools/prepare.sh ci installs them.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${LUMIVEX_BUILD_DIR:-$root/build}
say() { echo "ci-readme: $*" >&2; }
die() { say "$*"; exit 1; }
[ -x "$build/lumivex-render" ] || die "no $build/lumivex-render: run ./run.sh or ./test.sh first"
[ "$(id -u)" -eq 0 ] || die "starting Slurm for the Slurm example needs root"

work=$(mktemp -d /tmp/lumivex-readme.XXXXXX)
chmod 711 "$work" # munged wants every folder above its socket open to all
slurm_pids=()
cleanup() {
  local pid
  for pid in "${slurm_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${slurm_pids[@]}"; do
    while kill -0 "$pid" 2>/dev/null; do sleep 0.2; done
  done
  rm -rf "$work"
}
trap cleanup EXIT

# The section's fenced blocks, one file each, numbered in order, named by their language.
awk -v out="$work/block" '
  /^## / { inside = ($0 == "## Rendering without a window") }
  inside && /^```(sh|bash)$/ { n++; file = sprintf("%s-%02d.%s", out, n, substr($0, 4)); next }
  file && /^```$/ { close(file); file = ""; next }
  file { print > file }
' "$root/README.md"
blocks=("$work"/block-*)
[ -e "${blocks[0]}" ] || die "no shell examples found in the README's section \"Rendering without a window\""

run=$work/run
mkdir "$run" "$work/bin"
ln -s "$build" "$run/build"
ln -s "$build/lumivex-render" "$work/bin/lumivex-render" # the Slurm script's installed program
export PATH="$work/bin:$PATH"

# A one-node Slurm on this machine, its files in the work folder, on ports of its own.
start_slurm() {
  local s=$work/slurm host
  host=$(hostname -s)
  mkdir -p "$s/state" "$s/spool" "$s/munge"
  chmod 711 "$s/munge"
  head -c 128 /dev/urandom >"$s/munge/key"
  chmod 400 "$s/munge/key"
  # The daemons stay in the foreground, as children of this script, so that their ids are known
  # at once and they end with it.
  /usr/sbin/munged -F --socket="$s/munge/socket" --key-file="$s/munge/key" --log-file="$s/munge/log" \
    --pid-file="$s/munge/pid" --seed-file="$s/munge/seed" >"$s/munged.out" 2>&1 &
  slurm_pids+=($!)
  cat >"$s/slurm.conf" <<EOF
ClusterName=lumivexci
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=16817
SlurmdPort=16818
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$s/munge/socket
CredType=cred/munge
StateSaveLocation=$s/state
SlurmdSpoolDir=$s/spool
SlurmctldPidFile=$s/slurmctld.pid
SlurmdPidFile=$s/slurmd.pid
SlurmctldLogFile=$s/slurmctld.log
SlurmdLogFile=$s/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
MpiDefault=none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=ci Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
  export SLURM_CONF=$s/slurm.conf
  until [ -S "$s/munge/socket" ]; do
    kill -0 "${slurm_pids[0]}" 2>/dev/null || die "munged did not start: $(tail -n 5 "$s/munge/log" 2>/dev/null)"
    sleep 0.2
  done
  slurmctld -D -f "$SLURM_CONF" >"$s/slurmctld.out" 2>&1 &
  slurm_pids+=($!)
  slurmd -D -f "$SLURM_CONF" >"$s/slurmd.out" 2>&1 &
  slurm_pids+=($!)
  local waited=0
  until sinfo -h -o %T 2>/dev/null | grep -qx idle; do
    ((waited++ < 60)) || die "the Slurm node did not come up: $(tail -n 5 "$s/slurmctld.log" "$s/slurmd.log" 2>&1)"
    sleep 1
  done
}

# Submits the script as the README says, waits for every array task, and shows their logs if
# they said anything (lumivex-render --quiet says nothing when all goes well).
run_slurm() {
  local script=$1 out id waited=0
  cp "$script" "$run/frames.sh"
  start_slurm
  out=$(cd "$run" && sbatch frames.sh) || die "sbatch refused the script: $out"
  id=${out##* }
  say "Slurm job $id submitted"
  while squeue -h -j "$id" 2>/dev/null | grep -q .; do
    ((waited++ < 600)) || die "the Slurm job did not finish in 10 minutes"
    sleep 1
  done
  if cat "$run"/frames-*.log 2>/dev/null | grep -q .; then
    cat "$run"/frames-*.log >&2
    die "the Slurm tasks reported errors"
  fi
}

sets=()
for block in "${blocks[@]}"; do
  name=$(basename "$block")
  say "running $name: $(grep -v '^#' "$block" | head -n 1)"
  case "$block" in
    *.bash)
      grep -q '^#!/bin/bash$' "$block" && grep -q '^#SBATCH' "$block" || die "$name is not a complete Slurm script"
      run_slurm "$block" ;;
    *) (cd "$run" && bash -euo pipefail "$block") >"$work/$name.log" 2>&1 || {
         cat "$work/$name.log" >&2
         die "$name failed"
       } ;;
  esac
  if [ -d "$run/frames" ]; then
    mv "$run/frames" "$work/frames-$name"
    sets+=("$work/frames-$name")
  fi
done

((${#sets[@]} >= 3)) || die "expected the single run, GNU parallel and Slurm to render frames, found ${#sets[@]}"
first=${sets[0]}
count=$(ls "$first" | wc -l)
[ "$count" -eq 97 ] || die "$(basename "$first") has $count frames, not 97"
for set in "${sets[@]:1}"; do
  diff <(ls "$first") <(ls "$set") >&2 || die "$(basename "$set") has other frames than $(basename "$first")"
  for f in "$first"/*; do
    cmp -s "$f" "$set/$(basename "$f")" || die "$(basename "$set")/$(basename "$f") differs from $(basename "$first")'s"
  done
done
# The key frames, rendered alone with their cameras.
keys=0
while read -r frame x y z; do
  "$build/lumivex-render" --camera "$x,$y,$z" -o "$work/key.png"
  cmp -s "$work/key.png" "$first/$(printf 'f-%04d.png' "$frame")" || die "key frame $frame differs from --camera $x,$y,$z"
  keys=$((keys + 1))
done < <(grep -v '^#' "$run/keys.txt")
say "${#blocks[@]} examples ran; ${#sets[@]} runs wrote the same 97 frames; $keys key frames equal single renders"
