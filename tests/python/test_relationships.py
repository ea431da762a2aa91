"""The companion's inbreeding, relationship and dominance matrices against the
module, the tabular method and published values."""

import io
import math
import tracemalloc

import numpy as np
import pytest
import scipy.sparse as sp

import TOLM
import tolmkit
from tolmkit import MemoryLimitExceeded, Pedigree, PedigreeError
from tolmkit.pedigree import ancestry

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


@pytest.mark.parametrize("lower", [False, True], ids=["full", "lower"])
@pytest.mark.parametrize("kind", KINDS)
def test_relationship_matrix_is_the_tabular_one(kind, lower):
    pedigree = random_herd(kind, seed=len(kind), n=120)
    expected = tabular(pedigree.sire, pedigree.dam, -1)
    a = tolmkit.relationship_matrix(pedigree, lower=lower)
    # Sums of powers of 1/2, exact unless deep, where the order of the sums shows in the last bits.
    assert np.abs(a.toarray() - (np.tril(expected) if lower else expected)).max() <= 1e-12
    assert np.array_equal(tolmkit.relationship_matrix(pedigree, kinship=True, lower=lower).toarray() * 2, a.toarray())
    # The form TOLM reads: int32, sorted, only related pairs, every diagonal stored.
    assert a.indptr.dtype == a.indices.dtype == np.int32 and a.has_sorted_indices
    rows = np.repeat(np.arange(len(pedigree)), np.diff(a.indptr))
    assert np.all(a.indices[rows == a.indices] == np.arange(len(pedigree))) and np.all(a.data != 0)
    assert np.array_equal(np.sort(a.indices + rows * len(pedigree)), a.indices + rows * len(pedigree))
    assert a.nnz == np.count_nonzero(np.tril(expected) if lower else expected)
    if not lower:
        assert (a != a.T).nnz == 0
    f, _ = tolmkit.inbreeding(pedigree)
    assert np.abs(a.diagonal() - 1.0 - f).max() <= 1e-12


def test_unrelated_families_and_deep_chains():
    # Many separate families, and a chain deep enough that values need many bits.
    families = [
        (f"{k}{x}", p, m)
        for k in range(300)
        for x, p, m in [("a", "0", "0"), ("b", "0", "0"), ("c", f"{k}a", f"{k}b"), ("d", f"{k}a", f"{k}c")]
    ]
    chain = [("z0", "0", "0"), ("z1", "0", "0")] + [(f"z{k}", f"z{k - 1}", f"z{k - 2}") for k in range(2, 80)]
    pedigree = Pedigree.from_records(families + chain, selfing=True)  # the chain is hermaphrodite
    a = tolmkit.relationship_matrix(pedigree)
    expected = tabular(pedigree.sire, pedigree.dam, -1)
    assert np.abs(a.toarray() - expected).max() <= 1e-12
    assert (a != a.T).nnz == 0


def test_memory_limit_bounds_the_peak():
    n = 3000
    pedigree = Pedigree.from_numbers(*tolmkit.simulate_pedigree(n, 6, seed=2), unknown=n)
    for lower in (True, False):
        nnz = tolmkit.relationship_matrix(pedigree, lower=lower).nnz
        need = 12 * nnz + 4 * (n + 1)
        with pytest.raises(MemoryLimitExceeded, match="pass a larger memory_limit"):
            tolmkit.relationship_matrix(pedigree, lower=lower, memory_limit=need - 1)
        tracemalloc.start()
        try:
            assert tolmkit.relationship_matrix(pedigree, lower=lower, memory_limit=need).nnz == nnz
            _, peak = tracemalloc.get_traced_memory()
        finally:
            tracemalloc.stop()
        assert need < peak <= need + 64 * n + 2**16  # the slack stated in the docstring
    a = tolmkit.relationship_matrix(pedigree, kinship=True, lower=True)
    kinship_bytes = 12 * a.nnz + 4 * (n + 1)  # and as much room for D while TOLM.cald runs
    with pytest.raises(MemoryLimitExceeded, match="the relationships and room for D take"):
        tolmkit.dominance_matrix(pedigree, memory_limit=2 * kinship_bytes - 1)
    tracemalloc.start()
    try:
        tolmkit.dominance_matrix(pedigree, memory_limit=3 * kinship_bytes)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert peak <= 3 * kinship_bytes + 64 * n + 2**16


