"""Inbreeding, additive and dominance relationships of a `Pedigree`, through
the routines of TOLM and the companion's own compiled helpers."""

from __future__ import annotations

import math
import typing
import weakref
from collections.abc import Iterable

import numpy as np
import scipy.sparse as sp
from numpy.typing import NDArray
from scipy.sparse.csgraph import connected_components

import TOLM

from . import _native
from ._advice import PedigreeError
from ._arguments import real, switch
from .metafounders import Gamma, metafounder_inbreeding, metafounder_relationships
from .pedigree import MISSING_PARENT, Pedigree, ancestry, checked_pedigree

__all__ = [
    "DEFAULT_MEMORY_LIMIT",
    "MemoryLimitExceeded",
    "dominance_matrix",
    "dominance_pairs",
    "inbreeding",
    "relationship_matrix",
]

#: Bytes that one matrix function may hold by default (2 GiB).
DEFAULT_MEMORY_LIMIT = 2 * 2**30

# Bytes of one stored element of a CSR matrix: int32 column and float64 value.
_ELEMENT_BYTES = 12
# Positions and columns are int32, as TOLM reads them.
_MAX_ELEMENTS = 2**31 - 1

Relationships = typing.Union[sp.spmatrix, sp.sparray, NDArray[typing.Any]]
_Arrays = tuple[NDArray[np.int32], NDArray[np.int32], NDArray[np.float64]]
_Herd = tuple[
    NDArray[np.int32], NDArray[np.int32], NDArray[np.float64], NDArray[np.int32], NDArray[np.int32], NDArray[np.int32]
]


class MemoryLimitExceeded(MemoryError):
    """The matrix asked for would take more memory than the limit allows."""


def _scalar(value: int) -> NDArray[np.int32]:
    return np.array([value], dtype=np.int32)


def inbreeding(
    pedigree: Pedigree, *, threads: int | None = None, metafounders: Gamma | None = None
) -> tuple[NDArray[np.float64], NDArray[np.float64]]:
    """Inbreeding coefficients and Mendelian-sampling variances of every animal.

    Parameters
    ----------
    pedigree : Pedigree
    threads : int, optional
        Threads that compute F, a generation at a time (by default
        `tolmkit.get_threads()`); the numbers are the same for any count.
    metafounders : pandas.DataFrame or array_like, optional
        Γ, the relationships among the groups' base populations, as
        `inverse_relationship_matrix` takes it: F relative to the
        metafounders (Legarra et al. 2015), computed by the companion's
        pass over each animal's ancestors with Γ (Meuwissen and Luo's, not
        TOLM.fcoeff). A base animal whose parents are of metafounders p and
        q has F = γ_pq / 2. These arrays are new at each call, and the
        sampling variances 1 − A^Γ(s, s)/4 − A^Γ(d, d)/4 over the parents.

    Returns
    -------
    f : ndarray of float64
        F of each animal, in the pedigree's numbering, bit for bit that of
        TOLM.fcoeff.
    sampling_var : ndarray of float64
        0.5 - (F_sire + F_dam) / 4, an unknown parent counting F = -1: the
        variance of each animal's Mendelian sampling on the additive scale.

        Both are computed once per pedigree, kept on it and handed out as
        read-only views: every function of a pedigree uses the same arrays,
        and writing to them raises ValueError (``.copy()`` gives arrays of
        your own).

    Raises
    ------
    MemoryError
        No memory for the ancestor passes' scratch.
    PedigreeError, TypeError, ValueError
        `threads` is not a positive integer or None; `metafounders` refused as by
        `inverse_relationship_matrix`.

    Examples
    --------
    >>> from tolmkit import Pedigree
    >>> pedigree = Pedigree.from_records([("x", "a", "b"), ("y", "x", "b")])
    >>> inbreeding(pedigree)[0].tolist()
    [0.0, 0.0, 0.0, 0.25]
    """
    checked_pedigree(pedigree)
    if metafounders is not None:
        return metafounder_inbreeding(pedigree, metafounders)
    return pedigree.coefficients(threads=threads)


