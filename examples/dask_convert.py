#!/usr/bin/python3
"""Converts a folder tree of Vietnamese text files to UTF-8, in parallel with Dask.

Every file under SRC_DIR is read by one of the Dask workers, which names its encoding with
toneshift.detect and converts it to UTF-8 with a toneshift.Converter, a piece at a time, so
that a big file never sits in memory whole. The result goes to DST_DIR under the same
relative path, written to a temporary file in its folder, synced and renamed into place:
a reader never sees half a file, and a file that fails leaves nothing behind (an older
file of that name stays as it was).

  * Files already in UTF-8 are copied byte for byte: their normalization form, byte-order
    mark and any oddities are kept, not rewritten. ASCII files (and empty ones) read as
    "plain" and come out as they were.
  * Files whose encoding cannot be told (binary data, too few Vietnamese words) or that mix
    two encodings are not converted; the report says why.
  * With --errors strict (the default) a file with bytes that mean nothing in its encoding
    is refused and not written; --errors replace (or translit, the same into UTF-8) writes
    U+FFFD for them instead and counts them.

Encodings are detected from the first 64 KiB of each file (cut at a line end): thousands
of words, plenty to tell an encoding, and detection costs more than conversion, so reading
more would slow the whole run. A file that changes encoding further on is converted as its
start reads; strict conversion still refuses it when the later bytes mean nothing in that
encoding.

Without --scheduler the script starts a local cluster of N worker processes with one thread
each (one per core by default). With --scheduler it uses an existing cluster: its workers
must see SRC_DIR and DST_DIR at the same paths and be able to import toneshift.

Example:

    $ ./dask_convert.py old-documents/ converted/ --workers 2 --report report.json
    /home/lan/old-documents/scan.bin: not converted: unknown (control bytes: not text)
    12 files (3.4 MB): 10 converted, 1 copied, 1 skipped, 0 refused, 0 failed; 0 problems; 1.9 s
    $ ./dask_convert.py /share/in /share/out --scheduler tcp://10.0.0.5:8786

The report (--report) is one JSON document: "files", one entry per file with its path, the
format detected ("format", or null), "verdict", "status" (converted, copied, skipped,
refused or failed), "bytes_in", "bytes_out", "problems" (bytes replaced, and where the
first was in "first_problem"), "lost" (each character the target lacks, with its count:
always empty into UTF-8, which lacks none) and "reason" when it was not written; then
"totals", the same counts for the whole tree and the seconds the conversion took.

Exit status: 0 every file converted or copied; 1 some files were not converted (unknown,
mixed or refused; all reported); 2 trouble: bad arguments, the cluster, or a file that could
not be read or written.
"""

import argparse
import json
import os
import sys
import tempfile
import time
from contextlib import contextmanager

try:
    import dask.bag
    import distributed
    import toneshift
except ImportError as missing:  # status 2: Python's own 1 would say files were refused
    print(f"dask_convert.py: {missing}", file=sys.stderr)
    sys.exit(2)

PIECE_SIZE = 1 << 20  # bytes read, converted and written at a time
SAMPLE_SIZE = 64 << 10  # bytes from the start of a file that detection reads
TARGET = "utf-8"


def list_files(src_dir, dst_dir):
    """The regular files under src_dir, as sorted paths relative to it; dst_dir is left out
    when it lies inside src_dir."""
    dst_real = os.path.realpath(dst_dir)
    found = []
    for folder, subfolders, names in os.walk(src_dir):
        subfolders[:] = sorted(
            d for d in subfolders if os.path.realpath(os.path.join(folder, d)) != dst_real
        )
        for name in names:
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path):
                found.append(os.path.relpath(path, src_dir))
    return sorted(found)


def read_sample(stream):
    """The start of a file for detection. When the file goes on, the sample ends after its
    last line feed (and that line feed's zero byte in little-endian UTF-16), so that no
    character is cut in two."""
    sample = stream.read(SAMPLE_SIZE)
    if len(sample) < SAMPLE_SIZE:
        return sample
    end = sample.rfind(b"\n") + 1
    if end == 0:
        return sample
    if sample[end : end + 1] == b"\0":
        end += 1
    return sample[:end]


