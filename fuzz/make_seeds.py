#!/usr/bin/env python3
"""Writes the hand-made seed inputs of the fuzz targets into fuzz/corpus/<target>/.

The seeds start the fuzzer from inputs that reach what matters: whole sessions of the
dialogue's decoder context, out-of-range arguments, moved marks, chunk boundaries in the
middle of letters and escapes. Inputs that found a fault are added to the same folders by
hand (named after the fault) and are never rewritten by this script.
Usage: fuzz/make_seeds.py
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
INT_MIN = -(1 << 31)


class Calls:
    """One input of decoder_calls, built call by call.

    The target reads its two own records from the front of the input and every call and
    argument from the back, one value after another (the way FuzzedDataProvider reads
    them), so the values are collected in reading order and reversed at the end.
    """

    OPEN, GET, SET, STEP, FLUSH, CLOSE, COMPOSE, RESET, SET_MARK = 0, 1, 2, 3, 5, 6, 7, 8, 9

    def __init__(self, records=b"\0" * 30):
        self.records = records
        self.back = []  # bytes in the order the target reads them

    def byte(self, v):
        self.back.append(v & 0xFF)

    def flag(self, v):
        self.byte(1 if v else 0)

    def int_(self, v):
        offset = v - INT_MIN
        self.back += [(offset >> s) & 0xFF for s in (24, 16, 8, 0)]

    def small_or_any(self, v, lo, hi):
        # The target picks a small range when its bool is true, any int otherwise.
        if lo <= v <= hi:
            self.flag(True)
            self.byte(v - lo)
        else:
            self.flag(False)
            self.int_(v)

    def ctx(self, v):
        self.small_or_any(v, -2, 4)

    def state(self, v):
        self.small_or_any(v, -2, 7)

    def flag_arg(self, v):
        self.small_or_any(v, 0, 31)

    def value(self, v):
        self.small_or_any(v, -2, 0x1FF)

    def open(self, state, escape, erase):
        self.byte(self.OPEN)
        self.state(state)
        self.byte(escape)
        self.byte(erase)
        return self

    def get(self, ctx, flag):
        self.byte(self.GET)
        self.ctx(ctx)
        self.flag_arg(flag)
        return self

    def set(self, ctx, value, flag):
        self.byte(self.SET)
        self.ctx(ctx)
        self.value(value)
        self.flag_arg(flag)
        return self

    def steps(self, ctx, text):
        for ch in text:
            self.byte(self.STEP)
            self.ctx(ctx)
            self.byte(ch)
        return self

    def drain(self, ctx, close=False, out=True, count=True):
        self.byte(self.CLOSE if close else self.FLUSH)
        self.ctx(ctx)
        self.flag(out)
        self.flag(count)
        return self

    def compose(self, record, text):
        for ch in text:
            self.byte(self.COMPOSE)
            self.byte(record)
            self.byte(ch)
        return self

    def reset(self, record):
        self.byte(self.RESET)
        self.byte(record)
        return self

    def set_mark(self, mark, new_char, record):
        self.byte(self.SET_MARK)
        marks = b"(^+'`?~."
        if 0 <= mark < 256 and mark in marks:
            self.flag(False)
            self.byte(marks.index(mark))
        else:
            self.flag(True)
            self.int_(mark)
        self.byte(new_char)
        self.byte(record)
        return self

    def bytes(self):
        return self.records + bytes(reversed(self.back))


DIALOGUE = (ord("\\"), 0x08)


def decoder_calls():
    yield "dialogue_session", (
        Calls().open(0, *DIALOGUE).set(0, 1, 8).steps(0, b"Vie^.t Nam\n\\Mab'c\\a'b\\Vdd ba")
        .drain(0).steps(0, b"a\\").drain(0).drain(0, close=True))
    yield "immediate_mode_and_escape_letters", (
        Calls().open(0, *DIALOGUE).steps(0, b"a^' \\ua' a\\V'").set(0, ord("'"), 2)
        .steps(0, b"a' x'").set(0, 0x123, 2).steps(0, b"\\#a").drain(0, out=False))
    yield "literal_mode_and_drains", (
        Calls().open(0, *DIALOGUE).set(0, 1, 8).steps(0, b"\\La\\\\b\\x\\L\\").drain(0)
        .set(0, 4, 1).drain(0, out=True, count=False).set(0, 2, 1).steps(0, b"\\V'")
        .drain(0, close=True, out=False, count=False))
    yield "slots_and_refused_arguments", (
        Calls().open(0, *DIALOGUE).open(1, 0, 0).open(2, 0x27, 0x7F).open(0, *DIALOGUE)
        .drain(1, close=True).open(5, *DIALOGUE).open(6, *DIALOGUE).open(-1, *DIALOGUE)
        .get(0, 3).get(1, 6).get(2, 0).get(2, 16).get(-1, 1).get(3, 2)
        .set(0, 1, 12).set(0, 7, 1).set(2, INT_MIN, 1).set(3, 1, 1).set(-2, 0, 8)
        .steps(3, b"a").steps(-1, b"\\").steps(INT_MIN, b"x").steps((1 << 31) - 1, b"y")
        .drain(4).drain(-2, close=True).drain(7, out=False))
    yield "moved_marks", (
        Calls().set_mark(ord("'"), ord("/"), 0).compose(0, b"a/ a'").set_mark(ord("'"), ord("!"), 0)
        .compose(0, b"a!a/").set_mark(ord("/"), ord("x"), 0).set_mark(1000, 0, 1)
        .set_mark(ord("'"), ord("a"), 1).compose(1, b"aa'").set_mark(ord("'"), ord("`"), 1)
        .set_mark(ord("'"), ord("'"), 1).reset(0).open(0, *DIALOGUE).set_mark(ord("."), 0, 2)
        .set(0, 1, 8).steps(0, b"a\0e^\0").drain(0))
    yield "state_3_in_a_fresh_program", (
        Calls(records=bytes([2, 0x61, 0, 0, 1, 0, 0]) + b"(^+'`?~." + bytes([7] * 15))
        .open(3, *DIALOGUE).steps(0, b"\\").compose(0, b"'").compose(1, b"a(?").open(5, 0, 0)
        .set(0, 5, 1).steps(0, b"\\Mu+o+'\\").drain(0))


def viqr_round_trip():
    # The first byte places the split point; the rest is VISCII text.
    yield "vietnamese_text", b"\x80Vi\xaet Nam, xin ch\xe0o c\xe1c b\xb5n \xf0\xe3 \xf0\xe4n.\n"
    yield "all_bytes", b"\x40" + bytes(range(256))
    yield "escapes_and_strokes", b"\x10dd d\xf0 D\xd0 \xf0d a'' \xe2' \xc2' a\\' \\\\ y. u+o+ a(^"
    yield "nul_bytes", b"\x7f\x00a\x00'\x00d\x00d"
    yield "split_in_a_letter", b"\x55a'a\xe2'\xf0d" + b"\\"


def pipelines():
    # Input format, output format, number of piece sizes (+3), piece sizes (1 + 4b), file.
    text = (b"Vi\xaet Nam, xin ch\xe0o c\xe1c b\xb5n \xf0\xe3 \xf0\xe4n \xd0\xe0 N\xb5ng. "
            b"dd a' \xe2' \\ ") * 6
    yield "viscii_to_vni_across_chunks", bytes([0, 3, 6, 0, 1, 255]) + text * 4
    yield "viscii_to_viqr_byte_by_byte", bytes([0, 10, 4, 0]) + text[:120]
    yield "vni_to_viqr_all_bytes", bytes([3, 10, 5, 2, 1]) + bytes(range(256)) * 2
    yield "viqr_to_viscii_in_pieces", (
        bytes([10, 0, 5, 0, 1]) + b"Vie^.t Nam \\Mab'c\\a'b \\La\\\\b\\x\\V u+o+' dd a^' ba\\")
    yield "viqr_letters_across_chunks", (
        bytes([10, 0, 3]) + b"x" * 1023 + b"a^'" + b"y" * 1021 + b"\\\\" + b"z" * 1022 + b"\\L\\")
    yield "viqr_to_vni_all_bytes", bytes([10, 3, 3]) + bytes(range(256))
    yield "plain_vietnamese_is_copied", bytes([9, 4, 4, 3]) + bytes(range(256))


def main():
    for target, seeds in (("decoder_calls", decoder_calls()),
                          ("viqr_round_trip", viqr_round_trip()), ("pipelines", pipelines())):
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, seed in seeds:
            data = seed.bytes() if isinstance(seed, Calls) else seed
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
