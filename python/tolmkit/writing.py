"""The files that the `tolmkit` command writes: never one lost or left half
written, and tables written a column at a time, with the text that pandas'
`to_csv` gives."""

from __future__ import annotations

import contextlib
import csv
import errno
import io
import os
import re
import secrets
import signal
import stat
import sys
import threading
import typing
from collections.abc import Callable, Iterable, Iterator, Sequence

import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.compute as pc
import scipy.sparse as sp
from numpy.typing import NDArray

from . import _native
from ._arrow import offsets_and_bytes
from .decoding import holds_comment
from .threads import resolve

__all__ = [
    "STANDARD_STREAM",
    "STOPPING_SIGNALS",
    "OutputError",
    "OverwritesInput",
    "as_stream",
    "check_outputs",
    "opened_output",
    "outputs",
    "signals_handled",
    "write_csv",
    "write_lower_triangle",
]

#: The file name that stands for standard output (for standard input where read).
STANDARD_STREAM = "-"

#: Rows formatted and written at a time, which bounds the text held in memory
#: and keeps it in the processor's cache until written.
CHUNK_ROWS = 1 << 16

#: The signals that stop a command as Ctrl-C does (a scheduler's or timeout's
#: SIGTERM, a closed terminal's SIGHUP), every file left as it was.
STOPPING_SIGNALS = tuple(getattr(signal, name) for name in ("SIGINT", "SIGTERM", "SIGHUP") if hasattr(signal, name))

_DISK_FULL = frozenset({errno.ENOSPC, errno.EDQUOT, errno.EFBIG})

# A column as text: the offsets of its fields, and their characters.
_Text = tuple[NDArray[np.int64], NDArray[np.uint8]]
# Rows start to stop of a column as the companion writes them, None where pandas must.
_Source = Callable[[int, int], typing.Union[NDArray[np.float64], NDArray[np.int64], _Text, None]]


class OutputError(OSError):
    """An output that could not be written; its target is as it was."""


class OverwritesInput(ValueError):
    """An output that names an input of the same command (a usage mistake)."""


@contextlib.contextmanager
def outputs(*targets: str | None, inputs: Iterable[str] = ()) -> Iterator[list[str]]:
    """Paths at which a command writes its files, renamed onto `targets`
    together when the block ends without error.

    Every file of the command goes through this, in one line::

        with outputs(args.output, f"{args.output}.ids", inputs=[args.pedigree]) as (matrix, ids):
            ...  # compute, then write the files at the paths `matrix` and `ids`

    Parameters
    ----------
    *targets : str or None
        The files to write. None (an option not given) gives "", and "-"
        (`STANDARD_STREAM`) gives "-": standard output, written directly. A
        target that exists and is not a regular file (/dev/null, a pipe) is
        written directly too. A symbolic link is followed: the file it points
        to is replaced, the link stays.
    inputs : iterable of str
        The files that the command reads; "-" is standard input.

    Yields
    ------
    list of str
        For each target, a path in the target's folder, with its suffix
        (which plotting libraries go by), where no file exists yet.

    Raises
    ------
    OverwritesInput
        Before the block runs, when a target is one of `inputs` or another
        target: the same path once links are resolved, or the same file.
    OutputError
        Before the block runs, when a target's folder does not exist or is not
        writable; after it, when a file cannot be written (a full disk) or
        renamed, saying which targets are new and which are as they were.

    Notes
    -----
    The files that the block wrote are flushed to disk, all of them, before
    the first is renamed onto its target, and Ctrl-C waits for the renames.
    When the block raises (an error, out of memory, Ctrl-C), every file it
    wrote is removed and every target is as it was.

    Examples
    --------
    >>> with outputs("f.csv", inputs=["herd.csv"]) as (path,):  # doctest: +SKIP
    ...     write_csv(table, path)
    """
    files = [_resolved(target) for target in targets]
    _refuse_overwriting(targets, files, list(inputs))
    temporary = [_temporary_name(file) if file is not None else None for file in files]
    try:
        yield [path if path is not None else target or "" for target, path in zip(targets, temporary)]
        _commit(
            [
                (path, file, typing.cast(str, target))
                for path, file, target in zip(temporary, files, targets)
                if path is not None and file is not None and os.path.exists(path)
            ]
        )
    except OSError as error:
        ours = error.filename is not None and error.filename in temporary
        if isinstance(error, OutputError) or not (ours or error.errno in _DISK_FULL):
            raise
        named = ", ".join("standard output" if target == STANDARD_STREAM else target for target in targets if target)
        raise OutputError(f"cannot write {named}: {error.strerror}; nothing was replaced") from error
    finally:
        for path in temporary:
            if path is not None:
                with contextlib.suppress(FileNotFoundError):
                    os.remove(path)


