"""Groups of unknown parents as populations of their own: metafounders
related by a matrix Γ (Legarra, Christensen, Vitezica, Aguilar and Misztal
2015, Genetics 200:455), with the relationships A^Γ, their inverse and the
inbreeding relative to them; and the group proportions by which H⁻¹ with
groups ties the genotyped animals to their groups (Misztal, Vitezica,
Legarra, Aguilar and Swan 2013, J Anim Breed Genet 130:252)."""

from __future__ import annotations

import typing
from collections.abc import Iterable

import numpy as np
import pandas as pd
import scipy.linalg.lapack as lapack
import scipy.sparse as sp
from numpy.typing import ArrayLike, NDArray

from . import _native
from ._advice import PedigreeError, argument, refused
from ._arguments import switch
from ._matrices import as_array
from ._symmetric import mirror
from .candidates import relationship_block
from .layers import Layers
from .pedigree import Pedigree, ancestry, checked_pedigree

__all__ = [
    "Gamma",
    "check_sampling",
    "checked_gamma",
    "estimate_gamma",
    "group_proportions",
    "group_terms",
    "metafounder_inbreeding",
    "metafounder_inverse",
    "metafounder_relationships",
]

#: Γ as the user gives it: labelled by the groups' codes, or in their order.
Gamma = typing.Union[pd.DataFrame, ArrayLike]

# Elements of the dense block of columns of A^Γ computed at once (128 MiB).
_BLOCK_ELEMENTS = 1 << 24


def metafounder_inbreeding(pedigree: Pedigree, metafounders: Gamma) -> tuple[NDArray[np.float64], NDArray[np.float64]]:
    """F relative to the metafounders, and the Mendelian-sampling variances
    that go with it; see `tolmkit.inbreeding`.

    Parameters
    ----------
    pedigree : Pedigree
    metafounders : pandas.DataFrame or array_like
        Γ, checked as `checked_gamma` checks it.

    Returns
    -------
    f, sampling_var : numpy.ndarray of float64

    Examples
    --------
    >>> pedigree = Pedigree(["a", "b"], [-1, 0], [-1, -1], group_ids=["M"], sire_group=[0, -1], dam_group=[0, 0])
    >>> metafounder_inbreeding(pedigree, [[0.4]])[0].round(12).tolist()
    [0.2, 0.2]
    """
    return _coefficients(pedigree, checked_gamma(pedigree, metafounders))


def check_sampling(pedigree: Pedigree, sampling_var: NDArray[np.float64], matrix: str) -> None:
    """Refuses a matrix of relationships without inverse: an animal whose
    Mendelian-sampling variance is 0, its parents fully inbred.

    Parameters
    ----------
    pedigree : Pedigree
    sampling_var : numpy.ndarray of float64
        Of each animal, relative to the metafounders or not.
    matrix : str
        "A" or "A^Γ", the matrix that the message names.

    Raises
    ------
    PedigreeError
        Naming the first such animal.
    """
    singular = np.flatnonzero(sampling_var <= 0.0)
    if len(singular):
        relative = " relative to the metafounders" if matrix == "A^Γ" else ""
        raise PedigreeError(
            f"animal {pedigree.ids[singular[0]]!r} has no Mendelian sampling{relative} "
            "(its parents' inbreeding rounds to 1, as after selfing or many generations of full-sib matings): "
            f"{matrix} has no inverse"
        )


