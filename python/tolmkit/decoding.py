"""The text of a file as every reader of tolmkit takes it: uncompressed
(gzip, bzip2, xz), decoded to UTF-8 with lines ending in "\\n", comments
cut and blank lines emptied, so that lines keep their numbers; bytes that
are not of the encoding, control characters and byte-order marks past the
start are refused naming the line and the encoding to pass."""

from __future__ import annotations

import bz2
import codecs
import gzip
import io
import lzma
import os
import re
import typing
import zlib
from collections.abc import Callable

import numpy as np

from . import _native
from ._advice import Option, PedigreeError, option, refused
from ._patterns import SPACES
from .threads import get_threads

__all__ = [
    "TextMarks",
    "checked_encoding",
    "compressed_with",
    "holds_comment",
    "line_at",
    "marked_utf8_text",
    "text_marks",
    "text_start",
    "utf8_text",
]

_NEWLINE = b"\n"
# Encodings in which a file of ASCII bytes reads as those bytes.
_ASCII_ALIKE = {"utf-8", "utf-8-sig", "ascii", "iso8859-1", "iso8859-15", "cp1252"}

# A byte beyond ASCII and those after it that would continue its letter in UTF-8.
_BEYOND_ASCII = re.compile(rb"[\x80-\xff][\x80-\xbf]*")
# In UTF-8: the C1 controls (U+0080 to U+009F, with the next line U+0085),
# the line and paragraph separators, and a byte-order mark past the start.
_UNICODE_CONTROL = re.compile(rb"\xc2[\x80-\x9f]|\xe2\x80[\xa8\xa9]|\xef\xbb\xbf")

# What may come before the '#' of a comment, in UTF-8: a line end or a blank.
_BEFORE_COMMENT = (_NEWLINE, *(space.encode() for space in SPACES))

# A line of blanks alone, after its line end.
_BLANK_LINE = re.compile(b"\n(?:" + b"|".join(re.escape(space.encode()) for space in SPACES) + b")+(?=\n|\\Z)")

# The byte-order marks, UTF-32's little-endian one before UTF-16's, which
# begins it: a file that begins with one is in its encoding whatever is said.
_MARKS = {
    codecs.BOM_UTF8: "utf-8",
    codecs.BOM_UTF32_LE: "utf-32",
    codecs.BOM_UTF32_BE: "utf-32",
    codecs.BOM_UTF16_LE: "utf-16",
    codecs.BOM_UTF16_BE: "utf-16",
}

# By their first bytes: the name of the compression and what opens a file of it for reading.
_COMPRESSED: dict[bytes, tuple[str, Callable[..., typing.Any] | None]] = {
    b"\x1f\x8b": ("gzip", gzip.open),
    b"BZh": ("bzip2", bz2.open),
    b"\xfd7zXZ\x00": ("xz", lzma.open),
    b"PK\x03\x04": ("zip", None),
    b"\x28\xb5\x2f\xfd": ("zstd", None),
}


def holds_comment(field: str) -> bool:
    """Whether a field written bare would be cut by the comments that every
    text file of tolmkit may hold: a '#' that begins it or follows a blank.

    Parameters
    ----------
    field : str

    Returns
    -------
    bool

    Examples
    --------
    >>> holds_comment("#5"), holds_comment("x #1"), holds_comment("DE#12")
    (True, True, False)
    """
    return field.startswith("#") or any(space + "#" in field for space in SPACES)


def utf8_text(source: str | os.PathLike[str] | typing.IO[str], encoding: str) -> bytes:
    """The text of a file as UTF-8 bytes, as every text file of tolmkit is read.

    Parameters
    ----------
    source : path or open text file
        Compressed by gzip, bzip2 or xz, or not.
    encoding : str
        The file's encoding.

    Returns
    -------
    bytes
        UTF-8 without byte-order mark, lines ending in "\\n", comments
        cut and blank lines emptied: lines keep their numbers.

    Raises
    ------
    PedigreeError
        Bytes that are not of the encoding, control characters, a
        byte-order mark past the start, naming the line and the encoding to
        pass; the message names no file, which the caller names.
    TypeError
        A source that is neither a path nor an open text file.
    """
    return marked_utf8_text(source, encoding, b"")[0]