def check_outputs(*targets: str | None, inputs: Iterable[str] = ()) -> None:
    """Refuses, before anything is computed, targets that a command writes
    otherwise than through `outputs` (a Zarr store, which is a folder), as
    `outputs` refuses its own.

    Parameters
    ----------
    *targets : str or None
    inputs : iterable of str
        As for `outputs`.

    Raises
    ------
    OverwritesInput, OutputError
        As `outputs` raises them before its block runs.
    """
    files = [
        None if target in (None, STANDARD_STREAM) else os.path.realpath(typing.cast(str, target)) for target in targets
    ]
    _refuse_overwriting(targets, files, list(inputs))


def as_stream(target: str) -> str:
    """`STANDARD_STREAM` for a target that is the file that standard output
    is redirected to (/dev/stdout, or its name), which is then written
    through the stream, where the shell left it (appending, or after what
    came before), not replaced; else `target`.

    Parameters
    ----------
    target : str
        A file that a command writes.

    Returns
    -------
    str

    Raises
    ------
    OutputError
        The file that standard error is redirected to.
    """
    if target == STANDARD_STREAM or not os.path.isfile(target):
        return target
    for descriptor, name in ((1, STANDARD_STREAM), (2, None)):
        redirected = _stream_file(descriptor)
        if redirected is not None and os.path.samestat(redirected, os.stat(target)):
            if name is None:
                raise OutputError(f"{target}: is the file of standard error; write it elsewhere")
            return name
    return target


def _resolved(target: str | None) -> str | None:
    """The file to replace through a temporary file, None where there is none
    (no target, standard output, a device or a pipe)."""
    if target is None or target == STANDARD_STREAM:
        return None
    if target.endswith(("/", os.sep)):
        raise OutputError(f"{target}: names a folder; give the name of a file")
    # The target itself, not its resolved path: /dev/stdout resolves to a
    # pipe's name, which is no path, while the target leads to the pipe.
    try:
        mode = os.stat(target).st_mode
    except FileNotFoundError:
        return os.path.realpath(target)
    except OSError as error:  # a file where a folder is named, a loop of links
        raise OutputError(f"{target}: {error.strerror}") from None
    if stat.S_ISDIR(mode):
        raise OutputError(f"{target}: is a folder, not a file")
    return os.path.realpath(target) if stat.S_ISREG(mode) else None


def _stream_file(descriptor: int) -> os.stat_result | None:
    """The regular file that a standard stream is redirected to, if any."""
    try:
        status = os.fstat(descriptor)
    except (OSError, ValueError):
        return None
    return status if stat.S_ISREG(status.st_mode) else None


def _refuse_overwriting(targets: tuple[str | None, ...], files: list[str | None], inputs: list[str]) -> None:
    if targets.count(STANDARD_STREAM) > 1:
        raise OverwritesInput("two outputs go to standard output: write all but one to files")
    named = [(target, file) for target, file in zip(targets, files) if target is not None and file is not None]
    # Standard input and output redirected from and to files are those files.
    given = _stream_file(0) if STANDARD_STREAM in inputs else None
    written = _stream_file(1) if STANDARD_STREAM in targets else None
    for other in [i for i in inputs if i != STANDARD_STREAM]:
        if written is not None and os.path.exists(other) and os.path.samestat(written, os.stat(other)):
            raise OverwritesInput(f"standard output is the input {other}: write it elsewhere")
    for target, file in named:
        if given is not None and os.path.exists(file) and os.path.samestat(given, os.stat(file)):
            raise OverwritesInput(f"the output {target} is the input, given on standard input: write it elsewhere")
    for k, (target, file) in enumerate(named):
        for other in [i for i in inputs if i != STANDARD_STREAM] + [t for t, _ in named[:k]]:
            if file == os.path.realpath(other) or _same_file(file, other):
                what = f"the input {other}" if other in inputs else f"also the output {other}"
                raise OverwritesInput(f"the output {target} is {what}: write it elsewhere")
        folder = os.path.dirname(file)
        if not os.path.isdir(folder):
            raise OutputError(f"{target}: there is no folder {folder}")
        if not os.access(folder, os.W_OK | os.X_OK):
            raise OutputError(f"{target}: no permission to write in {folder}")
        # A new file replaces it, which its folder allows: a file made read-only is kept so.
        if os.path.exists(file) and not os.access(file, os.W_OK):
            raise OutputError(f"{target}: no permission to write it")


