"""Single-step genomic evaluation: the genomic relationship matrix G of the
genotyped animals, and the matrices H and H⁻¹ that join it to the pedigree's
relationships."""

from __future__ import annotations

import dataclasses
import typing
import warnings
from collections.abc import Iterable

import numpy as np
import pandas as pd
import scipy.linalg.lapack as lapack
import scipy.sparse as sp
from numpy.typing import ArrayLike, NDArray

from ._advice import Option, PedigreeError, argument, option, refused
from ._arguments import real
from ._memory import BLAS_BUFFERS, require_room
from ._symmetric import mirror, mirrored_blocks
from .among import relationships_among
from .genotypes import first_repeat
from .inverse import inverse_relationship_matrix
from .pedigree import Pedigree
from .relationships import DEFAULT_MEMORY_LIMIT, MemoryLimitExceeded, relationship_matrix
from .threads import follows_threads

__all__ = ["GenomicComparison", "HybridInverse", "genomic_relationship_matrix", "hybrid_inverse", "hybrid_relationship"]

# Markers whose centred genotypes are held at once: 8 KiB of float64 per
# animal, and the same grouping of the sums whichever way G is split.
_MARKERS_AT_ONCE = 1024
# The advice of a G that is not positive definite after blending.
_CLONES = ("; raise ", argument("blend"), ", or look for clones in G")


@dataclasses.dataclass(frozen=True)
class GenomicComparison:
    """G against A22, the pedigree relationships of the same animals: what a
    breeder checks first, since G on another scale than A22 biases H.

    Attributes
    ----------
    animals : int
        Genotyped animals.
    mean_diagonal_g, mean_diagonal_a22 : float
        Means of the diagonals (1 + F on A22's scale).
    mean_off_diagonal_g, mean_off_diagonal_a22 : float
        Means of the elements off the diagonals (NaN for a single animal).
    diagonal_correlation : float
        Pearson correlation of the two diagonals (NaN where either is constant).
    """

    animals: int
    mean_diagonal_g: float
    mean_diagonal_a22: float
    mean_off_diagonal_g: float
    mean_off_diagonal_a22: float
    diagonal_correlation: float

    def summary(self) -> str:
        """The figures as a small table, as ``tolmkit hinv`` prints them.

        Returns
        -------
        str

        Examples
        --------
        >>> print(GenomicComparison(2, 1.0, 1.0, 0.1, 0.0, float("nan")).summary())
        G against A22 (2 genotyped animals)
                                             G      A22
        mean diagonal                   1.0000   1.0000
        mean off-diagonal               0.1000   0.0000
        correlation of the diagonals       nan
        """
        return (
            f"G against A22 ({self.animals:,} genotyped animals)\n{'':<29}{'G':>9}{'A22':>9}\n"
            f"{'mean diagonal':<29}{self.mean_diagonal_g:9.4f}{self.mean_diagonal_a22:9.4f}\n"
            f"{'mean off-diagonal':<29}{self.mean_off_diagonal_g:9.4f}{self.mean_off_diagonal_a22:9.4f}\n"
            f"{'correlation of the diagonals':<29}{self.diagonal_correlation:9.4f}"
        )


@dataclasses.dataclass(frozen=True)
class HybridInverse:
    """What `hybrid_inverse` gives: H⁻¹, the identifiers of its rows, and G
    against A22.

    Attributes
    ----------
    matrix : scipy.sparse.csr_matrix
        H⁻¹, exactly symmetric, sorted columns.
    ids : numpy.ndarray of object
        The identifier of each row and column: the pedigree's, then the
        genotyped animals that `add_missing` added.
    comparison : GenomicComparison
        The G given (before tuning and blending) against A22.
    """

    matrix: sp.csr_matrix
    ids: NDArray[np.object_]
    comparison: GenomicComparison


@dataclasses.dataclass(frozen=True)
class _Markers:
    """The markers kept for G: their columns, the frequencies of the counted
    allele there, and 2 Σ p (1 − p), which scales G to A's."""

    columns: NDArray[np.intp]
    frequencies: NDArray[np.float64]
    scale: float