def relationship_matrix(
    pedigree: Pedigree,
    *,
    kinship: bool = False,
    lower: bool = False,
    memory_limit: float = DEFAULT_MEMORY_LIMIT,
    metafounders: Gamma | None = None,
) -> sp.csr_matrix:
    """The additive relationship matrix A, or the kinship matrix A / 2.

    Row i holds A(i, j) for exactly the animals j related to i, and always
    A(i, i) = 1 + F_i. Each row is computed from the ancestors of its animal
    (A e_i = T B Tᵀ e_i, T the ancestors' contributions and B the sampling
    variances), within the animal's connected part of the pedigree, so that
    no dense n × n matrix is ever formed. The elements are counted first, in
    a pass that keeps nothing but the counts, and the matrix is then written
    into arrays of exactly its size.

    Parameters
    ----------
    pedigree : Pedigree
    kinship : bool, default False
        Return A / 2, the coancestries, which gives `dominance_matrix` the
        usual scale.
    lower : bool, default False
        Return the lower triangle only (half the memory), in the form that
        TOLM.cald and TOLM.dijp read: int32 indices and row starts, columns
        ascending in every row, every diagonal element stored.
    memory_limit : float, default DEFAULT_MEMORY_LIMIT
        Bytes that the matrix (values, columns and row starts) may take; a
        non-negative number, ``math.inf`` for no limit. Counting stops as soon
        as the count passes it, before anything of the size of the matrix is
        allocated. Besides the matrix, about 64 bytes per animal of scratch
        are held (parent codes, sampling variances, components, counts and
        one dense row).
    metafounders : pandas.DataFrame or array_like, optional
        Γ, as `inverse_relationship_matrix` takes it: A^Γ of the animals,
        relative to the metafounders (Legarra et al. 2015). Animals of
        related metafounders are all related, so A^Γ is dense: it is
        computed by dense blocks of columns from the ancestry (see
        `relationships_among`), n × n float64 held besides the CSR matrix.

    Returns
    -------
    scipy.sparse.csr_matrix
        n × n, in the pedigree's numbering, with sorted indices; the full
        matrix is exactly symmetric (each value is written to both places).

    Raises
    ------
    MemoryLimitExceeded
        The matrix would take more than `memory_limit` bytes, or hold 2^31 or
        more elements.
    TypeError, ValueError
        A `memory_limit` that is not a non-negative number; `kinship` or
        `lower` not a bool; `metafounders` refused as by
        `inverse_relationship_matrix`.

    Examples
    --------
    >>> from tolmkit import Pedigree
    >>> pedigree = Pedigree.from_records([("x", "a", "b"), ("y", "x", "b")])
    >>> relationship_matrix(pedigree).toarray().tolist()
    [[1.0, 0.0, 0.5, 0.25], [0.0, 1.0, 0.5, 0.75], [0.5, 0.5, 1.0, 0.75], [0.25, 0.75, 0.75, 1.25]]
    >>> relationship_matrix(pedigree, kinship=True, lower=True).nnz
    9
    """
    checked_pedigree(pedigree)
    limit = _checked_limit(memory_limit)
    kinship, lower = switch(kinship, "kinship"), switch(lower, "lower")
    n = len(pedigree)
    if metafounders is not None:
        return _dense_relationships(pedigree, metafounders, kinship, lower, limit)
    herd = _herd(pedigree)
    row_start_bytes = 4 * (n + 1)
    affordable = (limit - row_start_bytes) // _ELEMENT_BYTES if math.isfinite(limit) else _MAX_ELEMENTS
    max_elements = int(max(-1, min(affordable, _MAX_ELEMENTS)))
    counts, rows, elements = _native.count_relationships(*herd, lower, max_elements)
    if elements > max_elements:
        counted = f"{elements:,} elements in its first {rows:,} of {n:,} rows"
        if max_elements == _MAX_ELEMENTS:
            raise MemoryLimitExceeded(f"the relationship matrix holds {counted}, more than int32 positions address")
        raise MemoryLimitExceeded(
            f"the relationship matrix would pass the memory limit of {limit:,} bytes ({counted}, "
            f"{_ELEMENT_BYTES} bytes each); pass a larger memory_limit, or lower=True for half of it"
        )
    indptr = np.zeros(n + 1, dtype=np.int32)
    np.cumsum(counts, out=indptr[1:])
    del counts
    indices, data = _native.fill_relationships(*herd, 0.5 if kinship else 1.0, indptr, lower)
    return _csr(data, indices, indptr)


