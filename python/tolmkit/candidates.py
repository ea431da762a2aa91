"""Additive relationships of chosen animals computed in memory from their
ancestry alone, by products with A that never form it: blocks of A by its
columns, solved through the layers of the ancestry, and pairs by their
animals' ancestor contributions. Each value depends on the ancestry of its
own animals alone, so that `tolmkit.among` can compute a large matrix by
blocks, here or on Dask."""

from __future__ import annotations

import typing
from collections.abc import Iterator

import numpy as np
import scipy.sparse as sp
from numpy.typing import NDArray

from ._symmetric import mirror
from .pedigree import Pedigree, ancestry

__all__ = ["pair_values", "plan_pairs", "relationship_block"]

# Pairs whose animals' ancestor contributions are held at once.
_PAIRS_AT_ONCE = 1024
# An ancestor's contribution to an animal costs about as much as this many
# elements of a dense column of A, as measured on simulated dairy herds.
_ANCESTOR_COST = 10
# Animals whose ancestors are counted to choose between the two.
_SAMPLE = 64
# Elements of the dense block of columns of A computed at once (128 MiB).
_BLOCK_ELEMENTS = 1 << 24


def plan_pairs(
    pedigree: Pedigree, x: NDArray[np.int32], y: NDArray[np.int32]
) -> tuple[Pedigree, NDArray[np.int32], NDArray[np.int32], bool]:
    """The ancestry of pairs of animals and the way to compute their relationships.

    Parameters
    ----------
    pedigree : Pedigree
    x, y : numpy.ndarray of int32
        Numbers of the paired animals, of the same length, not empty.

    Returns
    -------
    pedigree : Pedigree
        The paired animals and their ancestors.
    x, y : numpy.ndarray of int32
        The pairs in its numbering, `y` the side with fewer distinct animals.
    by_columns : bool
        Whether `pair_values` goes by columns of A rather than by ancestors.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b")])
    >>> plan_pairs(pedigree, np.array([2, 2], dtype=np.int32), np.array([0, 1], dtype=np.int32))[3]
    True
    """
    pruned, renumber = ancestry(pedigree, np.concatenate([x, y]))
    x, y = renumber[x], renumber[y]
    if len(np.unique(x)) < len(np.unique(y)):
        x, y = y, x
    # Pairs among few animals (sires by dams) go by dense columns of A, the
    # cost of which grows with the distinct animals on one side; many
    # scattered pairs go by their animals' ancestors.
    animals = np.unique(np.concatenate([x, y]))
    sample = animals[np.linspace(0, len(animals) - 1, min(len(animals), _SAMPLE)).astype(np.int64)]
    ancestors = pruned.layers.contributions(sample).nnz / len(sample)
    return pruned, x, y, bool(len(pruned) * len(np.unique(y)) <= _ANCESTOR_COST * 2 * len(x) * ancestors)


def pair_values(
    pedigree: Pedigree, x: NDArray[np.int32], y: NDArray[np.int32], by_columns: bool
) -> NDArray[np.float64]:
    """Relationships a(x[k], y[k]) of pairs of animals by the way `plan_pairs` chose.

    Each value depends only on the ancestry of its pair, to the bit, so
    that the pairs can be computed in chunks, each from the ancestry of
    its own animals.

    Parameters
    ----------
    pedigree : Pedigree
        Holding the paired animals and all their ancestors.
    x, y : numpy.ndarray of int32
        Numbers of the paired animals.
    by_columns : bool
        Go by columns of A for the distinct animals of `y`, rather than by
        the ancestors of each pair.

    Returns
    -------
    numpy.ndarray of float64

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b")])
    >>> x, y = np.array([2, 2], dtype=np.int32), np.array([0, 2], dtype=np.int32)
    >>> pair_values(pedigree, x, y, False)
    array([0.5, 1. ])
    """
    if by_columns:
        return _pairs_by_columns(pedigree, x, y)
    return _pairs_by_ancestors(pedigree, x, y)