@follows_threads
def genomic_relationship_matrix(
    genotypes: typing.Any,
    *,
    allele_frequencies: ArrayLike | None = None,
    min_maf: float = 0.0,
    min_call_rate: float = 0.0,
    ids: ArrayLike | None = None,
) -> typing.Any:
    """The genomic relationship matrix of VanRaden's first method,
    G = Z Zᵀ / (2 Σ p_j (1 − p_j)), where Z holds each genotype minus 2 p_j.

    A missing genotype counts as the mean: its element of Z is 0. Markers
    that contribute nothing, neither to Z nor to the scale, are dropped, with
    their count in a warning: those without any genotype, and those
    monomorphic in the genotypes at the allele whose frequency is 0 or 1
    (with the frequencies of the genotypes, every monomorphic marker). A
    marker that segregates is kept whatever its frequency: with a given
    frequency of 0 or 1 it adds genotype − 2p to Z and nothing to the scale.

    Parameters
    ----------
    genotypes : array_like of int, or dask.array.Array
        Animals × markers counts 0, 1 or 2 of one allele (for PLINK files the
        allele that `read_genotypes` counts), −1 for missing; int8 is the
        cheapest, any integer dtype is read. A dask array, chunked by
        animals, gives a dask array of G chunked alike: the frequencies are
        computed at once, in one pass over the genotypes, the blocks of G when
        computed (the blocks above the diagonal mirror those below).
    allele_frequencies : array_like of float, optional
        Frequency p_j of the counted allele at every marker (such as those of
        the base population); by default from the non-missing genotypes.
        They must leave 2 Σ p_j (1 − p_j) above 0 at the markers kept.
    min_maf : float, default 0.0
        Drop the markers whose minor allele frequency, min(p, 1 − p), is
        below this.
    min_call_rate : float, default 0.0
        Drop the markers whose share of non-missing genotypes is below this.
    ids : array_like of str, optional
        The identifier of each animal (row of `genotypes`), which refusals
        name; by default they name the row.

    Returns
    -------
    numpy.ndarray or dask.array.Array
        Animals × animals float64, exactly symmetric.

    Raises
    ------
    TypeError
        Genotypes that are not a 2-D array of integers (such as a scipy
        sparse matrix), or frequencies that are not numbers.
    ValueError
        A genotype outside −1 … 2 or masked (naming its animal and marker),
        no animal or marker, frequencies of the wrong length or outside
        0 … 1, a filter outside its range, no marker left, frequencies that
        are 0 or 1 at every marker kept, or an animal without a genotype at
        the markers kept (for a dask array, when that block is computed).

    Warns
    -----
    UserWarning
        Monomorphic markers, or markers without any genotype, were dropped.

    Examples
    --------
    >>> genomic_relationship_matrix(np.array([[0, 1, 2], [2, 1, 0], [1, 2, -1]], dtype=np.int8)).round(3)
    array([[ 1.462, -1.308, -0.154],
           [-1.308,  1.462, -0.154],
           [-0.154, -0.154,  0.308]])
    """
    if type(genotypes).__module__.split(".")[0] == "dask":
        return _dask_relationships(genotypes, allele_frequencies, min_maf, min_call_rate, ids)
    array, mask = _array(genotypes, "genotypes")
    if mask is not None:
        animal, marker = np.argwhere(mask)[0]
        raise ValueError(
            f"genotypes[{animal}, {marker}] is masked; pass genotypes.filled(-1) if masked stands for missing"
        )
    _check_shape(genotypes, array)
    names = _names(ids, len(array))
    markers = _markers(array, _marker_sums(array), allele_frequencies, min_maf, min_call_rate)
    return _diagonal_block(array, markers, 0, names)


def _dask_relationships(
    genotypes: typing.Any,
    allele_frequencies: ArrayLike | None,
    min_maf: float,
    min_call_rate: float,
    ids: ArrayLike | None,
) -> typing.Any:
    import dask

    _check_shape(genotypes, genotypes)
    names = _names(ids, genotypes.shape[0])
    by_animals = genotypes.rechunk({1: -1})
    sums = typing.cast(tuple[NDArray[np.int64], ...], dask.compute(*_marker_sums(by_animals)))
    markers = _markers(by_animals, sums, allele_frequencies, min_maf, min_call_rate)
    rows = by_animals.to_delayed(optimize_graph=False)[:, 0]
    kept = dask.delayed(markers)  # one key, which every block takes
    sizes = by_animals.chunks[0]
    starts = np.cumsum((0,) + sizes)
    return mirrored_blocks(
        sizes,
        lambda i: dask.delayed(_diagonal_block)(
            rows[i], kept, int(starts[i]), None if names is None else names[starts[i] : starts[i + 1]]
        ),
        lambda i, j: dask.delayed(_block)(rows[i], rows[j], kept),
    )