def _same_file(file: str, other: str) -> bool:
    try:
        return os.path.samefile(file, other)
    except OSError:  # either does not exist yet
        return False


def _temporary_name(file: str) -> str:
    folder, name = os.path.split(file)
    root, suffix = os.path.splitext(name)
    return os.path.join(folder, f".{root}.tmp-{secrets.token_hex(8)}{suffix}")


def _commit(written: list[tuple[str, str, str]]) -> None:
    """Renames each complete temporary file onto its file, all flushed first."""
    for path, file, _ in written:
        descriptor = os.open(path, os.O_RDONLY)
        try:
            os.fsync(descriptor)
        finally:
            os.close(descriptor)
        with contextlib.suppress(FileNotFoundError):
            os.chmod(path, stat.S_IMODE(os.stat(file).st_mode))
    with _interrupts_deferred():
        for k, (path, file, target) in enumerate(written):
            try:
                os.replace(path, file)
            except OSError as error:
                new = ", ".join(f"{t} is new" for _, _, t in written[:k])
                kept = ", ".join(t for _, _, t in written[k:])
                raise OutputError(
                    f"cannot rename onto {target}: {error.strerror}; {new + ', ' if new else ''}{kept} as it was"
                ) from error


@contextlib.contextmanager
def _interrupts_deferred() -> Iterator[None]:
    """Holds Ctrl-C and the other `STOPPING_SIGNALS` back until the block
    ends, so that a group of renames is never cut in two."""
    caught: list[int] = []
    with signals_handled(STOPPING_SIGNALS, lambda number, frame: caught.append(number)):
        yield
    if caught:
        signal.raise_signal(caught[0])  # to the handler restored, as if it came now


@contextlib.contextmanager
def signals_handled(numbers: Iterable[int], handler: Callable[[int, typing.Any], None]) -> Iterator[None]:
    """`handler` takes the signals `numbers` for the block, and their handlers
    before come back after it; in the main thread alone, which alone may set
    them (elsewhere the block runs as it is).

    Parameters
    ----------
    numbers : iterable of int
    handler : callable
        As `signal.signal` takes it.
    """
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    previous = {number: signal.signal(number, handler) for number in numbers}
    try:
        yield
    finally:
        for number, before in previous.items():
            signal.signal(number, before)


