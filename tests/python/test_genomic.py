"""G, H and H-inverse against their dense formulas, dask's G against numpy's."""

import dataclasses
import io
import pickle
import subprocess
import sys
import warnings

import dask.array as da
import numpy as np
import pandas as pd
import pytest
import scipy.sparse as sp

import tolmkit
from tolmkit import MemoryLimitExceeded, Pedigree, PedigreeError
from tolmkit.cli import main

from pedigrees import KINDS, random_pedigree, relationship_matrix as tabular
from test_genotypes import write_plink


def herd(kind, seed, n=50):
    rng = np.random.default_rng(seed)
    sire, dam = random_pedigree(rng, n, code=-1, **KINDS[kind][0])
    return Pedigree([f"id{k}" for k in range(n)], np.array(sire), np.array(dam))


def random_genotypes(rng, animals, markers=300):
    genotypes = rng.integers(0, 3, size=(animals, markers)).astype(np.int8)
    genotypes[rng.random(genotypes.shape) < 0.05] = -1
    return genotypes


def vanraden(genotypes):
    """G marker by marker: a missing genotype at the mean, monomorphic markers left out."""
    columns, scale = [], 0.0
    for column in genotypes.T:
        called = column[column >= 0]
        p = called.mean() / 2 if len(called) else 0.0
        if 0 < p < 1:
            columns.append(np.where(column >= 0, column - 2 * p, 0.0))
            scale += 2 * p * (1 - p)
    z = np.array(columns).T
    return z @ z.T / scale


def assert_close(actual, expected):
    assert np.abs(actual - expected).max() <= 1e-10 * np.abs(expected).max()


def dense_tuned(x, a22, tune):
    """Chen et al.'s and Vitezica et al.'s tunings, from their formulas."""
    off = ~np.eye(len(x), dtype=bool)
    if tune == "mean":
        slope = (np.diag(a22).mean() - a22[off].mean()) / (np.diag(x).mean() - x[off].mean())
        return a22[off].mean() - slope * x[off].mean() + slope * x
    return x + (a22.mean() - x.mean()) if tune == "base" else x


def assert_comparison(c, x, a22):
    off = ~np.eye(len(x), dtype=bool)
    expected = [np.diag(x).mean(), np.diag(a22).mean(), x[off].mean(), a22[off].mean()]
    expected += [np.corrcoef(np.diag(x), np.diag(a22))[0, 1] if np.ptp(np.diag(a22)) else np.nan]
    expected += [np.corrcoef(x.ravel(), a22.ravel())[0, 1], np.corrcoef(x[off], a22[off])[0, 1]]
    expected += list(np.polyfit(a22.ravel(), x.ravel(), 1))
    actual = [getattr(c, field.name) for field in dataclasses.fields(c)[1:]]
    assert np.allclose(actual, expected, rtol=1e-10, atol=1e-13, equal_nan=True)