def _array(value: typing.Any, name: str) -> tuple[NDArray[typing.Any], NDArray[np.bool_] | None]:
    """`value` as a numpy array, and where it is masked (None if nowhere):
    numpy would take a scipy sparse matrix for a single object, and drop a
    mask without a word."""
    if sp.issparse(value):
        raise TypeError(f"{name} given as a scipy sparse matrix ({type(value).__name__}); pass {name}.toarray()")
    try:
        array = np.asarray(value)
    except ValueError as error:  # rows of different lengths
        raise TypeError(f"{name} cannot be read as a matrix: {error}") from None
    if isinstance(value, np.ma.MaskedArray):
        mask = np.broadcast_to(np.asarray(value.mask, dtype=bool), array.shape)
        if mask.any():
            return array, mask
    return array, None


def _kind(value: typing.Any, array: typing.Any) -> str:
    """What a value that is not the matrix expected is, for a refusal."""
    return f"{array.ndim}-D {array.dtype}" if array.ndim else type(value).__name__


def _check_shape(genotypes: typing.Any, array: typing.Any) -> None:
    if array.ndim != 2 or array.dtype.kind not in "iu":
        raise TypeError(f"genotypes must be a 2-D array of integers (animals × markers), got {_kind(genotypes, array)}")
    if array.shape[0] == 0:
        raise ValueError("genotypes hold no animal")
    if array.shape[1] == 0:
        raise ValueError("genotypes hold no marker")


def _names(ids: ArrayLike | None, n: int) -> NDArray[np.object_] | None:
    """The identifiers of the animals that refusals name, if given."""
    if ids is None:
        return None
    names = np.asarray(ids, dtype=object)
    if names.shape != (n,):
        raise ValueError(f"ids holds {names.size:,} identifiers for {n:,} animals (rows of genotypes)")
    return names


def _marker_sums(genotypes: typing.Any) -> tuple[typing.Any, ...]:
    """Per marker: missing genotypes, the sum of the genotypes (each missing
    one adding −1), the smallest and the largest value. The same expressions
    serve numpy and dask arrays."""
    return (
        (genotypes < 0).sum(axis=0),
        genotypes.sum(axis=0, dtype=np.int64),
        genotypes.min(axis=0),
        genotypes.max(axis=0),
    )


def _markers(
    genotypes: typing.Any,
    sums: tuple[typing.Any, ...],
    allele_frequencies: ArrayLike | None,
    min_maf: float,
    min_call_rate: float,
) -> _Markers:
    """The markers kept, their frequencies and G's scale, from the sums of
    `_marker_sums`; bad values are refused naming the first one."""
    missing, total, lowest, highest = (np.asarray(s) for s in sums)
    n, m = genotypes.shape
    bad = np.flatnonzero((lowest < -1) | (highest > 2))
    if len(bad):
        marker = int(bad[0])
        column = np.asarray(genotypes[:, marker])
        animal = int(np.argmax((column < -1) | (column > 2)))
        raise ValueError(
            f"genotypes[{animal}, {marker}] is {column[animal]}: a genotype is 0, 1 or 2 copies of "
            "the allele, or -1 for missing"
        )
    filters: list[str | Option] = []
    for name, value, top in (("min_maf", min_maf, 0.5), ("min_call_rate", min_call_rate, 1.0)):
        number = real(value)
        if number is None or not 0.0 <= number <= top:
            raise refused(argument(name), f" must be a number from 0 to {top}, got {value!r}")
        if value:
            filters += [", " if filters else "", option(name, value)]
    called = n - missing
    # The sum counts each missing genotype as −1: adding them back leaves the sum of the called ones.
    alleles = total + missing
    if allele_frequencies is None:
        with np.errstate(invalid="ignore", divide="ignore"):
            frequencies = alleles / (2.0 * called)
    else:
        frequencies = _given_frequencies(allele_frequencies, m)
    minor = np.minimum(frequencies, 1.0 - frequencies)
    kept = (called >= min_call_rate * n) & ~(minor < min_maf)
    # Nothing to Z and nothing to the scale: no genotype, or every genotype the
    # homozygote that a frequency of 0 or 1 expects. A marker that segregates
    # stays whatever frequency it is given.
    idle = kept & (
        (called == 0) | ((frequencies == 0.0) & (alleles == 0)) | ((frequencies == 1.0) & (alleles == 2 * called))
    )
    columns = np.flatnonzero(kept & ~idle)
    if len(columns) == 0:
        if filters:
            raise refused(f"no marker of {m:,} is left after the filters (", *filters, ") and the monomorphic ones")
        raise ValueError(f"no marker of {m:,} is left: each is monomorphic or has no genotype")
    p = frequencies[columns]
    scale = float(2.0 * np.sum(p * (1.0 - p)))
    if not scale > 0.0:
        raise ValueError(
            f"allele_frequencies are 0 or 1 at each of the {len(columns):,} markers kept, so that "
            "2 Σ p (1 − p) is 0 and G has no scale; pass the frequencies of the base population, or "
            "leave allele_frequencies out to take them from the genotypes"
        )
    if np.any(idle):
        warnings.warn(
            f"{int(np.count_nonzero(idle)):,} monomorphic markers (or markers without any genotype) dropped",
            stacklevel=3,
        )
    return _Markers(columns, p, scale)


