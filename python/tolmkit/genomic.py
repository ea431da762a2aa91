"""Single-step genomic evaluation: the genomic relationship matrix G of the
genotyped animals, and the matrices H and H⁻¹ that join it to the pedigree's
relationships."""

from __future__ import annotations

import dataclasses
import functools
import typing
import warnings
from collections.abc import Collection, Iterable

import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.compute as pc
import scipy.linalg.lapack as lapack
import scipy.sparse as sp
from numpy.typing import ArrayLike, NDArray

from ._advice import Option, PedigreeError, argument, option, refused
from ._arguments import checked_seed, listed, ordered, real, switch
from ._matrices import (
    as_array,
    check_genotype_values,
    check_genotypes,
    genotype_array,
    genotyped_names,
    kind,
    minor_allele_frequencies,
    threshold,
)
from ._memory import BLAS_BUFFERS, require_room
from ._patterns import LOOKS_UNKNOWN, NUMBER
from ._symmetric import mirror, mirrored_blocks, singular
from .among import relationships_among
from .apy import ApyInverse, Centring, apy_inverse, comparison_figures, core_positions, core_size, genomic_sums
from .genotypes import first_repeat
from .inverse import inverse_relationship_matrix
from .metafounders import Gamma, group_terms
from .pedigree import Pedigree, checked_pedigree
from .quality import MIN_MAF
from .relationships import DEFAULT_MEMORY_LIMIT, MemoryLimitExceeded, relationship_matrix
from .singlestep import A22Inverse, HybridOperator, relationship_parts
from .threads import follows_threads
from .tuning import GenomicComparison, adjusted, check_adjustment, elementwise

__all__ = [
    "GenomicComparison",
    "HybridInverse",
    "genomic_relationship_matrix",
    "kept_markers",
    "hybrid_inverse",
    "single_step_options",
    "hybrid_relationship",
    "suggest_core_size",
]

# Markers whose centred genotypes are held at once: 8 KiB of float64 per
# animal, and the same grouping of the sums whichever way G is split.
_MARKERS_AT_ONCE = 1024
#: The matrices of the genotyped animals that `hybrid_inverse` hands back when kept.
KEPT = ("G", "A22", "Gw_inverse", "block")
# The advice of a G that is not positive definite after blending.
_CLONES = ("; raise ", argument("blend"), ", or look for clones in G")
# A G of zeros, which blending would silently turn into a multiple of A22.
_ZERO = (
    "G is zero: no marker varies around the allele frequencies (a single genotyped animal, or every genotype the same)"
)


@dataclasses.dataclass(frozen=True)
class HybridInverse:
    """What `hybrid_inverse` gives: H⁻¹, the identifiers of its rows, and G
    against A22.

    Attributes
    ----------
    matrix : scipy.sparse.csr_matrix or HybridOperator
        H⁻¹, exactly symmetric, sorted columns; with ``form="operator"``, a
        symmetric `scipy.sparse.linalg.LinearOperator` with ``diagonal()``.
    ids : numpy.ndarray of object
        The identifier of each row and column: the pedigree's, then the
        genotyped animals that `add_missing` added, then the codes of the
        groups (or metafounders) if they have rows.
    comparison : GenomicComparison
        The G given (before tuning and blending) against A22.
    comparison_after : GenomicComparison
        Gw, the G that joins H⁻¹ after tuning and blending, against A22.
    kept : dict of str to numpy.ndarray
        The matrices of the genotyped animals that `keep` asked for, in the
        order of `genotyped`: ``"G"`` (as given), ``"A22"``,
        ``"Gw_inverse"`` and ``"block"``, τ Gw⁻¹ − ω A22⁻¹.
    """

    matrix: sp.csr_matrix | HybridOperator
    ids: NDArray[np.object_]
    comparison: GenomicComparison
    comparison_after: GenomicComparison
    kept: dict[str, NDArray[np.float64]] = dataclasses.field(default_factory=dict)


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
    min_maf: float = MIN_MAF,
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
    allele_frequencies : array_like of float, or float, optional
        Frequency p_j of the counted allele at every marker (such as those of
        the base population), or one frequency for all (0.5 gives the G05
        that metafounders take, Legarra et al. 2015); by default from the
        non-missing genotypes. They must leave 2 Σ p_j (1 − p_j) above 0 at
        the markers kept.
    min_maf : float, default MIN_MAF (0.05)
        Drop the markers whose minor allele frequency, min(p, 1 − p), is
        below this (with `allele_frequencies`, of those frequencies).
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
        are 0 or 1 at every marker kept, a G that is zero (no marker kept
        varies around its frequency), or an animal without a genotype at the
        markers kept or a G that is not finite (frequencies so near 0 or 1
        that it overflows; for a dask array, when that block is computed).

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
    array = genotype_array(genotypes)
    names = genotyped_names(ids, len(array))
    markers = _markers(array, _marker_sums(array), allele_frequencies, min_maf, min_call_rate, names)
    return _diagonal_block(array, markers, 0, names)


