#!/usr/bin/env bash
# tsconv's speed against the tools people would otherwise use, on a Vietnamese text of
# 256 MiB on a tmpfs: each conversion and its baseline timed in turn, medians of the runs.
#   VISCII -> VNI          against `cat IN > OUT`            target: at most 1.5 times
#   VISCII <-> UTF-8       against `iconv` doing the same    target: at most a third
#   VISCII <-> VIQR        against `recode VISCII..VIQR` and `recode VIQR..VISCII`
#                                                            target: at most a tenth (at
#                                                            first a fifth)
# The text is the prose of the Vietnamese manual pages (Debian manpages-vi, troff requests
# and font escapes taken out), converted to VISCII by tsconv itself and repeated.
# Usage: bench/tsconv_speed.sh path/to/tsconv [runs] [MiB]
set -euo pipefail

bin=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
runs=${2:-5}
mib=${3:-256}
for tool in iconv recode; do
  command -v "$tool" >/dev/null || { echo "needs $tool (Debian package: ${tool/iconv/libc-bin})" >&2; exit 2; }
done
[ -d /usr/share/man/vi ] || { echo "needs the Debian package manpages-vi" >&2; exit 2; }
tmpfs=/dev/shm
[ -d "$tmpfs" ] && [ -w "$tmpfs" ] || tmpfs=${TMPDIR:-/tmp}
work=$(mktemp -d "$tmpfs/tsconv-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Both sides run on the same core: on a shared machine the cores differ by more than what
# is measured here.
pin=()
if command -v taskset >/dev/null; then pin=(taskset -c "$(($(nproc) - 1))"); fi

# The text: every manual page's prose (bench/detect_corpus.sh, which blanks the ASCII
# punctuation that some formats use for letters), in VISCII (typographic punctuation that
# VISCII lacks becomes ASCII), doubled up to the size wanted.
"$here/detect_corpus.sh" /usr/share/man/vi > seed.utf8
"$bin" -f utf-8 -t viscii --translit -q -o text.viscii seed.utf8
while [ "$(stat -c %s text.viscii)" -lt $((mib << 20)) ]; do
  cat text.viscii text.viscii > grow && mv grow text.viscii
done
truncate -s $((mib << 20)) text.viscii
iconv -f VISCII -t UTF-8 text.viscii > text.utf8
"$bin" -f viscii -t viqr -o text.viqr text.viscii

now() { echo "${EPOCHREALTIME/[.,]/}"; }  # microseconds

# median of the arguments
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

# compare LABEL INPUT LIMIT BASELINE-NAME -- TSCONV-ARGS... -- BASELINE-COMMAND...
# Times `tsconv ARGS < INPUT > out` and `BASELINE < INPUT > out` in turn, `runs` times.
compare() {
  local label=$1 input=$2 limit=$3 base_name=$4 ours=() theirs=() a=() b=() t
  shift 5
  while [ "$1" != -- ]; do a+=("$1"); shift; done
  shift
  b=("$@")
  for ((i = 0; i < runs; i++)); do
    rm -f out
    t=$(now); "${pin[@]}" "$bin" "${a[@]}" < "$input" > out; ours+=($(($(now) - t)))
    rm -f out
    t=$(now); "${pin[@]}" "${b[@]}" < "$input" > out; theirs+=($(($(now) - t)))
  done
  local p c
  p=$(median "${ours[@]}"); c=$(median "${theirs[@]}")
  awk -v l="$label" -v p="$p" -v c="$c" -v lim="$limit" -v n="$base_name" \
    -v s="$(stat -c %s "$input")" 'BEGIN {
    r = p / c
    printf "%-16s tsconv %8.1f ms  %-20s %8.1f ms  ratio %.3f (target <= %.3f) %s  [%.0f MiB in, %.0f MB/s]\n",
      l, p / 1000, n, c / 1000, r, lim, (r <= lim ? "met" : "MISSED"), s / 1048576, s / p }'
}

echo "median of $runs runs each, on $tmpfs${pin:+, both on CPU ${pin[2]}}"
compare "VISCII -> VNI" text.viscii 1.5 "cat" -- -f viscii -t vni -- cat
compare "VISCII -> UTF-8" text.viscii 0.333 "iconv" -- -f viscii -t utf-8 -- \
  iconv -f VISCII -t UTF-8
compare "UTF-8 -> VISCII" text.utf8 0.333 "iconv" -- -f utf-8 -t viscii -- \
  iconv -f UTF-8 -t VISCII
compare "VISCII -> VIQR" text.viscii 0.1 "recode VISCII..VIQR" -- -f viscii -t viqr -- \
  recode VISCII..VIQR
compare "VIQR -> VISCII" text.viqr 0.1 "recode VIQR..VISCII" -- -f viqr -t viscii -- \
  recode VIQR..VISCII