@pytest.mark.parametrize("function", ["relationship_matrix", "dominance_matrix", "dominance_pairs"])
@pytest.mark.parametrize(
    "limit, error, message",
    [
        (math.nan, ValueError, "memory_limit must be a non-negative number of bytes, got nan"),
        (-1, ValueError, "memory_limit must be a non-negative number of bytes, got -1"),
        (None, TypeError, "memory_limit must be a number of bytes, got None"),
        ("2GB", TypeError, "memory_limit must be a number of bytes, got '2GB'"),
        (True, TypeError, "memory_limit must be a number of bytes, got True"),
    ],
)
def test_memory_limit_must_be_a_number_of_bytes(textbook, function, limit, error, message):
    pairs = (["5"], ["6"]) if function == "dominance_pairs" else ()
    with pytest.raises(error) as raised:
        getattr(tolmkit, function)(textbook, *pairs, memory_limit=limit)
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "call, name",
    [
        (lambda p: tolmkit.relationship_matrix(p, lower="no"), "lower"),
        (lambda p: tolmkit.dominance_matrix(p, lower="no"), "lower"),
        (lambda p: tolmkit.relationships_among(p, ["5"], kinship="no"), "kinship"),
        (lambda p: tolmkit.read_pedigree(io.StringIO("a,0,0\n"), selfing="no"), "selfing"),
        (lambda p: tolmkit.read_pedigree(io.StringIO("a,0,0\n"), header="no"), "header"),
        (lambda p: tolmkit.inverse_relationship_matrix(p, groups="no"), "groups"),
    ],
    ids=["relationship_matrix", "dominance_matrix", "relationships_among", "selfing", "header", "groups"],
)
def test_switches_are_bools(textbook, call, name):
    with pytest.raises(TypeError, match=f"{name} must be True or False, got 'no'"):
        call(textbook)


@pytest.mark.parametrize("lower", [False, True], ids=["full", "lower"])
@pytest.mark.parametrize("kind", ["full_sib_families", "parents_repeated_apart", "selfing", "mixed"])
def test_dominance_matrix_is_cald_on_the_kinship_matrix(kind, lower):
    pedigree = random_herd(kind, seed=17)
    d = tolmkit.dominance_matrix(pedigree, lower=lower)
    f, _ = tolmkit.inbreeding(pedigree)
    expected = dense_dominance(pedigree, tabular(pedigree.sire, pedigree.dam, -1) / 2) + np.diag(1.0 - f)
    assert np.array_equal(d.toarray(), np.tril(expected) if lower else expected)
    assert np.all(d.data != 0) and d.indices.dtype == np.int32 and d.has_sorted_indices
    if not lower:
        assert (d != d.T).nnz == 0


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
    assert tolmkit.dominance_pairs(pedigree, [], []).shape == (0,)


def test_pairs_of_a_large_pedigree_need_only_their_ancestry():
    sire, dam = tolmkit.simulate_pedigree(200_000, 10, seed=8)
    pedigree = Pedigree.from_numbers(sire, dam, unknown=200_000)
    first, second = ["199999", "150000", "120000"], ["199998", "100000", "199000"]
    d = tolmkit.dominance_pairs(pedigree, first, second, memory_limit=2**26)
    with pytest.raises(MemoryLimitExceeded):
        tolmkit.relationship_matrix(pedigree, kinship=True, memory_limit=2**26)
    kept, renumber = ancestry(pedigree, pedigree.numbers(first + second))
    assert len(kept) < 5000
    expected = tolmkit.dominance_pairs(
        kept,
        [kept.ids[renumber[k]] for k in pedigree.numbers(first)],
        [kept.ids[renumber[k]] for k in pedigree.numbers(second)],
        relationships=tolmkit.relationship_matrix(kept, kinship=True),
    )
    assert d.tobytes() == expected.tobytes()


def given_forms(kinship):
    """The kinship matrix as a caller may hold it; each gives the same D."""
    lower = sp.tril(kinship, format="csr")
    return {
        "full_csr": kinship,
        "lower_csr": lower,
        "upper_csr": sp.triu(kinship, format="csr"),
        "lower_coo_unsorted": sp.coo_matrix(
            (lower.tocoo().data[::-1], (lower.tocoo().row[::-1], lower.tocoo().col[::-1]))
        ),
        "full_csc_int64": sp.csc_matrix(kinship, dtype=np.float64).astype(np.float64),
        "full_csr_array": sp.csr_array(kinship),
        "dense": kinship.toarray(),
        "lower_dense_float32": np.tril(kinship.toarray()).astype(np.float32),
    }


@pytest.mark.parametrize("form", list(given_forms(sp.identity(1, format="csr"))))
def test_relationships_in_any_form_give_the_same_dominance(form):
    pedigree = random_herd("mixed", seed=9)
    kinship = tolmkit.relationship_matrix(pedigree, kinship=True)
    given = given_forms(kinship)[form]
    before = given.copy()
    d = tolmkit.dominance_matrix(pedigree)
    assert np.array_equal(tolmkit.dominance_matrix(pedigree, relationships=given).toarray(), d.toarray())
    rows, cols = np.nonzero(np.tri(len(pedigree), k=-1, dtype=bool))
    first, second = pedigree.ids[rows], pedigree.ids[cols]
    pairs = tolmkit.dominance_pairs(pedigree, first, second, relationships=given)
    assert np.array_equal(pairs, d.toarray()[rows, cols])
    assert np.array_equal(tolmkit.dominance_pairs(pedigree, first, second, relationships=given), pairs)
    assert (given != before).nnz == 0 if sp.issparse(given) else np.array_equal(given, before)