def dominance_matrix(
    pedigree: Pedigree,
    *,
    relationships: Relationships | None = None,
    lower: bool = False,
    memory_limit: float = DEFAULT_MEMORY_LIMIT,
) -> sp.csr_matrix:
    """The dominance relationship matrix D, from TOLM.cald.

    Off the diagonal, D(i, j) = a(d_i, d_j) a(s_i, s_j) + a(d_i, s_j) a(s_i, d_j)
    from the relationships a of the parents, for the pairs that the
    relationship matrix stores; pairs with an animal of unknown sire or dam,
    and zeros, are not stored. With the default kinship matrix and without
    inbreeding this is the probability that the two animals' genotypes are
    identical by descent (1/4 for full sibs of unrelated parents); with
    inbreeding it is the formula's value, which may exceed the diagonal. On that scale the
    diagonal is D(i, i) = 1 - F_i: the chance that the two genes of animal i
    are not identical by descent, the share of the dominance variance in the
    variance of its own dominance deviation (1 for a non-inbred animal).
    Given `relationships` M set the scale of D, the products of two of its
    elements; the diagonal follows it: with c_i = M(i, i) / (1 + F_i) (1/2 for
    the kinship matrix, 1 for A), D(i, i) = 4 c_i² (1 - F_i), so 4 (1 - F_i)
    with A, whose off-diagonal elements are four times the kinship ones too.

    Parameters
    ----------
    pedigree : Pedigree
    relationships : scipy.sparse matrix or 2-D ndarray, optional
        Relationships in the pedigree's numbering, in any sparse format or
        dense: symmetric, or its lower or its upper triangle (read as its
        transpose). By default the kinship matrix, built here.
    lower : bool, default False
        Return the lower triangle, diagonal included, instead of the whole
        symmetric matrix.
    memory_limit : float, default DEFAULT_MEMORY_LIMIT
        Bytes that the matrices held at once may take: the kinship matrix (when
        built here) and room for D while TOLM.cald runs, then that room and
        the result. Each step is refused before its arrays are allocated.

    Returns
    -------
    scipy.sparse.csr_matrix
        n × n, int32 indices, sorted columns, exactly symmetric unless `lower`.

    Raises
    ------
    MemoryLimitExceeded
        The matrices would pass `memory_limit`.
    TypeError
        `relationships` neither a scipy sparse matrix nor a numeric 2-D array;
        `lower` not a bool.
    ValueError
        `relationships` of another size than the pedigree, or with elements
        on both sides of the diagonal that are not symmetric (naming the
        first such element); a bad `memory_limit`.

    Examples
    --------
    >>> from tolmkit import Pedigree
    >>> pedigree = Pedigree.from_records([("x", "a", "b"), ("y", "a", "b")])
    >>> dominance_matrix(pedigree).toarray()[2:, 2:].tolist()
    [[1.0, 0.25], [0.25, 1.0]]
    """
    checked_pedigree(pedigree)
    limit = _checked_limit(memory_limit)
    lower = switch(lower, "lower")
    n = len(pedigree)
    f = pedigree.inbreeding
    if relationships is None:
        kinship = relationship_matrix(pedigree, kinship=True, lower=True, memory_limit=limit)
        a_col, a_rowstart, a_val = kinship.indices, kinship.indptr, kinship.data
        del kinship
        diagonal = 1.0 - f
        held = a_col.nbytes + a_rowstart.nbytes + a_val.nbytes
    else:
        a_col, a_rowstart, a_val = _relationship_arrays(relationships, pedigree, whole_rows=False)
        scale = _diagonal_of(a_col, a_rowstart, a_val) / (1.0 + f)
        diagonal = 4.0 * scale * scale * (1.0 - f)
        held = 0
    capacity = len(a_col)
    room = capacity * _ELEMENT_BYTES + 4 * (n + 1)
    _spend(held + room, limit, "the relationships and room for D")
    sire, dam = pedigree.codes(unknown=MISSING_PARENT)
    d_val, d_col = np.empty(capacity), np.empty(capacity, dtype=np.int32)
    d_rowstart, d_count = np.zeros(n + 1, dtype=np.int32), np.zeros(1, dtype=np.int32)
    TOLM.cald(sire, dam, a_col, a_rowstart, a_val, _scalar(n), d_val, d_col, d_rowstart, d_count)
    del a_col, a_rowstart, a_val
    count = int(d_count[0])
    d_rowstart[n] = count
    elements = count + n if lower else 2 * count + n
    _spend(room + elements * _ELEMENT_BYTES + 8 * (n + 1), limit, f"room for D and its {elements:,} elements")
    if elements > _MAX_ELEMENTS:
        raise MemoryLimitExceeded(
            f"the dominance matrix holds {elements:,} elements, more than int32 positions address"
        )
    out_indptr, out_indices, out_data = _native.with_diagonal(d_rowstart, d_col, d_val, diagonal, lower)
    return _csr(out_data, out_indices, out_indptr)


