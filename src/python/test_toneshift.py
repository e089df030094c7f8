"""Tests of the toneshift Python package, run against the build tree's copy (PYTHONPATH)."""

import codecs
import concurrent.futures
import gzip
import io
import os
import re
import tempfile
import unicodedata
import unittest
import zipfile

import toneshift

VOWELS = "aăâeêioôơuưy"
MARKS = ["", "\u0300", "\u0301", "\u0309", "\u0303", "\u0323"]
SMALL = [unicodedata.normalize("NFC", v + m) for v in VOWELS for m in MARKS
         if not (v in "aeiouy" and m == "")] + ["đ"]
# The 134 Vietnamese letters that are not ASCII: small ones, then capitals.
LETTERS = "".join(SMALL) + "".join(SMALL).upper()
SENTENCE = "Cộng hoà xã hội chủ nghĩa Việt Nam, độc lập - tự do - hạnh phúc. Hỏi? \"Ừ\"."


def manpage_text(limit=20000):
    """Vietnamese sentences from manpages-vi, or "" when it is not installed. Roff requests
    and escapes are dropped, and so are lines with characters beyond ASCII and the letters."""
    folder = "/usr/share/man/vi/man1"
    if not os.path.isdir(folder):
        return ""
    allowed = set(LETTERS) | {chr(c) for c in range(0x20, 0x7F)}
    lines = []
    size = 0
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".gz"):
            continue
        with gzip.open(os.path.join(folder, name), "rt", encoding="utf-8",
                       errors="replace") as f:
            for line in f:
                line = re.sub(r"\\f[BIRP]|\\&|\\-|\\\(..|\\.", "", line.rstrip("\n"))
                if line.startswith((".", "'")) or not line or not set(line) <= allowed:
                    continue
                if set(line) & set(LETTERS):
                    lines.append(line)
                    size += len(line)
        if size > limit:
            break
    return "\n".join(lines) + "\n"


REAL = manpage_text()


def as_windows_shows(data):
    """Bytes read as Windows-1252, the five bytes it leaves undefined as the C1 controls of the
    same number: how Word keeps a legacy font's bytes, and how UTF-8 gets garbled."""
    return "".join(chr(b) if b in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else bytes([b]).decode("cp1252")
                   for b in data)
# Formats that hold all 134 letters and ASCII, so any such text goes there and back.
FULL_FORMATS = ["viscii", "viqr", "utf-8", "vni-win", "cp1258", "vn1", "bkhcm2",
                "utf-16", "utf-16be", "ncr"]


class RoundTrips(unittest.TestCase):
    def test_letters_and_real_text_through_each_format(self):
        texts = [LETTERS + " " + SENTENCE + "\n"]
        if REAL:
            texts.append(REAL)
        for name in FULL_FORMATS:
            for text in texts:
                with self.subTest(format=name, text=text[:30]):
                    data = toneshift.convert(text, to=name)
                    self.assertIsInstance(data, bytes)
                    self.assertEqual(toneshift.convert(data, name, str), text)

    def test_legacy_to_legacy_by_meaning(self):
        text = SENTENCE.lower()  # TCVN3 has no toned capitals
        tcvn3 = toneshift.convert(text, to="tcvn3")
        vni = toneshift.convert(tcvn3, "tcvn3", "vni-win")
        self.assertEqual(vni, text.encode("toneshift-vni-win"))
        self.assertEqual(toneshift.decode(vni, "vni-win"), text)
        # "ộ" is "o" and one mark byte in VNI for Windows, one byte in TCVN3.
        self.assertEqual(tcvn3[:4], b"c\xe9ng")
        self.assertEqual(vni[:5], b"co\xe4ng")

    def test_tcvn3_writes_small_letters_only_and_capitals_lose_their_tone(self):
        self.assertEqual(toneshift.decode(toneshift.encode(SENTENCE.lower(), "tcvn3"), "tcvn3"),
                         SENTENCE.lower())
        with self.assertRaises(toneshift.ConversionError) as caught:
            toneshift.encode("Ừ", "tcvn3")
        self.assertEqual(caught.exception.character, "Ừ")

    def test_unicode_forms(self):
        nfd = toneshift.convert("Việt", to="utf-8", form="nfd").decode("utf-8")
        self.assertEqual(nfd, unicodedata.normalize("NFD", "Việt"))
        composite = toneshift.convert("Việt", to=str, form="composite")
        self.assertEqual(composite, "Vi\u00ea\u0323t")
        self.assertEqual(toneshift.convert(composite, to=str), "Việt")


