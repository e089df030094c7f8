import os
from typing import IO, Any, Dict, List, Literal, Optional, Tuple, Type, Union, overload

__version__: str

Format = Union[str, Type[str]]
BytesLike = Union[bytes, bytearray, memoryview]
Errors = Literal["strict", "replace", "translit"]
Form = Literal["nfc", "nfd", "composite"]
ToneStyle = Optional[Literal["old", "new"]]
PathLike = Union[str, "os.PathLike[str]"]

def version() -> str: ...
def formats() -> List[str]: ...
def format_description(name: str) -> str: ...

class Problem:
    kind: Literal["loss", "undefined"]
    offset: int
    line: int
    column: int
    character: Optional[str]
    bytes: Optional[bytes]
    def __init__(self, kind: str, offset: int, line: int, column: int,
                 character: Optional[str], bytes: Optional[bytes]) -> None: ...

class ConversionError(ValueError):
    problem: Problem
    kind: Literal["loss", "undefined"]
    offset: int
    line: int
    column: int
    character: Optional[str]
    bytes: Optional[bytes]
    format: str
    output: bytes
    def __init__(self, problem: Problem, format: str, output: bytes = ...) -> None: ...

class DocumentError(ValueError):
    status: int
    def __init__(self, message: str, status: int) -> None: ...

@overload
def convert(data: Union[str, BytesLike], from_: Optional[Format] = ..., *, to: Type[str],
            errors: Errors = ..., form: Form = ..., tone_style: ToneStyle = ...,
            fix_tones: bool = ...) -> str: ...
@overload
def convert(data: Union[str, BytesLike], from_: Optional[Format], to: Type[str], *,
            errors: Errors = ..., form: Form = ..., tone_style: ToneStyle = ...,
            fix_tones: bool = ...) -> str: ...
@overload
def convert(data: Union[str, BytesLike], from_: Optional[Format] = ..., *, to: str,
            errors: Errors = ..., form: Form = ..., tone_style: ToneStyle = ...,
            fix_tones: bool = ...) -> bytes: ...
@overload
def convert(data: Union[str, BytesLike], from_: Optional[Format], to: str, *,
            errors: Errors = ..., form: Form = ..., tone_style: ToneStyle = ...,
            fix_tones: bool = ...) -> bytes: ...
def decode(data: BytesLike, from_: Format, *, errors: Errors = ..., form: Form = ...,
           tone_style: ToneStyle = ..., fix_tones: bool = ...) -> str: ...
def encode(text: str, to: Format, *, errors: Errors = ..., form: Form = ...,
           tone_style: ToneStyle = ..., fix_tones: bool = ...) -> bytes: ...

class Detection:
    verdict: Literal["format", "unknown", "mixed"]
    format: Optional[str]
    summary: str
    candidates: Tuple[str, ...]
    ranges: Tuple[Tuple[int, int, str], ...]
    garbled: bool

def detect(data: Union[str, BytesLike]) -> Detection: ...

class RepairResult:
    text: Union[str, bytes]
    repaired: int
    unrecovered: int
    summary: str

def repair_report(data: Union[str, BytesLike], from_: str = ..., *,
                  errors: Errors = ...) -> RepairResult: ...
@overload
def repair(data: str, from_: str = ..., *, errors: Errors = ...) -> str: ...
@overload
def repair(data: BytesLike, from_: str = ..., *, errors: Errors = ...) -> bytes: ...

class Converter:
    def __init__(self, from_: Format, to: Format, *, errors: Errors = ..., form: Form = ...,
                 tone_style: ToneStyle = ..., fix_tones: bool = ...) -> None: ...
    def convert(self, data: Union[str, BytesLike], final: bool = ...) -> Any: ...
    def reset(self) -> None: ...
    @property
    def problem_count(self) -> int: ...
    @property
    def first_problem(self) -> Optional[Problem]: ...
    @property
    def lost(self) -> Dict[str, int]: ...
    @property
    def tones_changed(self) -> int: ...
    def convert_stream(self, source: IO[Any], destination: IO[Any],
                       chunk_size: int = ...) -> None: ...

class DocumentReport:
    problem_count: int
    parts_changed: int
    fonts: int
    left: int

@overload
def convert_document(src: BytesLike, dst: None = ..., *, errors: Errors = ..., form: Form = ...,
                     unicode_font: Optional[str] = ...,
                     font_map: Union[None, str, "os.PathLike[str]"] = ...,
                     with_report: Literal[False] = ...) -> bytes: ...
@overload
def convert_document(src: BytesLike, dst: None = ..., *, errors: Errors = ..., form: Form = ...,
                     unicode_font: Optional[str] = ...,
                     font_map: Union[None, str, "os.PathLike[str]"] = ...,
                     with_report: Literal[True]) -> Tuple[bytes, DocumentReport]: ...
@overload
def convert_document(src: PathLike, dst: PathLike, *, errors: Errors = ..., form: Form = ...,
                     unicode_font: Optional[str] = ...,
                     font_map: Union[None, str, "os.PathLike[str]"] = ...,
                     with_report: bool = ...) -> DocumentReport: ...