def dominance_pairs(
    pedigree: Pedigree,
    first: Iterable[str],
    second: Iterable[str],
    *,
    relationships: Relationships | None = None,
    memory_limit: float = DEFAULT_MEMORY_LIMIT,
) -> NDArray[np.float64]:
    """D(x, y) for the pairs of identifiers (first[k], second[k]), from TOLM.dijp,
    on the scale of `dominance_matrix`.

    Without `relationships`, the kinship matrix of the paired animals and
    their ancestors only is built, so that a few pairs of a large pedigree
    cost little. A sparse matrix given as `relationships` is examined (its
    form, its symmetry) on its first use and the outcome kept while the
    matrix lives, so that later calls cost their pairs only: a symmetric
    matrix or a lower triangle in compressed rows with sorted int32 indices
    is read where it lies, any other form is converted once. The outcome is
    kept for the matrix's arrays (values, indices, coordinates), its format
    and its shape: a matrix given new ones is examined again. Pass a copy
    of a matrix whose arrays you have changed in place since.

    Parameters
    ----------
    pedigree : Pedigree
    first, second : iterable of str
        Identifiers of the two animals of each pair, of equal lengths.
    relationships : scipy.sparse matrix or 2-D ndarray, optional
        As for `dominance_matrix`.
    memory_limit : float, default DEFAULT_MEMORY_LIMIT
        Bytes that the kinship matrix of the pairs' ancestry may take.

    Returns
    -------
    ndarray of float64
        One value per pair; 0.0 for a pair with an animal of unknown sire or
        dam. No pairs give an empty array.

    Raises
    ------
    PedigreeError
        An identifier that is not in the pedigree, or a pair of one animal
        with itself.
    ValueError
        Lists of unequal lengths; `relationships` of another size or not
        symmetric; a bad `memory_limit`.
    TypeError
        `relationships` neither a scipy sparse matrix nor a numeric 2-D array;
        `lower` not a bool.
    MemoryLimitExceeded
        The kinship matrix of the pairs' ancestry would pass `memory_limit`.

    Examples
    --------
    >>> from tolmkit import Pedigree
    >>> pedigree = Pedigree.from_records([("x", "a", "b"), ("y", "a", "b")])
    >>> dominance_pairs(pedigree, ["x"], ["y"]).tolist()
    [0.25]
    """
    checked_pedigree(pedigree)
    limit = _checked_limit(memory_limit)
    pair_i, pair_j = pedigree.numbers(first), pedigree.numbers(second)
    if len(pair_i) != len(pair_j):
        raise ValueError(f"{len(pair_i)} first and {len(pair_j)} second animals do not make pairs")
    same = np.flatnonzero(pair_i == pair_j)
    if len(same):
        raise PedigreeError(f"pair {same[0]} names animal {pedigree.ids[pair_i[same[0]]]!r} twice")
    if relationships is None:
        pedigree, renumber = ancestry(pedigree, np.concatenate([pair_i, pair_j]))
        pair_i, pair_j = renumber[pair_i], renumber[pair_j]
        kinship = relationship_matrix(pedigree, kinship=True, lower=True, memory_limit=limit)
        a_col, a_rowstart, a_val = kinship.indices, kinship.indptr, kinship.data
    else:
        a_col, a_rowstart, a_val = _remembered_arrays(relationships, pedigree)
    sire, dam = pedigree.codes(unknown=MISSING_PARENT)
    d_pair = np.zeros(len(pair_i))
    TOLM.dijp(sire, dam, _scalar(len(pair_i)), pair_i, pair_j, a_col, a_rowstart, a_val, d_pair)
    return d_pair


