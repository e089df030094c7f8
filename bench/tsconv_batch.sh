#!/usr/bin/env bash
# Two figures of tsconv's batch work, each the median wall time of RUNS runs:
#   -j: a tree of 1,000 Vietnamese files (VISCII, 8 to 200 KiB, in 10 folders) converted to
#       UTF-8 with -r -d, one file at a time and with -j 2 (and -j N for the machine's cores
#       when there are more); the speed-up is the ratio of the times.
#   the guard: one large VISCII file (MiB, default 256) converted to UTF-8 with and without
#       --force, which skips the detector's look at the first 64 KiB; the cost is the ratio.
#       Then the tree, one file at a time, with and without it.
# Files are on a tmpfs where there is one, so that the disk does not decide the figures.
# Usage: bench/tsconv_batch.sh path/to/tsconv [runs] [MiB]
set -euo pipefail

bin=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
runs=${2:-5}
mib=${3:-256}
tmpfs=/dev/shm
[ -d "$tmpfs" ] && [ -w "$tmpfs" ] || tmpfs=${TMPDIR:-/tmp}
work=$(mktemp -d "$tmpfs/tsconv-batch.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

"$here/vietnamese_text.sh" big.viscii $((mib << 20))

# The tree: sizes spread from 8 to 200 KiB, cut from the large text.
mkdir tree
for f in $(seq 0 999); do
  d=tree/d$((f % 10))
  mkdir -p "$d"
  size=$(( (8 + (f * 37) % 193) << 10 ))
  dd if=big.viscii of="$d/f$f.txt" bs=4096 skip=$((f * 7)) count=$((size / 4096)) status=none
done

# The median of RUNS wall times of a command, in seconds.
median() {
  local times=()
  for _ in $(seq "$runs"); do
    rm -rf out && mkdir out
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN {print b - a}')")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR] = $1} END {printf "%.3f", a[int((NR + 1) / 2)]}'
}

jobs_list=(1 2)
[ "$(nproc)" -gt 2 ] && jobs_list+=("$(nproc)")
t1=
for j in "${jobs_list[@]}"; do
  t=$(median "$bin" -f viscii -t utf-8 -r -d out -j "$j" tree)
  [ -z "$t1" ] && t1=$t
  awk -v j="$j" -v t="$t" -v t1="$t1" \
    'BEGIN {printf "-j %-3s 1,000 files  %7.3f s  speed-up %.2f\n", j, t, t1 / t}'
done

# The guard's cost is a few milliseconds in a quarter of a second: the runs with and without
# it alternate, so that a change in the machine's load falls on both.
g_times=() f_times=()
for _ in $(seq "$runs"); do
  for mode in guarded forced; do
    flag=()
    [ "$mode" = forced ] && flag=(--force)
    start=$(date +%s.%N)
    "$bin" -f viscii -t utf-8 "${flag[@]}" -o out.utf8 big.viscii
    end=$(date +%s.%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN {print b - a}')
    if [ "$mode" = guarded ]; then g_times+=("$t"); else f_times+=("$t"); fi
  done
done
mid() { printf '%s\n' "$@" | sort -n | awk '{a[NR] = $1} END {printf "%.3f", a[int((NR + 1) / 2)]}'; }
guarded=$(mid "${g_times[@]}")
forced=$(mid "${f_times[@]}")
awk -v m="$mib" -v g="$guarded" -v f="$forced" \
  'BEGIN {printf "guard on %d MiB: %.3f s with it, %.3f s with --force: cost %+.2f%%\n", m, g, f, (g / f - 1) * 100}'
# And where it weighs most, on many small files, one at a time.
with=$(median "$bin" -f viscii -t utf-8 -r -d out tree)
without=$(median "$bin" -f viscii -t utf-8 -r -d out --force tree)
awk -v g="$with" -v f="$without" \
  'BEGIN {printf "guard on 1,000 files: %.3f s with it, %.3f s with --force\n", g, f}'