def _given_frequencies(allele_frequencies: ArrayLike, m: int) -> NDArray[np.float64]:
    try:
        frequencies = np.asarray(allele_frequencies, dtype=np.float64)
    except (TypeError, ValueError):
        raise TypeError(f"allele_frequencies must be numbers, one per marker, got {allele_frequencies!r:.60}") from None
    if frequencies.ndim != 1:
        raise ValueError(f"allele_frequencies must hold one number per marker, got shape {frequencies.shape}")
    if len(frequencies) != m:
        raise ValueError(f"allele_frequencies holds {frequencies.size} values for {m} markers")
    outside = np.flatnonzero(~((frequencies >= 0.0) & (frequencies <= 1.0)))
    if len(outside):
        raise ValueError(
            f"allele_frequencies[{outside[0]}] is {float(frequencies[outside[0]])!r}: a frequency is from 0 to 1"
        )
    return frequencies


def _centred(
    genotypes: NDArray[np.integer[typing.Any]], markers: _Markers, start: int
) -> tuple[NDArray[np.float64], NDArray[np.bool_]]:
    """Z for the markers kept from the `start`-th on, _MARKERS_AT_ONCE of
    them, and where the genotypes are called."""
    stop = start + _MARKERS_AT_ONCE
    chunk = genotypes[:, markers.columns[start:stop]]
    called = chunk >= 0
    centred = chunk - 2.0 * markers.frequencies[start:stop]
    centred[~called] = 0.0
    return centred, called


def _block(
    first: NDArray[np.integer[typing.Any]], second: NDArray[np.integer[typing.Any]], markers: _Markers
) -> NDArray[np.float64]:
    """G between two groups of animals."""
    product = np.zeros((len(first), len(second)))
    for start in range(0, len(markers.columns), _MARKERS_AT_ONCE):
        product += _centred(first, markers, start)[0] @ _centred(second, markers, start)[0].T
    product /= markers.scale
    return product


def _diagonal_block(
    genotypes: NDArray[np.integer[typing.Any]], markers: _Markers, offset: int, names: NDArray[np.object_] | None
) -> NDArray[np.float64]:
    """G among a group of animals, the first of which is the `offset`-th,
    named `names` if given."""
    product = np.zeros((len(genotypes), len(genotypes)))
    calls = np.zeros(len(genotypes), dtype=np.int64)
    for start in range(0, len(markers.columns), _MARKERS_AT_ONCE):
        centred, called = _centred(genotypes, markers, start)
        product += centred @ centred.T
        calls += np.count_nonzero(called, axis=1)
    uncalled = np.flatnonzero(calls == 0)
    if len(uncalled):
        k = int(uncalled[0])
        animal = f"animal {offset + k} (row of genotypes)" if names is None else f"animal {names[k]!r}"
        raise ValueError(
            f"{animal} has no genotype at the {len(markers.columns):,} markers kept; leave it out of the genotypes"
        )
    product /= markers.scale
    return mirror(product)