def _checked_limit(memory_limit: object) -> float:
    limit = real(memory_limit)
    if limit is None:
        raise TypeError(f"memory_limit must be a number of bytes, got {memory_limit!r}")
    if math.isnan(limit) or limit < 0:
        raise ValueError(f"memory_limit must be a non-negative number of bytes, got {memory_limit!r}")
    return limit


def _spend(nbytes: int, limit: float, what: str) -> None:
    if nbytes > limit:
        raise MemoryLimitExceeded(
            f"the dominance matrix would pass the memory limit of {limit:,} bytes: "
            f"{what} take {nbytes:,} bytes; pass a larger memory_limit"
        )


def _dense_relationships(
    pedigree: Pedigree, metafounders: Gamma, kinship: bool, lower: bool, limit: float
) -> sp.csr_matrix:
    """A^Γ in CSR from its dense form, within the memory limit."""
    n = len(pedigree)
    held = 8 * n * n + _ELEMENT_BYTES * n * n + 4 * (n + 1)
    if held > limit or n * n > _MAX_ELEMENTS:
        raise MemoryLimitExceeded(
            f"the relationship matrix with metafounders relates every two animals: dense, it and its CSR form "
            f"would take {held:,} bytes, more than the memory limit of {limit:,}; pass a larger memory_limit"
        )
    dense = metafounder_relationships(pedigree, metafounders)
    if kinship:
        dense *= 0.5
    if lower:
        dense = np.tril(dense)
    matrix = sp.csr_matrix(dense)
    return _csr(matrix.data, matrix.indices.astype(np.int32), matrix.indptr.astype(np.int32))


def _csr(data: NDArray[np.float64], indices: NDArray[np.int32], indptr: NDArray[np.int32]) -> sp.csr_matrix:
    n = len(indptr) - 1
    matrix = sp.csr_matrix((data, indices, indptr), shape=(n, n))
    matrix.has_canonical_format = True
    return matrix


def _herd(pedigree: Pedigree) -> _Herd:
    """The arguments of the companion's row routines that describe the pedigree:
    parents (n unknown), sampling variances, and the animals grouped by
    connected component, with the oldest ancestor of each."""
    n = len(pedigree)
    sire, dam = pedigree.codes(unknown=n)
    sampling_var = pedigree.sampling_var
    links = [(np.flatnonzero(parents < n), parents[parents < n]) for parents in (sire, dam)]
    graph = sp.csr_matrix(
        (
            np.ones(sum(len(c) for c, _ in links), dtype=np.int8),
            (np.concatenate([c for c, _ in links]), np.concatenate([p for _, p in links])),
        ),
        shape=(n, n),
    )
    _, labels = connected_components(graph, directed=False)
    del graph, links
    members = np.argsort(labels, kind="stable").astype(np.int32)
    del labels
    position = np.empty(n, dtype=np.int32)
    position[members] = np.arange(n, dtype=np.int32)
    oldest = _native.oldest_ancestors(sire, dam, sampling_var, members, position)
    return sire, dam, sampling_var, members, position, oldest


def _diagonal_of(
    a_col: NDArray[np.int32], a_rowstart: NDArray[np.int32], a_val: NDArray[np.float64]
) -> NDArray[np.float64]:
    """The diagonal of a lower triangle with sorted rows: the last element of each row, 0 where absent."""
    n = len(a_rowstart) - 1
    last = np.maximum(a_rowstart[1:] - 1, 0)
    stored = (np.diff(a_rowstart) > 0) & (a_col[last] == np.arange(n)) if len(a_col) else np.zeros(n, bool)
    return np.where(stored, a_val[last] if len(a_val) else 0.0, 0.0)


# Arrays that dominance_pairs read for a sparse matrix, by id(matrix): a weak
# reference to the matrix, the array objects it was read from (held, so that
# no other array takes their ids), and the arrays.
_remembered: dict[int, tuple[weakref.ref[typing.Any], tuple[typing.Any, ...], _Arrays]] = {}


def _remembered_arrays(relationships: Relationships, pedigree: Pedigree) -> _Arrays:
    if not sp.issparse(relationships):
        return _relationship_arrays(relationships, pedigree, whole_rows=True)
    key = id(relationships)
    source = _held_arrays(relationships)
    entry = _remembered.get(key)
    if (
        entry is not None
        and entry[0]() is relationships
        and len(entry[1]) == len(source)
        and all(a is b if isinstance(a, np.ndarray) else a == b for a, b in zip(entry[1], source))
        and relationships.shape == (len(pedigree),) * 2
    ):
        return entry[2]
    arrays = _relationship_arrays(relationships, pedigree, whole_rows=True)

    def forget(reference: weakref.ref[typing.Any], key: int = key) -> None:
        if key in _remembered and _remembered[key][0] is reference:
            del _remembered[key]

    _remembered[key] = (weakref.ref(relationships, forget), source, arrays)
    return arrays


