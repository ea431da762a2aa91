"""Additive relationships of chosen animals (pairs, or candidates for mating)
from their ancestry alone, by products with A that never form it."""

from __future__ import annotations

import typing
from collections.abc import Iterable, Iterator

import numpy as np
from numpy.typing import NDArray
import scipy.sparse as sp

from .pedigree import Pedigree, ancestry

if typing.TYPE_CHECKING:
    import dask.array.core

__all__ = ["relationship_pairs", "relationships_among"]

# Pairs whose animals' ancestor contributions are held at once.
_PAIRS_AT_ONCE = 1024
# An ancestor's contribution to an animal costs about as much as this many
# elements of a dense column of A, as measured on simulated dairy herds.
_ANCESTOR_COST = 10
# Animals whose ancestors are counted to choose between the two.
_SAMPLE = 64
# Elements of the dense block of columns of A computed at once (128 MiB).
_BLOCK_ELEMENTS = 1 << 24
# Rows of the matrix among candidates mirrored at once.
_STRIPE = 1024


@typing.overload
def relationship_pairs(pedigree: Pedigree, first: Iterable[str], second: Iterable[str], *,
                       chunks: None = None, kinship: bool = False) -> NDArray[np.float64]: ...


@typing.overload
def relationship_pairs(pedigree: Pedigree, first: Iterable[str], second: Iterable[str], *,
                       chunks: int, kinship: bool = False) -> dask.array.core.Array: ...


def relationship_pairs(pedigree: Pedigree, first: Iterable[str], second: Iterable[str], *,
                       chunks: int | None = None, kinship: bool = False) -> NDArray[np.float64] | dask.array.core.Array:
    """Additive relationships a(first[k], second[k]) of pairs of identifiers.

    Only the paired animals and their ancestors are used. Many scattered
    pairs are taken as a(x, y) = Σ_k t(x, k) t(y, k) b_k over the common
    ancestors k (and the animals themselves), where t(x, k) is k's
    contribution to x's genes and b_k its Mendelian-sampling variance: the
    work grows with the pairs and their numbers of ancestors. Pairs among
    few animals (sires by dams) are read from the columns of A that
    `relationships_among` computes, for the side with fewer animals.

    Parameters
    ----------
    pedigree : Pedigree
    first, second : iterable of str
        Identifiers, paired by position. A pair of an animal with itself
        gives 1 + F.
    chunks : int, optional
        Pairs per chunk of a lazy `dask.array.Array`, each chunk computed
        from the ancestry of its own animals (needs the ``dask`` extra).
        The values are those without `chunks`, to the bit.
    kinship : bool, default False
        Give kinships, a / 2, instead.

    Returns
    -------
    numpy.ndarray or dask.array.Array
        float64, one value per pair.

    Raises
    ------
    PedigreeError
        An identifier that is not in the pedigree.
    ValueError
        `first` and `second` of different lengths, or `chunks` not a
        positive integer.
    ImportError
        `chunks` without Dask installed.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b"), ("d", "c", "b")])
    >>> relationship_pairs(pedigree, ["c", "d", "d"], ["b", "b", "d"])
    array([0.5 , 0.75, 1.25])
    """
    x, y = pedigree.numbers(first), pedigree.numbers(second)
    if len(x) != len(y):
        raise ValueError(f"{len(x)} first and {len(y)} second animals do not make pairs")
    if chunks is not None:
        from .blocks import pairs_in_blocks

        return pairs_in_blocks(pedigree, x, y, chunks=chunks, kinship=kinship)
    if len(x) == 0:
        return np.empty(0)
    pruned, x, y, by_columns = plan_pairs(pedigree, x, y)
    values = pair_values(pruned, x, y, by_columns)
    return values * 0.5 if kinship else values