def test_dominance_on_the_additive_scale_is_four_times(textbook):
    a = tolmkit.relationship_matrix(textbook)
    assert np.array_equal(
        tolmkit.dominance_matrix(textbook, relationships=a).toarray(), 4 * tolmkit.dominance_matrix(textbook).toarray()
    )


def test_dominance_pairs_examine_a_matrix_once(monkeypatch):
    pedigree = random_herd("mixed", seed=3)
    kinship = tolmkit.relationship_matrix(pedigree, kinship=True)
    examined = []
    count_triangles = tolmkit._native.count_triangles
    monkeypatch.setattr(tolmkit._native, "count_triangles", lambda *a: examined.append(1) or count_triangles(*a))
    for _ in range(3):
        tolmkit.dominance_pairs(pedigree, ["id50"], ["id51"], relationships=kinship)
    assert len(examined) == 1
    kinship.data = kinship.data * 2  # new arrays: examined again
    tolmkit.dominance_pairs(pedigree, ["id50"], ["id51"], relationships=kinship)
    assert len(examined) == 2


def test_dominance_pairs_read_again_a_matrix_whose_coordinates_were_replaced():
    pedigree = random_herd("mixed", seed=3)
    given = tolmkit.relationship_matrix(pedigree, kinship=True).tocoo()
    pairs = ([f"id{k}" for k in range(20, 40)], [f"id{k}" for k in range(59, 39, -1)])
    tolmkit.dominance_pairs(pedigree, *pairs, relationships=given)
    # The same values at other places: P M Pᵀ for a permutation P of the animals.
    moved = np.random.default_rng(0).permutation(len(pedigree))
    given.row, given.col = moved[given.row], moved[given.col]
    expected = sp.coo_matrix((given.data, (given.row, given.col)), shape=given.shape)
    assert np.array_equal(
        tolmkit.dominance_pairs(pedigree, *pairs, relationships=given),
        tolmkit.dominance_pairs(pedigree, *pairs, relationships=expected),
    )


@pytest.mark.parametrize(
    "first, second, error, message",
    [
        (["5"], ["5"], PedigreeError, "pair 0 names animal '5' twice"),
        (["5", "9"], ["3", "4"], PedigreeError, "animal '9' is not in the pedigree"),
        (["5", "6"], ["3"], ValueError, "2 first and 1 second animals do not make pairs"),
    ],
    ids=["same_animal", "unknown_identifier", "unequal_lengths"],
)
def test_dominance_pairs_refuse_what_are_not_pairs(textbook, first, second, error, message):
    with pytest.raises(error, match=message):
        tolmkit.dominance_pairs(textbook, first, second)


def asymmetric(*elements):
    a = np.eye(6)
    for row, column, value in elements:
        a[row, column] = value
    return sp.csr_matrix(a)


@pytest.mark.parametrize(
    "relationships, error, message",
    [
        (sp.identity(3, format="csr"), ValueError, "the relationship matrix is 3 × 3; the pedigree has 6 animals"),
        (
            asymmetric((4, 2, 0.5), (2, 4, 0.25)),
            ValueError,
            r"not symmetric: element \(2, 4\) \(animals '3', '5'\) is 0.25, element \(4, 2\) is 0.5",
        ),
        (
            asymmetric((0, 5, 0.25), (5, 0, 0.25), (3, 1, 0.5)),
            ValueError,
            r"not symmetric: element \(3, 1\) \(animals '4', '2'\) is 0.5, element \(1, 3\) is 0.0",
        ),
        (np.eye(6).tolist(), TypeError, "relationships must be a scipy.sparse matrix or a 2-D numpy array, got list"),
        (np.eye(6, dtype=complex), TypeError, "relationships must be a 2-D array of real numbers, got 2-D complex128"),
        (
            sp.identity(6, dtype=complex, format="csr"),
            TypeError,
            "relationships must hold real numbers, not complex128",
        ),
    ],
    ids=["size", "asymmetric", "one_sided", "list", "complex_dense", "complex_sparse"],
)
def test_relationships_that_cannot_be_read_are_refused(textbook, relationships, error, message):
    for call in (
        lambda: tolmkit.dominance_matrix(textbook, relationships=relationships),
        lambda: tolmkit.dominance_pairs(textbook, ["5"], ["6"], relationships=relationships),
    ):
        with pytest.raises(error, match=message):
            call()


def test_results_match_the_module_called_directly():
    sire, dam = tolmkit.simulate_pedigree(2000, 8, sires_per_generation=20, seed=4)
    pedigree = Pedigree.from_numbers(sire, dam, unknown=2000)
    f_direct = np.zeros(2001)
    f_direct[2000] = -1.0
    var_direct = np.empty(2000)
    TOLM.fcoeff(sire, dam, f_direct, var_direct, np.array([2000], np.int32), np.array([1], np.int32))
    f, sampling_var = tolmkit.inbreeding(pedigree)
    assert f.tobytes() == f_direct[:2000].tobytes() and sampling_var.tobytes() == var_direct.tobytes()