class StrAndBytes(unittest.TestCase):
    def test_the_type_str_asks_for_a_string_and_a_name_for_bytes(self):
        data = "Việt".encode("utf-8")
        self.assertEqual(toneshift.convert(data, "utf-8", str), "Việt")
        self.assertEqual(toneshift.convert(data, "utf-8", "utf-8"), data)
        self.assertEqual(toneshift.convert("Việt", to="utf-16le"), "Việt".encode("utf-16le"))
        self.assertEqual(toneshift.convert(bytearray(b"Vi\xd6t"), "tcvn3", str), "Việt")
        self.assertEqual(toneshift.convert(memoryview(b"xVi\xd6t")[1:], "TCVN3", str), "Việt")
        self.assertEqual(toneshift.convert(b"Vi\xd6t", "abc", str), "Việt")

    def test_misuse_is_refused_with_a_reason(self):
        with self.assertRaises(TypeError):
            toneshift.convert("Việt", "tcvn3", "vni-win")  # a str has no source format
        with self.assertRaises(TypeError):
            toneshift.convert(b"Viet", to="tcvn3")  # bytes need one
        with self.assertRaises(TypeError):
            toneshift.convert("Việt")
        with self.assertRaisesRegex(ValueError, "unknown format"):
            toneshift.convert("Việt", to="klingon")
        with self.assertRaisesRegex(ValueError, "errors"):
            toneshift.convert("Việt", to="tcvn3", errors="ignore")
        with self.assertRaisesRegex(ValueError, "form"):
            toneshift.convert("Việt", to=str, form="nfkc")

    def test_formats_and_descriptions(self):
        names = toneshift.formats()
        for name in ["viscii", "viqr", "utf-8", "tcvn3", "vni-win", "cp1258", "ncr"]:
            self.assertIn(name, names)
        self.assertIn("TCVN3", toneshift.format_description("abc"))
        self.assertRegex(toneshift.version(), r"^\d+\.\d+\.\d+$")


class Policies(unittest.TestCase):
    def test_strict_refuses_a_loss_at_its_place(self):
        text = "Việt\nNam 中 x"
        with self.assertRaises(toneshift.ConversionError) as caught:
            toneshift.convert(text, to="tcvn3")
        e = caught.exception
        self.assertIsInstance(e, ValueError)
        self.assertEqual((e.kind, e.character, e.bytes, e.format), ("loss", "中", None, "tcvn3"))
        self.assertEqual((e.line, e.column), (2, 5))
        self.assertEqual(text[e.offset], "中")  # an index into the str, not a UTF-8 offset
        self.assertIn("line 2, column 5", str(e))

    def test_strict_refuses_undefined_bytes_at_their_place(self):
        data = b"Vi\xd6t\nab\x81c"  # 0x81 means nothing in TCVN3
        with self.assertRaises(toneshift.ConversionError) as caught:
            toneshift.convert(data, "tcvn3", "utf-8")
        e = caught.exception
        self.assertEqual((e.kind, e.bytes, e.character, e.format), ("undefined", b"\x81", None,
                                                                    "tcvn3"))
        self.assertEqual((e.offset, e.line, e.column), (7, 2, 3))

    def test_replace_and_translit(self):
        text = "“Việt” – 中…"
        self.assertEqual(toneshift.convert(text, to="viscii", errors="replace"),
                         b"?Vi\xaet? ? ??")
        self.assertEqual(toneshift.convert(text, to="viscii", errors="translit"),
                         b'"Vi\xaet" - ?...')
        self.assertEqual(toneshift.convert(b"a\x81b", "tcvn3", str, errors="replace"),
                         "a\ufffdb")

    def test_tone_style_and_fixing_tones(self):
        self.assertEqual(toneshift.convert("hòa thủy", to=str, tone_style="new"), "hoà thuỷ")
        self.assertEqual(toneshift.convert("hoà thuỷ", to=str, tone_style="old"), "hòa thủy")
        self.assertEqual(toneshift.convert("hòa", to=str), "hòa")
        self.assertEqual(toneshift.convert("họat động", to=str, fix_tones=True), "hoạt động")
        tcvn3 = toneshift.convert("hoà", to="tcvn3", tone_style="old")
        self.assertEqual(toneshift.decode(tcvn3, "tcvn3"), "hòa")