@pytest.mark.parametrize(
    "blend, tau, omega, tune, blend_with, order",
    [
        (0.05, 1.0, 1.0, None, "A22", "tune-then-blend"),
        (0.3, 1.4, 0.6, "mean", "A22", "tune-then-blend"),
        (0.2, 1.0, 1.0, "base", "identity", "tune-then-blend"),
        (0.1, 1.2, 0.8, "mean", "identity", "blend-then-tune"),
        (0.25, 1.0, 1.0, "base", "A22", "blend-then-tune"),
    ],
)
@pytest.mark.parametrize("kind", ["selfing", "mixed", "deep", "full_sib_families"])
def test_hybrid_matrices_are_the_dense_formulas(kind, blend, tau, omega, tune, blend_with, order):
    pedigree = herd(kind, seed=len(kind))
    rng = np.random.default_rng(3)
    chosen = rng.choice(len(pedigree), 15, replace=False)
    genotypes = random_genotypes(rng, 15)
    g = tolmkit.genomic_relationship_matrix(genotypes)
    assert_close(g, vanraden(genotypes))
    assert np.array_equal(g, g.T)
    a = tabular(pedigree.sire, pedigree.dam, -1)
    a22 = a[np.ix_(chosen, chosen)]
    other = a22 if blend_with == "A22" else np.eye(15)
    gw = (1 - blend) * dense_tuned(g, a22, tune) + blend * other
    if order == "blend-then-tune":
        gw = dense_tuned((1 - blend) * g + blend * other, a22, tune)
    expected = np.linalg.inv(a)
    expected[np.ix_(chosen, chosen)] += tau * np.linalg.inv(gw) - omega * np.linalg.inv(a22)
    options = {"blend": blend, "tune": tune, "blend_with": blend_with, "order": order}
    keep = tolmkit.genomic.KEPT
    result = tolmkit.hybrid_inverse(pedigree, pedigree.ids[chosen], g, tau=tau, omega=omega, keep=keep, **options)
    assert_close(result.matrix.toarray(), expected)
    block = tau * np.linalg.inv(gw) - omega * np.linalg.inv(a22)
    for name, matrix in zip(keep, [g, a22, np.linalg.inv(gw), block]):
        assert_close(result.kept[name], matrix)
    assert (result.matrix != result.matrix.T).nnz == 0 and list(result.ids) == list(pedigree.ids)
    assert_comparison(result.comparison, g, a22)
    assert_comparison(result.comparison_after, gw, a22)
    inverse22 = np.linalg.inv(a22)
    h = a + a[:, chosen] @ inverse22 @ (gw - a22) @ inverse22 @ a[chosen]
    dense = tolmkit.hybrid_relationship(pedigree, pedigree.ids[chosen], g, **options)
    assert_close(dense, h)
    assert np.array_equal(dense, dense.T)


def test_genotyped_animals_missing_from_the_pedigree_join_as_founders():
    pedigree = herd("mixed", seed=4, n=20)
    rng = np.random.default_rng(4)
    ids = ["new1", "id7", "new2", "id12"]
    g = tolmkit.genomic_relationship_matrix(random_genotypes(rng, 4), min_maf=0.01)
    with pytest.raises(PedigreeError, match="animal 'new1' is not in the pedigree: .* add_missing=True"):
        tolmkit.hybrid_inverse(pedigree, ids, g)
    added = tolmkit.hybrid_inverse(pedigree, ids, g, add_missing=True)
    assert list(added.ids) == list(pedigree.ids) + ["new1", "new2"]
    founders = Pedigree(added.ids, np.append(pedigree.sire, [-1, -1]), np.append(pedigree.dam, [-1, -1]))
    assert (added.matrix != tolmkit.hybrid_inverse(founders, ids, g).matrix).nnz == 0


@pytest.mark.parametrize(
    "options",
    [
        {},
        {"min_maf": 0.2, "min_call_rate": 0.9},
        {"allele_frequencies": np.linspace(0.1, 0.9, 300)},
        {"allele_frequencies": np.r_[0.0, 1.0, np.linspace(0.1, 0.9, 298)]},
        {"allele_frequencies": 0.5},
    ],
)
def test_dask_blocks_give_the_same_g_as_numpy(options):
    rng = np.random.default_rng(8)
    genotypes = random_genotypes(rng, 23)
    genotypes[:, :10] = np.where(rng.random((23, 10)) < 0.3, -1, genotypes[:, :10])  # poor call rates
    expected = tolmkit.genomic_relationship_matrix(genotypes, **options)
    lazy = tolmkit.genomic_relationship_matrix(da.from_array(genotypes, chunks=(7, 100)), **options)
    assert isinstance(lazy, da.Array) and lazy.chunks == ((7, 7, 7, 2),) * 2
    computed = lazy.compute()
    assert np.array_equal(computed, computed.T) and np.abs(computed - expected).max() <= 1e-12 * expected.max()
    # An empty chunk of animals is left out; chunks of unknown size are refused.
    gapped = tolmkit.genomic_relationship_matrix(da.from_array(genotypes, chunks=((7, 0, 16), (300,))), **options)
    assert np.abs(gapped.compute() - expected).max() <= 1e-12 * expected.max()
    chosen = da.from_array(genotypes, chunks=(7, 300))[da.from_array(np.arange(23) > 0, chunks=7)]
    with pytest.raises(ValueError, match=r"call its compute_chunk_sizes\(\) first"):
        tolmkit.genomic_relationship_matrix(chosen, **options)


