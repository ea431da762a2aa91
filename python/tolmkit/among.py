"""Additive relationships of chosen animals (pairs, or candidates for
mating) from their ancestry alone: in memory (`tolmkit.candidates`), or as
lazy Dask arrays computed by blocks (`tolmkit.blocks`), to the same bits."""

from __future__ import annotations

import typing
from collections.abc import Iterable

import numpy as np
from numpy.typing import NDArray

from ._arguments import switch
from .candidates import pair_values, plan_pairs, relationship_block
from .metafounders import Gamma, metafounder_relationships
from .pedigree import Pedigree, ancestry, checked_pedigree

if typing.TYPE_CHECKING:
    import dask.array.core

__all__ = ["relationship_pairs", "relationships_among"]


@typing.overload
def relationship_pairs(
    pedigree: Pedigree, first: Iterable[str], second: Iterable[str], *, chunks: None = None, kinship: bool = False
) -> NDArray[np.float64]: ...


@typing.overload
def relationship_pairs(
    pedigree: Pedigree, first: Iterable[str], second: Iterable[str], *, chunks: int, kinship: bool = False
) -> dask.array.core.Array: ...


def relationship_pairs(
    pedigree: Pedigree, first: Iterable[str], second: Iterable[str], *, chunks: int | None = None, kinship: bool = False
) -> NDArray[np.float64] | dask.array.core.Array:
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
    checked_pedigree(pedigree)
    kinship = switch(kinship, "kinship")
    x, y = pedigree.numbers(first), pedigree.numbers(second)
    if len(x) != len(y):
        raise ValueError(f"{len(x)} first and {len(y)} second animals do not make pairs")
    if chunks is not None:
        from .blocks import pairs_in_blocks  # Dask is imported only for blocks

        return pairs_in_blocks(pedigree, x, y, chunks=chunks, kinship=kinship)
    if len(x) == 0:
        return np.empty(0)
    pruned, x, y, by_columns = plan_pairs(pedigree, x, y)
    values = pair_values(pruned, x, y, by_columns)
    return values * 0.5 if kinship else values


@typing.overload
def relationships_among(
    pedigree: Pedigree,
    ids: Iterable[str],
    *,
    chunks: None = None,
    kinship: bool = False,
    metafounders: Gamma | None = None,
) -> NDArray[np.float64]: ...


@typing.overload
def relationships_among(
    pedigree: Pedigree, ids: Iterable[str], *, chunks: int, kinship: bool = False, metafounders: None = None
) -> dask.array.core.Array: ...


def relationships_among(
    pedigree: Pedigree,
    ids: Iterable[str],
    *,
    chunks: int | None = None,
    kinship: bool = False,
    metafounders: Gamma | None = None,
) -> NDArray[np.float64] | dask.array.core.Array:
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
    metafounders : pandas.DataFrame or array_like, optional
        Γ, as `inverse_relationship_matrix` takes it: A^Γ, relative to the
        metafounders (Legarra et al. 2015), by the same products with the
        metafounders' part of Tᵀ X mixed by Γ, after a pass for F relative
        to them over the ancestry. Not with `chunks`.

    Returns
    -------
    numpy.ndarray or dask.array.Array
        m × m float64, exactly symmetric, its diagonal 1 + F.

    Raises
    ------
    PedigreeError
        An identifier that is not in the pedigree.
    ValueError
        `chunks` not a positive integer, or given with `metafounders`;
        `metafounders` refused as by `inverse_relationship_matrix`.
    TypeError
        `kinship` not a bool.
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
    checked_pedigree(pedigree)
    kinship = switch(kinship, "kinship")
    chosen = pedigree.numbers(ids)
    if metafounders is not None:
        if chunks is not None:
            raise ValueError("relationships_among computes A^Γ with metafounders in memory: leave out chunks")
        matrix = metafounder_relationships(pedigree, metafounders, chosen)
        return matrix * 0.5 if kinship else matrix
    if chunks is not None:
        from .blocks import among_in_blocks  # Dask is imported only for blocks

        return among_in_blocks(pedigree, chosen, chunks=chunks, kinship=kinship)
    if len(chosen) == 0:
        return np.empty((0, 0))
    pruned, renumber = ancestry(pedigree, chosen)
    matrix = relationship_block(pruned, renumber[chosen])
    if kinship:
        matrix *= 0.5
    return matrix
