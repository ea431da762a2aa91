"""The companion's inbreeding, relationship and dominance matrices against the
module, the tabular method and published values."""

import io

import numpy as np
import pytest
import scipy.sparse as sp

import TOLM
import tolmkit
from tolmkit import MemoryLimitExceeded, Pedigree, PedigreeError

from pedigrees import KINDS, random_pedigree, relationship_matrix as tabular

TEXTBOOK = "animal sire dam\n3 1 2\n4 1 0\n5 4 3\n6 5 2\n"


@pytest.fixture
def textbook():
    return tolmkit.read_pedigree(io.StringIO(TEXTBOOK))


def random_herd(kind, seed, n=60):
    rng = np.random.default_rng(seed)
    sire, dam = random_pedigree(rng, n, code=-1, **KINDS[kind][0])
    return Pedigree([f"id{k}" for k in range(n)], np.array(sire), np.array(dam))


def dense_dominance(pedigree, f):
    """D(i, j) from the dense kinship matrix f, for every pair of animals with both parents known."""
    n = len(pedigree)
    d = np.zeros((n, n))
    s, m = pedigree.sire, pedigree.dam
    for i in range(n):
        for j in range(n):
            if i != j and min(s[i], m[i], s[j], m[j]) >= 0:
                d[i, j] = f[m[i], m[j]] * f[s[i], s[j]] + f[m[i], s[j]] * f[s[i], m[j]]
    return d


def test_textbook_pedigree(textbook):
    f, sampling_var = tolmkit.inbreeding(textbook)
    assert list(textbook.ids) == ["1", "2", "3", "4", "5", "6"]
    assert f.tolist() == [0, 0, 0, 0, 0.125, 0.125]
    assert sampling_var.tolist() == [1, 1, 0.5, 0.75, 0.5, 0.46875]


@pytest.mark.parametrize("kind", KINDS)
def test_relationship_matrix_is_the_tabular_one(kind):
    pedigree = random_herd(kind, seed=len(kind))
    a = tolmkit.relationship_matrix(pedigree)
    expected = tabular(pedigree.sire, pedigree.dam, -1)
    assert np.array_equal(a.toarray(), np.tril(expected))
    f, _ = tolmkit.inbreeding(pedigree)
    assert np.array_equal(a.diagonal() - 1.0, f)


def test_matrix_is_lower_csr_with_every_diagonal_and_only_related_pairs():
    pedigree = random_herd("one_unknown_parent", seed=3, n=120)
    a = tolmkit.relationship_matrix(pedigree)
    assert a.indptr.dtype == a.indices.dtype == np.int32
    assert a.has_sorted_indices
    rows = np.repeat(np.arange(len(pedigree)), np.diff(a.indptr))
    assert np.all(a.indices <= rows) and np.all(a.data != 0)
    assert np.all(a.indices[a.indptr[1:] - 1] == np.arange(len(pedigree)))  # the diagonal ends each row
    related = np.count_nonzero(np.tril(tabular(pedigree.sire, pedigree.dam, -1)))
    assert a.nnz == related


def test_kinship_is_half_the_relationships():
    pedigree = random_herd("mixed", seed=9)
    a = tolmkit.relationship_matrix(pedigree)
    k = tolmkit.relationship_matrix(pedigree, kinship=True)
    assert np.array_equal(k.toarray() * 2, a.toarray())


def test_memory_limit_is_enforced_before_the_result_passes_it():
    pedigree = Pedigree.from_numbers(*tolmkit.simulate_pedigree(3000, 6, seed=2), unknown=3000)
    a = tolmkit.relationship_matrix(pedigree)
    with pytest.raises(MemoryLimitExceeded, match="pass a larger memory_limit"):
        tolmkit.relationship_matrix(pedigree, memory_limit=a.nnz * 6)
    with pytest.raises(MemoryLimitExceeded, match="contributions"):
        tolmkit.relationship_matrix(pedigree, memory_limit=1000)
    assert tolmkit.relationship_matrix(pedigree, memory_limit=a.nnz * 12 * 4).nnz == a.nnz


@pytest.mark.parametrize("kind", ["full_sib_families", "parents_repeated_apart", "selfing", "mixed"])
def test_dominance_matrix_is_cald_on_the_kinship_matrix(kind):
    pedigree = random_herd(kind, seed=17)
    d = tolmkit.dominance_matrix(pedigree)
    f = tabular(pedigree.sire, pedigree.dam, -1) / 2
    expected = np.tril(dense_dominance(pedigree, f), k=-1)
    assert np.array_equal(d.toarray(), expected)
    assert np.all(d.data != 0)