def test_filters_and_given_frequencies_follow_the_formula():
    rng = np.random.default_rng(9)
    genotypes = random_genotypes(rng, 12, 40)
    genotypes[:, 0] = 2
    genotypes[:, 1] = -1
    genotypes[:5, 2] = -1
    with pytest.warns(UserWarning, match="^2 monomorphic markers"):
        assert_close(tolmkit.genomic_relationship_matrix(genotypes, min_maf=0.0), vanraden(genotypes))
    assert_close(
        tolmkit.genomic_relationship_matrix(genotypes, min_call_rate=0.6, min_maf=0.01), vanraden(genotypes[:, 3:])
    )
    # A marker whose minor allele frequency is the threshold (1 − 0.9 < 0.1 in
    # floats) is kept whichever allele is counted.
    edge = np.array([[2, 0, 1], [2, 1, 2], [2, 2, 0], [2, 1, 1], [1, 0, 2]], dtype=np.int8)
    for counted in (edge, 2 - edge):
        assert_close(tolmkit.genomic_relationship_matrix(counted, min_maf=0.1), vanraden(counted))
        assert tolmkit.genotype_quality(counted, min_maf=0.1, max_agreement=1.0).markers.tolist() == [0, 1, 2]
    p = np.full(40, 0.3)
    z = np.where(genotypes >= 0, genotypes - 0.6, 0.0)
    with pytest.warns(UserWarning, match="^1 monomorphic"):  # the marker without a genotype
        assert_close(
            tolmkit.genomic_relationship_matrix(genotypes, allele_frequencies=p, min_maf=0.0), z @ z.T / (39 * 0.42)
        )


def test_importing_tolmkit_leaves_dask_alone():
    code = "import sys, tolmkit; sys.exit('dask' in sys.modules or 'bed_reader' in sys.modules)"
    assert subprocess.run([sys.executable, "-c", code]).returncode == 0


# Markers: the first segregates, the second is all 0, the third all 2 (the
# last animal missing). G[0, 0] worked by hand from Z = genotype − 2p.
FIXED = np.array([[2, 0, 2], [0, 0, 2], [1, 0, -1]], dtype=np.int8)


@pytest.mark.parametrize(
    "p, kept, g00, dropped",
    [
        ([0.0, 0.5, 0.5], [0, 1, 2], (2**2 + 1 + 1) / 1.0, 0),
        ([1.0, 0.0, 0.25], [0, 2], (0 + 1.5**2) / 0.375, 1),
        ([0.5, 0.0, 1.0], [0], 1 / 0.5, 2),
    ],
    ids=["p0_where_it_segregates", "p1_where_it_segregates", "fixed_where_p_says_so"],
)
def test_given_frequencies_of_0_or_1_keep_the_markers_that_segregate(p, kept, g00, dropped):
    p = np.array(p)
    z = np.where(FIXED >= 0, FIXED - 2 * p, 0.0)[:, kept]
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        g = tolmkit.genomic_relationship_matrix(FIXED, allele_frequencies=p, min_maf=0.0)
        lazy = tolmkit.genomic_relationship_matrix(
            da.from_array(FIXED, chunks=(2, 3)), allele_frequencies=p, min_maf=0.0
        )
    assert [str(w.message).split()[0] for w in caught] == ([str(dropped)] * 2 if dropped else [])
    assert g[0, 0] == g00 and np.array_equal(g, z @ z.T / (2 * np.sum(p[kept] * (1 - p[kept]))))
    assert np.array_equal(lazy.compute(), g)