def kept_markers(genotypes: typing.Any, *, min_maf: float = MIN_MAF) -> NDArray[np.intp]:
    """The markers that `genomic_relationship_matrix` takes into G with the
    allele frequencies of the genotypes, for a road that centres them
    itself (APY's).

    Parameters
    ----------
    genotypes : array_like of int
        As `genomic_relationship_matrix` takes them.
    min_maf : float, default MIN_MAF (0.05)
        As `genomic_relationship_matrix` takes it.

    Returns
    -------
    numpy.ndarray of intp
        The columns kept, ascending.

    Raises
    ------
    ValueError
        As `genomic_relationship_matrix` refuses the genotypes.

    Examples
    --------
    >>> kept_markers(np.array([[0, 1, 2], [2, 1, 2], [1, 2, 2]], dtype=np.int8)).tolist()
    [0, 1]
    """
    array = genotype_array(genotypes)
    return _markers(array, _marker_sums(array), None, min_maf, 0.0, None).columns


def _dask_relationships(
    genotypes: typing.Any,
    allele_frequencies: ArrayLike | None,
    min_maf: float,
    min_call_rate: float,
    ids: ArrayLike | None,
) -> typing.Any:
    import dask

    check_genotypes(genotypes, genotypes)
    if np.isnan(genotypes.shape[0]):
        raise ValueError(
            "genotypes of animals whose number Dask does not know yet (chunks of unknown size, as after choosing "
            "rows by a Dask array): call its compute_chunk_sizes() first"
        )
    names = genotyped_names(ids, genotypes.shape[0])
    # Without empty chunks, which Dask's min and max do not take.
    by_animals = genotypes.rechunk({0: tuple(size for size in genotypes.chunks[0] if size) or 0, 1: -1})
    sums = typing.cast(tuple[NDArray[np.int64], ...], dask.compute(*_marker_sums(by_animals)))
    markers = _markers(by_animals, sums, allele_frequencies, min_maf, min_call_rate, names)
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
    names: NDArray[np.object_] | None,
) -> _Markers:
    """The markers kept, their frequencies and G's scale, from the sums of
    `_marker_sums`; bad values are refused naming the first one, and a G
    that would be zero naming an animal without a genotype if there is one."""
    missing, total, lowest, highest = (np.asarray(s) for s in sums)
    n, m = genotypes.shape
    check_genotype_values(genotypes, lowest, highest)
    filters: list[str | Option] = []
    for name, value, top in (("min_maf", min_maf, 0.5), ("min_call_rate", min_call_rate, 1.0)):
        if threshold(name, value, top):
            filters += [", " if filters else "", option(name, value)]
    called = n - missing
    # The sum counts each missing genotype as −1: adding them back leaves the sum of the called ones.
    alleles = total + missing
    if allele_frequencies is None:
        with np.errstate(invalid="ignore", divide="ignore"):
            frequencies = alleles / (2.0 * called)
        minor = minor_allele_frequencies(alleles, called)
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
    # Z, and so G, is zero when every called genotype of each marker kept is the
    # one that its frequency expects, 2p: the same genotype throughout.
    same = alleles[columns] == highest[columns] * called[columns]
    if np.all(same & (2.0 * p == highest[columns])):
        # An animal without a genotype, leaving a single one, is the likelier cause.
        _check_calls(np.asarray((genotypes[:, columns] >= 0).sum(axis=1)), 0, names, len(columns))
        raise ValueError(f"{_ZERO}; genotype more animals, or take the allele frequencies of the base population")
    if np.any(idle):
        warnings.warn(
            f"{int(np.count_nonzero(idle)):,} monomorphic markers (or markers without any genotype) dropped",
            stacklevel=3,
        )
    return _Markers(columns, p, scale)


def _given_frequencies(allele_frequencies: ArrayLike, m: int) -> NDArray[np.float64]:
    given = np.asarray(allele_frequencies)
    # Text and True would be read as numbers by the cast.
    if given.dtype.kind not in "iuf":
        raise TypeError(f"allele_frequencies must be numbers, one per marker, got {allele_frequencies!r:.60}")
    frequencies = given.astype(np.float64)
    if frequencies.ndim == 0:
        frequencies = np.full(m, frequencies)
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
    return _scaled(product, markers)


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
    _check_calls(calls, offset, names, len(markers.columns))
    return mirror(_scaled(product, markers))


def _check_calls(calls: NDArray[np.int64], offset: int, names: NDArray[np.object_] | None, markers: int) -> None:
    """Refuses the first animal of `calls` (genotypes called at the markers
    kept, the first animal the `offset`-th, named `names` if given) that has none."""
    uncalled = np.flatnonzero(calls == 0)
    if len(uncalled):
        k = int(uncalled[0])
        animal = f"animal {offset + k} (row of genotypes)" if names is None else f"animal {names[k]!r}"
        raise ValueError(f"{animal} has no genotype at the {markers:,} markers kept; leave it out of the genotypes")