class Detection(unittest.TestCase):
    def test_formats_are_named(self):
        text = (SENTENCE + "\n") * 4 + (REAL[:3000] if REAL else "")
        for name in ["tcvn3", "vni-win", "utf-8", "viqr"]:
            with self.subTest(format=name):
                data = toneshift.convert(text.lower(), to=name, errors="replace")
                d = toneshift.detect(data)
                self.assertEqual((d.verdict, d.format), ("format", name), d.summary)
                self.assertFalse(d.garbled)
                self.assertTrue(d.summary.startswith(name))

    def test_unknown_text_has_no_format(self):
        self.assertEqual(toneshift.detect(b"hello world\n").format, "plain")
        d = toneshift.detect(b"vi\xd6t")  # "viet" in more than one encoding
        self.assertEqual(d.verdict, "unknown")
        self.assertIsNone(d.format)
        self.assertIn("tcvn3", d.candidates)
        with self.assertRaises(Exception):
            d.verdict = "format"  # frozen

    def test_mixed_text_has_ranges(self):
        tcvn3 = toneshift.convert((SENTENCE.lower() + "\n") * 40, to="tcvn3")
        vni = toneshift.convert((SENTENCE.lower() + "\n") * 40, to="vni-win")
        d = toneshift.detect(tcvn3 + vni)
        self.assertEqual(d.verdict, "mixed", d.summary)
        self.assertEqual([r[2] for r in d.ranges], ["tcvn3", "vni-win"])
        self.assertEqual(d.ranges[0][0], 1)

    def test_garbled_utf8_is_said(self):
        garbled = as_windows_shows(((SENTENCE + "\n") * 3).encode("utf-8"))
        self.assertTrue(toneshift.detect(garbled).garbled)


class Repair(unittest.TestCase):
    def test_text_read_as_windows_1252_is_repaired(self):
        garbled = "Cộng hoà".encode("utf-8").decode("cp1252")
        self.assertNotEqual(garbled, "Cộng hoà")
        self.assertEqual(toneshift.repair(garbled), "Cộng hoà")
        report = toneshift.repair_report(garbled)
        self.assertEqual(report.text, "Cộng hoà")
        self.assertGreater(report.repaired, 0)
        self.assertEqual(report.unrecovered, 0)
        self.assertIn("windows-1252", report.summary)

    def test_bytes_are_repaired_as_bytes_and_clean_text_is_left(self):
        garbled = as_windows_shows(SENTENCE.encode("utf-8")).encode("utf-8")
        self.assertEqual(toneshift.repair(garbled), SENTENCE.encode("utf-8"))
        clean = toneshift.repair_report(SENTENCE)
        self.assertEqual((clean.text, clean.summary), (SENTENCE, ""))
        with self.assertRaises(ValueError):
            toneshift.repair(b"x", "tcvn3")

    def test_a_letter_whose_bytes_were_lost_is_refused_or_replaced(self):
        lost = "Hỏi Cộng hoà".encode("utf-8").decode("cp1252", "replace")  # 0x8F became U+FFFD
        with self.assertRaisesRegex(ValueError, "cannot be recovered"):
            toneshift.repair(lost)
        report = toneshift.repair_report(lost, errors="replace")
        self.assertEqual(report.text, "H\ufffdi Cộng hoà")
        self.assertEqual(report.unrecovered, 1)