@contextmanager
def atomic_output(path, mode):
    """A file object writing to a temporary file beside `path`, which becomes `path` (with
    permission bits `mode`) only when the block ends without an exception."""
    folder = os.path.dirname(path)
    os.makedirs(folder, exist_ok=True)
    fd, temporary = tempfile.mkstemp(dir=folder, prefix="." + os.path.basename(path) + ".")
    try:
        with os.fdopen(fd, "wb") as out:
            yield out
            out.flush()
            os.fchmod(out.fileno(), mode)
            os.fsync(out.fileno())
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise
    # The rename itself is durable once the folder is synced.
    folder_fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(folder_fd)
    finally:
        os.close(folder_fd)


def convert_file(job):
    """Runs on a worker: detects one file's encoding, writes its UTF-8 form, and returns
    what happened as a dictionary for the report."""
    src_dir, dst_dir, relative, errors = job
    source = os.path.join(src_dir, relative)
    destination = os.path.join(dst_dir, relative)
    record = {
        "path": relative,
        "format": None,
        "verdict": None,
        "status": None,
        "bytes_in": 0,
        "bytes_out": 0,
        "problems": 0,
        "lost": {},
    }
    try:
        with open(source, "rb") as stream:
            status = os.fstat(stream.fileno())
            record["bytes_in"] = status.st_size
            sample = read_sample(stream)
            stream.seek(0)

            detection = toneshift.detect(sample)
            record.update(
                verdict=detection.verdict, format=detection.format, summary=detection.summary
            )
            if detection.garbled:
                record["garbled"] = True
            if detection.verdict != "format":
                record.update(status="skipped", reason=detection.summary)
                return record

            converter = None
            if detection.format != TARGET:
                converter = toneshift.Converter(detection.format, TARGET, errors=errors)
            with atomic_output(destination, status.st_mode & 0o7777) as out:
                while piece := stream.read(PIECE_SIZE):
                    if converter is not None:
                        piece = converter.convert(piece)
                    out.write(piece)
                    record["bytes_out"] += len(piece)
                if converter is not None:
                    rest = converter.convert(b"", final=True)
                    out.write(rest)
                    record["bytes_out"] += len(rest)
            if converter is None:
                record["status"] = "copied"
            else:
                record.update(
                    status="converted",
                    problems=converter.problem_count,
                    lost=dict(converter.lost),
                )
                if converter.problem_count:
                    first = converter.first_problem
                    record["first_problem"] = {
                        "kind": first.kind,
                        "offset": first.offset,
                        "line": first.line,
                        "column": first.column,
                    }
    except toneshift.ConversionError as refusal:
        record.update(
            status="refused",
            reason=str(refusal),
            offset=refusal.offset,
            line=refusal.line,
            column=refusal.column,
            bytes_out=0,
        )
    except OSError as error:
        record.update(status="failed", reason=f"{error.strerror or error}", bytes_out=0)
    return record


def totals_of(records, seconds):
    statuses = [r["status"] for r in records]
    lost = {}
    for r in records:
        for character, count in r["lost"].items():
            lost[character] = lost.get(character, 0) + count
    return {
        "files": len(records),
        "converted": statuses.count("converted"),
        "copied": statuses.count("copied"),
        "skipped": statuses.count("skipped"),
        "refused": statuses.count("refused"),
        "failed": statuses.count("failed"),
        "bytes_in": sum(r["bytes_in"] for r in records),
        "bytes_out": sum(r["bytes_out"] for r in records),
        "problems": sum(r["problems"] for r in records),
        "lost": lost,
        "seconds": round(seconds, 3),
    }


