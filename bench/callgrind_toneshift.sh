#!/usr/bin/env bash
# Instructions per input byte of the whole toneshift process, counted by callgrind, for the
# dialogue's three pipelines on a 4 MiB Vietnamese text (start-up and the dialogue included).
# Usage: bench/callgrind_toneshift.sh path/to/toneshift
set -euo pipefail

bin=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/toneshift-callgrind.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

size=$((4 << 20))
"$here/vietnamese_text.sh" text.viscii "$size"
printf 'text.viscii\n0\ntext.viqr\n10\n\n' | "$bin" >/dev/null

# count LABEL INPUT FROM TO TARGET: one conversion under callgrind.
count() {
  local label=$1 input=$2 from=$3 to=$4 target=$5
  rm -f out
  printf '%s\n%s\nout\n%s\n\n' "$input" "$from" "$to" |
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bin" 2>callgrind.log >/dev/null
  awk -v l="$label" -v s="$(stat -c %s "$input")" -v t="$target" '/Collected/ {
    gsub(",", "", $4); r = $4 / s
    printf "%-22s %11d instructions / %8d bytes = %5.2f per byte (target <= %s) %s\n",
      l, $4, s, r, t, (r <= t ? "met" : "MISSED") }' callgrind.log
}

echo "whole process under callgrind, 4 MiB Vietnamese text (manpages-vi in VISCII)"
count "VISCII -> VNI (0->3)" text.viscii 0 3 1.5
count "VISCII -> VIQR (0->10)" text.viscii 0 10 8
count "VIQR -> VISCII (10->0)" text.viqr 10 0 12