def marked_utf8_text(
    source: str | os.PathLike[str] | typing.IO[str], encoding: str, wanted: bytes
) -> tuple[bytes, TextMarks]:
    """The text of a file as `utf8_text` gives it, and its `text_marks`.

    The marks come from the pass that checked the text where it was left as
    read, so that a large file is looked at once.

    Parameters
    ----------
    source : path or open text file
        As for `utf8_text`.
    encoding : str
        The file's encoding.
    wanted : bytes
        The bytes asked about, as of `text_marks` (at most 60).

    Returns
    -------
    bytes
        The text, as of `utf8_text`.
    TextMarks
        Its marks; `held` may tell of bytes beyond `wanted`.

    Raises
    ------
    PedigreeError, TypeError
        As `utf8_text`.
    """
    if isinstance(source, (str, os.PathLike)):
        with open(source, "rb") as file:
            return _decoded(_uncompressed(file.read()), encoding, wanted)
    if not hasattr(source, "read"):
        raise TypeError(f"source must be a path, an open text file or a pandas DataFrame, got {type(source).__name__}")
    binary = getattr(source, "buffer", None)
    if binary is not None and binary.seekable():
        # A compressed file opened as text (standard input, say), which may
        # decode as Latin-1 does any byte: read as from its path.
        start = binary.tell()
        compressed = binary.read(max(map(len, _COMPRESSED))).startswith(tuple(_COMPRESSED))
        binary.seek(start)
        if compressed:
            return _decoded(_uncompressed(binary.read()), getattr(source, "encoding", "utf-8"), wanted)
    try:
        text = source.read()
    except UnicodeDecodeError as error:
        binary = getattr(source, "buffer", None)
        line, guess = "", "latin-1"
        if binary is not None and binary.seekable():
            binary.seek(0)
            raw = binary.read()
            _check_mixed(raw, error.encoding)
            line, guess = f"line {line_at(raw, _first_undecodable(raw, error.encoding))}: ", _guessed(raw)
        # The caller opened the file, where a command takes the option.
        advice = Option(f"open the file with encoding={guess!r}", f"pass {option('encoding', guess).command_line}")
        raise refused(
            f"{line}bytes that are not {error.encoding} ({error.reason}); ",
            advice,
            " or the encoding it was written in",
        ) from None
    if not isinstance(text, str):
        raise TypeError("the file is open in binary mode: open it as text, or pass its path")
    # A mark of another encoding, read as Latin-1 or cp1252 reads it.
    _check_mark(text[:4].encode("latin-1", errors="replace"), "")
    return _encoded(text.removeprefix("\ufeff"), wanted)


def _uncompressed(raw: bytes) -> bytes:
    return raw if compressed_with(raw) is None else _read_whole(io.BytesIO(raw), raw)


def _read_whole(file: typing.BinaryIO, start: bytes, size: int = -1) -> bytes:
    """The text of `file` (`size` bytes of it, or all), whose first bytes are
    `start`, uncompressed; refused where it cannot be."""
    for magic, (name, opened) in _COMPRESSED.items():
        if start.startswith(magic):
            if opened is None:
                raise PedigreeError(f"the file is compressed with {name}; uncompress it first")
            try:
                with opened(file) as inside:
                    text: bytes = inside.read(size)
            except (OSError, EOFError, ValueError, zlib.error, lzma.LZMAError) as error:
                raise PedigreeError(
                    f"the file is compressed with {name} but cannot be uncompressed ({error}); it may be cut short"
                ) from None
            if text.startswith(tuple(_COMPRESSED)):
                raise PedigreeError(f"the file is compressed twice, with {name} outside; uncompress it to its text")
            return text
    return file.read(size)


def text_start(path: str, size: int) -> bytes:
    """The first bytes of a file as the readers of text take it: uncompressed.

    Parameters
    ----------
    path : str
    size : int
        How many bytes, at most.

    Returns
    -------
    bytes

    Raises
    ------
    PedigreeError
        A compression that tolmkit does not read, or a file cut short.
    """
    with open(path, "rb") as file:
        start = file.read(max(map(len, _COMPRESSED)))
        file.seek(0)
        return _read_whole(file, start, size)


def compressed_with(start: bytes) -> str | None:
    """The compression of a file that begins with `start`, or None.

    Parameters
    ----------
    start : bytes
        Its first bytes (eight suffice).

    Returns
    -------
    str or None
        Such as "gzip", "bzip2", "xz".

    Examples
    --------
    >>> compressed_with(b"\\x1f\\x8b\\x08")
    'gzip'
    """
    return next((name for magic, (name, _) in _COMPRESSED.items() if start.startswith(magic)), None)


def checked_encoding(encoding: str) -> str:
    """The name of a text encoding, as Python's codecs know it.

    Parameters
    ----------
    encoding : str
        Such as "utf-8", "latin-1", "cp1252", "utf-16".

    Returns
    -------
    str

    Raises
    ------
    ValueError
        An encoding that Python does not know, or one that does not decode
        bytes to text (such as "rot13" or "base64").

    Examples
    --------
    >>> checked_encoding("Latin-1")
    'iso8859-1'
    """
    try:
        name = codecs.lookup(encoding).name
    except LookupError:
        raise ValueError(f"unknown encoding {encoding!r}; such as utf-8, latin-1, cp1252, utf-16") from None
    try:
        # bytes.decode asks whether the codec is of text once there are bytes to decode.
        b"\x00\x00\x00\x00".decode(encoding)
    except UnicodeDecodeError:
        pass
    except LookupError:
        raise ValueError(f"{encoding!r} is not an encoding of text; such as utf-8, latin-1, cp1252, utf-16") from None
    return name


