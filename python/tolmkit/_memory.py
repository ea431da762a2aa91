"""Room in memory asked of the system before the calls of libraries that do
not survive its lack: pyarrow's CSV parser aborts the process where an
allocation fails it, OpenBLAS waits without end for a work buffer that it
cannot have (its blas_memory_alloc tries again and again), and a local Dask
cluster hangs or crashes where its processes cannot start their threads.
The room is given back at once, untouched: where the address space has no
limit, asking costs nothing."""

from __future__ import annotations

import os

import numpy as np

#: OpenBLAS's work buffers: 32 MiB and their guard pages for each thread it
#: computes on, kept from its first call on.
BLAS_BUFFERS = 40 * 2**20 * (os.cpu_count() or 1)


def has_room(size: int) -> bool:
    """Whether `size` bytes can be had now."""
    try:
        np.empty(size, dtype=np.uint8)
    except MemoryError:
        return False
    return True


def require_room(size: int, what: str) -> None:
    """Raises MemoryError, naming `what`, unless `size` bytes can be had now."""
    if not has_room(size):
        raise MemoryError(f"no room for {what}")