def test_dominance_of_full_sibs_is_a_quarter():
    pedigree = tolmkit.read_pedigree(io.StringIO("a 0 0\nb 0 0\nx a b\ny a b\n"))
    assert tolmkit.dominance_pairs(pedigree, ["x"], ["y"]).tolist() == [0.25]
    assert tolmkit.dominance_matrix(pedigree).toarray()[3, 2] == 0.25


def test_dominance_pairs_by_identifier():
    pedigree = random_herd("mixed", seed=21)
    rng = np.random.default_rng(5)
    x, y = rng.integers(0, len(pedigree), (2, 200))
    keep = x != y
    first, second = pedigree.ids[x[keep]], pedigree.ids[y[keep]]
    d = tolmkit.dominance_pairs(pedigree, first, second)
    f = tabular(pedigree.sire, pedigree.dam, -1) / 2
    assert np.array_equal(d, dense_dominance(pedigree, f)[x[keep], y[keep]])
    assert np.array_equal(tolmkit.dominance_pairs(pedigree, second, first), d)


def test_pairs_of_a_large_pedigree_need_only_their_ancestry():
    sire, dam = tolmkit.simulate_pedigree(200_000, 10, seed=8)
    pedigree = Pedigree.from_numbers(sire, dam, unknown=200_000)
    first, second = ["199999", "150000", "120000"], ["199998", "100000", "199000"]
    d = tolmkit.dominance_pairs(pedigree, first, second, memory_limit=2**26)
    with pytest.raises(MemoryLimitExceeded):
        tolmkit.relationship_matrix(pedigree, kinship=True, memory_limit=2**26)
    ancestry, renumber = tolmkit.pedigree.ancestry(pedigree, pedigree.numbers(first + second))
    assert len(ancestry) < 5000
    kinship = tolmkit.relationship_matrix(ancestry, kinship=True)
    expected = tolmkit.dominance_pairs(ancestry, [ancestry.ids[renumber[k]] for k in pedigree.numbers(first)],
                                       [ancestry.ids[renumber[k]] for k in pedigree.numbers(second)],
                                       relationships=kinship)
    assert d.tobytes() == expected.tobytes()


def test_given_relationships_set_the_scale_and_may_be_symmetric(textbook):
    a = tolmkit.relationship_matrix(textbook)
    symmetric = a + sp.tril(a, k=-1).T
    by_kinship = tolmkit.dominance_matrix(textbook)
    assert np.array_equal(tolmkit.dominance_matrix(textbook, relationships=symmetric).toarray(),
                          4 * by_kinship.toarray())


@pytest.mark.parametrize("first, second, error, message", [
    (["5"], ["5"], PedigreeError, "pair 0 names animal '5' twice"),
    (["5", "9"], ["3", "4"], PedigreeError, "animal '9' is not in the pedigree"),
    (["5", "6"], ["3"], ValueError, "2 first and 1 second animals do not make pairs"),
], ids=["same_animal", "unknown_identifier", "unequal_lengths"])
def test_dominance_pairs_refuse_what_are_not_pairs(textbook, first, second, error, message):
    with pytest.raises(error, match=message):
        tolmkit.dominance_pairs(textbook, first, second)


def test_relationships_of_another_size_are_refused(textbook):
    with pytest.raises(ValueError, match="the relationship matrix is 3 × 3; the pedigree has 6 animals"):
        tolmkit.dominance_matrix(textbook, relationships=sp.identity(3, format="csr"))


def test_results_match_the_module_called_directly():
    sire, dam = tolmkit.simulate_pedigree(2000, 8, sires_per_generation=20, seed=4)
    pedigree = Pedigree.from_numbers(sire, dam, unknown=2000)
    f_direct = np.zeros(2001)
    f_direct[2000] = -1.0
    var_direct = np.empty(2000)
    TOLM.fcoeff(sire, dam, f_direct, var_direct, np.array([2000], np.int32), np.array([1], np.int32))
    f, sampling_var = tolmkit.inbreeding(pedigree)
    assert f.tobytes() == f_direct[:2000].tobytes() and sampling_var.tobytes() == var_direct.tobytes()
