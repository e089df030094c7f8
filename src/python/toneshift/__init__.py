"""Vietnamese text between its legacy encodings, VIQR and Unicode.

Formats are named as ``tsconv -l`` names them (``"tcvn3"``, ``"vni-win"``, ``"viqr"``,
``"utf-8"``, ...; any case, aliases such as ``"abc"`` too); :func:`formats` lists them.

Text and bytes follow one rule: a ``str`` is Unicode text and ``bytes`` are in a named
format. Pass the type ``str`` where a format is asked for to mean Unicode text as a Python
string, so ``convert(data, "tcvn3", str)`` decodes TCVN3 bytes into a ``str``,
``convert(text, to="vni-win")`` encodes a ``str`` into VNI for Windows bytes, and
``convert(data, "tcvn3", "utf-8")`` gives UTF-8 *bytes*.

``errors`` chooses what happens to a character the target cannot write, or input bytes that
mean nothing in their format: ``"strict"`` raises :class:`ConversionError` naming the first
(nothing is returned), ``"replace"`` writes ``"?"`` (U+FFFD into Unicode) and ``"translit"``
first turns typographic punctuation (curly quotes, dashes, the ellipsis) into ASCII, then
replaces as ``"replace"`` does.

Importing the package registers every format as a Python codec, so ``b.decode("tcvn3")`` and
``open(path, encoding="vni-win")`` work, under the format's name and always as
``"toneshift-NAME"``. Where Python has a codec of the same name, Python's wins: ``"cp1258"``
stays Python's byte-for-byte table (it does not compose a letter with its combining tone
byte and cannot write "ạ"), and ``"toneshift-cp1258"`` is this library's; see
:mod:`toneshift._codecs`. Every call releases the GIL while the library works: threads
convert in parallel.
"""

from __future__ import annotations

import codecs as _codecs_module
import dataclasses
import os
from typing import IO, Any, Dict, List, Optional, Tuple, Union

from . import _toneshift as _ext

__all__ = [
    "ConversionError",
    "Converter",
    "Detection",
    "DocumentError",
    "DocumentReport",
    "Problem",
    "RepairResult",
    "convert",
    "convert_document",
    "decode",
    "detect",
    "encode",
    "format_description",
    "formats",
    "repair",
    "repair_report",
    "version",
]

__version__: str = _ext.version()

_FORMATS: List[Tuple[str, str, bool]] = [tuple(f) for f in _ext.formats()]  # type: ignore[misc]
_POLICIES = {"strict": _ext.STRICT, "replace": _ext.REPLACE, "translit": _ext.TRANSLIT}
_FORMS = {"nfc": _ext.NFC, "nfd": _ext.NFD, "composite": _ext.COMPOSITE}
_TONE_STYLES = {None: _ext.TONES_KEEP, "old": _ext.TONES_OLD, "new": _ext.TONES_NEW}

Format = Union[str, type]
Data = Union[str, bytes, bytearray, memoryview]


def version() -> str:
    """The library's version, ``"1.0.0"``."""
    return _ext.version()


def formats() -> List[str]:
    """The names of all formats, in the library's order (the 8-bit encodings first)."""
    return [name for name, _, _ in _FORMATS]


def format_description(name: str) -> str:
    """A description of a format for people: ``"TCVN3 (ABC, .VnTime)"``."""
    return _FORMATS[_format_number(name)][1]


@dataclasses.dataclass(frozen=True)
class Problem:
    """A character the target cannot write (``kind == "loss"``, ``character`` set), input
    that means nothing in its format (``kind == "undefined"``, ``bytes`` set), or in repair a
    letter whose bytes the garbling lost (``kind == "unrecovered"``, ``character`` U+FFFD, only
    ``line`` and ``column`` known). ``offset`` is of
    its first byte in the input, from 0 (for ``str`` input: an index into the string); ``line``
    and ``column`` (in characters) count from 1."""

    kind: str
    offset: int
    line: int
    column: int
    character: Optional[str]
    bytes: Optional[bytes]


