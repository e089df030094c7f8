"""Every toneshift format as a Python codec.

``import toneshift`` registers a search function, so each format is a codec under its own
name and aliases (``"tcvn3"``, ``"vni-win"``, ``"viqr"``, ``"abc"``) and, always, as
``"toneshift-NAME"`` (``"toneshift-cp1258"``). Python asks its own codecs first: a name
Python already has (``"cp1258"``, ``"utf-8"``, ``"utf-16"``) stays Python's, and only the
``toneshift-`` name reaches this library's. They differ: Python's cp1258 maps byte for byte,
so it neither composes a letter and its combining tone byte into one character on reading
nor writes a letter such as "ạ" at all; ``toneshift-cp1258`` does both.

``errors`` may be ``"strict"`` (UnicodeDecodeError or UnicodeEncodeError with the start and
end of the first problem), ``"replace"`` (U+FFFD in decoded text, ``"?"`` in encoded bytes)
or ``"translit"`` (as replace, after typographic punctuation is written as ASCII). Python's
other handlers (``"ignore"``, ``"backslashreplace"``, ...) are refused with ValueError: the
library decides replacements itself and cannot call back into Python.

The incremental decoder and the stream reader keep what a piece leaves unfinished (a VNI for
Windows letter whose tone byte is in the next read) for the next piece. ``TextIOWrapper`` never tells its encoder that the
text is finished, so each piece given to the incremental encoder or the stream writer is
converted whole, after the last characters of the piece before (a "?" written after "mua"
is still escaped in VIQR); only a combining mark written apart from its letter is converted
on its own. ``tell()`` on a text file opened with one of these codecs counts positions as if no
bytes were held back.
"""

from __future__ import annotations

import codecs
from typing import Any, Dict, Optional, Tuple

from . import _toneshift as _ext

PREFIX = "toneshift-"

_POLICIES = {"strict": _ext.STRICT, "replace": _ext.REPLACE, "translit": _ext.TRANSLIT}
_UTF16 = _ext.format_by_name("utf-16")
_UTF16LE = _ext.format_by_name("utf-16le")
_UTF16BE = _ext.format_by_name("utf-16be")


def _policy(errors: Optional[str]) -> int:
    name = "strict" if errors is None else errors
    try:
        return _POLICIES[name]
    except KeyError:
        raise ValueError(f"toneshift codecs take errors='strict', 'replace' or 'translit', "
                         f"not {name!r}") from None


def _problem(source: Any) -> Tuple[int, int, int, bytes]:
    """(kind, offset, character, bytes) of the first problem a converter met."""
    raw = source.first_problem()
    if raw is None:
        return (_ext.PROBLEM_UNDEFINED, 0, 0, b"")
    kind, offset, _, _, character, data = raw
    return (kind, offset, character, data)


def _decode_error(codec: str, data: bytes, converter: Any, base: int) -> UnicodeDecodeError:
    kind, offset, character, bad = _problem(converter)
    start = min(max(offset - base, 0), len(data))
    end = min(start + max(len(bad), 1), len(data))
    if kind == _ext.PROBLEM_LOSS:
        reason = f"U+{character:04X} cannot be decoded"
    else:
        reason = f"bytes {bad!r} mean nothing in {codec}"
    return UnicodeDecodeError(codec, data, start, end, reason)


def _encode_error(codec: str, text: str, encoded: bytes, converter: Any) -> UnicodeEncodeError:
    kind, offset, character, bad = _problem(converter)
    start = min(len(encoded[: max(offset, 0)].decode("utf-8", "surrogatepass")), len(text))
    end = min(start + 1, len(text))
    if kind == _ext.PROBLEM_LOSS:
        reason = f"{codec} cannot write {chr(character)!r} (U+{character:04X})"
    else:
        reason = "not a character (a lone surrogate)"
    return UnicodeEncodeError(codec, text, start, end, reason)


class _Decoding:
    """Bytes in one format into str, piece by piece."""

    def __init__(self, codec: str, format: int, errors: str) -> None:
        self.codec = codec
        self.format = format
        self.errors = errors
        self.converter = _ext.Converter(format, _ext.UTF8, _policy(errors), _ext.NFC,
                                        _ext.TONES_KEEP, False, False)
        self.utf8 = codecs.getincrementaldecoder("utf-8")()
        self.taken = 0  # bytes of the current input before this piece
        self.finished = False

    def decode(self, data: Any, final: bool) -> str:
        if self.finished:
            self.reset()
        status, out = self.converter.convert(data, final)
        if status == _ext.ERR_REFUSED:
            error = _decode_error(self.codec, bytes(data), self.converter, self.taken)
            self.reset()
            raise error
        if status != _ext.OK:
            raise ValueError(_ext.status_message(status))
        self.taken += len(data)
        self.finished = bool(final)
        return self.utf8.decode(out, final)

    def reset(self) -> None:
        self.converter.reset()
        self.utf8.reset()
        self.taken = 0
        self.finished = False


