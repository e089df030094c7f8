#!/usr/bin/env bash
# Writes a Vietnamese text in VISCII of exactly SIZE bytes to OUTPUT: the Vietnamese manual
# pages (Debian manpages-vi), converted from UTF-8 with iconv and repeated to size. Characters
# that VISCII lacks are dropped. Falls back to the repository's sample text when the manual
# pages are not installed.
# Usage: bench/vietnamese_text.sh OUTPUT SIZE
set -euo pipefail

output=$1
size=$2
root=$(cd "$(dirname "$0")/.." && pwd)
seed=$output.seed

pages=(/usr/share/man/vi/man*/*.gz)
if [ -e "${pages[0]}" ] && iconv -l | grep -qi viscii; then
  for page in "${pages[@]}"; do gunzip -c "$page"; done | iconv -f UTF-8 -t VISCII -c >"$seed"
else
  echo "vietnamese_text.sh: no manpages-vi, using examples/sample.viscii" >&2
  cp "$root/examples/sample.viscii" "$seed"
fi

cp "$seed" "$output"
while [ "$(stat -c %s "$output")" -lt "$size" ]; do
  cat "$output" "$output" >"$output.grow" && mv "$output.grow" "$output"
done
truncate -s "$size" "$output"
rm -f "$seed"
