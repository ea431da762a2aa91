"""Inbreeding, additive and dominance relationships of a `Pedigree`, through
the routines of TOLM."""

from __future__ import annotations

from collections.abc import Iterable

import numpy as np
from numpy.typing import NDArray
import scipy.sparse as sp

import TOLM

from .pedigree import MISSING_PARENT, Pedigree, PedigreeError, ancestry

__all__ = ["DEFAULT_MEMORY_LIMIT", "MemoryLimitExceeded", "dominance_matrix", "dominance_pairs", "inbreeding", "relationship_matrix"]

#: Bytes that relationship_matrix may take by default (2 GiB).
DEFAULT_MEMORY_LIMIT = 2 * 2**30

# Bytes of one stored element of a CSR matrix: int32 column and float64 value.
_ELEMENT_BYTES = 12
# Elements of A computed at once, so that a block stays small beside the limit.
_BLOCK_ELEMENTS = 1 << 22
_BLOCK_ROWS = 1 << 11


class MemoryLimitExceeded(MemoryError):
    """The matrix asked for would take more memory than the limit allows."""


def _scalar(value: int) -> NDArray[np.int32]:
    return np.array([value], dtype=np.int32)


def inbreeding(pedigree: Pedigree) -> tuple[NDArray[np.float64], NDArray[np.float64]]:
    """Inbreeding coefficients and Mendelian-sampling variances of every animal,
    in the pedigree's numbering, from TOLM.fcoeff."""
    n = len(pedigree)
    sire, dam = pedigree.codes(unknown=n)
    coefficients = np.zeros(n + 1)
    coefficients[n] = -1.0
    sampling_var = np.empty(n)
    TOLM.fcoeff(sire, dam, coefficients, sampling_var, _scalar(n), _scalar(1))
    return coefficients[:n], sampling_var


