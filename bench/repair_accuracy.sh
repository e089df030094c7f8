#!/usr/bin/env bash
# Prints how well repair restores Vietnamese prose (manpages-vi) garbled by every layer it
# undoes and pairs of them, lossy ones included, and that it changes no byte of clean text
# (English, French, German manual pages; Vietnamese); then its speed.
# Usage: bench/repair_accuracy.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(dirname "$0")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$here/detect_corpus.sh" vi > "$tmp/vi.txt"
"$here/detect_corpus.sh" /usr/share/man/man1 400 | LC_ALL=C grep -v '[^ -~]' > "$tmp/en.txt" || true
"$here/detect_corpus.sh" /usr/share/man/fr/man1 > "$tmp/fr.txt" || true
"$here/detect_corpus.sh" /usr/share/man/de/man1 > "$tmp/de.txt" || true
iconv -f UTF-8 -t LATIN1 -c "$tmp/fr.txt" > "$tmp/fr-latin1.txt" || true

# UTF-8 bytes taken for the characters of a set ($1), as a program that drops the bytes the
# set lacks would write them (iconv -c).
misread() { iconv -c -f "$1" -t UTF-8; }
# What a Windows program makes of the lost bytes besides: the no-break space saved as a
# space, the soft hyphen lost.
windows() { sed -e 's/\xc2\xa0/ /g' -e 's/\xc2\xad//g'; }
v="$tmp/vi.txt"
misread LATIN1 < "$v" > "$tmp/latin1"
misread LATIN1 < "$tmp/latin1" > "$tmp/latin1x2"
misread CP1252 < "$v" | windows > "$tmp/cp1252"
misread CP1252 < "$tmp/cp1252" | windows > "$tmp/cp1252x2"
misread CP1258 < "$v" | windows > "$tmp/cp1258"
misread CP1250 < "$v" | windows > "$tmp/cp1250"
misread LATIN1 < "$tmp/cp1252" > "$tmp/cp1252-latin1"
"$build/tsconv" -f utf-8 -t vni-win --replace -q "$v" | misread CP1252 > "$tmp/vni-win" || true
"$build/bench/repair_accuracy" "$v" \
  "utf-8 read as latin-1=$tmp/latin1" \
  "utf-8 read as latin-1 twice=$tmp/latin1x2" \
  "utf-8 read as windows-1252 (lossy)=$tmp/cp1252" \
  "utf-8 read as windows-1252 twice (lossy)=$tmp/cp1252x2" \
  "utf-8 read as windows-1258 (lossy)=$tmp/cp1258" \
  "utf-8 read as windows-1250 (lossy)=$tmp/cp1250" \
  "utf-8 as windows-1252, then latin-1 (lossy)=$tmp/cp1252-latin1" \
  "vni-win bytes shown as windows-1252=$tmp/vni-win" \
  -- "$tmp/en.txt" "$tmp/fr.txt" "$tmp/de.txt" "$tmp/fr-latin1.txt"