class IncrementalConverter(unittest.TestCase):
    def test_byte_by_byte_gives_the_whole_output(self):
        text = LETTERS + "\n" + SENTENCE + "\n" + REAL[:4000]
        for source, target in [("vni-win", "utf-8"), ("utf-8", "viqr"), ("viqr", "tcvn3"),
                               ("cp1258", "vni-win"), ("utf-16", "ncr")]:
            with self.subTest(source=source, target=target):
                data = toneshift.convert(text, to=source)
                whole = toneshift.convert(data, source, target, errors="replace")
                c = toneshift.Converter(source, target, errors="replace")
                pieces = [c.convert(data[i:i + 1]) for i in range(len(data))]
                pieces.append(c.convert(b"", final=True))
                self.assertEqual(b"".join(pieces), whole)

    def test_counts_problems_and_losses_and_starts_again(self):
        c = toneshift.Converter("utf-8", "tcvn3", errors="replace")
        out = c.convert("Ừ 中 中 €".encode("utf-8"), final=True)
        self.assertEqual(out, b"\xf5 ? ? \x80")  # the small letter for a toned capital
        self.assertEqual(c.problem_count, 3)
        self.assertEqual(c.lost, {"中": 2, "Ừ": 1})
        first = c.first_problem
        self.assertEqual((first.kind, first.offset, first.character), ("loss", 0, "Ừ"))
        self.assertEqual(c.convert(b"ok", final=True), b"ok")  # a new input after the last
        self.assertEqual((c.problem_count, c.lost, c.first_problem), (0, {}, None))

    def test_strict_refusal_carries_the_place_in_the_whole_stream(self):
        c = toneshift.Converter(str, "tcvn3")
        written = c.convert("việt\n")
        with self.assertRaises(toneshift.ConversionError) as caught:
            c.convert("nam 中", final=True)
        e = caught.exception
        self.assertEqual((e.offset, e.line, e.column, e.character), (9, 2, 5, "中"))
        self.assertEqual(written + e.output, b"vi\xd6t\nnam ")
        c.reset()
        self.assertEqual(c.convert("ok", final=True), b"ok")

    def test_str_pieces_and_str_output(self):
        c = toneshift.Converter("vni-win", str)
        data = SENTENCE.encode("toneshift-vni-win")
        text = "".join(c.convert(data[i:i + 3]) for i in range(0, len(data), 3))
        self.assertEqual(text + c.convert(b"", final=True), SENTENCE)
        with self.assertRaises(TypeError):
            c.convert("text")

    def test_convert_stream(self):
        data = (SENTENCE + "\n").encode("toneshift-vni-win") * 500
        out = io.BytesIO()
        toneshift.Converter("vni-win", "utf-8").convert_stream(io.BytesIO(data), out, 7)
        self.assertEqual(out.getvalue(), ((SENTENCE + "\n") * 500).encode("utf-8"))


