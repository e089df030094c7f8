#!/usr/bin/env bash
# Prints the running prose of the manual pages in one folder, one paragraph a line (UTF-8):
# roff requests and escapes removed, lists and option lines (fewer than four words) dropped.
# The ASCII punctuation that some formats use for letters ([ ] { } | ~ ^ ` @ _ \) becomes
# a blank, so that every paragraph can be written in every format.
# Usage: bench/detect_corpus.sh MAN_DIR [MAX_FILES]   (e.g. /usr/share/man/vi/man1)
#        bench/detect_corpus.sh vi                    (the Vietnamese man1 and man8 pages)
set -euo pipefail
dir=$1
max=${2:-100000}
if [ "$dir" = vi ]; then
  for s in man1 man8; do
    [ -d /usr/share/man/vi/$s ] && "$0" /usr/share/man/vi/$s
  done
  exit 0
fi
find "$dir" -name '*.gz' | sort | head -n "$max" | while read -r f; do
  zcat "$f" 2>/dev/null || true
  printf '\n.PP\n'
done | sed -e 's/\\".*$//' \
  -e 's/\\f[BIRP1-4]//g' -e 's/\\f(..//g' -e 's/\\f\[[^]]*\]//g' \
  -e 's/\\-/-/g' -e 's/\\(..//g' -e 's/\\\[[^]]*\]//g' -e 's/\\e/ /g' -e 's/\\&//g' \
  -e 's/\\s[-+]\?[0-9]//g' -e 's/\\[a-zA-Z*]//g' -e 's/\\.//g' |
  awk '
    /^[.'"'"']/ { if (p != "") print p; p = ""; next }
    /^[[:space:]]*$/ { if (p != "") print p; p = ""; next }
    { if (NF < 4) { if (p != "") print p; p = ""; next }
      p = (p == "" ? $0 : p " " $0) }
    END { if (p != "") print p }' |
  tr '[]{}|~^`@_\\' '           ' | tr -s ' \t' ' ' | sed -e 's/^ //' -e 's/ $//'