@follows_threads
def hybrid_inverse(
    pedigree: Pedigree,
    genotyped: Iterable[str],
    G: ArrayLike,
    *,
    blend: float = 0.05,
    tau: float = 1.0,
    omega: float = 1.0,
    tune: str | None = None,
    add_missing: bool = False,
) -> HybridInverse:
    """H⁻¹ of single-step genomic evaluation: A⁻¹ plus τ Gw⁻¹ − ω A22⁻¹ at
    the rows and columns of the genotyped animals.

    A⁻¹ comes from `inverse_relationship_matrix`, A22 (the relationships
    among the genotyped animals) from `relationships_among`, from their
    ancestry alone; Gw = (1 − blend) G + blend A22 and A22 are inverted by
    their Cholesky factors.

    Groups of unknown parents are not joined to G: a parent of a group
    (`Pedigree.group_ids`) counts as an unknown parent, as in
    ``inverse_relationship_matrix(pedigree)`` without ``groups=True``, and
    H⁻¹ has rows for the animals alone.

    Parameters
    ----------
    pedigree : Pedigree
    genotyped : iterable of str
        Identifiers of the rows (and columns) of `G`, each once.
    G : array_like or pandas.DataFrame
        The genomic relationship matrix, such as `genomic_relationship_matrix`
        gives: square, exactly symmetric, finite, its rows in the order of
        `genotyped`. A DataFrame is taken by its labels: its rows, and its
        columns, labelled with the identifiers of `genotyped`, in any order.
    blend : float, default 0.05
        The share of A22 in Gw, from 0 to 1, which makes Gw invertible when G
        is not (fewer markers than animals, clones).
    tau, omega : float, default 1.0
        The weights of Gw⁻¹ and A22⁻¹.
    tune : {None, "mean"}
        "mean" replaces G, before blending, by a + b G with a and b such that
        its mean diagonal and mean off-diagonal element are A22's.
    add_missing : bool, default False
        Add the genotyped animals missing from the pedigree as founders,
        numbered after its animals; by default they are refused.

    Returns
    -------
    HybridInverse
        `matrix` (exactly symmetric CSR, in the order of `ids`), `ids` and
        `comparison`, G against A22.

    Raises
    ------
    PedigreeError
        A genotyped animal not in the pedigree (unless `add_missing`), or A
        singular (see `inverse_relationship_matrix`).
    ValueError
        No animal genotyped, or one genotyped twice; a G of the wrong size,
        not finite, masked, not symmetric, or not positive definite after
        blending (naming the first animal where that shows); the labels of a
        DataFrame G that are not those of `genotyped` (naming the first); a
        weight out of range; tuning that G cannot take.
    TypeError
        A G that is not a matrix of real numbers (such as a scipy sparse
        matrix), or identifiers that are not text where the pedigree's are.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b")])
    >>> result = hybrid_inverse(pedigree, ["a", "c"], np.array([[1.0, 0.4], [0.4, 1.1]]), blend=0.0)
    >>> result.matrix.toarray().round(3)
    array([[ 1.337,  0.5  , -0.759],
           [ 0.5  ,  1.5  , -1.   ],
           [-0.759, -1.   ,  1.73 ]])
    >>> result.comparison.mean_off_diagonal_a22
    0.5
    """
    weights = _options(tune, blend=blend, tau=tau, omega=omega)
    pedigree, positions, ids, g = _inputs(pedigree, genotyped, G, tune, add_missing)
    a_inverse = inverse_relationship_matrix(pedigree)
    a22 = relationships_among(pedigree, ids)
    comparison = _comparison(g, a22)
    gw_inverse = _inverse(_blended(g, a22, blend, tune, comparison), ids, "G after blending", _CLONES)
    a22_inverse = _inverse(a22, ids, "A22")
    del g, a22
    gw_inverse *= weights["tau"]
    a22_inverse *= weights["omega"]
    gw_inverse -= a22_inverse
    del a22_inverse
    # Both matrices are exactly symmetric, so their elementwise sum is.
    matrix = (a_inverse + _embedded(gw_inverse, positions, len(pedigree))).tocsr()
    matrix.sort_indices()
    return HybridInverse(matrix, pedigree.ids, comparison)