class Codecs(unittest.TestCase):
    def test_bytes_decode_and_str_encode(self):
        tcvn3 = toneshift.convert(SENTENCE.lower(), to="tcvn3")
        self.assertEqual(tcvn3.decode("tcvn3"), SENTENCE.lower())
        self.assertEqual(tcvn3.decode("TCVN3"), SENTENCE.lower())
        self.assertEqual(tcvn3.decode("toneshift-tcvn3"), SENTENCE.lower())
        self.assertEqual(SENTENCE.encode("vni_win"), toneshift.encode(SENTENCE, "vni-win"))
        self.assertEqual(SENTENCE.encode("viqr").decode("viqr"), SENTENCE)
        self.assertEqual(codecs.lookup("vni-win").name, "vni-win")
        self.assertEqual(codecs.lookup("toneshift-utf-8").name, "toneshift-utf-8")
        with self.assertRaises(LookupError):
            codecs.lookup("toneshift-klingon")
        with self.assertRaises(LookupError):
            codecs.lookup("12")  # format numbers are no codec names

    def test_pythons_cp1258_stays_and_ours_composes(self):
        self.assertEqual(codecs.lookup("cp1258").name, "cp1258")
        self.assertEqual(codecs.lookup("toneshift-cp1258").name, "toneshift-cp1258")
        data = b"a\xf2"  # "a" and the combining dot below
        self.assertEqual(data.decode("cp1258"), "a\u0323")
        self.assertEqual(data.decode("toneshift-cp1258"), "ạ")
        with self.assertRaises(UnicodeEncodeError):
            "ạ".encode("cp1258")
        self.assertEqual("ạ".encode("toneshift-cp1258"), data)

    def test_errors_map_to_the_policies(self):
        with self.assertRaises(UnicodeEncodeError) as caught:
            "Việt 中".encode("tcvn3")
        e = caught.exception
        self.assertEqual((e.encoding, e.start, e.end, e.object[e.start]), ("tcvn3", 5, 6, "中"))
        with self.assertRaises(UnicodeDecodeError) as caught:
            b"Vi\xd6t \x81!".decode("tcvn3")
        e = caught.exception
        self.assertEqual((e.start, e.end, e.object), (5, 6, b"Vi\xd6t \x81!"))
        self.assertEqual("Việt 中".encode("tcvn3", "replace"), b"Vi\xd6t ?")
        self.assertEqual("“中”".encode("viscii", "translit"), b'"?"')
        self.assertEqual(b"a\x81".decode("tcvn3", "replace"), "a\ufffd")
        with self.assertRaisesRegex(ValueError, "strict"):
            "Việt".encode("tcvn3", "ignore")

    def test_open_writes_and_reads_back(self):
        text = ((SENTENCE + "\n") * 300) + REAL[:20000]
        with tempfile.TemporaryDirectory() as folder:
            for name in ["vni-win", "toneshift-utf-16", "viqr", "toneshift-cp1258"]:
                with self.subTest(encoding=name):
                    path = os.path.join(folder, name)
                    with open(path, "w", encoding=name, newline="") as f:
                        for line in text.splitlines(keepends=True):
                            f.write(line)
                    with open(path, "rb") as f:
                        self.assertEqual(f.read(), toneshift.convert(text, to=name.replace(
                            "toneshift-", "")))
                    with open(path, encoding=name, newline="") as f:
                        self.assertEqual(f.read(), text)
                    with open(path, encoding=name, newline="") as f:
                        f._CHUNK_SIZE = 3  # reads end inside letters' spellings
                        self.assertEqual(f.read(), text)
                    with open(path, encoding=name, newline="") as f:
                        self.assertEqual(f.readlines(), text.splitlines(keepends=True))

    def test_pieces_written_apart_read_back_as_written(self):
        # VIQR spells "?" after a vowel, "d" after "d" and "'" after a vowel with an escape,
        # whichever write they came in.
        pieces = ["mua", "?", " d", "d", "a", "'", " ở", "\n"]
        for name in ["viqr", "vni-win", "toneshift-utf-16"]:
            with self.subTest(encoding=name):
                encoder = codecs.getincrementalencoder(name)()
                data = b"".join(encoder.encode(p) for p in pieces)
                self.assertEqual(data.decode(name), "".join(pieces))
                with tempfile.TemporaryFile("w+", encoding=name) as f:
                    for p in pieces:
                        f.write(p)
                        f.flush()
                    f.seek(0)
                    self.assertEqual(f.read(), "".join(pieces))
        encoder = codecs.getincrementalencoder("tcvn3")()
        encoder.encode("Việt ")
        with self.assertRaises(UnicodeEncodeError) as caught:
            encoder.encode("x中")
        self.assertEqual((caught.exception.object, caught.exception.start), ("x中", 1))

    def test_incremental_and_stream_codecs_split_anywhere(self):
        data = ((SENTENCE + "\n") * 20).encode("vni-win")
        pieces = (data[i:i + 1] for i in range(len(data)))
        self.assertEqual("".join(codecs.iterdecode(pieces, "vni-win")), (SENTENCE + "\n") * 20)
        reader = codecs.getreader("vni-win")(io.BytesIO(data))
        got = []
        while True:
            piece = reader.read(5)
            if not piece:
                break
            got.append(piece)
        self.assertEqual("".join(got), (SENTENCE + "\n") * 20)
        lines = codecs.getreader("vni-win")(io.BytesIO(data)).readlines()
        self.assertEqual(lines, [SENTENCE + "\n"] * 20)
        out = io.BytesIO()
        writer = codecs.getwriter("toneshift-utf-16")(out)
        writer.write("Việt ")
        writer.write("Nam")
        self.assertEqual(out.getvalue().decode("utf-16"), "Việt Nam")  # one byte-order mark


def word_package(document_xml):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        z.writestr("[Content_Types].xml",
                   '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/'
                   'package/2006/content-types"><Default Extension="rels" ContentType="'
                   'application/vnd.openxmlformats-package.relationships+xml"/><Default '
                   'Extension="xml" ContentType="application/xml"/><Override PartName="/word/'
                   'document.xml" ContentType="application/vnd.openxmlformats-officedocument.'
                   'wordprocessingml.document.main+xml"/></Types>')
        z.writestr("_rels/.rels",
                   '<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.'
                   'org/package/2006/relationships"><Relationship Id="rId1" Type="http://'
                   'schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument"'
                   ' Target="word/document.xml"/></Relationships>')
        z.writestr("word/document.xml", document_xml)
    return out.getvalue()


