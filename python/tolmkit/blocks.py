"""Relationships among many animals as lazy Dask arrays, computed by blocks
wherever a scheduler puts them, and written to Zarr without ever holding
the whole matrix.

Every block comes from the ancestry of its own rows and columns; the
pedigree goes to the workers once, as one key of the graph that every block
depends on. The arrays are made of `dask.delayed` blocks through
`dask.array`'s own API.
"""

from __future__ import annotations

import contextlib
import errno
import os
import shutil
import typing
import uuid
from collections.abc import Iterable, Iterator

import numpy as np
from numpy.typing import NDArray

try:
    import dask
    import dask.array as da
    import distributed
    import zarr
except ImportError:  # the original error stays attached as the context
    raise ImportError("computing in blocks needs Dask, distributed and Zarr: pip install 'tolm[dask]'")  # noqa: B904

from ._arguments import integer, switch
from ._memory import require_room
from ._symmetric import mirrored_blocks
from .candidates import pair_values, plan_pairs, relationship_block
from .pedigree import Pedigree, ancestry, checked_pedigree, select
from .relationships import inbreeding

__all__ = ["among_in_blocks", "among_to_zarr", "pairs_in_blocks"]

#: The room in memory that a local cluster needs beyond what this process
#: holds: its threads, and its processes, whose address space is limited as
#: this one's is.
_CLUSTER_ROOM = 2**30


def among_in_blocks(pedigree: Pedigree, chosen: NDArray[np.int32], *, chunks: int, kinship: bool = False) -> da.Array:
    """`relationships_among` of the animals numbered `chosen`, by blocks.

    Parameters
    ----------
    pedigree : Pedigree
    chosen : numpy.ndarray of int32
        Animal numbers, in the order of the rows and columns.
    chunks : int
        Rows and columns of a block.
    kinship : bool, default False
        Give kinships, A / 2, instead.

    Returns
    -------
    dask.array.Array
        float64, its blocks below the diagonal computed by columns as
        `relationships_among` computes them, those above their mirror.

    Raises
    ------
    ValueError
        `chunks` not a positive integer.
    TypeError
        `kinship` not a bool.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b")])
    >>> among_in_blocks(pedigree, pedigree.numbers(["a", "c"]), chunks=1).compute(scheduler="sync")
    array([[1. , 0.5],
           [0.5, 1. ]])
    """
    checked_pedigree(pedigree)
    _check_chunks(chunks)
    kinship = switch(kinship, "kinship")
    if len(chosen) == 0:
        empty: da.Array = da.from_array(np.empty((0, 0)))
        return empty
    pruned, renumber = ancestry(pedigree, chosen)
    numbers = renumber[chosen]
    shared = _shared(pruned)
    spans = [numbers[start : start + chunks] for start in range(0, len(numbers), chunks)]
    block = dask.delayed(_block)
    matrix = mirrored_blocks(
        [len(span) for span in spans],
        lambda i: block(shared, spans[i], None),
        lambda i, j: block(shared, spans[i], spans[j]),
    )
    return matrix * 0.5 if kinship else matrix


def pairs_in_blocks(
    pedigree: Pedigree, x: NDArray[np.int32], y: NDArray[np.int32], *, chunks: int, kinship: bool = False
) -> da.Array:
    """`relationship_pairs` of the animals numbered `x` and `y`, by chunks of pairs.

    Parameters
    ----------
    pedigree : Pedigree
    x, y : numpy.ndarray of int32
        Numbers of the paired animals, of the same length.
    chunks : int
        Pairs in a chunk.
    kinship : bool, default False
        Give kinships, a / 2, instead.

    Returns
    -------
    dask.array.Array
        float64, one value per pair.

    Raises
    ------
    ValueError
        `chunks` not a positive integer.
    TypeError
        `kinship` not a bool.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b")])
    >>> x, y = pedigree.numbers(["c", "c"]), pedigree.numbers(["a", "c"])
    >>> pairs_in_blocks(pedigree, x, y, chunks=1).compute(scheduler="sync")
    array([0.5, 1. ])
    """
    checked_pedigree(pedigree)
    _check_chunks(chunks)
    kinship = switch(kinship, "kinship")
    if len(x) == 0:
        none: da.Array = da.from_array(np.empty(0))
        return none
    pruned, x, y, by_columns = plan_pairs(pedigree, x, y)
    shared = _shared(pruned)
    pairs = dask.delayed(_pairs)
    values = da.concatenate(
        [
            da.from_delayed(
                pairs(shared, x[start : start + chunks], y[start : start + chunks], by_columns),
                shape=(min(chunks, len(x) - start),),
                dtype=np.float64,
            )
            for start in range(0, len(x), chunks)
        ]
    )
    return values * 0.5 if kinship else values


