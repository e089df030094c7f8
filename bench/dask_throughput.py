#!/usr/bin/python3
"""Times examples/dask_convert.py over a generated corpus, with one worker and with two.

The corpus is FILES files of MEGABYTES in all (sizes from half to one and a half times the
mean), the Vietnamese manual pages (Debian manpages-vi) in turn in TCVN3, VNI for Windows,
VISCII, Windows-1258, VNI and UTF-16, each repeated to its size and cut at a line end. It is
written once to a temporary folder in --dir (tmpfs by default, so the disk does not
decide the figures); each run converts it to a fresh folder beside it.

Two figures per run, in MB/s (10^6 bytes) of input:
  convert  the input over the time the script spends converting (its report's "seconds":
           from handing the files to the cluster until the last result is back);
  overall  the input over the wall time of the whole script, cluster start and stop included.
The best of --runs runs is printed for each worker count, then every run.

Usage: PYTHONPATH=build/NAME/src/python bench/dask_throughput.py [--files 200]
           [--megabytes 200] [--runs 3] [--dir /dev/shm]
"""

import argparse
import glob
import gzip
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unicodedata

import toneshift

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLE = os.path.join(ROOT, "examples", "dask_convert.py")
ENCODINGS = ("tcvn3", "vni-win", "viscii", "cp1258", "vni", "utf-16")


def manual_pages():
    pages = sorted(p for p in glob.glob("/usr/share/man/vi/man*/*.gz") if not os.path.islink(p))
    if not pages:
        sys.exit("dask_throughput.py: the Vietnamese manual pages (manpages-vi) are not installed")
    text = []
    for page in pages:
        with gzip.open(page, "rt", encoding="utf-8") as stream:
            text.append(stream.read())
    return unicodedata.normalize("NFC", "".join(text))


def seeds(text):
    """The text in each encoding. What an encoding lacks becomes its nearest form; UTF-16 is
    little-endian without a byte-order mark, which each file gets once at its start."""
    out = {}
    for encoding in ENCODINGS:
        target = "utf-16le" if encoding == "utf-16" else encoding
        out[encoding] = toneshift.convert(text.encode(), "utf-8", target, errors="replace")
    return out


def file_bytes(seed, encoding, size):
    data = seed * (size // len(seed) + 1)
    line_end = b"\n\0" if encoding == "utf-16" else b"\n"
    end = data.rfind(line_end, 0, size) + len(line_end)
    data = data[:end]
    return b"\xff\xfe" + data if encoding == "utf-16" else data


def make_corpus(folder, files, total_bytes):
    encoded = seeds(manual_pages())
    mean = total_bytes // files
    written = 0
    for i in range(files):
        encoding = ENCODINGS[i % len(ENCODINGS)]
        size = mean // 2 + mean * ((i * 37) % 101) // 100
        path = os.path.join(folder, f"set{i % 10}", f"{i:04}.{encoding}.txt")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            written += out.write(file_bytes(encoded[encoding], encoding, size))
    return written


def one_run(corpus, destination, workers, report):
    shutil.rmtree(destination, ignore_errors=True)
    started = time.monotonic()
    finished = subprocess.run(
        [sys.executable, EXAMPLE, corpus, destination, "--workers", str(workers)]
        + ["--report", report, "--errors", "replace"],
        capture_output=True,
        text=True,
    )
    wall = time.monotonic() - started
    if finished.returncode != 0:
        sys.exit(f"dask_throughput.py: the example failed:\n{finished.stdout}{finished.stderr}")
    with open(report, encoding="utf-8") as stream:
        totals = json.load(stream)["totals"]
    return totals["bytes_in"], totals["seconds"], wall


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--files", type=int, default=200)
    parser.add_argument("--megabytes", type=int, default=200)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--dir", default="/dev/shm" if os.path.isdir("/dev/shm") else None)
    arguments = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="dask_throughput-", dir=arguments.dir) as scratch:
        corpus = os.path.join(scratch, "corpus")
        started = time.monotonic()
        size = make_corpus(corpus, arguments.files, arguments.megabytes * 10**6)
        print(
            f"corpus: {arguments.files} files, {size / 1e6:.1f} MB in {', '.join(ENCODINGS)};"
            f" made in {time.monotonic() - started:.1f} s"
        )
        print("load average before the runs: %.1f %.1f %.1f" % os.getloadavg())
        results = {1: [], 2: []}
        # Alternated, so that a change in the machine's load falls on both counts alike.
        for _ in range(arguments.runs):
            for workers in results:
                results[workers].append(
                    one_run(corpus, os.path.join(scratch, "out"), workers,
                            os.path.join(scratch, "report.json"))
                )
        for workers, runs in results.items():
            best_convert = max(b / s for b, s, _ in runs) / 1e6
            best_overall = max(b / w for b, _, w in runs) / 1e6
            print(
                f"{workers} worker{'s' if workers > 1 else ''}: convert {best_convert:.1f} MB/s,"
                f" overall {best_overall:.1f} MB/s (best of {len(runs)})"
            )
        for workers, runs in results.items():
            for b, s, w in runs:
                print(f"  {workers}: {b / 1e6:.1f} MB, converting {s:.2f} s, wall {w:.2f} s")


if __name__ == "__main__":
    main()
