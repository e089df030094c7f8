#!/usr/bin/env bash
# Large files and constant memory; too slow for `make test` (it moves gigabytes).
#  1. A sparse file of 4100 MiB, all NUL bytes, through each of the three pipelines. Every
#     pipeline writes one NUL for each NUL it reads, so each output must be exactly as large
#     as the input: a 32-bit byte count anywhere on the data path would wrap or stop short.
#     The 8-bit output goes to a file on disk; the VIQR outputs go through a FIFO and are
#     counted, to spare the disk 8 GiB of writes.
#  2. The peak resident memory (/usr/bin/time -v) of converting 1 MiB and 256 MiB of
#     Vietnamese text through each pipeline (0->3, 0->10, 10->0): the two must differ by
#     less than 1 MiB.
# Prints one line per measurement and exits non-zero if any check fails.
# Usage: bench/large_files.sh path/to/toneshift [work-dir]
# SPARSE_MIB and TEXT_MIB change the two sizes (4100 and 256), for a quick try of the script.
# The work dir (default: $TMPDIR or /tmp) must be on a disk with about 5 GiB free.
set -euo pipefail

bin=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/toneshift-large.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package: time)" >&2; exit 2; }

failed=0
check() { # check OK LABEL...: prints the label with the verdict
  local ok=$1; shift
  if [ "$ok" = 1 ]; then echo "ok      $*"; else echo "FAILED  $*"; failed=1; fi
}

# One conversion through the dialogue: input, its format, output, the format wanted, and
# the answer to the overwrite question where the output exists (a FIFO does).
convert() { printf '%s\n%s\n%s\n%s\n%s\n' "$1" "$2" "$3" "$4" "${5:-}" | "$bin" >/dev/null; }

sparse_mib=${SPARSE_MIB:-4100}
text_mib=${TEXT_MIB:-256}

echo "== a sparse file of $sparse_mib MiB through each pipeline (in $work)"
big=$((sparse_mib << 20))
truncate -s "$big" sparse
rm -f out
start=$SECONDS
convert sparse 0 out 3
size=$(stat -c %s out)
check "$([ "$size" -eq "$big" ] && echo 1)" "0->3:  $size bytes written of $big, $((SECONDS - start)) s"
rm -f out
mkfifo fifo
for pair in "0 10" "10 0"; do
  set -- $pair
  start=$SECONDS
  wc -c < fifo > count &
  convert sparse "$1" fifo "$2" y 2>/dev/null  # the overwrite question
  wait
  size=$(cat count)
  check "$([ "$size" -eq "$big" ] && echo 1)" \
    "$1->$2: $size bytes written of $big, $((SECONDS - start)) s"
done
rm -f sparse fifo count

echo "== peak resident memory, 1 MiB against $text_mib MiB"
# The Vietnamese sample, in VISCII, repeated to the size, and its VIQR form cut to it.
convert "$root/examples/sample.viqr" 10 text.viscii 0
while [ "$(stat -c %s text.viscii)" -lt $((text_mib << 20)) ]; do
  cat text.viscii text.viscii > grow && mv grow text.viscii
done
truncate -s $((text_mib << 20)) text.viscii
convert text.viscii 0 text.viqr 10
truncate -s $((text_mib << 20)) text.viqr
for f in viscii viqr; do head -c $((1 << 20)) "text.$f" > "small.$f"; done

peak_kib() { # peak_kib INPUT FROM TO: the peak resident set of one conversion, in KiB
  rm -f out
  printf '%s\n%s\n%s\n%s\n\n' "$1" "$2" out "$3" | /usr/bin/time -v -o rss.txt "$bin" >/dev/null
  awk -F': ' '/Maximum resident set size/ {print $2}' rss.txt
}
for pair in "viscii 0 3" "viscii 0 10" "viqr 10 0"; do
  set -- $pair
  small=$(peak_kib "small.$1" "$2" "$3")
  large=$(peak_kib "text.$1" "$2" "$3")
  diff=$((large > small ? large - small : small - large))
  check "$([ "$diff" -lt 1024 ] && echo 1)" \
    "$2->$3: 1 MiB $small KiB, $text_mib MiB $large KiB, difference $diff KiB (limit 1024)"
done
exit "$failed"
