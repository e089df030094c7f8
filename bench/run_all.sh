#!/usr/bin/env bash
# Runs every benchmark of a build made with -DTONESHIFT_BENCHMARKS=ON.
# Usage: bench/run_all.sh BUILD_DIR
set -euo pipefail
build=$1
for b in "$build"/bench/*_bench; do
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done
echo "== end to end"
"$(dirname "$0")/end_to_end.sh" "$build/toneshift"