class ConversionError(ValueError):
    """A conversion refused under ``errors="strict"``: the first problem met.

    Attributes: ``kind`` (``"loss"``, ``"undefined"`` or ``"unrecovered"``), ``offset`` (byte offset in bytes
    input, index in ``str`` input), ``line``, ``column``, ``character`` (the character the
    target lacks) or ``bytes`` (the input bytes without meaning), ``format`` (the name of the
    target for a loss, of the source for undefined input), ``problem`` (a :class:`Problem`) and
    ``output`` (what a :class:`Converter` wrote before the refusal, else ``b""``)."""

    def __init__(self, problem: Problem, format: str, output: bytes = b"") -> None:
        self.problem = problem
        self.kind = problem.kind
        self.offset = problem.offset
        self.line = problem.line
        self.column = problem.column
        self.character = problem.character
        self.bytes = problem.bytes
        self.format = format
        self.output = output
        place = f"line {problem.line}, column {problem.column}, offset {problem.offset}"
        if problem.kind == "unrecovered":
            place = f"line {problem.line}, column {problem.column}"
            what = ("a letter lost by the garbling cannot be recovered "
                    "(errors='replace' leaves U+FFFD in its place)")
        elif problem.kind == "loss":
            c = problem.character or ""
            what = f"{c!r} (U+{ord(c):04X}) cannot be written in {format}" if c else "a loss"
        else:
            what = f"{problem.bytes!r} means nothing in {format}"
        super().__init__(f"{what} ({place})")


class DocumentError(ValueError):
    """A document that could not be converted: not a document, a broken one, a kind this
    library cannot write, or (``errors="strict"``) bytes without meaning in its legacy text.
    ``status`` is the library's status number; the message explains."""

    def __init__(self, message: str, status: int) -> None:
        super().__init__(message)
        self.status = status


def _format_number(name: Format) -> int:
    if name is str:
        return _ext.UTF8
    if isinstance(name, str):
        number = _ext.format_by_name(name)
        if number >= 0:
            return number
    raise ValueError(f"unknown format {name!r}; toneshift.formats() lists them")


def _option(table: Dict[Any, int], value: Any, what: str) -> int:
    try:
        return table[value]
    except (KeyError, TypeError):
        choices = ", ".join(repr(k) for k in table)
        raise ValueError(f"{what} must be one of {choices}, not {value!r}") from None


def _policy(errors: Optional[str]) -> int:
    return _option(_POLICIES, "strict" if errors is None else errors, "errors")


def _char_index(encoded: bytes, offset: int) -> int:
    """The index in a str of the character at byte `offset` of its UTF-8 form."""
    return len(encoded[: max(offset, 0)].decode("utf-8", "surrogatepass"))


def _problem(raw: Tuple[int, int, int, int, int, bytes], text: Optional[bytes] = None,
             base_bytes: int = 0, base_chars: int = 0) -> Problem:
    """A Problem from the extension's tuple. With `text` (the UTF-8 form of str input, which
    began at byte `base_bytes` and character `base_chars` of the stream), the offset becomes a
    character index."""
    kind, offset, line, column, character, data = raw
    if text is not None:
        offset = base_chars + _char_index(text, offset - base_bytes)
    if kind == _ext.PROBLEM_LOSS:
        return Problem("loss", offset, line, column, chr(character), None)
    if kind == _ext.PROBLEM_UNRECOVERED:
        return Problem("unrecovered", 0, line, column, "\ufffd", None)
    return Problem("undefined", offset, line, column, None, data)


def _refusal(raw: Any, source: int, target: int, text: Optional[bytes] = None,
             output: bytes = b"", base_bytes: int = 0, base_chars: int = 0) -> ConversionError:
    problem = _problem(raw, text, base_bytes, base_chars)
    where = target if problem.kind == "loss" else source
    return ConversionError(problem, _FORMATS[where][0], output)


def _status_error(status: int) -> Exception:
    message = _ext.status_message(status)
    if status == _ext.ERR_MEMORY:
        return MemoryError(message)
    if status == _ext.ERR_STATE:
        return RuntimeError(message)
    return ValueError(message)


def _input(data: Data, from_: Optional[Format]) -> Tuple[Any, int, Optional[bytes]]:
    """(bytes for the library, source format, the UTF-8 form when the input was a str)."""
    if isinstance(data, str):
        if from_ is not None and from_ is not str:
            raise TypeError("str input is Unicode text: give from_ only for bytes "
                            f"(got from_={from_!r})")
        encoded = data.encode("utf-8", "surrogatepass")
        return encoded, _ext.UTF8, encoded
    if from_ is None:
        raise TypeError("bytes input needs from_, the format its bytes are in")
    return data, _format_number(from_), None