def _scaled(product: NDArray[np.float64], markers: _Markers) -> NDArray[np.float64]:
    """Z Zᵀ divided by G's scale in place, refused where that overflows."""
    # Overflow shows as infinities, refused below.
    with np.errstate(over="ignore"):
        product /= markers.scale
    if not _finite(product):
        raise ValueError(
            f"G is not finite: allele frequencies out of range, so near 0 or 1 that G's scale, 2 Σ p (1 − p) = "
            f"{markers.scale!r}, takes Z Zᵀ beyond the floats; pass allele_frequencies of the base population"
        )
    return product


@follows_threads
def hybrid_inverse(
    pedigree: Pedigree,
    genotyped: Iterable[str],
    G: ArrayLike | None = None,
    *,
    genotypes: typing.Any = None,
    core: int | Iterable[str] | None = None,
    seed: int | None = None,
    form: str = "matrix",
    blend: float = 0.05,
    tau: float = 1.0,
    omega: float = 1.0,
    tune: str | None = None,
    blend_with: str = "A22",
    order: str = "tune-then-blend",
    add_missing: bool = False,
    groups: bool | str = False,
    metafounders: Gamma | None = None,
    keep: Collection[str] = (),
) -> HybridInverse:
    """H⁻¹ of single-step genomic evaluation: A⁻¹ plus τ Gw⁻¹ − ω A22⁻¹ at
    the rows and columns of the genotyped animals.

    A⁻¹ comes from `inverse_relationship_matrix`, A22 (the relationships
    among the genotyped animals) from `relationships_among`, from their
    ancestry alone; Gw, G tuned and blended (`tuning.adjusted` gives the
    formulas), and A22 are inverted by their Cholesky factors.

    Without `groups` or `metafounders`, a parent of a group of unknown
    parents (`Pedigree.group_ids`) counts as an unknown parent, as in
    ``inverse_relationship_matrix(pedigree)`` without ``groups=True``, and
    H⁻¹ has rows for the animals alone.

    With `core`, Gw⁻¹ comes by APY (Misztal, Legarra and Aguilar 2014)
    from the genotypes, and G is never formed whole: only its core block
    Gcc, its core–noncore block Gcn and its noncore diagonal. Tuning needs
    G's and A22's means alone: G's from its diagonal and the column sums of
    Z, A22's from 1 + F and 1ᵀ A22 1 by one pass up and one down the
    ancestry (Colleau 2002). The tuned G, a + b G, and the blend
    (1 − blend) G + blend A22 then apply element by element to each block:
    to Gcc with A22's core block, to Gcn with A22's core–noncore block (A22's
    columns of the core, by pedigree passes in blocks of columns, computed
    only when `blend` is not 0), and to the noncore diagonal with 1 + F. Then

        Gw⁻¹ = [Gcc⁻¹ 0; 0 0] + [−P; I] M⁻¹ [−Pᵀ I],   P = Gcc⁻¹ Gcn,

    with M diagonal, m_ii = g_ii − g_ciᵀ Gcc⁻¹ g_ci (see `ApyInverse`).
    With every genotyped animal but one in the core, this is Gw⁻¹ itself.

    Parameters
    ----------
    pedigree : Pedigree
    genotyped : iterable of str
        Identifiers of the rows (and columns) of `G`, or of `genotypes`, each once.
    G : array_like or pandas.DataFrame, optional
        The genomic relationship matrix, such as `genomic_relationship_matrix`
        gives: square, exactly symmetric, finite, its rows in the order of
        `genotyped`. A DataFrame is taken by its labels: its rows, and its
        columns, labelled with the identifiers of `genotyped`, in any order.
    genotypes : array_like of int, optional
        Instead of `G`: animals × markers counts as `read_genotypes` gives
        them, rows in the order of `genotyped`, centred as by
        `genomic_relationship_matrix`, every marker that segregates kept:
        filter them first, as `genotype_quality` does.
    core : int or iterable of str, optional
        With `genotypes`: the core of APY, as identifiers of genotyped
        animals, or as a number of them drawn at random with `seed`. None
        gives the exact Gw⁻¹, from the whole G.
    seed : int, optional
        The seed of the draw of a core given as a number: a non-negative
        integer.
    form : {"matrix", "operator"}
        "operator" gives `matrix` as a `HybridOperator`: A⁻¹ sparse, Gw⁻¹
        dense or by APY, and A22⁻¹ as a product by `A22Inverse`, never
        forming A22 nor H⁻¹.
    blend : float, default 0.05
        The share of A22 (or of I) in Gw, from 0 to 1, which makes Gw
        invertible when G is not (fewer markers than animals, clones).
    tau, omega : float, default 1.0
        The weights of Gw⁻¹ and A22⁻¹.
    tune : {None, "mean", "base"}
        "mean" (Chen et al. 2011) replaces G by a + b G with a and b such
        that its mean diagonal and mean off-diagonal element are A22's;
        "base" (Vitezica et al. 2011) by a + G with a such that its mean
        element is A22's.
    blend_with : {"A22", "identity"}
        Gw = (1 − blend) G + blend A22, or (1 − blend) G + blend I.
    order : {"tune-then-blend", "blend-then-tune"}
        Whether G is tuned and then blended, or blended and then tuned.
    add_missing : bool, default False
        Add the genotyped animals missing from the pedigree as founders of
        no group, numbered after its animals (before any groups); by default
        they are refused.
    groups : {False, True, "full"}, default False
        True: the groups of unknown parents take rows after the animals, A⁻¹
        as ``inverse_relationship_matrix(pedigree, groups=True)`` builds it
        (Quaas 1988) and τ Gw⁻¹ − ω A22⁻¹ added as without groups. "full"
        also ties the genotyped animals to their groups (Misztal, Vitezica,
        Legarra, Aguilar and Swan 2013): with M = τ Gw⁻¹ − ω A22⁻¹ and Q₂
        the genotyped animals' group proportions (each animal's the mean of
        its parents', an unknown parent of a group giving that group's unit
        row), −M Q₂ joins the genotyped animals to the groups, its transpose
        the groups to them, and Q₂ᵀ M Q₂ the groups among themselves (the
        block that `keep` hands back stays M alone). A pedigree without
        groups gives H⁻¹ as without.
    metafounders : pandas.DataFrame or array_like, optional
        Γ, as `inverse_relationship_matrix` takes it: H⁻¹ relative to the
        metafounders (Legarra et al. 2015), A⁻¹ and A22 replaced by those of
        A^Γ, the metafounders' rows after the animals. G must then be on the
        scale of A^Γ, from allele frequencies 0.5
        (``genomic_relationship_matrix(genotypes, allele_frequencies=0.5)``,
        as it is made from `genotypes`), and is not tuned (`tune` must be
        None).
    keep : collection of str
        The matrices of the genotyped animals to hand back in `kept`, of
        `KEPT`, for the mixed-model programs that read them beside A⁻¹.

    Returns
    -------
    HybridInverse
        `matrix` (exactly symmetric CSR, or with ``form="operator"`` a
        `HybridOperator`, in the order of `ids`), `ids`, and G and Gw
        against A22 (`comparison`, `comparison_after`; from their means and
        diagonals alone with `core`).

    Raises
    ------
    PedigreeError
        A genotyped animal not in the pedigree (unless `add_missing`); with
        `add_missing`, one that reads like a code of an unknown parent, is a
        group's code, or differs only in case from another animal; or A
        singular (see `inverse_relationship_matrix`).
    ValueError
        No animal genotyped, or one genotyped twice; a G of the wrong size,
        not finite, masked, not symmetric, or not positive definite after
        blending (naming the first animal where that shows); the labels of a
        DataFrame G that are not those of `genotyped` (naming the first); a
        weight out of range; tuning that G cannot take; `groups` not one of
        its forms; `metafounders` refused as by `inverse_relationship_matrix`,
        or given with `tune` or ``groups="full"``;
        both or neither of `G` and `genotypes`, a core without genotypes, a
        core animal that is not genotyped, a core larger than the genotyped
        animals, a Gw of the core that is not positive definite (naming the
        animal where that shows), or an APY inverse that is not finite;
        `core` or ``form="operator"`` with ``groups="full"``, metafounders or
        a blend with the identity; a `seed` that is not a non-negative
        integer; a G that is zero (given, or from the genotypes), or `tau`
        and `omega` that take τ Gw⁻¹ − ω A22⁻¹ beyond the floats.
    TypeError
        A G that is not a matrix of real numbers (such as a scipy sparse
        matrix), or identifiers that are not text where the pedigree's are;
        `add_missing` not a bool.

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
    checked_pedigree(pedigree)
    weights = single_step_options(tune, blend_with, order, blend=blend, tau=tau, omega=omega)
    if seed is not None:
        checked_seed(seed)
    _group_options(groups, metafounders, tune)
    _check_source(G, genotypes, core, form, groups, metafounders, blend_with, keep)
    add_missing = switch(add_missing, "add_missing")
    unknown = set(keep) - set(KEPT)
    if unknown or isinstance(keep, str):
        raise ValueError(f"keep names matrices of {', '.join(map(repr, KEPT))}; got {keep!r}")
    if core is not None:
        return _apy(pedigree, genotyped, genotypes, core, seed, form, weights, tune, order, add_missing, groups)
    if genotypes is not None:
        # Metafounders take G on the scale of A^Γ: from frequencies 0.5.
        G = genomic_relationship_matrix(
            genotypes, min_maf=0.0, allele_frequencies=None if metafounders is None else 0.5
        )
    pedigree, positions, ids, g = _inputs(pedigree, genotyped, typing.cast(ArrayLike, G), tune, add_missing)
    if metafounders is None:
        a_inverse = inverse_relationship_matrix(pedigree, groups=bool(groups))
        a22 = relationships_among(pedigree, ids)
    else:
        a_inverse = inverse_relationship_matrix(pedigree, metafounders=metafounders)
        a22 = relationships_among(pedigree, ids, metafounders=metafounders)
    gw, comparison, after = adjusted(g, a22, blend=blend, tune=tune, blend_with=blend_with, order=order)
    gw_inverse = _inverse(gw, ids, "G after blending", _CLONES)
    size, labels = _rows(pedigree, a_inverse)
    if form == "operator":
        return _operator(pedigree, positions, a_inverse, gw_inverse, weights, labels, comparison, after)
    a22_inverse = _inverse(a22, ids, "A22")
    kept = {"G": g, "A22": a22}
    if "Gw_inverse" in keep:
        kept["Gw_inverse"] = gw_inverse.copy()
    del g, gw, a22
    _weighed(gw_inverse, a22_inverse, weights)
    del a22_inverse
    kept["block"] = gw_inverse
    # Both matrices are exactly symmetric, so their elementwise sum is.
    matrix = (a_inverse + _embedded(gw_inverse, positions, size)).tocsr()
    if groups == "full":
        matrix = (matrix + group_terms(pedigree, positions, gw_inverse)).tocsr()
    matrix.sort_indices()
    return HybridInverse(matrix, labels, comparison, after, {name: kept[name] for name in keep})


def _check_source(
    G: ArrayLike | None,
    genotypes: typing.Any,
    core: typing.Any,
    form: str,
    groups: bool | str,
    metafounders: typing.Any,
    blend_with: str,
    keep: Collection[str],
) -> None:
    """G or the genotypes, not both; a core only with the genotypes; and
    what APY and the operator do not take."""
    if form not in ("matrix", "operator"):
        raise ValueError(f"form must be 'matrix' or 'operator', got {form!r}")
    if (G is None) == (genotypes is None):
        raise refused(
            "pass G or ",
            argument("genotypes"),
            f", one of them: {'both' if G is not None else 'neither'} given",
        )
    if core is not None and genotypes is None:
        raise refused(argument("core"), " draws G's blocks from the genotypes: pass ", argument("genotypes"), " for G")
    if core is None and form == "matrix":
        return
    # The product by A22⁻¹ and the blocks of APY stand on A⁻¹ without groups:
    # their terms with groups or metafounders are not built.
    by = argument("core") if core is not None else option("form", "operator")
    if groups == "full":
        raise refused(by, " takes groups as unknown parents or by Quaas' rules: leave out ", option("groups", "full"))
    if metafounders is not None:
        raise refused(by, " does not take metafounders: leave out ", argument("metafounders"))
    if core is not None and blend_with != "A22":
        raise refused(by, " blends G with A22 only: leave out ", option("blend_with", blend_with))
    if keep:
        raise refused(by, " keeps no matrix of the genotyped animals: leave out ", argument("keep"))


def _centring(genotypes: typing.Any, ids: NDArray[np.object_] | None = None) -> tuple[Centring, int]:
    """Z of the genotypes as `genomic_relationship_matrix` centres them, by
    rows and chunks of markers, with G's scale; and the number of animals,
    that of `ids` if given."""
    array = genotype_array(genotypes)
    if ids is not None and len(array) != len(ids):
        raise ValueError(f"genotypes hold {len(array):,} animals (rows); {len(ids):,} are genotyped")
    markers = _markers(array, _marker_sums(array), None, 0.0, 0.0, ids)

    def rows(chosen: NDArray[np.intp]) -> typing.Iterator[tuple[NDArray[np.float64], NDArray[np.bool_]]]:
        part = array[chosen]
        for start in range(0, len(markers.columns), _MARKERS_AT_ONCE):
            yield _centred(part, markers, start)

    return Centring(rows, markers.scale, len(markers.columns)), len(array)


def _apy(
    pedigree: Pedigree,
    genotyped: Iterable[str],
    genotypes: typing.Any,
    core: typing.Any,
    seed: int | None,
    form: str,
    weights: dict[str, float],
    tune: str | None,
    order: str,
    add_missing: bool,
    groups: bool | str,
) -> HybridInverse:
    """`hybrid_inverse` with Gw⁻¹ by APY."""
    pedigree, positions, ids = _genotyped(pedigree, genotyped, add_missing)
    centring = _centring(genotypes, ids)[0]
    chosen = core_positions(ids, core, seed)
    g_diagonal, g_total = genomic_sums(centring, ids)
    blend = weights["blend"]
    a22_diagonal, a22_total, a22_core = relationship_parts(pedigree, positions, chosen if blend else None)
    comparison = _sums_comparison(g_diagonal, g_total, a22_diagonal, a22_total)
    weigh = elementwise(comparison, blend=blend, tune=tune, order=order)
    # weigh is affine in the elements, so the mean of Gw is weigh of G's and A22's means.
    elements = float(len(ids)) ** 2
    mean = weigh(np.array(g_total / elements), np.array(a22_total / elements))
    after = _sums_comparison(weigh(g_diagonal, a22_diagonal), float(mean) * elements, a22_diagonal, a22_total)
    g_inverse = apy_inverse(centring, ids, chosen, g_diagonal, weigh, a22_core, a22_diagonal)
    a_inverse = inverse_relationship_matrix(pedigree, groups=bool(groups))
    size, labels = _rows(pedigree, a_inverse)
    if form == "operator":
        return _operator(pedigree, positions, a_inverse, g_inverse, weights, labels, comparison, after)
    block = _weighed(g_inverse.toarray(), _inverse(relationships_among(pedigree, ids), ids, "A22"), weights)
    matrix = (a_inverse + _embedded(block, positions, size)).tocsr()
    matrix.sort_indices()
    return HybridInverse(matrix, labels, comparison, after)


def _finite(matrix: NDArray[np.float64]) -> bool:
    """Whether every element of `matrix` is finite, told from their sum
    rather than from flags as large as the matrix; a sum beyond the floats
    is refused too."""
    with np.errstate(over="ignore", invalid="ignore"):
        return bool(np.isfinite(matrix.sum()))


def _weighed(
    gw_inverse: NDArray[np.float64], a22_inverse: NDArray[np.float64], weights: dict[str, float]
) -> NDArray[np.float64]:
    """τ Gw⁻¹ − ω A22⁻¹ in place of `gw_inverse` (`a22_inverse` scaled in
    place too), refused where `tau` and `omega` take it beyond the floats."""
    tau, omega = weights["tau"], weights["omega"]
    # Overflow shows as infinities, refused below.
    with np.errstate(over="ignore", invalid="ignore"):
        gw_inverse *= tau
        a22_inverse *= omega
        gw_inverse -= a22_inverse
    if not _finite(gw_inverse):
        raise _beyond_the_floats(tau, omega)
    return gw_inverse


def _beyond_the_floats(tau: float, omega: float) -> PedigreeError:
    return refused(
        "τ Gw⁻¹ − ω A22⁻¹ of H⁻¹ is not finite: ",
        option("tau", tau),
        " and ",
        option("omega", omega),
        " out of range, beyond the floats; give weights near 1",
    )


def _rows(pedigree: Pedigree, a_inverse: sp.csr_matrix) -> tuple[int, NDArray[np.object_]]:
    """The size of H⁻¹ and the labels of its rows: the animals, then the
    groups (or metafounders) that A⁻¹ has rows for."""
    size = a_inverse.shape[0]
    return size, np.concatenate([pedigree.ids, pedigree.group_ids[: size - len(pedigree)]])


def _operator(
    pedigree: Pedigree,
    positions: NDArray[np.intp],
    a_inverse: sp.csr_matrix,
    genomic_inverse: typing.Any,
    weights: dict[str, float],
    labels: NDArray[np.object_],
    comparison: GenomicComparison,
    after: GenomicComparison,
) -> HybridInverse:
    """H⁻¹ as an operator: A⁻¹, τ Gw⁻¹ (dense or by APY) and ω A22⁻¹ as a product.
    Refused where the weights may take τ Gw⁻¹ − ω A22⁻¹ beyond the floats:
    no element of a positive definite matrix is larger than its largest
    diagonal element, and A22⁻¹'s diagonal is at most A⁻¹'s."""
    tau, omega = weights["tau"], weights["omega"]
    genomic = genomic_inverse.diagonal() if isinstance(genomic_inverse, ApyInverse) else np.diag(genomic_inverse)
    with np.errstate(over="ignore"):
        bound = abs(tau) * float(np.max(genomic)) + abs(omega) * float(np.max(a_inverse.diagonal()))
    if not np.isfinite(bound):
        raise _beyond_the_floats(tau, omega)
    a22_product = A22Inverse(pedigree, positions)
    operator = HybridOperator(a_inverse, positions, genomic_inverse, a22_product, tau, omega)
    return HybridInverse(operator, labels, comparison, after)


def _sums_comparison(
    g_diagonal: NDArray[np.float64], g_total: float, a22_diagonal: NDArray[np.float64], a22_total: float
) -> GenomicComparison:
    """G against A22 from their diagonals and sums, as APY has them: the
    correlations of all elements and the regression need the elements, and
    are NaN."""
    nan = float("nan")
    return GenomicComparison(*comparison_figures(g_diagonal, g_total, a22_diagonal, a22_total), nan, nan, nan, nan)


def suggest_core_size(genotypes: typing.Any, share: float = 0.98) -> int:
    """The size of an APY core: the number of the largest eigenvalues of G
    that explain `share` of its variance (their sum), after Pocrnic et al.
    (2016). With fewer markers than animals they come from ZᵀZ (markers ×
    markers), whose non-zero eigenvalues are G's times its scale, and whose
    rank is at most the number of markers.

    Parameters
    ----------
    genotypes : array_like of int
        As for `genomic_relationship_matrix`.
    share : float, default 0.98
        Above 0, at most 1.

    Returns
    -------
    int

    Raises
    ------
    ValueError, TypeError
        Genotypes refused as by `genomic_relationship_matrix` (a G that is
        zero among them), or a share out of range.

    Examples
    --------
    >>> suggest_core_size(np.array([[0, 1, 2], [2, 1, 0], [1, 2, 1], [0, 0, 2]], dtype=np.int8), share=0.9)
    2
    """
    centring, animals = _centring(genotypes)
    return core_size(centring, animals, share)


@follows_threads
def hybrid_relationship(
    pedigree: Pedigree,
    genotyped: Iterable[str],
    G: ArrayLike,
    *,
    blend: float = 0.05,
    tune: str | None = None,
    blend_with: str = "A22",
    order: str = "tune-then-blend",
    memory_limit: float = DEFAULT_MEMORY_LIMIT,
) -> NDArray[np.float64]:
    """H itself, dense, for small pedigrees:
    H = A + A₍·₂₎ A22⁻¹ (Gw − A22) A22⁻¹ A₍₂·₎, whose block of the genotyped
    animals is Gw, G tuned and blended as for `hybrid_inverse`. Groups of unknown parents
    count as unknown parents, as in `hybrid_inverse`.

    Parameters
    ----------
    pedigree : Pedigree
    genotyped : iterable of str
        Identifiers of the rows (and columns) of `G`, all in the pedigree.
    G : array_like or pandas.DataFrame
        The genomic relationship matrix, as for `hybrid_inverse`.
    blend : float, default 0.05
    tune : {None, "mean", "base"}
    blend_with : {"A22", "identity"}
    order : {"tune-then-blend", "blend-then-tune"}
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
    checked_pedigree(pedigree)
    single_step_options(tune, blend_with, order, blend=blend)
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
    gw = adjusted(g, a22, blend=blend, tune=tune, blend_with=blend_with, order=order)[0]
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
    ordered(genotyped, "genotyped")
    try:
        ids = np.asarray(listed(genotyped), dtype=object)
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
        found: NDArray[np.intp] = pd.Index(pedigree.ids, dtype=object).get_indexer(ids)  # type: ignore[no-untyped-call]
        missing = ids[found < 0]
        # An animal of the pedigree written otherwise is refused as such, with or without add_missing.
        _check_added(pedigree, missing)
        if not add_missing:
            raise refused(
                f"{error}: a genotyped animal must be in the pedigree, or pass ",
                option("add_missing", True),
                " to add it as a founder",
            ) from None
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
            group_ids=pedigree.group_ids,
            sire_group=np.concatenate([pedigree.sire_group, unknown]),
            dam_group=np.concatenate([pedigree.dam_group, unknown]),
        )
        found[found < 0] = np.arange(n, n + k)
    return pedigree, found.astype(np.int64), ids


