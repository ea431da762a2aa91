"""A-inverse, relationships of pairs and of candidate sets, and pruning,
against the tabular method."""

from fractions import Fraction as Fr

import numpy as np
import pytest
import scipy.linalg
import scipy.sparse as sp

import tolmkit.candidates as candidates
from tolmkit import (
    Pedigree,
    PedigreeError,
    inbreeding,
    inverse_relationship_matrix,
    prune,
    relationship_pairs,
    relationships_among,
)

from pedigrees import KINDS, grouped_pedigree, quaas, random_pedigree, relationship_matrix

# 3 = 1 x 2, 4 = 1 x unknown, 5 = 4 x 3, 6 = 5 x 2; A-inverse worked by hand.
TEXTBOOK = Pedigree.from_records(
    [("1", "0", "0"), ("2", "0", "0"), ("3", "1", "2"), ("4", "1", "0"), ("5", "4", "3"), ("6", "5", "2")]
)
TEXTBOOK_INVERSE = [
    [Fr(11, 6), Fr(1, 2), -1, Fr(-2, 3), 0, 0],
    [Fr(1, 2), Fr(61, 30), -1, 0, Fr(8, 15), Fr(-16, 15)],
    [-1, -1, Fr(5, 2), Fr(1, 2), -1, 0],
    [Fr(-2, 3), 0, Fr(1, 2), Fr(11, 6), -1, 0],
    [0, Fr(8, 15), -1, -1, Fr(38, 15), Fr(-16, 15)],
    [0, Fr(-16, 15), 0, 0, Fr(-16, 15), Fr(32, 15)],
]


def names(numbers):
    return [str(k) for k in numbers]


def test_textbook_inverse():
    inverse = inverse_relationship_matrix(TEXTBOOK)
    expected = np.array(TEXTBOOK_INVERSE, dtype=float)
    np.testing.assert_allclose(inverse.toarray(), expected, rtol=1e-15, atol=0)
    assert np.array_equal(inverse.toarray() != 0, expected != 0)
    assert inverse.indices.dtype == inverse.indptr.dtype == np.int32 and inverse.has_sorted_indices
    assert np.array_equal(inverse_relationship_matrix(TEXTBOOK, kinship=True).toarray(), 2 * inverse.toarray())


@pytest.mark.parametrize("kind", KINDS)
def test_against_the_tabular_method(kind, monkeypatch):
    rng = np.random.default_rng(sorted(KINDS).index(kind))
    keywords, n = KINDS[kind]
    sire, dam = random_pedigree(rng, n, code=-1, **keywords)
    pedigree = Pedigree(names(range(n)), sire, dam)
    a = relationship_matrix(sire, dam, -1)

    inverse = inverse_relationship_matrix(pedigree)
    assert (inverse != inverse.T).nnz == 0
    # Deep inbred pedigrees make A ill-conditioned: beyond 1e-12, the
    # residual is bounded relative to the norms.
    scale = abs(inverse).sum(axis=1).max() * np.abs(a).sum(axis=1).max()
    assert np.abs(inverse @ a - np.eye(n)).max() <= max(1e-12, 1e-16 * scale)

    chosen = rng.choice(n, size=min(n, 25), replace=False)
    among = relationships_among(pedigree, names(chosen))
    np.testing.assert_allclose(among, a[np.ix_(chosen, chosen)], rtol=0, atol=1e-12)
    assert np.array_equal(among, among.T)
    np.testing.assert_allclose(np.diag(among), 1 + inbreeding(pedigree)[0][chosen], rtol=0, atol=1e-12)
    assert np.array_equal(relationships_among(pedigree, names(chosen), kinship=True), among / 2)

    first, second = rng.integers(0, n, 40), rng.integers(0, n, 40)
    second[:5] = first[:5]
    # Both ways to pairs: by the animals' ancestors, and by columns of A.
    for cost in (0, np.inf):
        monkeypatch.setattr(candidates, "_ANCESTOR_COST", cost)
        pairs = relationship_pairs(pedigree, names(first), names(second))
        np.testing.assert_allclose(pairs, a[first, second], rtol=0, atol=1e-12)
    assert np.array_equal(relationship_pairs(pedigree, names(first), names(second), kinship=True), pairs / 2)