def _pairs_by_columns(pedigree: Pedigree, x: NDArray[np.int32], y: NDArray[np.int32]) -> NDArray[np.float64]:
    """a(x[k], y[k]) from the columns of A of the distinct animals of `y`."""
    rows, row = np.unique(x, return_inverse=True)
    columns, column = np.unique(y, return_inverse=True)
    by_column = np.argsort(column, kind="stable")
    starts = np.searchsorted(column[by_column], np.arange(len(columns) + 1))
    values = np.empty(len(x))
    for start, block in _column_blocks(pedigree, rows, columns):
        pairs = by_column[starts[start] : starts[start + block.shape[1]]]
        values[pairs] = block[row[pairs], column[pairs] - start]
    return values


def _pairs_by_ancestors(pedigree: Pedigree, x: NDArray[np.int32], y: NDArray[np.int32]) -> NDArray[np.float64]:
    """a(x[k], y[k]) from the ancestor contributions of the animals of a
    chunk of pairs at a time."""
    values = np.empty(len(x))
    for start in range(0, len(x), _PAIRS_AT_ONCE):
        chunk = slice(start, start + _PAIRS_AT_ONCE)
        animals, position = np.unique(np.concatenate([x[chunk], y[chunk]]), return_inverse=True)
        contributions = pedigree.layers.contributions(animals)
        scaled = contributions @ sp.diags(pedigree.sampling_var)
        first_rows, second_rows = np.split(position, 2)
        products = contributions[first_rows].multiply(scaled[second_rows])
        values[chunk] = np.asarray(products.sum(axis=1)).ravel()
    return values


def relationship_block(
    pedigree: Pedigree, rows: NDArray[np.integer[typing.Any]], columns: NDArray[np.integer[typing.Any]] | None = None
) -> NDArray[np.float64]:
    """A[rows, columns], or the symmetric A[rows, rows], by columns of A.

    Each value depends only on the ancestry of its row and column, to the
    bit, so that a large matrix can be computed in blocks, each from the
    ancestry of its own rows and columns.

    Parameters
    ----------
    pedigree : Pedigree
        Holding the animals of `rows` and `columns` and all their ancestors.
    rows : numpy.ndarray of int
        Animal numbers.
    columns : numpy.ndarray of int, optional
        Animal numbers. Without them, the block of `rows` among
        themselves, each pair from the column of the animal that comes
        first in `rows`: the value below the diagonal is mirrored above.

    Returns
    -------
    numpy.ndarray of float64

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b")])
    >>> relationship_block(pedigree, np.array([2]), np.array([0, 1, 2]))
    array([[0.5, 0.5, 1. ]])
    """
    animals, position = np.unique(rows if columns is None else columns, return_inverse=True)
    by_animal = np.argsort(position, kind="stable")
    starts = np.searchsorted(position[by_animal], np.arange(len(animals) + 1))
    matrix = np.empty((len(rows), len(position)))
    for start, block in _column_blocks(pedigree, rows, animals):
        chosen = by_animal[starts[start] : starts[start + block.shape[1]]]
        matrix[:, chosen] = block[:, position[chosen] - start]
    if columns is None:
        mirror(matrix)
    return matrix


def _column_blocks(
    pedigree: Pedigree, rows: NDArray[np.integer[typing.Any]], columns: NDArray[np.integer[typing.Any]]
) -> Iterator[tuple[int, NDArray[np.float64]]]:
    """A[rows, columns] (animal numbers of `pedigree`) in blocks of columns,
    each with the position of its first column; every block is computed for
    all the animals of `pedigree`, so a block holds only a few columns."""
    layers = pedigree.layers
    n = len(pedigree)
    # Row n stays zero: it stands for every unknown parent.
    scale = np.append(pedigree.sampling_var[layers.order], 0.0)[:, np.newaxis]
    width = max(1, min(len(columns), _BLOCK_ELEMENTS // max(1, n)))
    for start in range(0, len(columns), width):
        chosen = layers.rank[columns[start : start + width]]
        block = np.zeros((n + 1, len(chosen)))
        block[chosen, np.arange(len(chosen))] = 1.0
        # T (B (Tᵀ X))
        layers.up(block)
        block *= scale
        layers.down(block)
        yield start, block[layers.rank[rows]]