def _check_added(pedigree: Pedigree, missing: NDArray[np.object_]) -> None:
    """Refuses genotyped animals not in the pedigree that adding as founders
    would make into other animals than those meant, as reading the pedigree
    refuses them: a code of an unknown parent or of a group, one that
    differs from an animal (or from another such) only in case (unless the
    pedigree itself holds such animals), in how a number is written, or in
    Unicode normalisation."""
    for name in missing:
        text = str(name)
        if text in pedigree.group_ids:
            raise PedigreeError(
                f"genotyped animal {text!r} is a group of unknown parents of the pedigree, not an animal; "
                "remove its genotypes, or give the group another code"
            )
        if LOOKS_UNKNOWN.python.fullmatch(text):
            raise refused(
                f"genotyped animal {text!r} reads like a code of an unknown parent, and ",
                argument("add_missing"),
                " would add it as an animal; remove its genotypes",
            )
    try:
        listed = pa.array(pedigree.ids, pa.string())
        added = pa.array(missing, pa.string())
    except (pa.ArrowTypeError, pa.ArrowInvalid):  # identifiers that are not text have no spellings
        return
    listing = (", or list it there (read with ", option("case_distinct", True), ")")
    # Names that differ in Unicode normalisation look alike: shown by their code points.
    for spelling, shown, how in (
        (pc.utf8_lower, repr, ("only in case", *listing)),
        (_plain_number, repr, ("in how a number is written (spreadsheets drop leading zeros and add '.0')",)),
        (functools.partial(pc.utf8_normalize, form="NFKC"), ascii, ("only in Unicode normalisation",)),
    ):
        _check_spelled_alike(missing, spelling(listed), spelling(added), pedigree.ids, shown, how)


