"""pyarrow text as tolmkit handles it: made from Python strings, taken
chunk by chunk, and as the offsets of its strings and their bytes, which
the companion's routines read; shared by the readers and the writers."""

from __future__ import annotations

import typing

import numpy as np
import pyarrow as pa
import pyarrow.compute as pc
from numpy.typing import NDArray

__all__ = ["chunks", "offsets_and_bytes", "string_array"]


def string_array(values: NDArray[np.object_]) -> typing.Any:
    """Python strings as a pyarrow string array, None a null."""
    return pa.array(values, type=pa.string(), from_pandas=False)


def chunks(column: typing.Any) -> list[typing.Any]:
    """The arrays of a pyarrow column, chunked or not."""
    return list(column.chunks) if isinstance(column, pa.ChunkedArray) else [column]


def offsets_and_bytes(strings: pa.Array | pa.ChunkedArray) -> tuple[NDArray[np.int64], NDArray[np.uint8]]:
    """String k of `strings` is bytes[offsets[k]:offsets[k + 1]]; a null is empty."""
    if isinstance(strings, pa.ChunkedArray):  # pandas' Arrow columns may come in chunks
        strings = strings.combine_chunks()
    strings = strings.cast(pa.large_string())  # 64-bit offsets; the bytes are not copied
    if strings.null_count:
        # A null may keep the characters it had (pandas' Arrow strings do when
        # set to NA): they are dropped, not written.
        strings = pc.fill_null(strings, "")
    offsets = np.frombuffer(strings.buffers()[1], dtype=np.int64, count=len(strings) + 1, offset=8 * strings.offset)
    data = strings.buffers()[2]
    return offsets, np.zeros(1, dtype=np.uint8) if data is None else np.frombuffer(data, dtype=np.uint8)