class _Encoding:
    """str into one format, each piece whole (see the module's docstring).

    A character's spelling may depend on the one before it: VIQR writes "?" after "mua" as
    "\\?", since "mua?" would read as "muả". So each piece is converted after the last
    characters of the piece before it, and the bytes those give alone are taken off the
    front; when they are not the front (the piece began with a combining mark that joined
    them), the piece is converted alone. A UTF-16 target writes its byte-order mark once,
    before the first piece; later pieces are written in the order it announced."""

    CONTEXT = 2  # characters of the previous piece that the next is converted after

    def __init__(self, codec: str, format: int) -> None:
        self.codec = codec
        self.format = format
        self.reset()

    def _convert(self, text: str, errors: str, skip: int) -> bytes:
        """`text` converted whole; a refusal names its place in text[skip:]."""
        encoded = text.encode("utf-8", "surrogatepass")
        converter = _ext.Converter(_ext.UTF8, self.follow, _policy(errors), _ext.NFC,
                                   _ext.TONES_KEEP, False, False)
        status, out = converter.convert(encoded, True)
        if status == _ext.ERR_REFUSED:
            error = _encode_error(self.codec, text, encoded, converter)
            piece = text[skip:]
            start = min(max(error.start - skip, 0), len(piece))
            raise UnicodeEncodeError(self.codec, piece, start, min(start + 1, len(piece)),
                                     error.reason)
        if status != _ext.OK:
            raise ValueError(_ext.status_message(status))
        return bytes(out)

    def encode(self, text: str, errors: str) -> bytes:
        context = self.tail
        out = self._convert(context + text, errors, len(context))
        if context:
            before = self._convert(context, errors, 0)
            out = out[len(before):] if out.startswith(before) else self._convert(text, errors, 0)
        self.tail = (context + text)[-self.CONTEXT:]
        if not self.started and out:
            self.started = True
            if self.format == _UTF16:
                self.follow = _UTF16BE if out.startswith(b"\xfe\xff") else _UTF16LE
        return out

    def reset(self) -> None:
        self.started = False
        self.follow = self.format
        self.tail = ""


def _codec_info(codec: str, format: int) -> codecs.CodecInfo:
    def encode(text: str, errors: str = "strict") -> Tuple[bytes, int]:
        return _Encoding(codec, format).encode(text, errors), len(text)

    def decode(data: Any, errors: str = "strict") -> Tuple[str, int]:
        return _Decoding(codec, format, errors).decode(data, True), memoryview(data).nbytes

    class IncrementalEncoder(codecs.IncrementalEncoder):
        def __init__(self, errors: str = "strict") -> None:
            super().__init__(errors)
            self._encoding = _Encoding(codec, format)

        def encode(self, input: str, final: bool = False) -> bytes:
            return self._encoding.encode(input, self.errors)

        def reset(self) -> None:
            self._encoding.reset()

        # TextIOWrapper restores 0 after a seek past the start: the mark is not written again.
        def getstate(self) -> int:
            return 0 if self._encoding.started else 1

        def setstate(self, state: Any) -> None:
            self._encoding.reset()
            self._encoding.started = state == 0
            if state == 0 and format == _UTF16:
                self._encoding.follow = _UTF16LE

    class IncrementalDecoder(codecs.IncrementalDecoder):
        def __init__(self, errors: str = "strict") -> None:
            super().__init__(errors)
            self._decoding = _Decoding(codec, format, errors)

        def decode(self, input: Any, final: bool = False) -> str:
            if self._decoding.errors != self.errors:
                self._decoding = _Decoding(codec, format, self.errors)
            return self._decoding.decode(input, final)

        def reset(self) -> None:
            self._decoding.reset()

        def getstate(self) -> Tuple[bytes, int]:
            return (b"", 0)

        def setstate(self, state: Tuple[bytes, int]) -> None:
            self._decoding.reset()

    class StreamWriter(codecs.StreamWriter):
        def __init__(self, stream: Any, errors: str = "strict") -> None:
            super().__init__(stream, errors)
            self._encoding = _Encoding(codec, format)

        def encode(self, input: str, errors: str = "strict") -> Tuple[bytes, int]:
            return self._encoding.encode(input, errors), len(input)

        def reset(self) -> None:
            super().reset()
            self._encoding.reset()

    class StreamReader(codecs.StreamReader):
        def __init__(self, stream: Any, errors: str = "strict") -> None:
            super().__init__(stream, errors)
            self._decoding = _Decoding(codec, format, errors)

        # The base class never decodes an empty read at the end, where what the decoder holds
        # is written; this loop does.
        def read(self, size: int = -1, chars: int = -1, firstline: bool = False) -> str:
            if self.linebuffer:
                self.charbuffer = "".join(self.linebuffer)
                self.linebuffer = None
            wanted = size if chars < 0 else chars
            while wanted < 0 or len(self.charbuffer) < wanted:
                data = self.stream.read() if size < 0 else self.stream.read(size)
                self.charbuffer += self._decoding.decode(data, not data)
                if not data:
                    break
            if wanted < 0:
                result, self.charbuffer = self.charbuffer, ""
            else:
                result, self.charbuffer = self.charbuffer[:wanted], self.charbuffer[wanted:]
            return result

        def reset(self) -> None:
            super().reset()
            self._decoding.reset()

    return codecs.CodecInfo(encode, decode, name=codec,
                            incrementalencoder=IncrementalEncoder,
                            incrementaldecoder=IncrementalDecoder,
                            streamreader=StreamReader, streamwriter=StreamWriter)


_found: Dict[str, codecs.CodecInfo] = {}


def search(name: str) -> Optional[codecs.CodecInfo]:
    """The codec a normalised name (lower case, "_" for "-" and spaces) asks for, or None."""
    if name in _found:
        return _found[name]
    wanted = name.replace("_", "-")
    prefixed = wanted.startswith(PREFIX)
    if prefixed:
        wanted = wanted[len(PREFIX):]
    number = -1 if wanted.isdigit() else _ext.format_by_name(wanted)
    if number < 0:
        return None
    canonical = _ext.formats()[number][0]
    info = _found[name] = _codec_info(PREFIX + canonical if prefixed else canonical, number)
    return info


_registered = False


def register() -> None:
    """Registers the search function (once)."""
    global _registered
    if not _registered:
        codecs.register(search)
        _registered = True
