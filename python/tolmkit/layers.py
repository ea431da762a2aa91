"""Animals in layers of generation depth, and the two passes over them: values
carried from offspring up to their parents, and from parents down to their
offspring."""

from __future__ import annotations

import typing

import numpy as np
import scipy.sparse as sp
from numpy.typing import NDArray

__all__ = ["Layers", "frozen"]

_Ints = NDArray[np.int64]
_Floats = NDArray[np.float64]
_Array = typing.TypeVar("_Array", bound=NDArray[typing.Any])


def frozen(array: _Array) -> _Array:
    """A read-only view of `array`, which is made read-only too: numpy refuses
    to make such a view writeable again.

    Parameters
    ----------
    array : numpy.ndarray
        Owned by the caller, which writes to it no more.

    Returns
    -------
    numpy.ndarray
    """
    array.setflags(write=False)
    return array.view()


class Layers:
    """The animals of a pedigree in layers of generation depth (founders 0,
    otherwise one more than the deeper parent), every parent in an earlier
    layer than its offspring, so that a layer at a time can be computed from
    the ones before it or after it.

    Values of the passes are indexed by position in `order`, with one row
    more, position n, that stands for every unknown parent and holds zero.

    Attributes
    ----------
    order : numpy.ndarray of int64
        The animals by depth, in the order of their numbers within a depth.
    rank : numpy.ndarray of int64
        The position of each animal in `order`.
    bounds : numpy.ndarray of int64
        Layer d holds ``order[bounds[d]:bounds[d + 1]]``.
    """

    def __init__(self, sire: NDArray[np.int32], dam: NDArray[np.int32], generation: _Ints) -> None:
        n = len(sire)
        order = np.argsort(generation, kind="stable")
        rank = np.empty(n, dtype=np.int64)
        rank[order] = np.arange(n)
        self.order: _Ints = frozen(order)
        self.rank: _Ints = frozen(rank)
        self.bounds: _Ints = frozen(np.searchsorted(generation[order], np.arange(int(generation.max(initial=-1)) + 2)))
        self._sire, self._dam = sire, dam
        self._links: list[tuple[sp.csr_matrix, _Ints, sp.csr_matrix]] | None = None
        self._fed: list[list[tuple[int, int, int]]] | None = None

    def __len__(self) -> int:
        return len(self.bounds) - 1

    def rows(self, depth: int) -> _Ints:
        """The animals of layer `depth`, by number.

        Parameters
        ----------
        depth : int

        Returns
        -------
        numpy.ndarray of int64

        Examples
        --------
        >>> Layers(np.array([-1, -1, 0], np.int32), np.array([-1, -1, 1], np.int32), np.array([0, 0, 1])).rows(1)
        array([2])
        """
        return self.order[self.bounds[depth] : self.bounds[depth + 1]]

    def up(self, values: _Floats, *, stop: NDArray[np.bool_] | None = None) -> None:
        """Adds to every animal half of each offspring's value, the deepest
        layer first, so that each value passed is complete: Tᵀ x for the
        ancestors' contributions T. In place.

        Parameters
        ----------
        values : numpy.ndarray of float64
            n + 1 rows (or more columns) by position in `order`.
        stop : numpy.ndarray of bool, optional
            By position: animals that pass nothing to their parents.

        Examples
        --------
        >>> layers = Layers(np.array([-1, -1, 0], np.int32), np.array([-1, -1, 1], np.int32), np.array([0, 0, 1]))
        >>> values = np.array([0.0, 0.0, 1.0, 0.0])
        >>> layers.up(values)
        >>> values.tolist()
        [0.5, 0.5, 1.0, 0.0]
        """
        links = self._linked()
        for depth in range(len(links), 0, -1):
            _, parents, gather = links[depth - 1]
            part = values[self.bounds[depth] : self.bounds[depth + 1]]
            if stop is not None:
                kept = ~stop[self.bounds[depth] : self.bounds[depth + 1]]
                part = part * (kept if part.ndim == 1 else kept[:, np.newaxis])
            values[parents] += gather @ part

    def down(self, values: _Floats, *, fixed: NDArray[np.bool_] | None = None) -> None:
        """Passes to every animal half of each parent's value, founders first:
        added to its own (T x), or, with `fixed`, in place of it except for
        the animals fixed. In place.

        Parameters
        ----------
        values : numpy.ndarray of float64
            n + 1 rows (or more columns) by position in `order`, row n zero.
        fixed : numpy.ndarray of bool, optional
            By position: animals whose values stay.

        Examples
        --------
        >>> layers = Layers(np.array([-1, -1, 0], np.int32), np.array([-1, -1, 1], np.int32), np.array([0, 0, 1]))
        >>> values = np.array([1.0, 0.0, 0.0, 0.0])
        >>> layers.down(values, fixed=np.array([True, True, False, False]))
        >>> values.tolist()
        [1.0, 0.0, 0.5, 0.0]
        """
        links = self._linked()
        for depth in range(1, len(links) + 1):
            spread, _, _ = links[depth - 1]
            first, last = self.bounds[depth], self.bounds[depth + 1]
            inherited = spread @ values
            if fixed is None:
                values[first:last] += inherited
            else:
                values[first:last] = np.where(fixed[first:last], values[first:last], inherited)

    def contributions(self, animals: NDArray[np.integer[typing.Any]]) -> sp.csr_matrix:
        """The contribution of every ancestor to each of `animals`: 1 for the
        animal itself, for an ancestor the sum over the paths to it of 1/2 per
        generation (rows of T). Shares are passed up to the parents, the
        deepest layer first, so that each one passed is complete; sparse
        throughout.

        Parameters
        ----------
        animals : numpy.ndarray of int
            Animal numbers.

        Returns
        -------
        scipy.sparse.csr_matrix
            One row per animal of `animals`, one column per animal number;
            sorted indices, no duplicates and no zeros stored.

        Examples
        --------
        >>> layers = Layers(np.array([-1, -1, 0, 2], np.int32), np.array([-1, -1, 1, 1], np.int32),
        ...                 np.array([0, 0, 1, 2]))
        >>> layers.contributions(np.array([3, 2])).toarray().tolist()
        [[0.25, 0.75, 0.5, 1.0], [0.5, 0.5, 1.0, 0.0]]
        """
        k = len(animals)
        if len(self) == 0:
            return sp.csr_matrix((k, 0))
        links = self._linked()
        position = self.rank[animals]
        by_position = np.argsort(position, kind="stable")
        seeds = sp.csr_matrix((np.ones(k), by_position, np.arange(k + 1)), shape=(k, k))
        cuts = np.searchsorted(position[by_position], self.bounds)
        blocks: list[sp.csr_matrix] = [sp.csr_matrix((0, k))] * len(self)
        feeding = self._feeding()
        for depth in range(len(self) - 1, -1, -1):
            base = self.bounds[depth]
            # Each animal's terms in a fixed order: its own 1, then half of
            # each offspring's share, the deepest layer first, sires' links
            # before dams'. One product adds them in that order, which keeps
            # the bits where the halves go beyond the 53 bits of a float64.
            mine = by_position[cuts[depth] : cuts[depth + 1]]
            rows, columns, weights = [position[mine] - base], [np.arange(len(mine))], [np.ones(len(mine))]
            sources = [seeds[cuts[depth] : cuts[depth + 1]]]
            taken = len(mine)
            for below, first, last in feeding[depth]:
                _, parents, gather = links[below - 1]
                part = gather[first:last]
                offspring, column = np.unique(part.indices, return_inverse=True)
                rows.append(np.repeat(parents[first:last] - base, np.diff(part.indptr)))
                columns.append(taken + column)
                weights.append(part.data)
                sources.append(blocks[below][offspring])
                taken += len(offspring)
            row = np.concatenate(rows)
            sequence = np.argsort(row, kind="stable")
            terms = sp.csr_matrix(
                (
                    np.concatenate(weights)[sequence],
                    np.concatenate(columns)[sequence],
                    np.searchsorted(row[sequence], np.arange(self.bounds[depth + 1] - base + 1)),
                ),
                shape=(self.bounds[depth + 1] - base, taken),
            )
            blocks[depth] = terms @ sp.vstack(sources, format="csr")
        # Transposed by scipy's counting pass, which leaves the columns sorted.
        return sp.csr_matrix(sp.vstack(blocks, format="csr")[self.rank].T)

    def _feeding(self) -> list[list[tuple[int, int, int]]]:
        """For every layer, the deeper layers with offspring of its animals,
        the deepest first, and where those parents lie among theirs: on a
        pedigree of many generations, each layer's parents are in a few. Made
        once: every chunk of pairs asks for it."""
        if self._fed is not None:
            return self._fed
        feeding: list[list[tuple[int, int, int]]] = [[] for _ in range(len(self))]
        for below, (_, parents, _) in reversed(list(enumerate(self._linked(), start=1))):
            depth = np.searchsorted(self.bounds, parents, side="right") - 1
            starts = np.flatnonzero(np.diff(depth, prepend=-1))
            for first, last in zip(starts, np.append(starts[1:], len(parents))):
                feeding[int(depth[first])].append((below, int(first), int(last)))
        self._fed = feeding
        return feeding

    def _linked(self) -> list[tuple[sp.csr_matrix, _Ints, sp.csr_matrix]]:
        """For every layer from 1 on, the halves linking its animals to their
        parents, over positions: to them from all positions (n for an unknown
        parent), and from them to the parents that they have, listed once."""
        if self._links is not None:
            return self._links
        n = len(self.rank)
        sire, dam = (
            np.where(parents[self.order] < 0, n, self.rank[np.maximum(parents[self.order], 0)])
            for parents in (self._sire, self._dam)
        )
        links = []
        for d in range(1, len(self.bounds) - 1):
            first, last = self.bounds[d], self.bounds[d + 1]
            size = last - first
            both = np.stack([sire[first:last], dam[first:last]], axis=1).ravel()
            spread = sp.csr_matrix((np.full(2 * size, 0.5), both, np.arange(0, 2 * size + 1, 2)), shape=(size, n + 1))
            # Sires' links before dams': each parent sums its offspring in
            # that order, which keeps the bits of the sums made by bincount.
            parent = np.concatenate([sire[first:last], dam[first:last]])
            offspring = np.concatenate([np.arange(size), np.arange(size)])
            known = parent < n
            by_parent = np.argsort(parent[known], kind="stable")
            parent, offspring = parent[known][by_parent], offspring[known][by_parent]
            starts = np.flatnonzero(np.diff(parent, prepend=-1))
            gather = sp.csr_matrix(
                (np.full(len(parent), 0.5), offspring, np.append(starts, len(parent))), shape=(len(starts), size)
            )
            links.append((spread, parent[starts], gather))
        self._links = links
        return links