GOOD = np.array([[0, 1, 2, 1], [2, 1, 0, 0], [1, 2, 1, -1]], dtype=np.int8)


@pytest.mark.parametrize(
    "genotypes, options, error, message",
    [
        (np.where(GOOD == 1, 3, GOOD), {}, ValueError, r"genotypes\[2, 0\] is 3: a genotype is 0, 1 or 2"),
        (np.where(GOOD == -1, -2, GOOD), {}, ValueError, r"genotypes\[2, 3\] is -2"),
        (GOOD.astype(float), {}, TypeError, "2-D array of integers"),
        (GOOD, {"allele_frequencies": "0.5"}, TypeError, "allele_frequencies must be numbers, one per marker"),
        (GOOD, {"allele_frequencies": True}, TypeError, "allele_frequencies must be numbers, one per marker"),
        (GOOD[0], {}, TypeError, "2-D array of integers"),
        (GOOD[:0], {}, ValueError, "no animal"),
        (np.where(np.arange(3)[:, None] == 1, -1, GOOD), {}, ValueError, "animal 1 .* has no genotype"),
        (GOOD, {"allele_frequencies": [0.5] * 3}, ValueError, "holds 3 values for 4 markers"),
        (GOOD, {"allele_frequencies": [0.5, 0.5, 1.5, 0.5]}, ValueError, r"allele_frequencies\[2\] is 1.5"),
        (GOOD, {"min_maf": 0.6}, ValueError, "min_maf must be a number from 0 to 0.5, got 0.6"),
        (GOOD, {"min_call_rate": True}, ValueError, "min_call_rate must be a number"),
        (GOOD[:, [1, 3]], {"min_maf": 0.4}, ValueError, "no marker of 2 is left"),
        (GOOD[:, :0], {}, ValueError, "genotypes hold no marker"),
        (np.ones((3, 4), np.int8), {}, ValueError, "G is zero: no marker varies around the allele frequencies"),
        (GOOD, {"allele_frequencies": 5e-324, "min_maf": 0}, ValueError, "G is not finite: allele frequencies out"),
        (
            GOOD[:, [0]] * 0,
            {"min_maf": 0},
            ValueError,
            "no marker of 1 is left: each is monomorphic or has no genotype",
        ),
        (GOOD, {"allele_frequencies": ["a"] * 4}, TypeError, "allele_frequencies must be numbers"),
        (GOOD, {"allele_frequencies": [[0.5] * 4]}, ValueError, r"one number per marker, got shape \(1, 4\)"),
        (
            FIXED,
            {"allele_frequencies": [0.0, 0.0, 1.0], "min_maf": 0.0},
            ValueError,
            r"allele_frequencies are 0 or 1 at each of the 1 markers kept, so that 2 Σ p \(1 − p\) is 0",
        ),
        (
            np.where(np.arange(3)[:, None] == 1, -1, GOOD),
            {"ids": ["a", "b", "c"]},
            ValueError,
            "animal 'b' has no genotype at the 4 markers kept",
        ),
        (GOOD, {"ids": ["a"]}, ValueError, r"ids holds 1 identifiers for 3 animals"),
    ],
)
def test_bad_genotypes_are_refused(genotypes, options, error, message):
    before = genotypes.copy()
    with pytest.raises(error, match=message):
        tolmkit.genomic_relationship_matrix(genotypes, **options)
    assert np.array_equal(genotypes, before)


