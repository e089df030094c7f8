#!/usr/bin/env bash
# Prints the detector's accuracy table and speed: Vietnamese prose from manpages-vi written
# in every format, English (7-bit), French (Latin-1) and German (Windows-1252) prose from
# the manual pages on the machine, random bytes and UTF-16.
# Usage: bench/detect_accuracy.sh BUILD_DIR [PASSAGES_PER_LENGTH]
set -euo pipefail
build=$1
here=$(dirname "$0")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$here/detect_corpus.sh" vi > "$tmp/vi.txt"
"$here/detect_corpus.sh" /usr/share/man/man1 400 | LC_ALL=C grep -v '[^ -~]' > "$tmp/en.txt" || true
"$here/detect_corpus.sh" /usr/share/man/fr/man1 | iconv -f UTF-8 -t LATIN1 -c > "$tmp/fr.txt" || true
"$here/detect_corpus.sh" /usr/share/man/de/man1 | iconv -f UTF-8 -t CP1252 -c > "$tmp/de.txt" || true
"$build/bench/detect_accuracy" "$tmp/vi.txt" "$tmp/en.txt" "$tmp/fr.txt" "$tmp/de.txt" "${2:-1000}"
