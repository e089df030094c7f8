#!/usr/bin/env bash
# The cost of tone styling: tsconv -f utf-8 -t utf-8 on 64 MiB of Vietnamese prose from
# manpages-vi, without and with --tone-style new (and --fix-tones), processor time, best of
# five; the target is at most a quarter more time than without.
# Usage: bench/tone_style_speed.sh BUILD_DIR/tsconv
set -euo pipefail
tsconv=$1
here=$(dirname "$0")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$here/detect_corpus.sh" vi > "$tmp/vi.txt"
while [ "$(stat -c %s "$tmp/big.txt" 2>/dev/null || echo 0)" -lt 67108864 ]; do
  cat "$tmp/vi.txt" >> "$tmp/big.txt"
done
# Processor time (user and system) of one run in seconds, to the millisecond (the shell's
# times; /usr/bin/time counts in hundredths, a seventh of the plain run).
cpu_time() {
  ( "$@" > /dev/null 2>&1; times ) | awk 'NR == 2 {
    split($1, u, /[ms]/); split($2, s, /[ms]/); printf "%.3f\n", u[1] * 60 + u[2] + s[1] * 60 + s[2] }'
}
best() {
  local b=
  for _ in 1 2 3 4 5; do
    local t
    t=$(cpu_time "$@" "$tmp/big.txt")
    if [ -z "$b" ] || awk -v a="$t" -v b="$b" 'BEGIN {exit !(a < b)}'; then b=$t; fi
  done
  echo "$b"
}
plain=$(best "$tsconv" -f utf-8 -t utf-8 -q)
styled=$(best "$tsconv" -f utf-8 -t utf-8 -q --tone-style new)
fixed=$(best "$tsconv" -f utf-8 -t utf-8 -q --tone-style new --fix-tones)
awk -v p="$plain" -v s="$styled" -v f="$fixed" 'BEGIN {
  printf "without: %.3f s; --tone-style new: %.3f s (%.2f times); with --fix-tones: %.3f s (%.2f times); target 1.25\n", p, s, s / p, f, f / p }'