@follows_threads
def hybrid_relationship(
    pedigree: Pedigree,
    genotyped: Iterable[str],
    G: ArrayLike,
    *,
    blend: float = 0.05,
    tune: str | None = None,
    memory_limit: float = DEFAULT_MEMORY_LIMIT,
) -> NDArray[np.float64]:
    """H itself, dense, for small pedigrees:
    H = A + A₍·₂₎ A22⁻¹ (Gw − A22) A22⁻¹ A₍₂·₎, whose block of the genotyped
    animals is Gw = (1 − blend) G + blend A22. Groups of unknown parents
    count as unknown parents, as in `hybrid_inverse`.

    Parameters
    ----------
    pedigree : Pedigree
    genotyped : iterable of str
        Identifiers of the rows (and columns) of `G`, all in the pedigree.
    G : array_like or pandas.DataFrame
        The genomic relationship matrix, as for `hybrid_inverse`.
    blend : float, default 0.05
    tune : {None, "mean"}
        As for `hybrid_inverse`.
    memory_limit : float, default DEFAULT_MEMORY_LIMIT
        Bytes that A (sparse, built first) and H (n × n float64) may take
        together.

    Returns
    -------
    numpy.ndarray
        n × n float64 in the pedigree's numbering, exactly symmetric.

    Raises
    ------
    MemoryLimitExceeded
        A and H would pass `memory_limit`.
    PedigreeError, ValueError, TypeError
        As for `hybrid_inverse`, and a bad `memory_limit`.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b")])
    >>> hybrid_relationship(pedigree, ["c"], np.array([[0.8]]), blend=0.0)
    array([[ 0.95, -0.05,  0.4 ],
           [-0.05,  0.95,  0.4 ],
           [ 0.4 ,  0.4 ,  0.8 ]])
    """
    _options(tune, blend=blend)
    pedigree, positions, ids, g = _inputs(pedigree, genotyped, G, tune, False)
    a = relationship_matrix(pedigree, memory_limit=memory_limit)
    n = len(pedigree)
    held = 8 * n * n + a.data.nbytes + a.indices.nbytes + a.indptr.nbytes
    if held > memory_limit:
        raise MemoryLimitExceeded(
            f"H of {n:,} animals and A would take {held:,} bytes, more than the memory "
            f"limit of {memory_limit:,}; pass a larger memory_limit"
        )
    h: NDArray[np.float64] = a.toarray()
    del a
    a22 = h[np.ix_(positions, positions)]
    a22_inverse = _inverse(a22, ids, "A22")
    gw = _blended(g, a22, blend, tune, _comparison(g, a22))
    gw -= a22
    middle = mirror(a22_inverse @ gw @ a22_inverse)
    across = h[:, positions]
    h += (across @ middle) @ across.T
    return mirror(h)


def _inputs(
    pedigree: Pedigree, genotyped: Iterable[str], G: ArrayLike, tune: str | None, add_missing: bool
) -> tuple[Pedigree, NDArray[np.int64], NDArray[np.object_], NDArray[np.float64]]:
    """What H and H⁻¹ start from, checked before any work: the pedigree and
    the genotyped animals as `_genotyped` gives them, and G in their order."""
    pedigree, positions, ids = _genotyped(pedigree, genotyped, add_missing)
    if tune == "mean" and len(ids) < 2:
        raise refused(
            option("tune", "mean"),
            " matches G's mean off-diagonal element to A22's, and needs two "
            f"genotyped animals or more; {ids[0]!r} is the only one: leave out ",
            option("tune", "mean"),
        )
    return pedigree, positions, ids, _checked_g(G, ids)


