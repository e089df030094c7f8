#!/usr/bin/python3
"""examples/dask_convert.py end to end: a folder tree of legacy files, made at test time from
known UTF-8 text with toneshift itself, goes through the script on a local cluster of two
worker processes; every output must be that text again, byte for byte, and the report must
say what happened to each file."""

import glob
import gzip
import importlib.util
import json
import os
import subprocess
import sys
import tempfile
import unicodedata
import unittest

import toneshift

EXAMPLE = os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "dask_convert.py"
)


def example_module():
    found = importlib.util.spec_from_file_location("dask_convert", EXAMPLE)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module

# Used when the Vietnamese manual pages are not installed: VIQR, made UTF-8 by toneshift.
FALLBACK_VIQR = """\
Tie^'ng Vie^.t la` ngo^n ngu+~ chi'nh thu+'c cu?a nu+o+'c Vie^.t Nam.
Chu+~ Quo^'c ngu+~ du`ng ca'c chu+~ ca'i La-tinh vo+'i nhie^`u da^'u thanh.
Mo^~i a^m tie^'t co' the^? mang mo^.t trong sa'u thanh die^.u kha'c nhau.
Ngu+o+`i ta tha^'y nhu+~ng va(n ba?n cu~ vie^'t ba(`ng nhie^`u ba?ng ma~ kha'c nhau.
"""


def vietnamese_texts(count):
    """`count` different UTF-8 texts (NFC) of some hundreds of words with diacritics each."""
    pages = sorted(
        p for p in glob.glob("/usr/share/man/vi/man*/*.gz") if not os.path.islink(p)
    )
    texts = []
    for page in pages:
        with gzip.open(page, "rt", encoding="utf-8") as stream:
            text = unicodedata.normalize("NFC", stream.read())
        if sum(ord(c) > 127 for c in text) > 600:
            texts.append(text)
        if len(texts) == count:
            return texts
    base = toneshift.convert(FALLBACK_VIQR.encode(), "viqr", "utf-8").decode()
    while len(texts) < count:
        texts.append(f"{len(texts)}\n" + base * 40)
    return texts


def fit(text, encoding):
    """`text` without the characters that `encoding` cannot hold exactly (TCVN3 lacks
    capitals, the 8-bit encodings typographic signs), so that it makes the round trip."""
    if encoding == "tcvn3":
        text = text.lower()
    keep = set()
    for c in set(text):
        try:
            there = toneshift.convert(c.encode(), "utf-8", encoding)
            if toneshift.convert(there, encoding, "utf-8") == c.encode():
                keep.add(c)
        except toneshift.ConversionError:
            pass
    return "".join(c for c in text if c in keep)


def encode(text, encoding):
    data = toneshift.convert(text.encode(), "utf-8", encoding)
    # The corpus itself must make the round trip, or a failure below would mean nothing.
    assert toneshift.convert(data, encoding, "utf-8") == text.encode(), encoding
    return data


def cut_inside_a_character(text, offset):
    """`text` after a line of dots that makes UTF-8 byte `offset` fall inside a character."""
    data = text.encode()
    inside = max(i for i in range(offset + 1) if 0x80 <= data[i] < 0xC0)
    shift = offset - inside
    return "." * (shift - 1) + "\n" + text if shift else text


