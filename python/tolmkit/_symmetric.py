"""Symmetric matrices from their lower triangle: a dense one mirrored in
place, and one of Dask blocks whose blocks above the diagonal are the
transposes of those below. Each element is copied, never computed again,
so that the matrix is symmetric to the bit. And the rows of a Cholesky
factorisation that rounding alone kept positive."""

from __future__ import annotations

import typing
from collections.abc import Callable, Sequence

import numpy as np
from numpy.typing import NDArray

__all__ = ["mirror", "mirrored_blocks", "singular"]

# Rows of a band that `mirror` copies at once.
_BAND = 256
# The least share of a row's diagonal that the rows before it may leave
# unexplained, times the matrix's order: below it the Cholesky factor's pivot
# is rounding, the matrix singular (a clone), and its inverse would be noise
# of 1e15 that the factorisation alone lets pass.
_SINGULAR = 1000 * np.finfo(np.float64).eps


def singular(left: NDArray[typing.Any], diagonal: NDArray[typing.Any], order: int) -> NDArray[np.intp]:
    """The rows whose variance `left` unexplained by the rows before them (a
    Cholesky pivot squared) is rounding of their `diagonal`, in a matrix of
    `order` rows.

    Examples
    --------
    >>> singular(np.array([1.0, 1e-17]), np.array([1.0, 1.0]), 2).tolist()
    [1]
    """
    return np.flatnonzero(left <= _SINGULAR * order * diagonal)


def mirror(matrix: NDArray[np.float64]) -> NDArray[np.float64]:
    """The lower triangle of a square matrix copied onto the upper, in place,
    a band of rows at a time (without numpy.tril's n × n mask).

    The copy has the bits of tril(m) + tril(m, -1).T wherever no element is
    −0, as no relationship is.

    Parameters
    ----------
    matrix : numpy.ndarray of float64

    Returns
    -------
    numpy.ndarray of float64
        `matrix` itself.

    Examples
    --------
    >>> mirror(np.array([[1.0, 9.0], [0.5, 1.0]]))
    array([[1. , 0.5],
           [0.5, 1. ]])
    """
    m = len(matrix)
    for start in range(0, m, _BAND):
        stop = min(start + _BAND, m)
        square = matrix[start:stop, start:stop]
        upper = np.triu_indices(stop - start, 1)
        square[upper] = square.T[upper]
        matrix[start:stop, stop:] = matrix[stop:, start:stop].T
    return matrix


def mirrored_blocks(
    sizes: Sequence[int], diagonal: Callable[[int], typing.Any], below: Callable[[int, int], typing.Any]
) -> typing.Any:
    """A lazy symmetric float64 matrix of Dask blocks, made through
    `dask.array`'s own API, each block computed once.

    Parameters
    ----------
    sizes : sequence of int
        The rows (and columns) of each block along the diagonal.
    diagonal : callable
        diagonal(i) is the `dask.delayed` value of block (i, i), symmetric.
    below : callable
        below(i, j) is that of block (i, j) for j < i; block (j, i) is its
        transpose.

    Returns
    -------
    dask.array.Array
        Chunked by `sizes` along both axes.

    Examples
    --------
    >>> import dask
    >>> block = dask.delayed(np.full)
    >>> mirrored_blocks([1, 2], lambda i: block((i + 1, i + 1), 1.0), lambda i, j: block((2, 1), 0.5)).compute()
    array([[1. , 0.5, 0.5],
           [0.5, 1. , 1. ],
           [0.5, 1. , 1. ]])
    """
    # Only for matrices asked for by blocks: importing tolmkit leaves Dask alone.
    import dask
    import dask.array as da

    transpose = dask.delayed(np.transpose)
    meta = np.empty((0, 0))

    def lazy(value: typing.Any, rows: int, columns: int) -> typing.Any:
        # Named after the delayed value, which spares dask hashing it.
        return da.from_delayed(value, shape=(rows, columns), meta=meta, name=f"array-{value.key}")

    grid: list[list[typing.Any]] = [[None] * len(sizes) for _ in sizes]
    for i, rows in enumerate(sizes):
        grid[i][i] = lazy(diagonal(i), rows, rows)
        for j in range(i):
            value = below(i, j)
            grid[i][j] = lazy(value, rows, sizes[j])
            grid[j][i] = lazy(transpose(value), sizes[j], rows)
    return da.block(grid)