def metafounder_inverse(pedigree: Pedigree, metafounders: Gamma, *, kinship: bool = False) -> sp.csr_matrix:
    """The inverse of A^Γ, animals then metafounders, by Henderson's rules
    over the pedigree whose unknown parents of a group are its metafounder.

    With T⁻¹ = I − P (P a half for each parent, metafounders included),
    A^Γ = T D̃ Tᵀ, where D̃ holds the animals' Mendelian-sampling variances
    and Γ for the metafounders, so that (A^Γ)⁻¹ = (I − P)ᵀ D̃⁻¹ (I − P): each
    animal adds q qᵀ / b_i as in Quaas' rules, and the metafounders' block
    adds Γ⁻¹.

    Parameters
    ----------
    pedigree : Pedigree
    metafounders : pandas.DataFrame or array_like
    kinship : bool, default False
        The inverse of A^Γ / 2.

    Returns
    -------
    scipy.sparse.csr_matrix
        (n + g) × (n + g), exactly symmetric, sorted int32 indices.

    Examples
    --------
    >>> pedigree = Pedigree(["a"], [-1], [-1], group_ids=["M"], sire_group=[0], dam_group=[0])
    >>> metafounder_inverse(pedigree, [[0.5]]).toarray().round(4)
    array([[ 1.3333, -1.3333],
           [-1.3333,  3.3333]])
    """
    kinship = switch(kinship, "kinship")
    gamma = checked_gamma(pedigree, metafounders)
    _, sampling_var = _coefficients(pedigree, gamma)
    check_sampling(pedigree, sampling_var, "A^Γ")
    n, g = len(pedigree), len(gamma)
    sire, dam = _parents(pedigree)
    has_sire, has_dam = sire >= 0, dam >= 0
    animals = np.arange(n)
    rows = np.concatenate([animals, animals[has_sire], animals[has_dam]])
    cols = np.concatenate([animals, sire[has_sire], dam[has_dam]])
    values = np.concatenate([np.ones(n), np.full(int(has_sire.sum()) + int(has_dam.sum()), -0.5)])
    # Coordinates add their duplicates: a selfed animal's two halves make −1.
    links = sp.csr_matrix((values, (rows, cols)), shape=(n, n + g))
    factor = 2.0 if kinship else 1.0
    weighted = links.T @ sp.diags(factor / sampling_var) @ links
    rows, cols = np.indices((g, g)).reshape(2, -1)
    corner = sp.csr_matrix(((factor * _inverse(gamma)).ravel(), (n + rows, n + cols)), shape=(n + g, n + g))
    lower = sp.tril(weighted + corner, format="csr")
    # The upper triangle is a copy of the lower one: symmetric to the bit.
    full = (lower + sp.tril(lower, -1).T).tocsr()
    full.sort_indices()
    return sp.csr_matrix((full.data, full.indices.astype(np.int32), full.indptr.astype(np.int32)), shape=(n + g, n + g))