def word_document(text_in_font):
    return word_package(
        '<?xml version="1.0" encoding="UTF-8"?><w:document xmlns:w="http://schemas.'
        'openxmlformats.org/wordprocessingml/2006/main"><w:body><w:p><w:r><w:rPr><w:rFonts '
        'w:ascii=".VnTime" w:hAnsi=".VnTime"/></w:rPr><w:t>' + text_in_font +
        '</w:t></w:r></w:p></w:body></w:document>')


class Documents(unittest.TestCase):
    TEXT = "cộng hoà xã hội chủ nghĩa việt nam"

    def converted_text(self, package):
        with zipfile.ZipFile(io.BytesIO(package)) as z:
            return z.read("word/document.xml").decode("utf-8")

    def test_a_word_run_in_vntime_becomes_unicode(self):
        doc = word_document(as_windows_shows(toneshift.convert(self.TEXT, to="tcvn3")))
        out, report = toneshift.convert_document(doc, with_report=True)
        xml = self.converted_text(out)
        self.assertIn(self.TEXT, xml)
        self.assertNotIn(".VnTime", xml)
        self.assertEqual((report.fonts, report.parts_changed), (1, 1))
        named = toneshift.convert_document(doc, unicode_font="Arial")
        self.assertIn('"Arial"', self.converted_text(named))

    def test_files_and_failures(self):
        doc = word_document(as_windows_shows(toneshift.convert(self.TEXT, to="tcvn3")))
        with tempfile.TemporaryDirectory() as folder:
            source = os.path.join(folder, "in.docx")
            target = os.path.join(folder, "out.docx")
            with open(source, "wb") as f:
                f.write(doc)
            report = toneshift.convert_document(source, target)
            self.assertEqual(report.fonts, 1)
            with open(target, "rb") as f:
                self.assertIn(self.TEXT, self.converted_text(f.read()))
            with self.assertRaises(OSError):
                toneshift.convert_document(os.path.join(folder, "none.docx"), target)
        with self.assertRaises(toneshift.DocumentError):
            toneshift.convert_document(b"not a document at all")
        undefined = word_document("a\x81b")
        with self.assertRaises(toneshift.DocumentError):
            toneshift.convert_document(undefined)
        self.assertIn("a\ufffdb", self.converted_text(
            toneshift.convert_document(undefined, errors="replace")))

    def test_a_font_map_names_the_encoding(self):
        vni = as_windows_shows(toneshift.convert(self.TEXT, to="vni-win"))
        doc = word_document(vni)  # the run says .VnTime, the map says its text is VNI
        out = toneshift.convert_document(doc, font_map=".VnTime vni-win Cambria\n")
        xml = self.converted_text(out)
        self.assertIn(self.TEXT, xml)
        self.assertIn("Cambria", xml)


class Threads(unittest.TestCase):
    def test_threads_converting_at_once_give_right_results(self):
        base = (REAL or (SENTENCE + "\n") * 200) * 4
        jobs = [(name, base[i * 997:] + name) for i, name in enumerate(FULL_FORMATS)] * 3

        def work(job):
            name, text = job
            data = toneshift.convert(text, to=name)
            c = toneshift.Converter(name, str)
            pieces = [c.convert(data[i:i + 4096]) for i in range(0, len(data), 4096)]
            return (toneshift.convert(data, name, str), "".join(pieces) + c.convert(b"", True),
                    toneshift.detect(data).verdict)

        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            for (name, text), (whole, pieces, verdict) in zip(jobs, pool.map(work, jobs)):
                self.assertEqual(whole, text, name)
                self.assertEqual(pieces, text, name)
                self.assertIn(verdict, ("format", "unknown", "mixed"))

    def test_one_converter_shared_by_threads_is_not_torn(self):
        c = toneshift.Converter("utf-8", "vni-win")
        data = (SENTENCE + "\n").encode("utf-8")
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            outs = list(pool.map(lambda _: c.convert(data), range(200)))
        # The calls ran in some order: the first to run held back its final line feed, which
        # every later one writes first; later ones are alike, so their order is no matter.
        first = [o for o in outs if not o.startswith(b"\n")]
        later = [o for o in outs if o.startswith(b"\n")]
        self.assertEqual(len(first), 1)
        self.assertEqual(b"".join(first + later) + c.convert(b"", True),
                         toneshift.convert(data * 200, "utf-8", "vni-win"))


if __name__ == "__main__":
    unittest.main()
