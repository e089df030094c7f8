#!/usr/bin/env bash
# End-to-end speed: the whole program converting a 64 MiB Vietnamese text, against
# `dd bs=1024` copying the same file, run in turn on a tmpfs. Prints the median of each and
# their ratio.
# Usage: bench/end_to_end.sh path/to/toneshift [runs]
set -euo pipefail

bin=$(realpath "$1")
runs=${2:-9}
root=$(cd "$(dirname "$0")/.." && pwd)
tmpfs=/dev/shm
[ -d "$tmpfs" ] && [ -w "$tmpfs" ] || tmpfs=${TMPDIR:-/tmp}
work=$(mktemp -d "$tmpfs/toneshift-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Both sides run on the same core: on a shared machine the cores differ by more than what
# is measured here.
pin=()
if command -v taskset >/dev/null; then pin=(taskset -c "$(($(nproc) - 1))"); fi

# One conversion through the dialogue: input, its format, output, the format wanted. The
# answers are read from a file written beforehand, so that the time taken is the program's
# alone, as dd's is, and not also that of a shell starting a writer for a pipe.
convert() {
  printf '%s\n%s\n%s\n%s\n\n' "$1" "$2" "$3" "$4" > answers
  "${pin[@]}" "$bin" < answers >/dev/null
}

# The benchmark text: the Vietnamese manual pages in VISCII, repeated to 64 MiB.
"$root/bench/vietnamese_text.sh" text.viscii $((64 << 20))
convert text.viscii 0 text.viqr 10

now() { echo "${EPOCHREALTIME/[.,]/}"; }  # microseconds

# median of the arguments
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

# compare LABEL INPUT FROM TO LIMIT: times the conversion and dd on INPUT in turn.
compare() {
  local label=$1 input=$2 from=$3 to=$4 limit=$5 prog=() copy=() t
  for ((i = 0; i < runs; i++)); do
    rm -f out copy
    t=$(now); convert "$input" "$from" out "$to"; prog+=($(($(now) - t)))
    t=$(now); "${pin[@]}" dd if="$input" of=copy bs=1024 status=none; copy+=($(($(now) - t)))
  done
  local p c
  p=$(median "${prog[@]}"); c=$(median "${copy[@]}")
  awk -v l="$label" -v p="$p" -v c="$c" -v lim="$limit" -v s="$(stat -c %s "$input")" 'BEGIN {
    r = p / c
    printf "%-22s %7.1f ms  dd bs=1024 %7.1f ms  ratio %.2f (target <= %.2f) %s  [%.0f MiB in]\n",
      l, p / 1000, c / 1000, r, lim, (r <= lim ? "met" : "MISSED"), s / 1048576 }'
}

echo "median of $runs runs each, on $tmpfs${pin:+, both on CPU ${pin[2]}}"
compare "VISCII -> VNI (0->3)" text.viscii 0 3 1.15
compare "VISCII -> VIQR (0->10)" text.viscii 0 10 1.4
compare "VIQR -> VISCII (10->0)" text.viqr 10 0 1.6