@pytest.mark.parametrize(
    "genotypes, error, message",
    [
        (pd.DataFrame(GOOD, index=list("xyz")), None, None),
        (GOOD.tolist(), None, None),
        (np.ma.masked_array(GOOD.astype(np.int64)), None, None),
        (
            sp.csr_matrix(GOOD),
            TypeError,
            r"genotypes given as a scipy sparse matrix \(csr_matrix\); pass genotypes.toarray",
        ),
        (np.ma.masked_equal(GOOD, -1), ValueError, r"genotypes\[2, 3\] is masked; pass genotypes.filled\(-1\)"),
        ([[0, 1], [2]], TypeError, "genotypes cannot be read as a matrix"),
        ({"a": GOOD}, TypeError, "2-D array of integers .*, got dict"),
    ],
    ids=["frame", "lists", "mask_of_nothing", "sparse", "masked", "ragged", "dict"],
)
def test_genotypes_in_other_forms_are_read_or_refused(genotypes, error, message):
    before = pickle.dumps(genotypes)
    if error is None:
        assert np.array_equal(tolmkit.genomic_relationship_matrix(genotypes), tolmkit.genomic_relationship_matrix(GOOD))
    else:
        with pytest.raises(error, match=message):
            tolmkit.genomic_relationship_matrix(genotypes)
    assert pickle.dumps(genotypes) == before


def test_an_animal_without_genotypes_fails_its_dask_block():
    lazy = tolmkit.genomic_relationship_matrix(
        da.from_array(np.where(np.arange(3)[:, None] == 2, -1, GOOD), chunks=(2, 4))
    )
    with pytest.raises(ValueError, match="animal 2 .* has no genotype"):
        lazy.compute()


SMALL = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b"), ("d", "a", "c")])
G2 = np.array([[1.0, 0.3], [0.3, 1.2]])


@pytest.mark.parametrize(
    "ids, g, options, error, message",
    [
        (["c", "c"], G2, {}, ValueError, r"animal 'c' is genotyped twice \(rows 0 and 1 of G\)"),
        (["c", "x"], G2, {}, PedigreeError, "animal 'x' is not in the pedigree"),
        (["c", "d", "a"], G2, {}, ValueError, "G is 2 × 2; 3 animals are genotyped"),
        (["c", "d"], G2.astype(str), {}, TypeError, "matrix of real numbers"),
        (["c", "d"], np.array([[1.0, 0.3], [0.3, np.nan]]), {}, ValueError, r"G\[1, 1\] \(animals 'd', 'd'\) is nan"),
        (["c", "d"], np.array([[1.0, 0.3], [0.2, 1.0]]), {}, ValueError, r"not symmetric: G\[0, 1\]"),
        (
            ["c", "d"],
            np.ones((2, 2)),
            {"blend": 0.0},
            ValueError,
            r"G after blending is not positive definite: .* at animal 'd' \(row 1\)",
        ),
        (["c", "d"], np.full((2, 2), 0.7), {"blend": 0.0}, ValueError, r"G after blending is singular: animal 'd'"),
        (["c", "d"], G2, {"blend": 1.5}, ValueError, "blend must be a number from 0 to 1, got 1.5"),
        (["c", "d"], G2, {"tau": float("inf")}, ValueError, "tau must be a finite number"),
        (["c", "d"], G2, {"tau": 1.7e308, "omega": -1.7e308}, ValueError, "τ Gw⁻¹ − ω A22⁻¹ of H⁻¹ is not finite"),
        (["c", "d"], G2, {"tau": 1.7e308, "form": "operator"}, ValueError, "τ Gw⁻¹ − ω A22⁻¹ of H⁻¹ is not finite"),
        (["c", "d"], G2, {"tune": "median"}, ValueError, "tune must be one of None, 'mean', 'base'; got 'median'"),
        (["c", "d"], np.full((2, 2), 1.0), {"tune": "mean"}, ValueError, "tune='mean' needs"),
        ([], np.zeros((0, 0)), {}, ValueError, r"no animal is genotyped \(genotyped is empty\)"),
        (
            ["c"],
            np.ones((1, 1)),
            {"tune": "mean"},
            ValueError,
            "tune='mean' matches .* needs two genotyped animals or more; 'c' is the only one: leave out tune='mean'",
        ),
        ([3, 4], G2, {}, TypeError, r"animal 3 is given as int, but the pedigree.s identifiers are text: pass .3."),
        ([3, 4], G2, {"add_missing": True}, TypeError, r"animal 3 is given as int"),
        (["C", "d"], G2, {"add_missing": True}, PedigreeError, "'C' is not in .* 'c' differs from it only in case"),
        (["x", "X"], G2, {"add_missing": True}, PedigreeError, "animals 'x' and 'X' are not in .* differ only in case"),
        (["0", "d"], G2, {"add_missing": True}, PedigreeError, "'0' reads like a code of an unknown parent"),
        (["\uff43", "d"], G2, {}, PedigreeError, r"'\\uff43' is not in .* 'c' differs from it only in Unicode"),
        (["007", "7.0"], G2, {"add_missing": True}, PedigreeError, "'007' and '7.0' .* differ in how a number"),
        (None, G2, {}, TypeError, "genotyped must be the identifiers of G's rows, got NoneType"),
        (
            ["c", "d"],
            np.ma.masked_array(G2, mask=[[0, 0], [0, 1]]),
            {},
            ValueError,
            r"G\[1, 1\] \(animals 'd', 'd'\) is masked",
        ),
    ],
)
def test_bad_hybrid_inputs_are_refused(ids, g, options, error, message):
    before = g.tobytes()
    with pytest.raises(error, match=message):
        tolmkit.hybrid_inverse(SMALL, ids, g, **options)
    assert g.tobytes() == before