def among_to_zarr(
    pedigree: Pedigree, ids: Iterable[str], path: str | os.PathLike[str], *, chunks: int, scheduler: str | None = None
) -> None:
    """Writes the relationships among `ids` to a new Zarr store, by blocks.

    The store is written beside `path` and renamed into place once
    complete, so that `path` is never a partial matrix. Its attribute
    ``ids`` holds the identifiers of the rows and columns.

    Parameters
    ----------
    pedigree : Pedigree
    ids : iterable of str
        Identifiers of the animals, in the order of the rows and columns.
    path : str or os.PathLike
        The store to create.
    chunks : int
        Rows and columns of a block, and of a chunk of the store.
    scheduler : str, optional
        Address of a Dask scheduler; by default a local cluster of the
        machine's cores is started for the call.

    Raises
    ------
    FileExistsError
        `path` exists.
    PedigreeError
        An identifier that is not in the pedigree.
    ValueError
        `chunks` not a positive integer.
    OSError
        No scheduler at `scheduler`, or the store cannot be written (a
        folder on its path that is a file, or that may not be written).

    Examples
    --------
    >>> among_to_zarr(pedigree, ["a", "c"], "among.zarr", chunks=5000)  # doctest: +SKIP
    """
    checked_pedigree(pedigree)
    _check_chunks(chunks)
    target = os.path.abspath(path)
    if os.path.lexists(target):
        raise FileExistsError(f"{path} exists: remove it or name another store")
    # The folders that zarr would make, up to one that exists, which must take them.
    folder = os.path.dirname(target)
    while not os.path.isdir(folder) and not os.path.lexists(folder):
        folder = os.path.dirname(folder)
    if not os.access(folder, os.W_OK | os.X_OK):
        raise PermissionError(errno.EACCES, f"no permission to write {path} in the folder", folder)
    names = [ids] if isinstance(ids, str) else [str(name) for name in ids]
    chosen = pedigree.numbers(names)
    partial = os.path.join(os.path.dirname(target), f".{os.path.basename(target)}.{uuid.uuid4().hex}.partial")
    try:
        with _client(scheduler):
            # Built once the client is there, which then holds the pedigree.
            da.to_zarr(among_in_blocks(pedigree, chosen, chunks=chunks), partial)
        zarr.open_array(partial, mode="r+").attrs["ids"] = names
        os.rename(partial, target)
    except BaseException:
        shutil.rmtree(partial, ignore_errors=True)
        raise


@contextlib.contextmanager
def _client(scheduler: str | None) -> Iterator[distributed.Client]:
    with contextlib.ExitStack() as stack:
        if scheduler is None:
            # Where its processes cannot start their threads, a local cluster
            # hangs or crashes rather than raising.
            require_room(_CLUSTER_ROOM, "a local Dask cluster")
            cluster = stack.enter_context(distributed.LocalCluster(dashboard_address=":0"))
            scheduler = cluster.scheduler_address
        try:
            client = stack.enter_context(distributed.Client(scheduler, timeout="10s"))
        except (ValueError, OSError) as error:  # an address of no form, or no scheduler there
            raise ConnectionError(f"no Dask scheduler at {scheduler!r}: {error}") from None
        yield client


def _check_chunks(chunks: object) -> None:
    size = integer(chunks)
    if size is None or size < 1:
        raise ValueError(f"chunks must be a positive integer, got {chunks!r}")


def _shared(pedigree: Pedigree) -> typing.Any:
    """The pedigree, without its attributes, as the one delayed value that
    every block takes, its F computed once on a worker (an ancestry of it
    inherits F).

    With a distributed client, the pedigree is scattered to a worker from
    which the others fetch it; otherwise the graph holds it, in one task.
    """
    parents = select(pedigree.ids, pedigree.sire, pedigree.dam, np.arange(len(pedigree)))[0]
    try:
        shipped: typing.Any = distributed.default_client().scatter(parents, hash=False)
    except ValueError:  # no client: the graph holds the pedigree
        shipped = parents
    return dask.delayed(_with_inbreeding)(shipped)


def _with_inbreeding(pedigree: Pedigree) -> Pedigree:
    if not isinstance(pedigree, Pedigree):  # a Future of a client that this computation does not reach
        raise RuntimeError(
            "the array was built while a Dask client was open, which holds its pedigree: compute it on that "
            "client, or build it again"
        )
    inbreeding(pedigree)  # computed and kept, and shipped with the pedigree to the other workers
    return pedigree


def _block(pedigree: Pedigree, rows: NDArray[np.int32], columns: NDArray[np.int32] | None) -> NDArray[np.float64]:
    """A block below the diagonal, or a diagonal one (`columns` None)."""
    within, renumber = ancestry(pedigree, rows if columns is None else np.concatenate([rows, columns]))
    return relationship_block(within, renumber[rows], None if columns is None else renumber[columns])


def _pairs(pedigree: Pedigree, x: NDArray[np.int32], y: NDArray[np.int32], by_columns: bool) -> NDArray[np.float64]:
    within, renumber = ancestry(pedigree, np.concatenate([x, y]))
    return pair_values(within, renumber[x], renumber[y], by_columns)