def convert(data: Data, from_: Optional[Format] = None, to: Optional[Format] = None, *,
            errors: str = "strict", form: str = "nfc", tone_style: Optional[str] = None,
            fix_tones: bool = False) -> Union[bytes, str]:
    """Converts `data` from format `from_` into format `to`.

    `data` is ``bytes`` (or any bytes-like object) in format `from_`, or a ``str`` (Unicode
    text; leave `from_` out). The result is ``bytes`` in format `to`, or a ``str`` when `to`
    is the type ``str``: ``convert(b, "tcvn3", str)``, ``convert(s, to="viqr")``.

    `errors`: ``"strict"`` (raise :class:`ConversionError`), ``"replace"`` or ``"translit"``.
    `form`: the Unicode form of a Unicode target: ``"nfc"``, ``"nfd"`` or ``"composite"``
    (a, e, o, u, d letters with their hat, horn or bar precomposed, the tone combining).
    `tone_style`: ``None`` keeps tone marks where they are; ``"old"`` puts the mark of oa, oe
    and uy as in "hòa", ``"new"`` as in "hoà". `fix_tones` moves misplaced marks ("họat" to
    "hoạt").
    """
    if to is None:
        raise TypeError("convert() needs to=, the target format (str for a Python string)")
    raw, source, text = _input(data, from_)
    target = _format_number(to)
    status, out, _, problem = _ext.convert_buffer(
        raw, source, target, _policy(errors), _option(_FORMS, form, "form"),
        _option(_TONE_STYLES, tone_style, "tone_style"), bool(fix_tones))
    if status == _ext.ERR_REFUSED and problem is not None:
        raise _refusal(problem, source, target, text)
    if status != _ext.OK:
        raise _status_error(status)
    return out.decode("utf-8") if to is str else out


def decode(data: Union[bytes, bytearray, memoryview], from_: Format, **options: Any) -> str:
    """``convert(data, from_, str, **options)``: bytes in `from_` as a str."""
    result = convert(data, from_, str, **options)
    assert isinstance(result, str)
    return result


def encode(text: str, to: Format, **options: Any) -> bytes:
    """``convert(text, to=to, **options)``: a str as bytes in format `to`."""
    result = convert(text, to=to, **options)
    assert isinstance(result, bytes)
    return result


@dataclasses.dataclass(frozen=True)
class Detection:
    """Which format a text is in. `verdict` is ``"format"`` (then `format` names it),
    ``"unknown"`` (`candidates` are the formats in question) or ``"mixed"`` (`ranges` are
    ``(first_line, last_line, format)``). `summary` says it in words, as ``tsconv --detect``
    prints it. `garbled` is true for UTF-8 or UTF-16 text garbled by a wrong reading, which
    :func:`repair` undoes."""

    verdict: str
    format: Optional[str]
    summary: str
    candidates: Tuple[str, ...]
    ranges: Tuple[Tuple[int, int, str], ...]
    garbled: bool


_VERDICTS = {_ext.DETECT_FORMAT: "format", _ext.DETECT_UNKNOWN: "unknown",
             _ext.DETECT_MIXED: "mixed"}


def _name(number: int) -> str:
    return _FORMATS[number][0]


def detect(data: Data) -> Detection:
    """Decides which format `data` (bytes; a str is taken as its UTF-8) is in."""
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogatepass")
    verdict, number, summary, garbled, candidates, ranges = _ext.detect(data)
    return Detection(
        verdict=_VERDICTS.get(verdict, "unknown"),
        format=_name(number) if number >= 0 else None,
        summary=summary,
        candidates=tuple(_name(c) for c in candidates),
        ranges=tuple((first, last, _name(f)) for first, last, f in ranges),
        garbled=bool(garbled),
    )


@dataclasses.dataclass(frozen=True)
class RepairResult:
    """What :func:`repair_report` did: the repaired `text` (same type as the input),
    `repaired` (characters in repaired lines), `unrecovered` (letters that could not be
    recovered, left as U+FFFD) and `summary`, the readings undone in words (``"utf-8 read as
    windows-1252"``; empty when nothing was repaired)."""

    text: Union[str, bytes]
    repaired: int
    unrecovered: int
    summary: str


_UNICODE_BYTES = ("utf-8", "utf-16", "utf-16le", "utf-16be")