GX = np.array([[1.0, 0.25], [0.25, 1.25]])  # exact in float32 too
FRAME = pd.DataFrame(GX, index=["c", "d"], columns=["c", "d"])


@pytest.mark.parametrize(
    "ids, g, error, message",
    [
        (["c", "d"], FRAME.loc[["d", "c"], ["c", "d"]], None, None),
        (["d", "c"], FRAME, None, None),
        (["c", "d"], FRAME.astype("Float64"), None, None),
        (np.array(["c", "d"]), GX.view(np.matrix), None, None),
        (pd.Index(["c", "d"]), GX.astype(np.float32), None, None),
        (("c", "d"), GX.tolist(), None, None),
        (["c", "d"], np.ma.masked_array(GX), None, None),
        (["c", "d"], sp.csr_matrix(GX), TypeError, r"G given as a scipy sparse matrix \(csr_matrix\); pass G.toarray"),
        (
            ["c", "d"],
            pd.DataFrame(GX),
            ValueError,
            r"animal 'c' is genotyped but labels no row of G \(labelled 0, 1\); .* or pass G.to_numpy\(\)",
        ),
        (["c", "d"], FRAME.set_axis(["c", "c"], axis=0), ValueError, "G has two rows labelled 'c'"),
        (["c", "d"], FRAME.set_axis(["c", "x"], axis=1), ValueError, "animal 'd' is genotyped but labels no column"),
        (["d"], FRAME, ValueError, "G's row 'c' is not a genotyped animal"),
        (["c", "d"], FRAME.astype("Float64").where(FRAME < 1), ValueError, r"G\[0, 0\] \(animals 'c', 'c'\) is nan"),
        (["c", "d"], FRAME.astype(str), TypeError, "matrix of real numbers, got 2-D object"),
        (["c", "d"], [[1.0, 0.25], [0.25]], TypeError, "G cannot be read as a matrix"),
        (["c", "d"], {"c": 1.0}, TypeError, "G must be a matrix of real numbers, got dict"),
    ],
    ids=[
        "frame_in_another_order",
        "frame_and_ids_in_another_order",
        "nullable_frame",
        "matrix",
        "float32",
        "lists",
        "mask_of_nothing",
        "sparse",
        "frame_without_labels",
        "frame_label_twice",
        "columns_not_rows",
        "frame_extra",
        "frame_missing_value",
        "frame_of_text",
        "ragged",
        "dict",
    ],
)
def test_g_in_other_forms_is_read_by_its_labels_or_refused(ids, g, error, message):
    def state():  # pandas caches what it has indexed, which its pickle keeps
        return pickle.dumps((g.to_dict(), list(g.dtypes)) if isinstance(g, pd.DataFrame) else g)

    before = state()
    for build in (lambda *a: tolmkit.hybrid_inverse(*a).matrix.toarray(), tolmkit.hybrid_relationship):
        if error is None:
            assert_close(build(SMALL, ids, g), build(SMALL, ["c", "d"], GX))
        else:
            with pytest.raises(error, match=message):
                build(SMALL, ids, g)
        assert state() == before