@pytest.mark.parametrize("kind", KINDS)
def test_ancestor_contributions_are_rows_of_the_inverse_of_i_minus_p(kind):
    rng = np.random.default_rng(sorted(KINDS).index(kind))
    keywords, n = KINDS[kind]
    sire, dam = random_pedigree(rng, n, code=-1, **keywords)
    p = np.zeros((n, n))
    for animal, parents in enumerate(zip(sire, dam)):
        for parent in parents:
            if parent >= 0:
                p[animal, parent] += 0.5
    t = scipy.linalg.solve_triangular(np.eye(n) - p, np.eye(n), lower=True)
    animals = rng.permutation(n)[:30]
    rows = Pedigree(names(range(n)), sire, dam).layers.contributions(animals)
    np.testing.assert_allclose(rows.toarray(), t[animals], rtol=1e-12, atol=0)
    # Canonical: the same stored elements as the nonzeros of T, in order.
    expected = sp.csr_matrix(t[animals])
    assert np.array_equal(rows.indices, expected.indices) and np.array_equal(rows.indptr, expected.indptr)


# 0, 1 founders; 2 = 0 x 1; 3 = 2 x 2 (selfed); 4 = 3 x unknown; 5 founder.
SMALL = Pedigree(names(range(6)), [-1, -1, 0, 2, 3, -1], [-1, -1, 1, 2, -1, -1])


@pytest.mark.parametrize(
    "ids, generations, kept, sire, dam",
    [
        (["4"], None, ["0", "1", "2", "3", "4"], [-1, -1, 0, 2, 3], [-1, -1, 1, 2, -1]),
        (["4"], 1, ["3", "4"], [-1, 0], [-1, -1]),
        (["4", "5"], 2, ["2", "3", "4", "5"], [-1, 0, 1, -1], [-1, 0, -1, -1]),
        (["4"], 0, ["4"], [-1], [-1]),
        (["1", "1"], None, ["1"], [-1], [-1]),
        ([], None, [], [], []),
    ],
)
def test_prune(ids, generations, kept, sire, dam):
    pruned = prune(SMALL, ids, generations=generations)
    assert (pruned.ids.tolist(), pruned.sire.tolist(), pruned.dam.tolist()) == (kept, sire, dam)


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: relationships_among(SMALL, ["2", "x"]), PedigreeError, "animal 'x' is not in the pedigree"),
        (lambda: relationship_pairs(SMALL, ["2"], ["y"]), PedigreeError, "animal 'y' is not in the pedigree"),
        (lambda: relationship_pairs(SMALL, ["2", "3"], ["1"]), ValueError, "2 first and 1 second animals"),
        (lambda: prune(SMALL, ["z"]), PedigreeError, "animal 'z' is not in the pedigree"),
        (lambda: prune(SMALL, ["2"], generations=-1), ValueError, "non-negative integer"),
        (
            lambda: inverse_relationship_matrix(Pedigree(names(range(60)), np.arange(-1, 59), np.arange(-1, 59))),
            PedigreeError,
            "animal '5[0-9]' has no Mendelian sampling",
        ),
    ],
    ids=["among_unknown", "pairs_unknown", "pairs_unequal", "prune_unknown", "negative_generations", "singular"],
)
def test_refusals(call, error, message):
    before = SMALL.sire.copy(), SMALL.dam.copy()
    with pytest.raises(error, match=message):
        call()
    assert np.array_equal(SMALL.sire, before[0]) and np.array_equal(SMALL.dam, before[1])


def test_empty_lists_give_empty_results():
    assert relationships_among(SMALL, []).shape == (0, 0)
    assert relationship_pairs(SMALL, [], []).shape == (0,)
    assert inverse_relationship_matrix(Pedigree([], [], [])).shape == (0, 0)


# 2 = 0 x (dam of G1); 3 = (sire of G0) x (dam of G1); 4 = 2 x 3; 5 = 3 x (unknown, no group).
GROUPED = Pedigree(
    names(range(6)),
    [-1, -1, 0, -1, 2, 3],
    [-1, -1, -1, -1, 3, -1],
    group_ids=["G0", "G1"],
    sire_group=[0, -1, -1, 0, -1, -1],
    dam_group=[1, -1, 1, 1, -1, -1],
)


@pytest.mark.parametrize("seed", [None, 0, 1, 2])
def test_inverse_with_groups_of_unknown_parents(seed):
    pedigree = GROUPED
    if seed is not None:
        pedigree = grouped_pedigree(np.random.default_rng(seed), 50, 4)
    inverse = inverse_relationship_matrix(pedigree, groups=True)
    assert inverse.shape == (len(pedigree) + len(pedigree.group_ids),) * 2 and (inverse != inverse.T).nnz == 0
    np.testing.assert_allclose(inverse.toarray(), quaas(pedigree), rtol=1e-13, atol=1e-13)
    # Without groups=True, the groups are unknown parents like any other.
    plain = Pedigree(pedigree.ids, pedigree.sire, pedigree.dam)
    assert (inverse_relationship_matrix(pedigree) != inverse_relationship_matrix(plain)).nnz == 0