def _plain_number(names: pa.Array) -> pa.Array:
    """Each name that is a number as spreadsheets write it, without leading
    zeros and decimal point; null for the others."""
    numbers = pc.if_else(pc.match_substring_regex(names, NUMBER.arrow), names, pa.scalar(None, pa.string()))
    return pc.replace_substring_regex(pc.replace_substring_regex(numbers, r"\.0*$", ""), r"^0+(\d)", r"\1")


def _check_spelled_alike(
    missing: NDArray[np.object_],
    listed: pa.Array,
    added: pa.Array,
    ids: NDArray[np.object_],
    shown: typing.Callable[[object], str],
    how: tuple[str | Option, ...],
) -> None:
    """Refuses a genotyped animal not in the pedigree that is spelled as an
    animal of it, or as another such animal, `listed` and `added` their
    spellings (null for none); names `shown` so, `how` they differ and what
    else to do."""
    if pc.count_distinct(listed).as_py() < len(listed) - listed.null_count:
        return  # the pedigree holds animals of one spelling, read so (such as with case_distinct)
    twins = pc.fill_null(pc.index_in(added, value_set=listed, skip_nulls=True), -1).to_numpy()
    if np.any(twins >= 0):
        k = int(np.argmax(twins >= 0))
        which = f"animal {shown(missing[k])} is not in the pedigree, and {shown(ids[twins[k]])} differs from it"
    else:
        spelled = np.asarray(added.to_pylist(), dtype=object)
        known = np.flatnonzero(pd.notna(spelled))
        repeat = first_repeat(spelled[known])
        if repeat is None:
            return
        one, two = known[list(repeat)]
        which = f"animals {shown(missing[one])} and {shown(missing[two])} are not in the pedigree, and differ"
    raise refused(
        f"genotyped {which} {how[0]}: ",
        argument("add_missing"),
        " would make them two animals; write it as in the pedigree",
        *how[1:],
    )