def run(client, src_dir, dst_dir, errors):
    """Converts the tree on `client`'s cluster; returns the records and the totals."""
    files = list_files(src_dir, dst_dir)
    jobs = [(src_dir, dst_dir, relative, errors) for relative in files]
    # A few partitions per worker thread: enough to even out files of unequal size, few
    # enough that scheduling costs little next to the conversions.
    threads = sum(client.nthreads().values()) or 1
    partition_size = max(1, -(-len(jobs) // (4 * threads)))
    started = time.monotonic()
    records = []
    if jobs:
        bag = dask.bag.from_sequence(jobs, partition_size=partition_size)
        records = bag.map(convert_file).compute()
    return records, totals_of(records, time.monotonic() - started)


def write_report(path, src_dir, dst_dir, errors, records, totals):
    document = {
        "source": src_dir,
        "destination": dst_dir,
        "target": TARGET,
        "errors": errors,
        "files": records,
        "totals": totals,
    }
    path = os.path.abspath(path)
    with atomic_output(path, 0o644) as out:
        out.write(json.dumps(document, ensure_ascii=False, indent=1).encode() + b"\n")


def print_summary(src_dir, records, totals):
    for r in records:
        where = os.path.join(src_dir, r["path"])
        if r["status"] == "skipped":
            print(f"{where}: not converted: {r['reason']}")
        elif r["status"] in ("refused", "failed"):
            print(f"{where}: {r['status']}: {r['reason']}")
        elif r["problems"]:
            first = r["first_problem"]
            lost = "".join(r["lost"])
            print(
                f"{where}: {r['problems']} replaced, the first ({first['kind']}) at line "
                f"{first['line']}, column {first['column']}" + (f"; lost {lost}" if lost else "")
            )
    t = totals
    print(
        f"{t['files']} files ({t['bytes_in'] / 1e6:.1f} MB): {t['converted']} converted, "
        f"{t['copied']} copied, {t['skipped']} skipped, {t['refused']} refused, "
        f"{t['failed']} failed; {t['problems']} problems; {t['seconds']:.1f} s"
    )


def parse_arguments():
    parser = argparse.ArgumentParser(
        description="Convert a folder tree of Vietnamese text files to UTF-8 with Dask."
    )
    parser.add_argument("src_dir", metavar="SRC_DIR", help="the folder tree to convert")
    parser.add_argument("dst_dir", metavar="DST_DIR", help="where the UTF-8 files go")
    parser.add_argument(
        "--scheduler", metavar="ADDRESS", help="a running Dask scheduler (tcp://host:8786)"
    )
    parser.add_argument(
        "--workers",
        type=int,
        default=os.cpu_count() or 1,
        metavar="N",
        help="worker processes of the local cluster (default: one per core; not with --scheduler)",
    )
    parser.add_argument(
        "--errors",
        choices=("strict", "replace", "translit"),
        default="strict",
        help="bytes without meaning: refuse the file (strict), or write U+FFFD",
    )
    parser.add_argument("--report", metavar="FILE", help="write a JSON report to FILE")
    arguments = parser.parse_args()
    if arguments.workers < 1:
        parser.error("--workers must be at least 1")
    return arguments


def main():
    arguments = parse_arguments()
    src_dir = os.path.abspath(arguments.src_dir)
    dst_dir = os.path.abspath(arguments.dst_dir)
    if not os.path.isdir(src_dir):
        print(f"dask_convert.py: {arguments.src_dir}: not a folder", file=sys.stderr)
        return 2
    if os.path.realpath(src_dir) == os.path.realpath(dst_dir):
        print("dask_convert.py: SRC_DIR and DST_DIR must differ", file=sys.stderr)
        return 2

    try:
        if arguments.scheduler:
            with distributed.Client(arguments.scheduler) as client:
                records, totals = run(client, src_dir, dst_dir, arguments.errors)
        else:
            with distributed.LocalCluster(
                n_workers=arguments.workers,
                threads_per_worker=1,
                processes=True,
                dashboard_address=":0",
            ) as cluster, distributed.Client(cluster) as client:
                records, totals = run(client, src_dir, dst_dir, arguments.errors)
    except Exception as error:  # the cluster could not be reached, or a task failed
        print(f"dask_convert.py: {type(error).__name__}: {error}", file=sys.stderr)
        return 2

    print_summary(src_dir, records, totals)
    if arguments.report:
        try:
            write_report(arguments.report, src_dir, dst_dir, arguments.errors, records, totals)
        except OSError as error:
            print(f"dask_convert.py: {arguments.report}: {error.strerror}", file=sys.stderr)
            return 2
    if totals["failed"]:
        return 2
    if totals["skipped"] or totals["refused"]:
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