def write_csv(
    frame: pd.DataFrame,
    path: str,
    *,
    sep: str = ",",
    header: bool = True,
    index: bool = True,
    threads: int | None = None,
) -> None:
    """Writes `frame` with the text of `frame.to_csv(path, sep=sep,
    header=header, index=index)`, many times faster: the lines are written in
    native code, numbers formatted where they go, a chunk of rows at a time.
    Text that tolmkit's readers would take for a comment is quoted too.

    Parameters
    ----------
    frame : pandas.DataFrame
    path : str
        The file, or "-" for standard output.
    sep : str
        One character between fields.
    header, index : bool
        Whether to write the column names, and the index as the first column.
    threads : int, optional
        Threads that write the lines, of which two are used at most; by
        default `tolmkit.get_threads()`. The text is the same for any count.

    Raises
    ------
    ValueError
        A `sep` that is not one character, or `threads` not a positive
        integer.

    Notes
    -----
    Numbers are written as Python's repr writes them (integers as integers,
    floats in the shortest digits that read back to the same bits, 0.25,
    1e-05), missing values as nothing, and text quoted where it holds the
    separator, a quote or a line end, which is what pandas writes, and where
    a '#' begins it or follows a blank, it holds a carriage return, or a tab
    is among blank-separated fields, which pandas leaves bare. Columns of
    other types, rows with text that needs quotes or holds a '#', and a
    separator that numbers are written with or that is not ASCII go through
    pandas itself.

    Examples
    --------
    >>> write_csv(pd.DataFrame({"f": [0.25, 1e-05]}, index=pd.Index(["a", "b"], name="id")), "-")
    id,f
    a,0.25
    b,1e-05
    """
    if not isinstance(sep, str) or len(sep) != 1:
        raise ValueError(f"sep must be one character, got {sep!r}")
    count = resolve(threads)
    with opened_output(path) as file:
        if header:
            names = ([frame.index.name or ""] if index else []) + [str(name) for name in frame.columns]
            line = io.StringIO()
            csv.writer(line, delimiter=sep, lineterminator="\n").writerow(names)
            file.write(_comments_quoted(line.getvalue(), sep).encode())
        sources = [
            _source(column)
            for column in ([frame.index] if index else []) + [frame.iloc[:, k] for k in range(frame.shape[1])]
        ]
        # Lines of UTF-8 text joined by a byte: the separator one ASCII character.
        native = typing.cast(list[_Source], sources if sources and None not in sources and sep.isascii() else [])
        for start in range(0, len(frame), CHUNK_ROWS):
            stop = min(start + CHUNK_ROWS, len(frame))
            columns = [source(start, stop) for source in native]
            ready = [column for column in columns if column is not None]
            # None where a column's type, or text that needs quotes (the separator,
            # a quote, a line end, a '#'), is left to pandas, which quotes it.
            whole = ready and len(ready) == len(columns) and not any(_holds_bare(column, sep) for column in ready)
            lines = _native.write_lines(ready, sep, count) if whole else None
            if lines is None:
                text = frame.iloc[start:stop].to_csv(sep=sep, header=False, index=index, lineterminator="\n")
                file.write(_comments_quoted(text, sep).encode())
            else:
                file.write(lines)


def _bare(sep: str) -> str:
    """The characters that pandas leaves bare and tolmkit's readers do not:
    '#', which may begin a comment, a carriage return, which ends a line
    there, and with blanks as the separator the tab, at which a file of
    blank-separated fields is split too."""
    return "#\r\t" if sep == " " else "#\r"


def _holds_bare(column: typing.Any, sep: str) -> bool:
    """Whether text of the companion's form holds one of `_bare(sep)`."""
    if not isinstance(column, tuple):
        return False
    offsets, text = column
    held = text[offsets[0] : offsets[-1]]
    return any(bool(np.any(held == ord(character))) for character in _bare(sep))


def _comments_quoted(text: str, sep: str) -> str:
    """Lines as pandas writes them, with the fields quoted that tolmkit's
    readers would take for a comment ('#' at the start of a field or after
    a blank) or split (a carriage return, a tab among blank-separated
    fields), so that every file written reads back whole; pandas quotes
    only the separator, a quote and a newline."""
    if not any(character in text for character in _bare(sep)):
        return text
    # A field is quoted whole by pandas (a quote inside doubled), or holds
    # neither the separator nor a quote nor a line end.
    field = re.compile(f'"(?:[^"]|"")*"|[^{re.escape(sep)}"\n]*')
    out = []
    at = 0
    while at < len(text):
        found = typing.cast(re.Match[str], field.match(text, at))
        value = found.group()
        out.append(value if value.startswith('"') else _quoted(value, sep))
        at = found.end()
        out.append(text[at : at + 1])  # the separator or the line end
        at += 1
    return "".join(out)


def _quoted(field: str, sep: str) -> str:
    split = sep == " " and "\t" in field
    if split or holds_comment(field) or any(character in field for character in (sep, '"', "\n", "\r")):
        return '"' + field.replace('"', '""') + '"'
    return field


@contextlib.contextmanager
def opened_output(path: str) -> Iterator[typing.BinaryIO]:
    """A file opened to write bytes, or standard output for "-".

    Parameters
    ----------
    path : str
        A path that `outputs` yields.

    Yields
    ------
    typing.BinaryIO
        Standard output writes each piece whole or raises `OSError`, as a
        file does.
    """
    if path != STANDARD_STREAM:
        with open(path, "wb") as file:
            yield file
        return
    sys.stdout.flush()
    yield typing.cast(typing.BinaryIO, _WholeWrites(sys.stdout.buffer))
    sys.stdout.buffer.flush()