def _held_arrays(matrix: typing.Any) -> tuple[typing.Any, ...]:
    """Every array a sparse matrix holds, also inside a tuple (the
    coordinates of a COO matrix, whose row and col are views of them), with
    the format and shape: what its elements are read from."""
    held: list[typing.Any] = [matrix.format, matrix.shape]
    for value in vars(matrix).values():
        for item in value if isinstance(value, (tuple, list)) else (value,):
            if isinstance(item, np.ndarray):
                held.append(item)
    return tuple(held)


def _relationship_arrays(relationships: Relationships, pedigree: Pedigree, *, whole_rows: bool) -> _Arrays:
    """Columns, row starts and values that TOLM reads from a symmetric matrix
    or one triangle: the lower triangle, or with `whole_rows` a symmetric
    matrix as it is (a lookup finds its element in a whole sorted row).
    Every row stores at least one element, an explicit zero on the diagonal
    where it had none, as TOLM's lookup needs."""
    n = len(pedigree)
    if isinstance(relationships, np.ndarray):
        if relationships.ndim != 2 or not (
            np.issubdtype(relationships.dtype, np.integer) or np.issubdtype(relationships.dtype, np.floating)
        ):
            raise TypeError(
                f"relationships must be a 2-D array of real numbers, got {relationships.ndim}-D {relationships.dtype}"
            )
        matrix = sp.csr_matrix(np.asarray(relationships))
    elif sp.issparse(relationships):
        matrix = relationships.tocsr()
    else:
        raise TypeError(
            f"relationships must be a scipy.sparse matrix or a 2-D numpy array, got {type(relationships).__name__}"
        )
    if matrix.shape != (n, n):
        raise ValueError(
            f"the relationship matrix is {matrix.shape[0]} × {matrix.shape[1]}; the pedigree has {n} animals"
        )
    if not (np.issubdtype(matrix.dtype, np.integer) or np.issubdtype(matrix.dtype, np.floating)):
        raise TypeError(f"relationships must hold real numbers, not {matrix.dtype}")
    if matrix.nnz > _MAX_ELEMENTS:
        raise ValueError(f"the relationship matrix holds {matrix.nnz:,} elements, more than int32 positions address")
    if not matrix.has_canonical_format:
        matrix = matrix.copy()
        matrix.sum_duplicates()
    indptr = np.ascontiguousarray(matrix.indptr, dtype=np.int32)
    indices = np.ascontiguousarray(matrix.indices, dtype=np.int32)
    data = np.ascontiguousarray(matrix.data, dtype=np.float64)
    below, above = _native.count_triangles(indptr, indices, data)
    if above and below:
        if not _native.symmetric(indptr, indices, data):
            row, column = _native.first_asymmetric(indptr, indices, data)
            raise ValueError(
                f"the relationship matrix is not symmetric: element ({row}, {column}) (animals "
                f"{pedigree.ids[row]!r}, {pedigree.ids[column]!r}) is {float(matrix[row, column])!r}, element "
                f"({column}, {row}) is {float(matrix[column, row])!r}; pass a symmetric matrix or one triangle"
            )
        if not whole_rows:
            indptr, indices, data = _native.lower_part(indptr, indices, data)
    elif above:
        transposed = matrix.T.tocsr()
        transposed.sort_indices()
        indptr = np.ascontiguousarray(transposed.indptr, dtype=np.int32)
        indices = np.ascontiguousarray(transposed.indices, dtype=np.int32)
        data = np.ascontiguousarray(transposed.data, dtype=np.float64)
    empty = np.flatnonzero(indptr[1:] == indptr[:-1])
    if len(empty):
        places = indptr[empty]
        indices = np.insert(indices, places, empty.astype(np.int32))
        data = np.insert(data, places, 0.0)
        indptr = indptr + np.searchsorted(empty, np.arange(n + 1)).astype(np.int32)
    return indices, indptr, data