def _genotyped(
    pedigree: Pedigree, genotyped: Iterable[str], add_missing: bool
) -> tuple[Pedigree, NDArray[np.int64], NDArray[np.object_]]:
    """The pedigree (with the missing animals added if asked), the numbers of
    the genotyped animals in it, and their identifiers."""
    try:
        ids = np.asarray([genotyped] if isinstance(genotyped, str) else list(genotyped), dtype=object)
    except TypeError:
        raise TypeError(f"genotyped must be the identifiers of G's rows, got {type(genotyped).__name__}") from None
    if ids.size == 0:
        raise ValueError(
            "no animal is genotyped (genotyped is empty); H and H⁻¹ need one or more: without "
            "genotypes they are A and A⁻¹"
        )
    if ids.ndim != 1:
        raise ValueError(f"genotyped must list identifiers, one for each row of G, got shape {ids.shape}")
    repeat = first_repeat(ids)
    if repeat:
        first, again = repeat
        raise ValueError(f"animal {ids[again]!r} is genotyped twice (rows {first} and {again} of G)")
    try:
        return pedigree, pedigree.numbers(ids).astype(np.int64), ids
    except PedigreeError as error:
        if not add_missing:
            raise refused(
                f"{error}: a genotyped animal must be in the pedigree, or pass ",
                option("add_missing", True),
                " to add it as a founder",
            ) from None
    found: NDArray[np.intp] = pd.Index(pedigree.ids, dtype=object).get_indexer(ids)  # type: ignore[no-untyped-call]
    missing = ids[found < 0]
    if len(missing):
        n, k = len(pedigree), len(missing)
        unknown = np.full(k, -1)
        everyone = np.concatenate([pedigree.ids, missing])
        pedigree = Pedigree(
            everyone,
            np.concatenate([pedigree.sire, unknown]),
            np.concatenate([pedigree.dam, unknown]),
            attributes=pedigree.attributes.reindex(pd.Index(everyone, dtype=object)),
            added=np.concatenate([pedigree.added, np.ones(k, dtype=bool)]),
        )
        found[found < 0] = np.arange(n, n + k)
    return pedigree, found.astype(np.int64), ids


def _checked_g(G: ArrayLike, ids: NDArray[np.object_]) -> NDArray[np.float64]:
    """G in the order of `ids` as float64: square, finite, exactly symmetric."""
    if isinstance(G, pd.DataFrame):
        G = _by_labels(G, ids)
        # pandas' nullable numbers come out as objects unless asked for floats, their NA as NaN.
        if all(pd.api.types.is_numeric_dtype(dtype) and not pd.api.types.is_bool_dtype(dtype) for dtype in G.dtypes):
            G = G.to_numpy(dtype=np.float64, na_value=np.nan)
    g, mask = _array(G, "G")
    if g.ndim != 2 or g.dtype.kind not in "iuf":
        raise TypeError(f"G must be a matrix of real numbers, got {_kind(G, g)}")
    m = len(ids)
    if g.shape != (m, m):
        raise ValueError(f"G is {g.shape[0]} × {g.shape[1]}; {m} animal{'s are' if m != 1 else ' is'} genotyped")
    g = np.asarray(g, dtype=np.float64)
    unusable = ~np.isfinite(g)
    if mask is not None:
        unusable |= mask
    bad = np.argwhere(unusable)
    if len(bad):
        i, j = bad[0]
        value = "masked" if mask is not None and mask[i, j] else g[i, j]
        raise ValueError(
            f"G[{i}, {j}] (animals {ids[i]!r}, {ids[j]!r}) is {value}; G must be finite for every pair "
            "of genotyped animals"
        )
    uneven = np.argwhere(g != g.T)
    if len(uneven):
        i, j = uneven[0]
        raise ValueError(
            f"G is not symmetric: G[{i}, {j}] (animals {ids[i]!r}, {ids[j]!r}) is {g[i, j]!r}, "
            f"G[{j}, {i}] is {g[j, i]!r}; pass (G + G.T) / 2 if that is rounding"
        )
    return g


def _by_labels(frame: pd.DataFrame, ids: NDArray[np.object_]) -> pd.DataFrame:
    """G given with labels, its rows and columns taken in the order of `ids`
    by their labels: each a genotyped animal, each genotyped animal once."""
    order = []
    for axis, labels in (("row", frame.index), ("column", frame.columns)):
        if not labels.is_unique:
            raise ValueError(
                f"G has two {axis}s labelled {labels[labels.duplicated()][0]!r}; each genotyped animal "
                f"labels one {axis}"
            )
        found: NDArray[np.intp] = labels.get_indexer(ids)  # type: ignore[no-untyped-call]
        if np.any(found < 0):
            k = int(np.argmax(found < 0))
            shown = ", ".join(map(repr, labels[:3])) + (", …" if len(labels) > 3 else "")
            raise ValueError(
                f"animal {ids[k]!r} is genotyped but labels no {axis} of G (labelled {shown or 'nothing'}"
                "); label G's rows and columns with the identifiers of genotyped, or pass G.to_numpy() "
                "if its rows and columns are in their order"
            )
        if len(labels) != len(ids):
            raise ValueError(
                f"G's {axis} {labels[~labels.isin(ids)][0]!r} is not a genotyped animal; G has a row "
                "and a column for each genotyped animal and no other"
            )
        order.append(found)
    aligned: pd.DataFrame = frame.iloc[order[0], order[1]]
    return aligned