class _WholeWrites:
    """A stream that writes the whole of each piece or raises. Python's
    buffered files return a short count, without an error, when a file fills
    up (a full disk, a limit on a file's size); the next write raises."""

    def __init__(self, stream: typing.BinaryIO) -> None:
        self._stream = stream

    def write(self, data: bytes | memoryview) -> int:
        view = memoryview(data).cast("B")
        while len(view):
            written = self._stream.write(view)
            if not written:
                raise OSError(errno.EIO, "standard output takes nothing more")
            view = view[written:]
        return len(data)


def _source(column: pd.Series[typing.Any] | pd.Index[typing.Any]) -> _Source | None:
    """Rows `start` to `stop` of the column as the companion writes them: its
    numbers, or its text in pandas' form (missing values empty) as offsets
    and characters; None for the types that only pandas writes so."""
    dtype = column.dtype
    # A column of a frame's block held by columns (as a groupby leaves it) is strided.
    if dtype == np.float64 or isinstance(dtype, pd.Float64Dtype):
        reals = np.ascontiguousarray(column.to_numpy(np.float64, na_value=np.nan))
        return lambda start, stop: reals[start:stop]
    if dtype.kind in "iu" and isinstance(dtype, np.dtype) and dtype != np.uint64:
        integers = np.ascontiguousarray(column.to_numpy(np.int64))
        return lambda start, stop: integers[start:stop]
    if pd.api.types.is_object_dtype(dtype):
        objects = column.to_numpy()
        return lambda start, stop: _object_text(objects[start:stop])
    # The column's values, not the column: pyarrow asks a Series for attributes
    # that pandas looks up in its index, hashing an index of text.
    values = column.array
    if pd.api.types.is_bool_dtype(dtype):
        strings = pc.if_else(pa.array(values, type=pa.bool_(), from_pandas=True), "True", "False")
    elif pd.api.types.is_integer_dtype(dtype):
        strings = pc.cast(pa.array(values, from_pandas=True), pa.large_string())
    elif pd.api.types.is_string_dtype(dtype):
        strings = pa.array(values, type=pa.large_string(), from_pandas=True)
    else:
        return None
    offsets, text = offsets_and_bytes(strings)
    return lambda start, stop: (offsets[start : stop + 1], text)


def _object_text(objects: NDArray[np.object_]) -> _Text | None:
    """Objects that are text or missing as offsets and characters, None if
    any is another object. Several times faster than pa.array, which examines
    each object more."""
    text = _native.format_texts(np.ascontiguousarray(objects), pd.NA)
    return None if text is None else (text[0], np.frombuffer(text[1], dtype=np.uint8))


def write_lower_triangle(
    lower: sp.csr_matrix, ids: Sequence[str] | NDArray[np.object_], path: str, ids_path: str
) -> None:
    """Writes a matrix as "row col value" lines of its lower triangle, numbered
    from 1, the form that mixed-model programs read, and "number id" lines.

    Parameters
    ----------
    lower : scipy.sparse.csr_matrix
        The lower triangle, with sorted indices.
    ids : sequence of str
        The identifier of each row.
    path, ids_path : str
        Where the triplets and the identifiers go.

    Examples
    --------
    >>> write_lower_triangle(sp.csr_matrix([[2.0, 0.0], [-1.0, 2.0]]), ["a", "b"], "-", "-")
    1 1 2.0
    2 1 -1.0
    2 2 2.0
    1 a
    2 b
    """
    rows = np.repeat(np.arange(1, lower.shape[0] + 1), np.diff(lower.indptr))
    write_csv(
        pd.DataFrame({"row": rows, "col": lower.indices + 1, "value": lower.data}),
        path,
        sep=" ",
        header=False,
        index=False,
    )
    numbered = pd.DataFrame({"number": np.arange(1, lower.shape[0] + 1), "id": np.asarray(ids, dtype=object)})
    write_csv(numbered, ids_path, sep=" ", header=False, index=False)
