"""How related a population is on average, how related each animal is to
it (the list a breeder sorts candidates by), and how evenly each animal's
genes come from the founders (the genetic conservation index)."""

from __future__ import annotations

from collections.abc import Iterable

import numpy as np
import pandas as pd

from . import _native
from .pedigree import Pedigree, checked_pedigree, reference_numbers
from .threads import resolve

__all__ = ["conservation_index", "mean_kinship"]


def mean_kinship(pedigree: Pedigree, reference: Iterable[str]) -> pd.Series[float]:
    """Each animal's mean kinship with the reference animals.

    mk = ½ A x, x the reference animals' indicator divided by their number,
    by Colleau's (2002) product with A = T D Tᵀ: one pass up the pedigree
    for Tᵀ x (each animal adds half of its offspring's values), a product
    by the Mendelian-sampling variances D, and one pass down for T (each
    animal adds half of its parents' values). Exact, and linear in the
    animals. The mean kinship of the reference population, x'·mk, is the
    mean of mk over the reference animals.

    Parameters
    ----------
    pedigree : Pedigree
    reference : iterable of str
        Identifiers of the reference animals.

    Returns
    -------
    pandas.Series of float
        Indexed by identifier, in the order of `pedigree.ids`.

    Raises
    ------
    PedigreeError
        An identifier that is not in the pedigree.
    ValueError
        No reference animal.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("c", "a", "b"), ("d", "a", "b")])
    >>> mean_kinship(pedigree, ["c", "d"]).tolist()
    [0.25, 0.25, 0.375, 0.375]
    """
    checked_pedigree(pedigree)
    animals = reference_numbers(pedigree, reference)
    layers = pedigree.layers
    values = np.zeros(len(pedigree) + 1)
    values[layers.rank[animals]] = 1.0 / len(animals)
    layers.up(values)
    values[:-1] *= pedigree.sampling_var[layers.order]
    layers.down(values)
    return pd.Series(0.5 * values[layers.rank], index=pd.Index(pedigree.ids, name="id"), name="mean_kinship")


def conservation_index(pedigree: Pedigree, *, threads: int | None = None) -> pd.Series[float]:
    """Every animal's genetic conservation index (Alderson 1992),
    GCI_i = 1 / Σ_f p_if², p_if the expected share of animal i's genes from
    founder f.

    A founder (both parents unknown) is a founder of its own; each unknown
    parent of an animal with one parent known (a half-founder) counts as a
    founder of its own too, so that a half-founder of founder stock has a
    GCI of 2. The sum is Σ_k T_ik² w_k over the animal and its ancestors,
    T_ik the sum over the paths to k of 1/2 per generation, w_k 1 for a
    founder and 1/4 for a half-founder (its unknown parent brings half of
    its genes), 0 for the others: the diagonal of T W Tᵀ, by Meuwissen and
    Luo's (1992) walk up each animal's ancestors, as for F, without a table
    of animals by founders.

    The walks need nothing of each other, so `threads` threads take them in
    turn; each sum is the same on any number of them.

    Parameters
    ----------
    pedigree : Pedigree
    threads : int, optional
        By default `tolmkit.get_threads()`.

    Returns
    -------
    pandas.Series of float
        Indexed by identifier, in the order of `pedigree.ids`.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("c", "a", "b"), ("e", "c", "d")])
    >>> conservation_index(pedigree).tolist()
    [1.0, 1.0, 1.0, 2.0, 2.6666666666666665]
    """
    checked_pedigree(pedigree)
    unknown = (pedigree.sire < 0).astype(np.int64) + (pedigree.dam < 0)
    weight = np.where(unknown == 2, 1.0, np.where(unknown == 1, 0.25, 0.0))
    squares = _native.squared_contributions(pedigree.sire, pedigree.dam, weight, resolve(threads))
    return pd.Series(1.0 / squares, index=pd.Index(pedigree.ids, name="id"), name="gci")
