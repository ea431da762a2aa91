"""The inverse of the additive relationship matrix, for mixed-model equations."""

from __future__ import annotations

import numpy as np
import scipy.sparse as sp

from . import _native
from ._arguments import switch
from .metafounders import Gamma, check_sampling, metafounder_inverse
from .pedigree import Pedigree, checked_pedigree

__all__ = ["inverse_relationship_matrix"]


def inverse_relationship_matrix(
    pedigree: Pedigree, *, kinship: bool = False, groups: bool = False, metafounders: Gamma | None = None
) -> sp.csr_matrix:
    """The inverse of the additive relationship matrix A, from the parents of
    each animal and the inbreeding of its parents, without forming A.

    Every animal i adds q qᵀ / b_i, where b_i is its Mendelian-sampling
    variance and q = e_i − ½ e_sire − ½ e_dam over its known parents (for a
    selfed animal, e_i − e_parent). The work and the memory grow with the
    number of animals alone.

    With `groups`, an unknown parent of a group counts in q as if the group
    were that parent (Quaas 1988): q = e_i − ½ e_sire − ½ e_dam over the
    known parents and the groups of the unknown ones, with b_i from the
    known parents as before. The groups take the rows and columns after the
    animals, in the order of `pedigree.group_ids`. A pedigree without groups
    gives A⁻¹ with `groups` as without.

    With `metafounders`, the groups are base populations related by Γ
    (Legarra et al. 2015): the inverse of A^Γ, animals then metafounders.
    Each animal adds q qᵀ / b_i as with groups, b_i from its parents'
    relationships to themselves relative to the metafounders (γ_pp for a
    metafounder p; 1 + F for an animal, F relative to the metafounders), and
    the metafounders' block adds Γ⁻¹. An unknown parent of no group counts
    as in A, unrelated to every other.

    Parameters
    ----------
    pedigree : Pedigree
    kinship : bool, default False
        Give the inverse of the kinship matrix A / 2, that is 2 A⁻¹.
    groups : bool, default False
        Add the groups of unknown parents; without it they are unknown
        parents like any other.
    metafounders : pandas.DataFrame or array_like, optional
        Γ, the g × g relationships among the groups' base populations: a
        DataFrame whose rows and columns are labelled with the groups' codes,
        or a matrix in the order of `pedigree.group_ids` (a number for a
        single group); finite, exactly symmetric and positive definite.
        `groups` is then implied.

    Returns
    -------
    scipy.sparse.csr_matrix
        n × n (n + g × n + g with `groups` or `metafounders`), in the pedigree's numbering, both
        triangles stored, exactly symmetric, columns ascending within each
        row, int32 indices.

    Raises
    ------
    PedigreeError
        An animal with no Mendelian sampling at all (a selfed offspring of a
        parent whose inbreeding has rounded to 1), which makes A singular; a
        pedigree without groups with `metafounders`.
    TypeError, ValueError
        `metafounders` that is not a matrix of real numbers, of the wrong
        size or labels, not finite, not symmetric or not positive definite
        (naming the groups where that shows).

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b")])
    >>> inverse_relationship_matrix(pedigree).toarray()
    array([[ 1.5,  0.5, -1. ],
           [ 0.5,  1.5, -1. ],
           [-1. , -1. ,  2. ]])
    """
    checked_pedigree(pedigree)
    kinship, groups = switch(kinship, "kinship"), switch(groups, "groups")
    if metafounders is not None:
        return metafounder_inverse(pedigree, metafounders, kinship=kinship)
    sampling_var = pedigree.sampling_var
    check_sampling(pedigree, sampling_var, "A")
    # The inverse of A / 2 is 2 A⁻¹: doubling every weight is exact.
    weight = (2.0 if kinship else 1.0) / sampling_var
    sire, dam, n = pedigree.sire, pedigree.dam, len(pedigree)
    if groups:
        size = n + len(pedigree.group_ids)
        sire, dam = (
            np.where(group >= 0, n + group, parents).astype(np.int32)
            for parents, group in ((sire, pedigree.sire_group), (dam, pedigree.dam_group))
        )
        n = size
    indptr, indices, data = _native.relationship_inverse(sire, dam, weight, n)
    if indptr[-1] <= np.iinfo(np.int32).max:
        indptr = indptr.astype(np.int32)
    return sp.csr_matrix((data, indices, indptr), shape=(n, n))