def _checked_g(G: ArrayLike, ids: NDArray[np.object_]) -> NDArray[np.float64]:
    """G in the order of `ids` as float64: square, finite, exactly symmetric."""
    if isinstance(G, pd.DataFrame):
        G = _by_labels(G, ids)
        # pandas' nullable numbers come out as objects unless asked for floats, their NA as NaN.
        if all(pd.api.types.is_numeric_dtype(dtype) and not pd.api.types.is_bool_dtype(dtype) for dtype in G.dtypes):
            G = G.to_numpy(dtype=np.float64, na_value=np.nan)
    g, mask = as_array(G, "G")
    if g.ndim != 2 or g.dtype.kind not in "iuf":
        raise TypeError(f"G must be a matrix of real numbers, got {kind(G, g)}")
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
    if not np.any(g):
        raise ValueError(f"{_ZERO}; compute G of more animals, or from the frequencies of the base population")
    uneven = np.argwhere(g != g.T)
    if len(uneven):
        i, j = uneven[0]
        raise ValueError(
            f"G is not symmetric: G[{i}, {j}] (animals {ids[i]!r}, {ids[j]!r}) is {float(g[i, j])!r}, "
            f"G[{j}, {i}] is {float(g[j, i])!r}; pass (G + G.T) / 2 if that is rounding"
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


def single_step_options(tune: str | None, blend_with: str, order: str, **weights: float) -> dict[str, float]:
    """The weights of single-step checked, and how G is tuned and blended,
    as `hybrid_inverse` checks them before any matrix is made.

    Parameters
    ----------
    tune, blend_with, order
        As for `hybrid_inverse`.
    **weights : float
        Such as blend, tau and omega: real numbers, blend from 0 to 1.

    Returns
    -------
    dict
        The weights as floats.

    Raises
    ------
    ValueError
        Naming the argument that is not so.

    Examples
    --------
    >>> single_step_options(None, "A22", "tune-then-blend", blend=0.05)
    {'blend': 0.05}
    """
    check_adjustment(tune, blend_with, order)
    for name, value in weights.items():
        number = real(value)
        if number is None or not np.isfinite(number) or (name == "blend" and not 0.0 <= number <= 1.0):
            raise refused(
                argument(name),
                f" must be a {'number from 0 to 1' if name == 'blend' else 'finite number'}, got {value!r}",
            )
    return {name: float(value) for name, value in weights.items()}


def _group_options(groups: bool | str, metafounders: Gamma | None, tune: str | None) -> None:
    """`groups` one of its forms, and neither it nor tuning where metafounders stand for the groups."""
    if not (isinstance(groups, (bool, np.bool_)) or groups == "full"):
        raise ValueError(f"groups must be False, True or 'full', got {groups!r}")
    if metafounders is None:
        return
    if groups == "full":
        raise refused(
            option("groups", "full"),
            " ties G to the groups of unknown parents, which metafounders relate to G through A^Γ already: leave out ",
            argument("groups"),
        )
    if tune is not None:
        raise refused(
            option("tune", tune),
            " matches G to A22 of the pedigree's base, and metafounders take G on the scale of A^Γ as it is (from "
            "allele frequencies 0.5): leave out ",
            argument("tune"),
        )


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
    flat = singular(np.diagonal(factor) ** 2, np.diagonal(matrix), len(ids))
    if len(flat):
        k = int(flat[0])
        raise refused(
            f"{name} is singular: animal {ids[k]!r} (row {k}) holds nothing that the animals before it do not, "
            "to the last bits",
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