def write(root, relative, data):
    path = os.path.join(root, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def files_under(root):
    return sorted(
        os.path.relpath(os.path.join(folder, name), root)
        for folder, _, names in os.walk(root)
        for name in names
    )


class DaskConvertTest(unittest.TestCase):
    def setUp(self):
        scratch = tempfile.TemporaryDirectory(prefix="dask_convert_test-")
        self.addCleanup(scratch.cleanup)
        self.scratch = scratch.name
        self.src = os.path.join(self.scratch, "src")
        self.dst = os.path.join(self.scratch, "dst")
        self.report_path = os.path.join(self.scratch, "report.json")

    def run_example(self, *options, dst=None):
        finished = subprocess.run(
            [sys.executable, EXAMPLE, self.src, dst or self.dst, "--workers", "2"]
            + ["--report", self.report_path, *options],
            capture_output=True,
            text=True,
            timeout=240,
        )
        with open(self.report_path, encoding="utf-8") as stream:
            report = json.load(stream)
        return finished, {r["path"]: r for r in report["files"]}, report["totals"]

    def test_a_tree_of_legacy_files_becomes_the_utf8_it_was_made_from(self):
        texts = vietnamese_texts(6)
        sample_size = example_module().SAMPLE_SIZE
        # Each converted file, its encoding, and the UTF-8 text it must come back as.
        plan = [
            ("tcvn3.txt", "tcvn3", fit(texts[0], "tcvn3")),
            # The long ones, over 2 MiB, are converted in several pieces and detected from
            # their start only.
            ("docs/vni/long.txt", "vni-win", fit(texts[1], "vni-win") * 260),
            ("docs/viscii.txt", "viscii", fit(texts[2], "viscii")),
            ("docs/deep/er/utf16.txt", "utf-16", texts[3] * 150),
            # The sample the script detects from must not end in half a character.
            ("utf8.txt", "utf-8", cut_inside_a_character(texts[4] * 230, sample_size)),
        ]
        expected = {}
        for relative, encoding, text in plan:
            write(self.src, relative, encode(text, encoding))
            expected[relative] = text.encode()
        english = b"Plain English only, the same in every encoding.\n" * 20
        write(self.src, "notes/english.txt", english)
        expected["notes/english.txt"] = english
        write(self.src, "empty.txt", b"")
        expected["empty.txt"] = b""
        # Not converted: bytes that are no text, and a file in two encodings.
        write(self.src, "data/blob.bin", bytes(range(256)) * 64)
        halves = [encode(fit(texts[5], e), e) for e in ("tcvn3", "vni-win")]
        write(self.src, "mixed.txt", b"".join(halves))

        finished, files, totals = self.run_example()

        self.assertEqual(finished.returncode, 1, finished.stdout + finished.stderr)
        # Exactly the converted files, and no temporary file left beside them.
        self.assertEqual(files_under(self.dst), sorted(expected))
        for relative, text in expected.items():
            with open(os.path.join(self.dst, relative), "rb") as stream:
                self.assertEqual(stream.read(), text, relative)

        for relative, encoding, _ in plan:
            with self.subTest(relative):
                self.assertEqual(files[relative]["format"], encoding)
                status = "copied" if encoding == "utf-8" else "converted"
                self.assertEqual(files[relative]["status"], status)
                self.assertEqual(files[relative]["bytes_out"], len(expected[relative]))
                self.assertEqual(files[relative]["problems"], 0)
                self.assertEqual(files[relative]["lost"], {})
        long_size = os.path.getsize(os.path.join(self.src, "docs/vni/long.txt"))
        self.assertEqual(files["docs/vni/long.txt"]["bytes_in"], long_size)
        self.assertEqual(files["data/blob.bin"]["verdict"], "unknown")
        self.assertEqual(files["mixed.txt"]["verdict"], "mixed")
        for relative in ("data/blob.bin", "mixed.txt"):
            self.assertEqual(files[relative]["status"], "skipped")
            self.assertTrue(files[relative]["reason"])
            self.assertIn(relative, finished.stdout)
        counts = ("files", "converted", "copied", "skipped", "refused", "failed", "problems")
        self.assertEqual([totals[k] for k in counts], [9, 6, 1, 2, 0, 0, 0])
        self.assertEqual(totals["bytes_out"], sum(map(len, expected.values())))

    def test_a_refused_file_leaves_no_output_and_replace_converts_it(self):
        text = vietnamese_texts(2)
        good = fit(text[0], "viscii")
        write(self.src, "good/viscii.txt", encode(good, "viscii"))
        # 0x81 means nothing in Windows-1258: strict refuses the file at the line it starts.
        lines = fit(text[1], "cp1258").splitlines(keepends=True)
        before, after = "".join(lines[:40]), "".join(lines[40:])
        undefined_at = len(encode(before, "cp1258"))
        bad = encode(before, "cp1258") + b"\x81" + encode(after, "cp1258")
        write(self.src, "bad/cp1258.txt", bad)
        # An older output of that name is left as it was.
        write(self.dst, "bad/cp1258.txt", b"older output\n")

        finished, files, totals = self.run_example()

        self.assertEqual(finished.returncode, 1, finished.stdout + finished.stderr)
        self.assertEqual(files_under(self.dst), ["bad/cp1258.txt", "good/viscii.txt"])
        with open(os.path.join(self.dst, "bad/cp1258.txt"), "rb") as stream:
            self.assertEqual(stream.read(), b"older output\n")
        with open(os.path.join(self.dst, "good/viscii.txt"), "rb") as stream:
            self.assertEqual(stream.read(), good.encode())
        refused = files["bad/cp1258.txt"]
        self.assertEqual(refused["format"], "cp1258")
        self.assertEqual(refused["status"], "refused")
        self.assertEqual(refused["bytes_out"], 0)
        where = (refused["offset"], refused["line"], refused["column"])
        self.assertEqual(where, (undefined_at, 41, 1))
        self.assertIn("bad/cp1258.txt", finished.stdout)
        self.assertEqual((totals["converted"], totals["refused"]), (1, 1))

        replaced_dst = os.path.join(self.scratch, "replaced")
        finished, files, totals = self.run_example("--errors", "replace", dst=replaced_dst)

        self.assertEqual(finished.returncode, 0, finished.stdout + finished.stderr)
        with open(os.path.join(replaced_dst, "bad/cp1258.txt"), "rb") as stream:
            self.assertEqual(stream.read(), (before + "\ufffd" + after).encode())
        replaced = files["bad/cp1258.txt"]
        self.assertEqual(replaced["problems"], 1)
        self.assertEqual(replaced["first_problem"]["line"], 41)
        self.assertEqual(totals["problems"], 1)

    def test_trouble_before_any_work_is_status_2(self):
        finished = subprocess.run(
            [sys.executable, EXAMPLE, os.path.join(self.scratch, "absent"), self.dst],
            capture_output=True,
            text=True,
            timeout=60,
        )
        self.assertEqual(finished.returncode, 2)
        self.assertIn("absent", finished.stderr)
        self.assertFalse(os.path.exists(self.dst))


if __name__ == "__main__":
    unittest.main()
