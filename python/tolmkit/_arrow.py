"""pyarrow text as the companion's routines read it: the offsets of its
strings and their bytes, shared by the reader and the writers."""

from __future__ import annotations

import numpy as np
import pyarrow as pa
import pyarrow.compute as pc
from numpy.typing import NDArray


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