def _decoded(raw: bytes, encoding: str, wanted: bytes) -> tuple[bytes, TextMarks]:
    name = checked_encoding(encoding)
    _check_mark(raw, name)
    if name in _ASCII_ALIKE:
        marks = text_marks(raw, _ENCODED_ASKS + wanted)
        if marks.beyond_ascii < 0:
            return _encoded(raw, wanted, marks)
    _check_utf8(raw, encoding)
    try:
        text = raw.decode(encoding)
    except UnicodeDecodeError as error:
        _check_mixed(raw, encoding)
        line = line_at(raw, error.start)
        raise refused(
            f"line {line}: bytes that are not {encoding} ({error.reason}); pass ",
            option("encoding", _guessed(raw)),
            " or the encoding the file was written in",
        ) from None
    return _encoded(text.removeprefix("\ufeff"), wanted)


def _check_mark(raw: bytes, name: str) -> None:
    """Refuses a file that begins with the byte-order mark of another
    encoding than `name`: read so, the mark would begin its first
    identifier."""
    for mark, marked in _MARKS.items():
        if raw.startswith(mark):
            if not name.startswith(marked):
                raise refused(
                    f"the file begins with the byte-order mark of {marked}, the encoding it is written in; pass ",
                    option("encoding", marked),
                )
            return


def _check_utf8(raw: bytes, encoding: str) -> None:
    """Refuses a file of UTF-8 read in another encoding, which would make
    each letter beyond ASCII two or three others, and a name so another
    animal. Bytes beyond ASCII that all pair into UTF-8's sequences are
    almost never the text of another encoding."""
    if codecs.lookup(encoding).name.startswith("utf"):
        return
    beyond = _BEYOND_ASCII.search(raw)
    if beyond is None:
        return
    try:
        raw.decode("utf-8")
    except UnicodeDecodeError:
        return
    letter = beyond.group()
    raise refused(
        f"line {line_at(raw, beyond.start())}: the file is written in utf-8, whose {letter.decode()!r} {encoding} "
        f"reads as {letter.decode(encoding, errors='replace')!r}; pass ",
        option("encoding", "utf-8"),
    )


def _check_mixed(raw: bytes, encoding: str) -> None:
    """Refuses a file of UTF-8 that holds bytes of another encoding too, as
    files pasted together do: no encoding reads both parts right."""
    if not codecs.lookup(encoding).name.startswith("utf-8"):
        return
    text = raw.decode("utf-8", errors="replace")
    other = re.search("[^\x00-\x7f\ufffd]", text)
    if other is not None:
        raise PedigreeError(
            f"line {line_at(raw, _first_undecodable(raw, 'utf-8'))}: bytes that are not utf-8, while line "
            f"{text.count(chr(10), 0, other.start()) + 1} is utf-8: the file mixes encodings (files pasted "
            "together?); write it in one"
        )


def _guessed(raw: bytes) -> str:
    """The encoding that bytes not of the one given are likely in: that of
    their byte-order mark, else Latin-1, which reads any byte."""
    return next((marked for mark, marked in _MARKS.items() if raw.startswith(mark)), "latin-1")


def line_at(data: bytes, offset: int) -> int:
    """The number of the line that holds byte `offset` of the file's text.

    Examples
    --------
    >>> line_at(b"a,0,0\\nb,a,0\\n", 6)
    2
    """
    return data.count(_NEWLINE, 0, offset) + 1


def _first_undecodable(raw: bytes, encoding: str) -> int:
    try:
        raw.decode(encoding)
    except UnicodeDecodeError as error:
        return error.start
    return len(raw)


class TextMarks(typing.NamedTuple):
    """What one pass over a text finds (`text_marks`): offsets, −1 for none."""

    #: The first control character: a byte below 0x20 other than a tab or a line end, or 0x7f.
    control: int
    #: The first byte of 0x80 or above.
    beyond_ascii: int
    #: A byte of the first line that leaves a quote open (odd quotes).
    unclosed_quote: int
    #: The line end of the first empty line.
    empty_line: int
    #: The bytes of the longest line, line end and all, where more than
    #: 64 KiB; else at most 64 KiB.
    longest_line: int
    #: Those of the bytes asked about that the text holds.
    held: bytes


