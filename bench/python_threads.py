#!/usr/bin/python3
"""Throughput of toneshift.convert from Python, in one thread and in several at once.

The module releases the GIL while it converts, so threads should scale with the cores. The
text is Vietnamese from manpages-vi, written in TCVN3 and repeated to the size asked for;
it is cut at line ends into pieces, which one thread converts in turn and then a pool of
threads converts at once (TCVN3 to UTF-8). Prints MB/s (of input, MB = 10^6 bytes) for
both, the speedup, and checks that both gave the same bytes.

Usage: /usr/bin/python3 bench/python_threads.py BUILD/src/python [--mib 64] [--threads 4]
                                                [--pieces 64] [--rounds 3]
"""

import argparse
import concurrent.futures
import gzip
import os
import re
import sys
import time


def manpage_text():
    folder = "/usr/share/man/vi"
    lines = []
    for root, _, files in os.walk(folder):
        for name in sorted(files):
            if not name.endswith(".gz"):
                continue
            with gzip.open(os.path.join(root, name), "rt", encoding="utf-8",
                           errors="replace") as f:
                for line in f:
                    if line.startswith((".", "'")):
                        continue
                    lines.append(re.sub(r"\\f[BIRP]|\\&|\\-|\\\(..|\\.", "", line))
    if not lines:
        sys.exit("no text in /usr/share/man/vi: install manpages-vi")
    return "".join(lines)


def split_at_lines(data, count):
    pieces = []
    start = 0
    step = max(len(data) // count, 1)
    while start < len(data):
        end = data.find(b"\n", min(start + step, len(data) - 1))
        end = len(data) if end < 0 else end + 1
        pieces.append(data[start:end])
        start = end
    return pieces


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("package_path", help="the folder holding the toneshift package")
    parser.add_argument("--mib", type=int, default=64)
    parser.add_argument("--threads", type=int, default=4)
    parser.add_argument("--pieces", type=int, default=64)
    parser.add_argument("--rounds", type=int, default=3, help="best of this many")
    args = parser.parse_args()
    sys.path.insert(0, os.path.abspath(args.package_path))
    import toneshift

    sample = toneshift.convert(manpage_text(), to="tcvn3", errors="replace")
    size = args.mib << 20
    data = (sample * (size // len(sample) + 1))[:size]
    data = data[: data.rfind(b"\n") + 1]
    pieces = split_at_lines(data, args.pieces)

    def convert(piece):
        return toneshift.convert(piece, "tcvn3", "utf-8", errors="replace")

    def one_thread():
        return [convert(p) for p in pieces]

    def pool_of_threads():
        with concurrent.futures.ThreadPoolExecutor(args.threads) as pool:
            return list(pool.map(convert, pieces))

    results = {}
    for name, run in (("1 thread", one_thread), (f"{args.threads} threads", pool_of_threads)):
        best = float("inf")
        for _ in range(args.rounds):
            start = time.perf_counter()
            out = run()
            best = min(best, time.perf_counter() - start)
        results[name] = (best, out)
        print(f"{name:>10}: {len(data) / best / 1e6:8.1f} MB/s  ({best:.3f} s for "
              f"{len(data) / 2**20:.0f} MiB TCVN3 to UTF-8, {len(pieces)} pieces)")
    (single, out1), (multi, out4) = results.values()
    if out1 != out4:
        sys.exit("the threads' output differs from one thread's")
    print(f"   speedup: {single / multi:.2f} with {args.threads} threads on "
          f"{os.cpu_count()} CPUs")


if __name__ == "__main__":
    main()