def metafounder_relationships(
    pedigree: Pedigree, metafounders: Gamma, animals: NDArray[np.integer[typing.Any]] | None = None
) -> NDArray[np.float64]:
    """A^Γ among the animals numbered `animals` (all by default), from their
    ancestry alone: A^Γ X = T (D̃ (Tᵀ X)) for blocks of unit columns X, the
    metafounders' part of Tᵀ X mixed by Γ.

    Parameters
    ----------
    pedigree : Pedigree
    metafounders : pandas.DataFrame or array_like
    animals : numpy.ndarray of int, optional

    Returns
    -------
    numpy.ndarray of float64
        Dense, exactly symmetric.

    Examples
    --------
    >>> pedigree = Pedigree(["a", "b"], [-1, -1], [-1, -1], group_ids=["M"], sire_group=[0, 0], dam_group=[0, 0])
    >>> metafounder_relationships(pedigree, [[0.4]]).round(12).tolist()
    [[1.2, 0.4], [0.4, 1.2]]
    """
    gamma = checked_gamma(pedigree, metafounders)
    chosen = np.arange(len(pedigree)) if animals is None else np.asarray(animals, dtype=np.int64)
    if animals is not None:
        pedigree, renumber = ancestry(pedigree, chosen)
        chosen = renumber[chosen]
    _, sampling_var = _coefficients(pedigree, gamma)
    n, g = len(pedigree), len(gamma)
    layers = _layers(pedigree, g)
    scale = np.zeros(n + g + 1)
    scale[layers.rank[:n]] = sampling_var
    scale = scale[:, np.newaxis]
    founders = layers.rank[n:]
    matrix = np.empty((len(chosen), len(chosen)))
    width = max(1, _BLOCK_ELEMENTS // (n + g + 1))
    for start in range(0, len(chosen), width):
        columns = chosen[start : start + width]
        block = np.zeros((n + g + 1, len(columns)))
        block[layers.rank[columns], np.arange(len(columns))] = 1.0
        layers.up(block)
        mixed = gamma @ block[founders]
        block *= scale
        block[founders] = mixed
        layers.down(block)
        matrix[:, start : start + len(columns)] = block[layers.rank[chosen]]
    return mirror(matrix)


def estimate_gamma(pedigree: Pedigree, genotyped: Iterable[str], G: ArrayLike | pd.DataFrame) -> float:
    """γ of a single metafounder, by the method of moments: with every
    unknown parent from one metafounder, A^Γ = (1 − γ/2) A + γ 1 1ᵀ, and
    matching the mean of A^Γ among the genotyped animals to that of G gives
    γ = (mean G − mean A22) / (1 − mean A22 / 2).

    G must be computed with allele frequencies 0.5 (``allele_frequencies=0.5``
    in `genomic_relationship_matrix`), the scale of A^Γ. The estimate is
    biased (Garcia-Baccino, Legarra, Christensen, Misztal, Pocrnic, Vitezica
    and Cantet 2017, Genet Sel Evol 49:34), and it does not handle several
    metafounders: their Γ takes a fit of its own.

    Parameters
    ----------
    pedigree : Pedigree
        A22 comes from its relationships, every unknown parent counting as
        of the one metafounder.
    genotyped : iterable of str
        The identifiers of G's rows and columns.
    G : array_like or pandas.DataFrame
        G05 among `genotyped`, in their order (a DataFrame by its labels).

    Returns
    -------
    float

    Raises
    ------
    PedigreeError
        A genotyped animal not in the pedigree.
    ValueError
        A G of the wrong size, labels or values not finite.

    Examples
    --------
    >>> pedigree = Pedigree(["a", "b"], [-1, -1], [-1, -1])
    >>> round(estimate_gamma(pedigree, ["a", "b"], [[1.2, 0.4], [0.4, 1.2]]), 12)
    0.4
    """
    checked_pedigree(pedigree)
    ids = np.asarray([genotyped] if isinstance(genotyped, str) else list(genotyped), dtype=object)
    chosen = pedigree.numbers(ids)
    if isinstance(G, pd.DataFrame):
        if not (set(G.index) == set(G.columns) == set(ids)) or len(G) != len(ids):
            raise ValueError("G's rows and columns must be labelled with the identifiers of genotyped, each once")
        G = G.loc[ids, ids]
    g = np.asarray(G, dtype=np.float64)
    if g.shape != (len(ids), len(ids)):
        raise ValueError(f"G is of shape {g.shape}; {len(ids)} animals are genotyped")
    if not np.all(np.isfinite(g)):
        raise ValueError("G holds values that are not finite")
    pruned, renumber = ancestry(pedigree, chosen)
    mean_a22 = float(np.mean(relationship_block(pruned, renumber[chosen])))
    return (float(np.mean(g)) - mean_a22) / (1.0 - mean_a22 / 2.0)


def group_proportions(pedigree: Pedigree, animals: NDArray[np.integer[typing.Any]]) -> NDArray[np.float64]:
    """The share of each group of unknown parents in the genes of the animals
    numbered `animals` (the rows of Q): an animal's row is the mean of its
    parents', an unknown parent of a group giving that group's unit row and
    one of no group nothing.

    Parameters
    ----------
    pedigree : Pedigree
    animals : numpy.ndarray of int

    Returns
    -------
    numpy.ndarray of float64
        len(animals) × g, in the order of `pedigree.group_ids`.

    Examples
    --------
    >>> pedigree = Pedigree(["a", "b"], [-1, 0], [-1, -1], group_ids=["M", "N"], sire_group=[0, -1], dam_group=[0, 1])
    >>> group_proportions(pedigree, np.array([1])).tolist()
    [[0.5, 0.5]]
    """
    pruned, renumber = ancestry(pedigree, animals)
    layers = pruned.layers
    values = np.zeros((len(pruned) + 1, len(pruned.group_ids)))
    for group in (pruned.sire_group, pruned.dam_group):
        grouped = np.flatnonzero(group >= 0)
        np.add.at(values, (layers.rank[grouped], group[grouped]), 0.5)
    layers.down(values)
    proportions: NDArray[np.float64] = values[layers.rank[renumber[animals]]]
    return proportions


def group_terms(
    pedigree: Pedigree, positions: NDArray[np.integer[typing.Any]], block: NDArray[np.float64]
) -> sp.csr_matrix:
    """The terms of H⁻¹ that tie the genotyped animals' block M to the
    groups (Misztal et al. 2013): −M Q₂ and its transpose, and Q₂ᵀ M Q₂, Q₂
    the genotyped animals' group proportions.

    Parameters
    ----------
    pedigree : Pedigree
    positions : numpy.ndarray of int
        The numbers of the genotyped animals, in the order of `block`.
    block : numpy.ndarray of float64
        M = τ Gw⁻¹ − ω A22⁻¹, exactly symmetric.

    Returns
    -------
    scipy.sparse.csr_matrix
        (n + g) × (n + g), exactly symmetric.

    Examples
    --------
    >>> pedigree = Pedigree(["a"], [-1], [-1], group_ids=["M"], sire_group=[0], dam_group=[-1])
    >>> group_terms(pedigree, np.array([0]), np.array([[2.0]])).toarray().tolist()
    [[0.0, -1.0], [-1.0, 0.5]]
    """
    n, g = len(pedigree), len(pedigree.group_ids)
    q = group_proportions(pedigree, positions)
    across = block @ q
    corner = mirror(q.T @ across)
    animals, groups = np.repeat(positions, g), np.tile(n + np.arange(g), len(positions))
    inner = np.repeat(n + np.arange(g), g), np.tile(n + np.arange(g), g)
    return sp.csr_matrix(
        (
            np.concatenate([-across.ravel(), -across.ravel(), corner.ravel()]),
            (np.concatenate([animals, groups, inner[0]]), np.concatenate([groups, animals, inner[1]])),
        ),
        shape=(n + g, n + g),
    )


def checked_gamma(pedigree: Pedigree, metafounders: Gamma) -> NDArray[np.float64]:
    """Γ in the order of `pedigree.group_ids`, checked: a g × g matrix of
    finite numbers, exactly symmetric and positive definite.

    Parameters
    ----------
    pedigree : Pedigree
    metafounders : pandas.DataFrame or array_like
        Labelled by the groups' codes (rows and columns, in any order), or
        in the order of `pedigree.group_ids`; a number for a single group.

    Returns
    -------
    numpy.ndarray of float64

    Raises
    ------
    PedigreeError
        A pedigree without groups of unknown parents.
    TypeError
        Γ that is not a matrix of numbers.
    ValueError
        Γ of the wrong size or labels, not finite, not symmetric or not
        positive definite, naming the groups where that shows.

    Examples
    --------
    >>> pedigree = Pedigree(["a"], [-1], [-1], group_ids=["M"], sire_group=[0], dam_group=[0])
    >>> checked_gamma(pedigree, pd.DataFrame([[0.3]], index=["M"], columns=["M"]))
    array([[0.3]])
    """
    groups = pedigree.group_ids
    if len(groups) == 0:
        raise refused(
            "metafounders stand for the groups of unknown parents, and the pedigree has none: read their codes as "
            "groups with ",
            argument("groups"),
        )
    if isinstance(metafounders, pd.DataFrame):
        metafounders = _by_groups(metafounders, groups)
    if sp.issparse(metafounders):
        raise TypeError("metafounders given as a scipy sparse matrix; pass it .toarray()")
    # numpy would drop an imaginary part with a warning.
    if np.iscomplexobj(metafounders):
        raise TypeError(f"metafounders must be a matrix of real numbers, got {metafounders!r:.60}")
    given, mask = as_array(metafounders, "metafounders")
    # Text and objects would be read as numbers by the cast below; a mask dropped.
    if given.dtype.kind not in "iuf" or mask is not None:
        raise TypeError(f"metafounders must be a matrix of real numbers, unmasked, got {metafounders!r:.60}")
    gamma = given.astype(np.float64)
    g = len(groups)
    if gamma.shape == () and g == 1:
        gamma = gamma.reshape(1, 1)
    if gamma.shape != (g, g):
        raise ValueError(
            f"metafounders (Γ) is of shape {gamma.shape}; the pedigree has {g} group{'s' if g > 1 else ''} "
            f"({_listed(groups)}), whose order, that of Pedigree.group_ids, Γ's rows and columns follow"
        )
    for bad, rule in ((~np.isfinite(gamma), "finite"), (gamma != gamma.T, "exactly symmetric")):
        if np.any(bad):
            i, j = np.argwhere(bad)[0]
            raise ValueError(
                f"metafounders (Γ) is {float(gamma[i, j])!r} at groups {groups[i]!r}, {groups[j]!r} and "
                f"{float(gamma[j, i])!r} the other way: Γ must be {rule}"
            )
    _, info = lapack.dpotrf(gamma, lower=True)
    if info > 0:
        raise ValueError(
            f"metafounders (Γ) is not positive definite: its leading block stops being so at group {groups[info - 1]!r}"
        )
    return gamma


def _by_groups(frame: pd.DataFrame, groups: NDArray[np.object_]) -> pd.DataFrame:
    """Γ given with labels, its rows and columns in the order of `groups`."""
    order = []
    for axis, labels in (("row", frame.index), ("column", frame.columns)):
        if not labels.is_unique:
            raise ValueError(f"metafounders has two {axis}s labelled {labels[labels.duplicated()][0]!r}")
        strange = labels[~labels.isin(groups)]
        if len(strange):
            raise ValueError(f"metafounders' {axis} {strange[0]!r} is not a group of the pedigree ({_listed(groups)})")
        found: NDArray[np.intp] = labels.get_indexer(groups)  # type: ignore[no-untyped-call]
        if np.any(found < 0):
            raise ValueError(f"group {groups[int(np.argmax(found < 0))]!r} labels no {axis} of metafounders")
        order.append(found)
    aligned: pd.DataFrame = frame.iloc[order[0], order[1]]
    return aligned


def _listed(groups: NDArray[np.object_]) -> str:
    return ", ".join(map(repr, groups[:5])) + (", …" if len(groups) > 5 else "")


def _parents(pedigree: Pedigree) -> tuple[NDArray[np.int32], NDArray[np.int32]]:
    """Each animal's parents with the metafounders numbered after the
    animals: an unknown parent of a group is its metafounder."""
    n = len(pedigree)
    sire, dam = (
        np.where(group >= 0, n + group, parents).astype(np.int32)
        for parents, group in ((pedigree.sire, pedigree.sire_group), (pedigree.dam, pedigree.dam_group))
    )
    return sire, dam


def _coefficients(pedigree: Pedigree, gamma: NDArray[np.float64]) -> tuple[NDArray[np.float64], NDArray[np.float64]]:
    """F relative to the metafounders and the sampling variances, by the
    companion's pass over each animal's ancestors (Meuwissen and Luo 1992
    with Γ): an animal's sampling variance is 1 − A^Γ(s, s)/4 − A^Γ(d, d)/4
    over its parents, A^Γ(p, p) = γ_pp for a metafounder and 0 for an
    unknown parent of no group, as in A."""
    f, sampling_var, stopped = _native.metafounder_inbreeding(
        pedigree.sire, pedigree.dam, pedigree.sire_group, pedigree.dam_group, np.ascontiguousarray(gamma)
    )
    if stopped >= 0:
        raise PedigreeError(
            f"animal {pedigree.ids[stopped]!r} has no Mendelian sampling relative to the metafounders "
            f"(1 − A(sire, sire)/4 − A(dam, dam)/4 is {float(sampling_var[stopped])!r}): A^Γ is no matrix of "
            "relationships; look at the diagonal of Γ"
        )
    return f, sampling_var


def _layers(pedigree: Pedigree, g: int) -> Layers:
    """The layers of the pedigree with its metafounders numbered after the
    animals, in the first layer."""
    sire, dam = (np.concatenate([parents, np.full(g, -1, dtype=np.int32)]) for parents in _parents(pedigree))
    return Layers(sire, dam, np.concatenate([pedigree.generation + 1, np.zeros(g, dtype=np.int64)]))


def _inverse(gamma: NDArray[np.float64]) -> NDArray[np.float64]:
    """Γ⁻¹ by its Cholesky factor, symmetric to the bit; Γ is checked positive definite."""
    factor, _ = lapack.dpotrf(gamma, lower=True, clean=False)
    inverse, _ = lapack.dpotri(factor, lower=True)
    if not np.all(np.isfinite(inverse)):
        raise ValueError(
            "metafounders (Γ) is so near 0 that its inverse is beyond the floats; give Γ in the usual scale"
        )
    return mirror(inverse)