def repair_report(data: Data, from_: str = "utf-8", *, errors: str = "strict") -> RepairResult:
    """Repairs text garbled by a wrong reading ("Cá»™ng hoÃ " back to "Cộng hoà") and says
    what was done. A str is repaired as text; bytes are read in `from_` (UTF-8 or one of the
    UTF-16 formats) and the repaired bytes are written in the same format. A garbled letter
    whose bytes were lost (a "?" or U+FFFD where one of them was) cannot be recovered:
    ``errors="strict"`` raises ValueError, ``"replace"`` leaves U+FFFD in its place."""
    if isinstance(data, str):
        raw: Any = data.encode("utf-8", "surrogatepass")
        source = target = _ext.UTF8
    else:
        source = _format_number(from_)
        if _name(source) not in _UNICODE_BYTES:
            raise ValueError(f"repair reads UTF-8 or UTF-16, not {from_!r}")
        raw = data
        target = source
    converter = _ext.Converter(source, target, _policy(errors), _ext.NFC, _ext.TONES_KEEP,
                               False, True)
    status, out = converter.convert(raw, True)
    if status == _ext.ERR_REFUSED:
        problem = converter.first_problem()
        if problem is not None:
            text = raw if isinstance(data, str) else None
            raise _refusal(problem, source, target, text, out)
    _, repaired, unrecovered, summary = converter.counts()
    if status == _ext.ERR_REFUSED and unrecovered:
        raise ValueError(f"{unrecovered} garbled letter(s) cannot be recovered; "
                         "errors='replace' leaves them as U+FFFD")
    if status != _ext.OK:
        raise _status_error(status)
    text_out: Union[str, bytes] = out.decode("utf-8") if isinstance(data, str) else out
    return RepairResult(text_out, repaired, unrecovered, summary)


def repair(data: Data, from_: str = "utf-8", *, errors: str = "strict") -> Union[str, bytes]:
    """The repaired text of :func:`repair_report`: a str for a str, bytes for bytes."""
    return repair_report(data, from_, errors=errors).text


class Converter:
    """An incremental converter from `from_` to `to`, for text that arrives in pieces.

    ``convert(piece)`` returns what can be written so far; ``convert(last_piece, final=True)``
    (or ``convert(b"", final=True)``) writes what was held back. Pieces may be split anywhere,
    even inside a character: the output is the same as for the whole. The counts
    (:attr:`problem_count`, :attr:`lost`, ...) stay readable after the final piece; the next
    call then starts a new input, as :meth:`reset` does at any time.

    As with :func:`convert`, `from_` or `to` may be the type ``str``: pieces are then str, or
    the output is. Refusals raise :class:`ConversionError` with offsets from the start of the
    input; the converter then refuses everything until :meth:`reset`. One converter is used
    by one thread at a time (calls from several threads wait for each other).
    """

    def __init__(self, from_: Format, to: Format, *, errors: str = "strict", form: str = "nfc",
                 tone_style: Optional[str] = None, fix_tones: bool = False) -> None:
        self._source = _format_number(from_)
        self._target = _format_number(to)
        self._text_in = from_ is str
        self._text_out = to is str
        self._impl = _ext.Converter(self._source, self._target, _policy(errors),
                                    _option(_FORMS, form, "form"),
                                    _option(_TONE_STYLES, tone_style, "tone_style"),
                                    bool(fix_tones), False)
        self._start()

    def _start(self) -> None:
        self._bytes_in = 0
        self._chars_in = 0
        self._finished = False
        self._utf8 = _codecs_module.getincrementaldecoder("utf-8")()

    def convert(self, data: Data, final: bool = False) -> Union[bytes, str]:
        """Converts the next piece; `final` says no input follows."""
        if self._finished:
            self.reset()
        text: Optional[bytes] = None
        if self._text_in:
            if not isinstance(data, str):
                raise TypeError("this converter reads str pieces (from_=str)")
            text = data.encode("utf-8", "surrogatepass")
            raw: Any = text
        elif isinstance(data, str):
            raise TypeError("this converter reads bytes; make it with from_=str for str")
        else:
            raw = data
        status, out = self._impl.convert(raw, bool(final))
        if status == _ext.ERR_REFUSED:
            problem = self._impl.first_problem()
            if problem is not None:
                raise _refusal(problem, self._source, self._target, text, out,
                               self._bytes_in, self._chars_in)
        if status != _ext.OK:
            raise _status_error(status)
        if text is not None:
            self._bytes_in += len(text)
            self._chars_in += len(data)
        else:
            self._bytes_in += memoryview(raw).nbytes
        self._finished = bool(final)
        return self._utf8.decode(out, final) if self._text_out else out

    def reset(self) -> None:
        """Starts another input: offsets, lines and problems from 0."""
        status = self._impl.reset()
        if status != _ext.OK:
            raise _status_error(status)
        self._start()

    @property
    def problem_count(self) -> int:
        """Problems met in the current input so far (under every policy)."""
        return self._impl.problem_count()

    @property
    def first_problem(self) -> Optional[Problem]:
        """The first of them, or None. Its offset counts bytes of the input (UTF-8 bytes when
        the pieces are str)."""
        raw = self._impl.first_problem()
        return None if raw is None else _problem(raw)

    @property
    def lost(self) -> Dict[str, int]:
        """The characters the target could not write, with how often, most frequent first."""
        return {chr(c): n for c, n in self._impl.lost()}

    @property
    def tones_changed(self) -> int:
        """Syllables whose tone mark was moved (tone_style or fix_tones)."""
        return self._impl.counts()[0]

    def convert_stream(self, source: IO[Any], destination: IO[Any],
                       chunk_size: int = 1 << 16) -> None:
        """Converts everything `source.read(chunk_size)` gives, writing to `destination`,
        then finishes the input."""
        while True:
            piece = source.read(chunk_size)
            if not piece:
                break
            destination.write(self.convert(piece))
        destination.write(self.convert("" if self._text_in else b"", final=True))


