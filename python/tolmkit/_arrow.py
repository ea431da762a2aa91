"""pyarrow text as tolmkit handles it: made from Python strings, taken
chunk by chunk, and as the offsets of its strings and their bytes, which
the companion's routines read; shared by the readers and the writers."""

from __future__ import annotations

import typing

import numpy as np
import pyarrow as pa
import pyarrow.compute as pc
from numpy.typing import NDArray

__all__ = ["chunks", "offsets_and_bytes", "short_offsets_and_bytes", "string_array", "take_across"]


def string_array(values: NDArray[np.object_]) -> typing.Any:
    """Python strings as a pyarrow string array, None a null."""
    return pa.array(values, type=pa.string(), from_pandas=False)


def chunks(column: typing.Any) -> list[typing.Any]:
    """The arrays of a pyarrow column, chunked or not."""
    return list(column.chunks) if isinstance(column, pa.ChunkedArray) else [column]


def take_across(pieces: list[pa.Array], indices: NDArray[np.int64]) -> pa.Array:
    """The strings numbered `indices` in `pieces` numbered on from one to the
    next, taken piece by piece: pyarrow's take on a chunked array joins its
    chunks first, as many fresh pages as the text.

    Examples
    --------
    >>> take_across([pa.array(["a", "b"]), pa.array(["c"])], np.array([2, 0, 2])).to_pylist()
    ['c', 'a', 'c']
    """
    starts = np.cumsum([0] + [len(piece) for piece in pieces])
    piece = np.searchsorted(starts, indices, side="right") - 1
    order = np.argsort(piece, kind="stable")
    bounds = np.searchsorted(piece[order], np.arange(len(pieces) + 1))
    parts = [
        pieces[p].take(pa.array(indices[order[bounds[p] : bounds[p + 1]]] - starts[p]))
        for p in range(len(pieces))
        if bounds[p] < bounds[p + 1]
    ]
    taken = pa.concat_arrays(parts) if parts else pa.array([], pa.string())
    back = np.empty_like(order)
    back[order] = np.arange(len(order))
    return taken.take(pa.array(back))


def offsets_and_bytes(strings: pa.Array | pa.ChunkedArray) -> tuple[NDArray[np.int64], NDArray[np.uint8]]:
    """String k of `strings` is bytes[offsets[k]:offsets[k + 1]]; a null is empty."""
    offsets, data = _laid_out(strings, pa.large_string())  # 64-bit offsets; the bytes are not copied
    return offsets, data


def short_offsets_and_bytes(strings: pa.Array | pa.ChunkedArray) -> tuple[NDArray[np.int32], NDArray[np.uint8]]:
    """As `offsets_and_bytes`, with 32-bit offsets: those of pyarrow's string
    type are taken as they are, where a copy in 64 bits would be as many
    fresh pages as the strings; text of 2 GiB or more is refused by the cast."""
    offsets, data = _laid_out(strings, pa.string())
    return offsets, data


def _laid_out(strings: pa.Array | pa.ChunkedArray, kind: pa.DataType) -> tuple[typing.Any, NDArray[np.uint8]]:
    if isinstance(strings, pa.ChunkedArray):  # pandas' Arrow columns may come in chunks
        strings = strings.combine_chunks()
    strings = strings.cast(kind)
    if strings.null_count:
        # A null may keep the characters it had (pandas' Arrow strings do when
        # set to NA): they are dropped, not written.
        strings = pc.fill_null(strings, "")
    width = np.int64 if kind == pa.large_string() else np.int32
    offsets = np.frombuffer(
        strings.buffers()[1], dtype=width, count=len(strings) + 1, offset=np.dtype(width).itemsize * strings.offset
    )
    data = strings.buffers()[2]
    return offsets, np.zeros(1, dtype=np.uint8) if data is None else np.frombuffer(data, dtype=np.uint8)