def plan_pairs(pedigree: Pedigree, x: NDArray[np.int32], y: NDArray[np.int32]
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


def pair_values(pedigree: Pedigree, x: NDArray[np.int32], y: NDArray[np.int32], by_columns: bool) -> NDArray[np.float64]:
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


def _pairs_by_columns(pedigree: Pedigree, x: NDArray[np.int32],
                      y: NDArray[np.int32]) -> NDArray[np.float64]:
    """a(x[k], y[k]) from the columns of A of the distinct animals of `y`."""
    rows, row = np.unique(x, return_inverse=True)
    columns, column = np.unique(y, return_inverse=True)
    by_column = np.argsort(column, kind="stable")
    starts = np.searchsorted(column[by_column], np.arange(len(columns) + 1))
    values = np.empty(len(x))
    for start, block in _column_blocks(pedigree, rows, columns):
        pairs = by_column[starts[start]:starts[start + block.shape[1]]]
        values[pairs] = block[row[pairs], column[pairs] - start]
    return values


def _pairs_by_ancestors(pedigree: Pedigree, x: NDArray[np.int32],
                        y: NDArray[np.int32]) -> NDArray[np.float64]:
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


@typing.overload
def relationships_among(pedigree: Pedigree, ids: Iterable[str], *, chunks: None = None,
                        kinship: bool = False) -> NDArray[np.float64]: ...


@typing.overload
def relationships_among(pedigree: Pedigree, ids: Iterable[str], *, chunks: int,
                        kinship: bool = False) -> dask.array.core.Array: ...


def relationships_among(pedigree: Pedigree, ids: Iterable[str], *, chunks: int | None = None,
                        kinship: bool = False) -> NDArray[np.float64] | dask.array.core.Array:
    """The dense additive relationship matrix of the animals `ids`, such as the
    candidates of a mating plan, from their ancestry alone.

    A is never formed: A X = T (B (Tᵀ X)), where T⁻¹ = I − P holds the
    halves linking each animal to its parents and B the Mendelian-sampling
    variances, is solved for blocks of unit columns X by a backward and a
    forward substitution over the ancestry, one generation at a time. The
    work grows with the size of that ancestry times the number of animals.

    Parameters
    ----------
    pedigree : Pedigree
    ids : iterable of str
        Identifiers of the animals, in the order of the rows and columns
        of the result.
    chunks : int, optional
        Give a lazy `dask.array.Array` of `chunks` × `chunks` blocks (the
        last ones smaller), each computed from the ancestry of its rows and
        columns, those above the diagonal mirrored from those below (needs
        the ``dask`` extra). The values are those without `chunks`, to the
        bit.
    kinship : bool, default False
        Give kinships, A / 2, instead.

    Returns
    -------
    numpy.ndarray or dask.array.Array
        m × m float64, exactly symmetric, its diagonal 1 + F.

    Raises
    ------
    PedigreeError
        An identifier that is not in the pedigree.
    ValueError
        `chunks` not a positive integer.
    ImportError
        `chunks` without Dask installed.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b"), ("d", "c", "b")])
    >>> relationships_among(pedigree, ["b", "c", "d"])
    array([[1.  , 0.5 , 0.75],
           [0.5 , 1.  , 0.75],
           [0.75, 0.75, 1.25]])
    """
    chosen = pedigree.numbers(ids)
    if chunks is not None:
        from .blocks import among_in_blocks

        return among_in_blocks(pedigree, chosen, chunks=chunks, kinship=kinship)
    if len(chosen) == 0:
        return np.empty((0, 0))
    pruned, renumber = ancestry(pedigree, chosen)
    matrix = relationship_block(pruned, renumber[chosen])
    if kinship:
        matrix *= 0.5
    return matrix


def relationship_block(pedigree: Pedigree, rows: NDArray[np.integer[typing.Any]],
                       columns: NDArray[np.integer[typing.Any]] | None = None) -> NDArray[np.float64]:
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
        chosen = by_animal[starts[start]:starts[start + block.shape[1]]]
        matrix[:, chosen] = block[:, position[chosen] - start]
    if columns is None:
        _mirror(matrix)
    return matrix


def _mirror(matrix: NDArray[np.float64]) -> None:
    """Copies the lower triangle of a square matrix onto the upper, a stripe
    of rows at a time, in place. Each element is computed twice, in its
    column and in its row; the lower triangle is kept for both. The copy
    has the bits of tril(m) + tril(m, -1).T, as no relationship is −0."""
    m = len(matrix)
    for first in range(0, m, _STRIPE):
        last = min(m, first + _STRIPE)
        matrix[first:last, last:] = matrix[last:, first:last].T
        square = matrix[first:last, first:last]
        upper = np.triu_indices(last - first, 1)
        square[upper] = square.T[upper]


def _column_blocks(pedigree: Pedigree, rows: NDArray[np.integer[typing.Any]],
                   columns: NDArray[np.integer[typing.Any]]) -> Iterator[tuple[int, NDArray[np.float64]]]:
    """A[rows, columns] (animal numbers of `pedigree`) in blocks of columns,
    each with the position of its first column; every block is computed for
    all the animals of `pedigree`, so a block holds only a few columns."""
    layers = pedigree.layers
    n = len(pedigree)
    # Row n stays zero: it stands for every unknown parent.
    scale = np.append(pedigree.sampling_var[layers.order], 0.0)[:, np.newaxis]
    width = max(1, min(len(columns), _BLOCK_ELEMENTS // max(1, n)))
    for start in range(0, len(columns), width):
        chosen = layers.rank[columns[start:start + width]]
        block = np.zeros((n + 1, len(chosen)))
        block[chosen, np.arange(len(chosen))] = 1.0
        # T (B (Tᵀ X))
        layers.up(block)
        block *= scale
        layers.down(block)
        yield start, block[layers.rank[rows]]

