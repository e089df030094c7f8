#!/usr/bin/env bash
# Instructions per input byte of the whole tsconv process, counted by callgrind, on a 4 MiB
# Vietnamese text (start-up included), for VISCII to UTF-8 and UTF-8 (NFC) to VISCII.
# Usage: bench/callgrind_tsconv.sh path/to/tsconv
set -euo pipefail

bin=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tsconv-callgrind.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

"$here/vietnamese_text.sh" text.viscii $((4 << 20))
"$bin" -f viscii -t utf-8 -o text.utf8 text.viscii

# count LABEL INPUT FROM TO TARGET: one conversion under callgrind.
count() {
  local label=$1 input=$2 from=$3 to=$4 target=$5
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bin" -f "$from" -t "$to" -o out \
    "$input" 2>callgrind.log
  awk -v l="$label" -v s="$(stat -c %s "$input")" -v t="$target" '/Collected/ {
    gsub(",", "", $4); r = $4 / s
    printf "%-22s %11d instructions / %8d bytes = %5.2f per byte (target <= %s) %s\n",
      l, $4, s, r, t, (r <= t ? "met" : "MISSED") }' callgrind.log
}

echo "whole tsconv process under callgrind, 4 MiB Vietnamese text (manpages-vi)"
count "VISCII -> UTF-8" text.viscii viscii utf-8 4
count "UTF-8 (NFC) -> VISCII" text.utf8 utf-8 viscii 6