def relationship_matrix(pedigree: Pedigree, *, kinship: bool = False,
                        memory_limit: int = DEFAULT_MEMORY_LIMIT) -> sp.csr_matrix:
    """The additive relationship matrix A (or, with kinship=True, the kinship
    matrix A / 2) as its lower triangle in compressed rows.

    Every diagonal element is stored, and off the diagonal exactly the pairs
    of related animals; columns ascend within each row and the index arrays
    are int32, as TOLM.cald and TOLM.dijp read them. No dense n × n matrix is
    formed: A = T S Tᵀ, with T the sparse contributions of the ancestors of
    each animal and S the Mendelian-sampling variances, is computed in blocks
    of rows. MemoryLimitExceeded is raised as soon as the contributions and
    the rows computed so far pass `memory_limit` bytes.

    Relationships are sums of powers of 1/2, which a double holds exactly
    unless a pedigree is very deep; then the last bit may differ from the
    tabular method's, which adds in another order.
    """
    n = len(pedigree)
    _, sampling_var = inbreeding(pedigree)
    contributions = _ancestor_contributions(pedigree, memory_limit)
    scaled = (sp.diags(sampling_var * (0.5 if kinship else 1.0)) @ contributions.T).tocsc()
    # T is held twice, as itself and as S Tᵀ by columns.
    budget = _Budget(memory_limit, 2 * contributions.nnz * _ELEMENT_BYTES + 4 * (n + 1))
    indptr = np.zeros(n + 1, dtype=np.int64)
    columns, values = [], []
    first = 0
    while first < n:
        rows = min(_BLOCK_ELEMENTS // (first + 1), _BLOCK_ROWS)
        last = min(n, first + max(1, rows))
        block = sp.tril(contributions[first:last] @ scaled[:, :last], k=first, format="csr")
        block.sort_indices()
        budget.spend(block.nnz * _ELEMENT_BYTES, f"after {last} of {n} rows")
        indptr[first + 1:last + 1] = indptr[first] + block.indptr[1:]
        columns.append(block.indices.astype(np.int32))
        values.append(block.data)
        first = last
    if indptr[-1] >= 2**31:
        raise MemoryLimitExceeded(f"the matrix has {indptr[-1]} stored elements, "
                                  "more than int32 row starts can address")
    return sp.csr_matrix((np.concatenate(values) if values else np.zeros(0),
                          np.concatenate(columns) if columns else np.zeros(0, np.int32),
                          indptr.astype(np.int32)), shape=(n, n))


class _Budget:
    def __init__(self, limit: int, spent: int) -> None:
        self.limit, self.spent = limit, 0
        self.spend(spent, "for the ancestors' contributions")

    def spend(self, nbytes: int, when: str) -> None:
        self.spent += nbytes
        if self.spent > self.limit:
            raise MemoryLimitExceeded(
                f"the relationship matrix would pass the memory limit of {self.limit:,} bytes "
                f"({self.spent:,} bytes {when}); pass a larger memory_limit")


def _ancestor_contributions(pedigree: Pedigree, memory_limit: int) -> sp.csr_matrix:
    """T, lower triangular: T[i, i] = 1, and row i is e_i plus half the rows
    of its known parents, built a generation at a time."""
    n = len(pedigree)
    generation = np.zeros(n, dtype=np.int64)
    for k in range(n):  # parents come first, so one pass settles every depth
        s, d = pedigree.sire[k], pedigree.dam[k]
        if s >= 0 or d >= 0:
            generation[k] = 1 + max(generation[s] if s >= 0 else -1, generation[d] if d >= 0 else -1)
    contributions = sp.identity(n, format="csr")
    for g in range(1, int(generation.max(initial=0)) + 1):
        rows = np.flatnonzero(generation == g)
        known = [(rows[parents[rows] >= 0], parents[rows][parents[rows] >= 0])
                 for parents in (pedigree.sire, pedigree.dam)]
        offspring = np.concatenate([r for r, _ in known])
        parents = np.concatenate([p for _, p in known])
        halves = sp.csr_matrix((np.full(len(offspring), 0.5), (offspring, parents)), shape=(n, n))
        contributions = contributions + halves @ contributions
        if contributions.nnz * _ELEMENT_BYTES > memory_limit:
            raise MemoryLimitExceeded(
                f"the ancestors' contributions alone pass the memory limit of {memory_limit:,} "
                f"bytes at generation {g}; pass a larger memory_limit")
    return contributions


def _lower_csr(matrix: sp.spmatrix, n: int) -> tuple[NDArray[np.int32], NDArray[np.int32], NDArray[np.float64]]:
    """Columns, row starts and values of the lower triangle of a square sparse
    matrix, in the arrays that TOLM reads."""
    if matrix.shape != (n, n):
        raise ValueError(f"the relationship matrix is {matrix.shape[0]} × {matrix.shape[1]}; "
                         f"the pedigree has {n} animals")
    lower = sp.tril(matrix, format="csr")
    lower.sum_duplicates()
    lower.sort_indices()
    return (np.ascontiguousarray(lower.indices, dtype=np.int32),
            np.ascontiguousarray(lower.indptr, dtype=np.int32),
            np.ascontiguousarray(lower.data, dtype=np.float64))


def dominance_matrix(pedigree: Pedigree, *, relationships: sp.spmatrix | None = None,
                     memory_limit: int = DEFAULT_MEMORY_LIMIT) -> sp.csr_matrix:
    """The dominance relationships D(i, j) of the related pairs, from TOLM.cald,
    as a strictly lower triangle in compressed rows.

    D(i, j) = a(d_i, d_j) a(s_i, s_j) + a(d_i, s_j) a(s_i, d_j) from the
    `relationships`, by default the kinship matrix, which gives the usual
    scale (1/4 for full sibs of unrelated, non-inbred parents). Only pairs
    stored in the relationship matrix are computed; none where an animal has
    an unknown parent, no zero and no diagonal element is stored.
    """
    n = len(pedigree)
    if relationships is None:
        relationships = relationship_matrix(pedigree, kinship=True, memory_limit=memory_limit)
    a_col, a_rowstart, a_val = _lower_csr(relationships, n)
    sire, dam = pedigree.codes(unknown=MISSING_PARENT)
    capacity = len(a_col)  # at least d_count = 0 plus the off-diagonal elements
    d_val, d_col = np.empty(capacity), np.empty(capacity, dtype=np.int32)
    d_rowstart, d_count = np.zeros(n + 1, dtype=np.int32), np.zeros(1, dtype=np.int32)
    TOLM.cald(sire, dam, a_col, a_rowstart, a_val, _scalar(n), d_val, d_col, d_rowstart, d_count)
    count = int(d_count[0])
    d_rowstart[n] = count
    return sp.csr_matrix((d_val[:count].copy(), d_col[:count].copy(), d_rowstart), shape=(n, n))


def dominance_pairs(pedigree: Pedigree, first: Iterable[str], second: Iterable[str], *,
                    relationships: sp.spmatrix | None = None,
                    memory_limit: int = DEFAULT_MEMORY_LIMIT) -> NDArray[np.float64]:
    """D(x, y) for the pairs of identifiers (first[k], second[k]), from TOLM.dijp,
    on the scale of `dominance_matrix`. A pair with an animal of unknown sire
    or dam gets 0.0; a pair of an animal with itself is refused.

    Without `relationships`, the kinship matrix is built for the paired
    animals and their ancestors only, so that a few pairs of a large
    pedigree cost little.
    """
    pair_i, pair_j = pedigree.numbers(first), pedigree.numbers(second)
    if len(pair_i) != len(pair_j):
        raise ValueError(f"{len(pair_i)} first and {len(pair_j)} second animals do not make pairs")
    same = np.flatnonzero(pair_i == pair_j)
    if len(same):
        raise PedigreeError(f"pair {same[0]} names animal {pedigree.ids[pair_i[same[0]]]!r} twice")
    if relationships is None:
        pedigree, renumber = ancestry(pedigree, np.concatenate([pair_i, pair_j]))
        pair_i, pair_j = renumber[pair_i], renumber[pair_j]
        relationships = relationship_matrix(pedigree, kinship=True, memory_limit=memory_limit)
    a_col, a_rowstart, a_val = _lower_csr(relationships, len(pedigree))
    sire, dam = pedigree.codes(unknown=MISSING_PARENT)
    d_pair = np.zeros(len(pair_i))
    TOLM.dijp(sire, dam, _scalar(len(pair_i)), pair_i, pair_j, a_col, a_rowstart, a_val, d_pair)
    return d_pair

