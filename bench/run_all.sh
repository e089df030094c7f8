#!/usr/bin/env bash
# Runs every benchmark of a build made with -DTONESHIFT_BENCHMARKS=ON.
# Usage: bench/run_all.sh BUILD_DIR
set -euo pipefail
build=$1
for b in "$build"/bench/*_bench; do
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done
if command -v valgrind >/dev/null; then
  echo "== viqr_step instructions per input byte (callgrind, 4 MiB of VIQR, target <= 30)"
  valgrind --tool=callgrind --callgrind-out-file=/dev/null --toggle-collect='*decode_text*' \
    "$build/bench/decoder_callgrind" 4 2>&1 |
    awk '/bytes in/ {n = $1} /Collected/ {gsub(",", "", $4); i = $4}
         END {printf "%d instructions / %d bytes = %.2f per byte\n", i, n, i / n}'
fi
if command -v valgrind >/dev/null; then
  echo "== toneshift instructions per input byte (callgrind, whole process)"
  "$(dirname "$0")/callgrind_toneshift.sh" "$build/toneshift"
  echo "== tsconv instructions per input byte (callgrind, whole process)"
  "$(dirname "$0")/callgrind_tsconv.sh" "$build/tsconv"
fi
echo "== end to end"
"$(dirname "$0")/end_to_end.sh" "$build/toneshift"
echo "== the detector's accuracy and speed"
"$(dirname "$0")/detect_accuracy.sh" "$build"
echo "== tsconv against cat, iconv and recode"
"$(dirname "$0")/tsconv_speed.sh" "$build/tsconv"
echo "== tsconv batches: -j on 1,000 files, and the cost of the guard"
"$(dirname "$0")/tsconv_batch.sh" "$build/tsconv"
echo "== tsconv on documents: a 200-page Word document (target < 1 s), and the zip work in it"
"$build/bench/documents_speed" "$build/tsconv"
echo "== repair: garbled text restored, clean text unchanged, speed"
"$(dirname "$0")/repair_accuracy.sh" "$build"
echo "== tone style: its cost over the conversion without it (target 1.25)"
"$(dirname "$0")/tone_style_speed.sh" "$build/tsconv"
if [ -d "$build/src/python/toneshift" ]; then
  echo "== the library from Python: four threads against one (64 MiB of TCVN3 to UTF-8)"
  /usr/bin/python3 "$(dirname "$0")/python_threads.py" "$build/src/python"
  echo "== conversion at scale: examples/dask_convert.py on one Dask worker and on two"
  PYTHONPATH="$build/src/python" /usr/bin/python3 "$(dirname "$0")/dask_throughput.py"
fi