def text_marks(data: bytes, wanted: bytes) -> TextMarks:
    """Marks of a text and which of `wanted` it holds, in one pass.

    Files of hundreds of megabytes are read once, on the threads of the
    setting, instead of once for each byte asked about.

    Parameters
    ----------
    data : bytes
        The text.
    wanted : bytes
        The bytes asked about (at most 64).

    Returns
    -------
    TextMarks

    Examples
    --------
    >>> text_marks(b'a,"b\\nc\\x01', b",#")
    TextMarks(control=6, beyond_ascii=-1, unclosed_quote=4, empty_line=-1, longest_line=5, held=b',')
    """
    return TextMarks(*_native.text_marks(np.frombuffer(data, dtype=np.uint8), wanted, get_threads()))


# What _encoded asks of a text, before and after its line ends are made "\n".
_ENCODED_ASKS = b"\r# \t"


def _encoded(text: str | bytes, wanted: bytes, marks: TextMarks | None = None) -> tuple[bytes, TextMarks]:
    """The text as UTF-8 with lines ending in "\\n", refusing control
    characters and a byte-order mark past the start; comments cut and blank
    lines emptied. Its marks asked about `wanted` come with it; `marks` are
    those of `text` asked about `_ENCODED_ASKS` and `wanted`, where they are
    known."""
    try:
        data = text.encode("utf-8") if isinstance(text, str) else text
    except UnicodeEncodeError as error:
        raise PedigreeError(
            f"line {error.object.count(chr(10), 0, error.start) + 1}: a character that is no "
            f"text ({error.object[error.start]!r}); open the file with its encoding"
        ) from None
    asks = _ENCODED_ASKS + wanted
    if marks is None:
        marks = text_marks(data, asks)
    # Line ends of Windows and old Macs made "\n"; the end-of-file mark of DOS
    # files (Ctrl-Z) dropped, which ends the text as a line end would.
    if b"\r" in marks.held or data.endswith(b"\x1a"):
        data = data.replace(b"\r\n", b"\n").replace(b"\r", b"\n").removesuffix(b"\x1a")
        marks = text_marks(data, asks)
    control = marks.control
    if control >= 0:
        line = line_at(data, control)
        character = data[control : control + 1].decode()
        raise refused(
            f"line {line}: control character {character!r} in the data; remove it "
            f"(a file full of them may be UTF-16: pass ",
            option("encoding", "utf-16"),
            ")",
        )
    ascii = marks.beyond_ascii < 0
    if not ascii:
        unicode = _UNICODE_CONTROL.search(data)
        if unicode is not None:
            line = line_at(data, unicode.start())
            if unicode.group() == codecs.BOM_UTF8:
                raise PedigreeError(
                    f"line {line}: a byte-order mark inside the file, where files were pasted together; remove it"
                )
            raise refused(
                f"line {line}: control character {unicode.group().decode()!r} in the data; remove it "
                f"(read as latin-1, a Windows file may need ",
                option("encoding", "cp1252"),
                ")",
            )
    marked = data
    if b"#" in marks.held:
        data = _without_comments(data)
    # Blanks are looked for first: finding one byte is many times faster than two.
    blanks = b" " in marks.held or b"\t" in marks.held
    indented = blanks and (b"\n " in data or b"\n\t" in data or data[:1] in (b" ", b"\t"))
    if indented or not ascii:
        # From a line end that comes first, so that the pattern has a byte to look for.
        data = _BLANK_LINE.sub(_NEWLINE, _NEWLINE + data)[1:]
    return data, marks if data is marked else text_marks(data, wanted)


def _without_comments(data: bytes) -> bytes:
    """The data with its comments cut, with the blanks before them: a '#' at
    the start of a line or after a blank, outside quotes, to the end of the
    line. Lines keep their numbers."""
    everything = np.frombuffer(data, dtype=np.uint8)
    marks = np.flatnonzero(everything == ord("#"))
    before = everything[np.maximum(marks - 1, 0)]
    # Narrowed by the byte before: a line end, a blank, or the last byte of a Unicode space.
    maybe = marks[(marks == 0) | np.isin(before, np.frombuffer(b"\n \t", np.uint8)) | (before >= 0x80)]
    kept, start = [], 0
    for mark in maybe.tolist():
        if mark < start or not (mark == 0 or data.endswith(_BEFORE_COMMENT, 0, mark)):
            continue
        line = data.rfind(_NEWLINE, 0, mark) + 1
        if data.count(b'"', line, mark) % 2:  # inside a quoted field
            continue
        kept.append(data[start:mark].rstrip(b" \t"))
        end = data.find(_NEWLINE, mark)
        start = len(data) if end < 0 else end
    kept.append(data[start:])
    return b"".join(kept)