def test_groups_count_as_unknown_parents():
    text = "a,G1,G2\nb,G1,0\nc,a,b\nd,a,c\n"
    grouped = tolmkit.read_pedigree(io.StringIO(text), groups=["G*"], header=False)
    unknown = tolmkit.read_pedigree(io.StringIO(text), unknown=["0", "G1", "G2"], header=False)
    assert len(grouped.group_ids) == 2
    results = [tolmkit.hybrid_inverse(pedigree, ["c", "d"], G2) for pedigree in (grouped, unknown)]
    assert (results[0].matrix != results[1].matrix).nnz == 0 and list(results[0].ids) == list("abcd")
    with pytest.raises(PedigreeError, match="genotyped animal 'G1' is a group of unknown parents of the pedigree"):
        tolmkit.hybrid_inverse(grouped, ["G1", "d"], G2, add_missing=True, groups=True)


def test_hybrid_relationship_keeps_to_the_memory_limit():
    with pytest.raises(MemoryLimitExceeded, match="H of 4 animals and A would take"):
        tolmkit.hybrid_relationship(SMALL, ["c", "d"], G2, memory_limit=300)


def test_hinv_adds_no_genotyped_animal_that_fits_the_groups(tmp_path, capsys):
    (tmp_path / "herd.csv").write_text("animal,sire,dam\ns1,UPG1,UPG2\na1,s1,UPG2\n")
    for name in ("UPG9", "upg1"):
        (tmp_path / "chip.txt").write_text(f"s1 0120120120\na1 1201201201\n{name} 0122101210\n")
        args = ["hinv", str(tmp_path / "herd.csv"), "--groups", "UPG*", "--genotypes", str(tmp_path / "chip.txt")]
        assert main([*args, "-o", str(tmp_path / "h"), "--add-missing", "--no-quality"]) == 1
        assert f"genotyped animal '{name}' fits the groups of unknown parents" in capsys.readouterr().err


def test_hinv_writes_h_inverse_as_ainv_writes_a_inverse(tmp_path, capsys):
    herd_path, chip, out = tmp_path / "herd.csv", tmp_path / "chip", tmp_path / "hinv.txt"
    herd_path.write_text("animal,sire,dam\na,0,0\nb,0,0\nc,a,b\nd,a,c\n")
    genotypes = np.array([[0, 1, 2, 1, 0, 2], [2, 1, 0, 0, 1, 1], [1, 2, 1, 0, 2, 0]], dtype=np.int8)
    write_plink(chip, genotypes, ["d", "a", "e"])
    args = ["hinv", str(herd_path), "--genotypes", str(chip), "-o", str(out), "--blend", "0.1", "--add-missing"]
    args += ["--no-quality"]
    assert main(args) == 0
    result = tolmkit.hybrid_inverse(
        SMALL, ["d", "a", "e"], tolmkit.genomic_relationship_matrix(genotypes), blend=0.1, add_missing=True
    )
    triplets = np.loadtxt(out)
    written = np.zeros((5, 5))
    written[triplets[:, 0].astype(int) - 1, triplets[:, 1].astype(int) - 1] = triplets[:, 2]
    assert np.array_equal(written, np.tril(result.matrix.toarray()))
    assert (tmp_path / "hinv.txt.ids").read_text().split() == ["1", "a", "2", "b", "3", "c", "4", "d", "5", "e"]
    assert "G against A22 (3 genotyped animals)" in capsys.readouterr().err
    assert main(args[:2] + ["--genotypes", str(herd_path), "-o", str(out)]) == 1
    assert "herd.csv: line 1: an identifier, then a genotype per marker, expected" in capsys.readouterr().err