@dataclasses.dataclass(frozen=True)
class DocumentReport:
    """What :func:`convert_document` did: `problem_count` undefined bytes met (replaced unless
    strict), `parts_changed` parts of the package rewritten, `fonts` distinct legacy fonts
    met, and `left` pieces left as they were because their bytes read as another encoding."""

    problem_count: int
    parts_changed: int
    fonts: int
    left: int


def _font_map_text(font_map: Union[None, str, "os.PathLike[str]"]) -> Optional[str]:
    if font_map is None or isinstance(font_map, str):
        return font_map
    with open(font_map, encoding="utf-8") as f:
        return f.read()


def _document_failure(status: int, message: str) -> Exception:
    words = message or _ext.status_message(status)
    if status == _ext.ERR_IO:
        return OSError(words)
    if status in (_ext.ERR_DOCUMENT, _ext.ERR_REFUSED):
        return DocumentError(words, status)
    return _status_error(status)


def convert_document(src: Union[bytes, bytearray, memoryview, str, "os.PathLike[str]"],
                     dst: Union[None, str, "os.PathLike[str]"] = None, *,
                     errors: str = "strict", form: str = "nfc",
                     unicode_font: Optional[str] = None,
                     font_map: Union[None, str, "os.PathLike[str]"] = None,
                     with_report: bool = False) -> Any:
    """Converts a Word, Excel, PowerPoint, OpenDocument or RTF document whose text is in
    legacy fonts (.VnTime, VNI-Times): each piece of text is read in the encoding its font
    names, made Unicode, and its font replaced by `unicode_font` (None: one chosen by kind).

    With paths, `src` is read and `dst` written (through a temporary file: on failure `dst` is
    unchanged) and a :class:`DocumentReport` is returned. With bytes, the converted document
    is returned as bytes, or ``(bytes, report)`` with `with_report`. `font_map` is font map
    text (``"PATTERN ENCODING [FONT]"`` lines) or a path (``os.PathLike``) to such a file.
    `errors` applies to bytes without meaning. Raises :class:`DocumentError` or OSError.
    """
    policy = _policy(errors)
    form_number = _option(_FORMS, form, "form")
    map_text = _font_map_text(font_map)
    if isinstance(src, (bytes, bytearray, memoryview)):
        if dst is not None:
            raise TypeError("a document in memory is returned, not written: leave dst out")
        status, out, report, message = _ext.convert_document(src, policy, form_number,
                                                             unicode_font, map_text)
        if status != _ext.OK:
            raise _document_failure(status, message)
        return (out, DocumentReport(*report)) if with_report else out
    if dst is None:
        raise TypeError("convert_document(path, ...) needs dst, the path to write")
    status, report, message = _ext.convert_document_file(os.fspath(src), os.fspath(dst), policy,
                                                         form_number, unicode_font, map_text)
    if status != _ext.OK:
        raise _document_failure(status, message)
    return DocumentReport(*report)


from . import _codecs  # noqa: E402  (registers the codecs; needs the names above)

_codecs.register()