def _options(tune: str | None, **weights: float) -> dict[str, float]:
    """The weights checked (real numbers, `blend` from 0 to 1), and `tune`."""
    if tune not in (None, "mean"):
        raise ValueError(f"tune must be None or 'mean', got {tune!r}")
    for name, value in weights.items():
        number = real(value)
        if number is None or not np.isfinite(number) or (name == "blend" and not 0.0 <= number <= 1.0):
            raise refused(
                argument(name),
                f" must be a {'number from 0 to 1' if name == 'blend' else 'finite number'}, got {value!r}",
            )
    return {name: float(value) for name, value in weights.items()}


def _comparison(g: NDArray[np.float64], a22: NDArray[np.float64]) -> GenomicComparison:
    m = len(g)
    means = []
    for matrix in (g, a22):
        diagonal = np.diag(matrix)
        # Row by row, so that a large diagonal does not swallow the bits of the rest.
        off = np.sum(matrix.sum(axis=1) - diagonal) / (m * (m - 1)) if m > 1 else float("nan")
        means.append((np.sum(diagonal) / m, off))
    first, second = np.diag(g) - means[0][0], np.diag(a22) - means[1][0]
    spread = float(np.sqrt(np.dot(first, first) * np.dot(second, second)))
    correlation = float(np.dot(first, second)) / spread if spread > 0.0 else float("nan")
    return GenomicComparison(
        m, float(means[0][0]), float(means[1][0]), float(means[0][1]), float(means[1][1]), correlation
    )


def _blended(
    g: NDArray[np.float64], a22: NDArray[np.float64], blend: float, tune: str | None, comparison: GenomicComparison
) -> NDArray[np.float64]:
    """(1 − blend) G + blend A22, G first tuned if asked."""
    if tune == "mean":
        c = comparison
        spread = c.mean_diagonal_g - c.mean_off_diagonal_g
        if not spread > 0.0:
            raise refused(
                option("tune", "mean"),
                " needs a mean diagonal of G above its mean off-diagonal element "
                f"(they are {c.mean_diagonal_g!r} and {c.mean_off_diagonal_g!r}): leave out ",
                option("tune", "mean"),
            )
        slope = (c.mean_diagonal_a22 - c.mean_off_diagonal_a22) / spread
        g = (c.mean_off_diagonal_a22 - slope * c.mean_off_diagonal_g) + slope * g
    blended: NDArray[np.float64] = (1.0 - blend) * g + blend * a22
    return blended


def _inverse(
    matrix: NDArray[np.float64], ids: NDArray[np.object_], name: str, advice: tuple[str | Option, ...] = ()
) -> NDArray[np.float64]:
    """The inverse of a symmetric positive definite matrix by its Cholesky
    factor, which also tells where it stops being positive definite, with
    `advice` then; symmetric to the bit."""
    require_room(matrix.nbytes + BLAS_BUFFERS, f"the inverse of {name}")
    # The transpose of a symmetric matrix is itself, in the order LAPACK reads without a transposing copy.
    factor, info = lapack.dpotrf(matrix.T, lower=True, clean=False)
    if info > 0:
        raise refused(
            f"{name} is not positive definite: its leading block stops being so at animal "
            f"{ids[info - 1]!r} (row {info - 1})",
            *advice,
        )
    inverse, info = lapack.dpotri(factor, lower=True, overwrite_c=True)
    if info > 0:
        raise ValueError(f"{name} is singular at animal {ids[info - 1]!r} (row {info - 1})")
    return mirror(inverse)


def _embedded(block: NDArray[np.float64], positions: NDArray[np.int64], n: int) -> sp.csr_matrix:
    """The dense block placed at the rows and columns `positions` of an
    n × n sparse matrix, built in compressed rows directly."""
    order = np.argsort(positions)
    ranked = positions[order]
    m = len(positions)
    counts = np.zeros(n, dtype=np.int64)
    counts[ranked] = m
    indptr = np.zeros(n + 1, dtype=np.int64)
    np.cumsum(counts, out=indptr[1:])
    index_type = np.int32 if m * m < 2**31 else np.int64
    return sp.csr_matrix(
        (block[np.ix_(order, order)].ravel(), np.tile(ranked.astype(index_type), m), indptr.astype(index_type)),
        shape=(n, n),
    )
