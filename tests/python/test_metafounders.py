"""Metafounders and groups of unknown parents in A, A-inverse and H-inverse,
against dense constructions: A^Γ by the tabular method with the metafounders
as pseudo-founders, Quaas' rules, and each form's genotyped block."""

import io
import pickle
from functools import partial

import numpy as np
import pandas as pd
import pytest

import tolmkit
from tolmkit import Pedigree, PedigreeError
from tolmkit.cli import main

from pedigrees import grouped_pedigree, metafounder_matrix, quaas, relationship_matrix as tabular


def assert_close(actual, expected):
    assert np.abs(actual - expected).max() <= 1e-10 * np.abs(expected).max()


def random_gamma(rng, g):
    b = rng.random((g, g))
    return 0.6 * (b @ b.T) / g + 0.1 * np.eye(g)


def random_g(rng, m):
    z = rng.normal(size=(m, 2 * m))
    return z @ z.T / (2 * m)


CASES = [("mixed", 0), ("deep", 1), ("selfing", 2), ("full_sib_families", 3)]


@pytest.mark.parametrize("kind, seed", CASES)
def test_metafounder_matrices_are_the_dense_construction(kind, seed):
    rng = np.random.default_rng(seed)
    pedigree = grouped_pedigree(rng, 60, 3, kind)
    gamma = random_gamma(rng, 3)
    dense = metafounder_matrix(pedigree, gamma)
    n = len(pedigree)
    inverse = tolmkit.inverse_relationship_matrix(pedigree, metafounders=gamma)
    assert (inverse != inverse.T).nnz == 0
    assert_close(inverse.toarray(), np.linalg.inv(dense))
    assert_close(tolmkit.inverse_relationship_matrix(pedigree, metafounders=gamma, kinship=True).toarray(), 2 * inverse)
    a = tolmkit.relationship_matrix(pedigree, metafounders=gamma)
    assert_close(a.toarray(), dense[:n, :n])
    assert_close(
        tolmkit.relationship_matrix(pedigree, metafounders=gamma, lower=True).toarray(), np.tril(dense[:n, :n])
    )
    chosen = rng.choice(n, 12, replace=False)
    among = tolmkit.relationships_among(pedigree, pedigree.ids[chosen], metafounders=gamma)
    assert_close(among, dense[np.ix_(chosen, chosen)])
    assert np.array_equal(among, among.T)
    f, sampling_var = tolmkit.inbreeding(pedigree, metafounders=gamma)
    assert_close(f, np.diag(dense)[:n] - 1)
    # A base animal of metafounders p and q: F = γ_pq / 2.
    base = (pedigree.sire_group >= 0) & (pedigree.dam_group >= 0)
    assert np.allclose(f[base], gamma[pedigree.sire_group[base], pedigree.dam_group[base]] / 2, rtol=1e-14)
    # Γ by its labels, in any order, is Γ in the order of the groups.
    order = [2, 0, 1]
    labelled = pd.DataFrame(
        gamma[np.ix_(order, order)], index=pedigree.group_ids[order], columns=pedigree.group_ids[order]
    )
    assert (tolmkit.inverse_relationship_matrix(pedigree, metafounders=labelled) != inverse).nnz == 0


@pytest.mark.parametrize("form", [True, "full", "metafounders"])
@pytest.mark.parametrize("kind, seed", CASES[:3])
def test_hybrid_inverse_with_groups_is_each_forms_formula(kind, seed, form):
    rng = np.random.default_rng(seed)
    pedigree = grouped_pedigree(rng, 50, 3, kind)
    n, g = len(pedigree), 3
    chosen = np.sort(rng.choice(n, 14, replace=False))
    G, gamma = random_g(rng, 14), random_gamma(rng, g)
    blend, tau, omega = 0.1, 1.3, 0.7
    if form == "metafounders":
        whole = metafounder_matrix(pedigree, gamma)
        a_inverse, a22 = np.linalg.inv(whole), whole[np.ix_(chosen, chosen)]
        options = dict(metafounders=gamma)
    else:
        a_inverse, a22 = quaas(pedigree), tabular(pedigree.sire, pedigree.dam, -1)[np.ix_(chosen, chosen)]
        options = dict(groups=form)
    m = tau * np.linalg.inv((1 - blend) * G + blend * a22) - omega * np.linalg.inv(a22)
    expected = a_inverse
    expected[np.ix_(chosen, chosen)] += m
    if form == "full":
        # Q: A^Γ between the animals and unrelated metafounders of Γ = I.
        q2 = metafounder_matrix(pedigree, np.eye(g))[chosen, n:]
        expected[np.ix_(chosen, n + np.arange(g))] -= m @ q2
        expected[np.ix_(n + np.arange(g), chosen)] -= q2.T @ m
        expected[n:, n:] += q2.T @ m @ q2
    result = tolmkit.hybrid_inverse(pedigree, pedigree.ids[chosen], G, blend=blend, tau=tau, omega=omega, **options)
    assert_close(result.matrix.toarray(), expected)
    assert (result.matrix != result.matrix.T).nnz == 0
    assert list(result.ids) == list(pedigree.ids) + list(pedigree.group_ids)


def test_groups_stay_with_the_genotyped_animals_added():
    rng = np.random.default_rng(5)
    pedigree = grouped_pedigree(rng, 30, 2)
    ids = ["new", "id3", "id20"]
    result = tolmkit.hybrid_inverse(pedigree, ids, random_g(rng, 3), groups="full", add_missing=True)
    assert list(result.ids) == list(pedigree.ids) + ["new", "G0", "G1"] and result.matrix.shape == (33, 33)
    plain = Pedigree(pedigree.ids, pedigree.sire, pedigree.dam)
    # Without groups in the pedigree, groups=True changes nothing.
    assert (
        tolmkit.hybrid_inverse(plain, ids[1:], np.eye(2), groups=True).matrix
        != tolmkit.hybrid_inverse(plain, ids[1:], np.eye(2)).matrix
    ).nnz == 0


def test_gamma_of_one_metafounder_is_found_again():
    rng = np.random.default_rng(7)
    grouped = grouped_pedigree(rng, 80, 1, "full_sib_families")
    grouped = Pedigree(
        grouped.ids,
        grouped.sire,
        grouped.dam,
        group_ids=["M"],
        sire_group=np.where(grouped.sire < 0, 0, -1),
        dam_group=np.where(grouped.dam < 0, 0, -1),
    )
    plain = Pedigree(grouped.ids, grouped.sire, grouped.dam)
    chosen = grouped.ids[rng.choice(80, 20, replace=False)]
    # With every unknown parent of one metafounder, A^Γ = (1 − γ/2) A + γ 1 1ᵀ.
    g05 = tolmkit.relationships_among(grouped, chosen, metafounders=[[0.35]])
    a22 = tolmkit.relationships_among(plain, chosen)
    assert_close(g05, (1 - 0.35 / 2) * a22 + 0.35)
    assert tolmkit.estimate_gamma(plain, chosen, g05) == pytest.approx(0.35, rel=1e-12)
    frame = pd.DataFrame(g05, index=chosen, columns=chosen).iloc[::-1, ::-1]
    assert tolmkit.estimate_gamma(plain, chosen, frame) == pytest.approx(0.35, rel=1e-12)


def test_g05_centres_every_marker_on_one():
    genotypes = np.random.default_rng(2).integers(0, 3, size=(9, 40)).astype(np.int8)
    genotypes[:, 0] = 2  # monomorphic, yet away from 0.5
    z = genotypes - 1.0
    g05 = tolmkit.genomic_relationship_matrix(genotypes, allele_frequencies=0.5)
    assert_close(g05, z @ z.T / 20)


PEDIGREE = Pedigree(
    ["a", "b", "c"], [-1, -1, 0], [-1, -1, 1], group_ids=["M", "N"], sire_group=[0, 1, -1], dam_group=[0, -1, -1]
)
GAMMA = np.array([[0.4, 0.1], [0.1, 0.3]])


INVERSE, F, A = tolmkit.inverse_relationship_matrix, tolmkit.inbreeding, tolmkit.relationship_matrix
AMONG = partial(tolmkit.relationships_among, ids=["c"])
HYBRID = partial(tolmkit.hybrid_inverse, genotyped=["c"], G=[[1.0]])
LABELLED = pd.DataFrame(GAMMA, index=["M", "X"], columns=["M", "N"])
REFUSALS = {
    "size": (INVERSE, GAMMA[:1, :1], {}, ValueError, r"of shape \(1, 1\); the pedigree has 2 groups \('M', 'N'\)"),
    "not_positive_definite": (F, [[0.4, 0.5], [0.5, 0.4]], {}, ValueError, "not positive definite: .* group 'N'"),
    "asymmetric": (A, [[0.4, 0.1], [0.2, 0.3]], {}, ValueError, "0.1 at groups 'M', 'N' and 0.2 the other way"),
    "not_finite": (AMONG, [[np.nan, 0], [0, 1]], {}, ValueError, "is nan at groups 'M', 'M' .* must be finite"),
    "labels": (INVERSE, LABELLED, {}, ValueError, r"row 'X' is not a group of the pedigree \('M', 'N'\)"),
    "not_numbers": (INVERSE, "gamma", {}, TypeError, "metafounders must be a matrix of real numbers"),
    "complex": (INVERSE, GAMMA + 0.5j, {}, TypeError, "metafounders must be a matrix of real numbers"),
    "text": (INVERSE, GAMMA.astype(str), {}, TypeError, "metafounders must be a matrix of real numbers"),
    "masked": (INVERSE, np.ma.masked_array(GAMMA, mask=np.eye(2)), {}, TypeError, "real numbers, unmasked"),
    "beyond_the_floats": (INVERSE, GAMMA * 1e-310, {}, ValueError, "so near 0 that its inverse is beyond"),
    "no_sampling": (F, [[2.5, 0], [0, 2.5]], {}, PedigreeError, "animal 'a' has no Mendelian sampling relative"),
    "tune": (HYBRID, GAMMA, {"tune": "mean"}, PedigreeError, "tune='mean' matches .* leave out tune"),
    "full": (HYBRID, GAMMA, {"groups": "full"}, PedigreeError, "groups='full' ties .* leave out groups"),
    "groups_form": (HYBRID, None, {"groups": "yes"}, ValueError, "groups must be False, True or 'full', got 'yes'"),
    "chunks": (AMONG, GAMMA, {"chunks": 2}, ValueError, "in memory: leave out chunks"),
}


@pytest.mark.parametrize("function, gamma, options, error, message", REFUSALS.values(), ids=REFUSALS)
def test_bad_metafounders_are_refused_naming_what_to_fix(function, gamma, options, error, message):
    before = pickle.dumps((PEDIGREE.sire, PEDIGREE.sire_group, GAMMA))
    with pytest.raises(error, match=message):
        function(PEDIGREE, metafounders=gamma, **options)
    assert pickle.dumps((PEDIGREE.sire, PEDIGREE.sire_group, GAMMA)) == before
    with pytest.raises(PedigreeError, match="the pedigree has none: read their codes as groups with groups"):
        function(Pedigree(["c"], [-1], [-1]), metafounders=[[0.4]])


def test_hinv_writes_the_groups_after_the_animals(tmp_path):
    herd, chip, out = tmp_path / "herd.csv", tmp_path / "chip.txt", tmp_path / "hinv.txt"
    herd.write_text("animal,sire,dam\na,G1,G2\nb,G1,0\nc,a,b\nd,a,c\n")
    chip.write_text("c 012120\nd 210011\na 120102\n")
    args = ["hinv", str(herd), "--genotypes", str(chip), "-o", str(out), "--no-quality", "--groups", "G*"]
    for extra, form in (([], True), (["--full-groups"], "full")):
        assert main(args + extra) == 0
        pedigree = tolmkit.read_pedigree(herd, groups=["G*"])
        ids, genotypes = tolmkit.read_genotypes(chip)
        expected = tolmkit.hybrid_inverse(pedigree, ids, tolmkit.genomic_relationship_matrix(genotypes), groups=form)
        triplets = np.loadtxt(out)
        written = np.zeros((6, 6))
        written[triplets[:, 0].astype(int) - 1, triplets[:, 1].astype(int) - 1] = triplets[:, 2]
        assert np.array_equal(written, np.tril(expected.matrix.toarray()))
        assert (tmp_path / "hinv.txt.ids").read_text().split()[1::2] == ["a", "b", "c", "d", "G1", "G2"]


def test_a_line_selfed_until_f_is_1_has_f_and_no_inverse():
    text = "p0,G,G\n" + "".join(f"p{k},p{k - 1},p{k - 1}\n" for k in range(1, 60))
    pedigree = tolmkit.read_pedigree(io.StringIO(text), groups=["G"], selfing=True, header=False)
    f, sampling_var = tolmkit.inbreeding(pedigree, metafounders=[[0.5]])
    assert f[-1] == 1.0 and sampling_var[-1] == 0.0
    with pytest.raises(PedigreeError, match=r"animal 'p5\d' has no Mendelian sampling .* selfing"):
        tolmkit.inverse_relationship_matrix(pedigree, metafounders=[[0.5]])


def test_genotypes_with_metafounders_make_g_from_frequencies_of_one_half():
    pedigree = tolmkit.read_pedigree(io.StringIO("a,M1,M1\nb,M1,M1\nc,a,b\nd,a,b\n"), groups=["M*"], header=False)
    genotypes = np.array([[0, 1, 2, 2, 1, 0, 1, 2], [2, 1, 0, 1, 1, 2, 0, 1], [1, 1, 1, 2, 0, 1, 1, 2]], np.int8)
    made = tolmkit.hybrid_inverse(pedigree, ["a", "c", "d"], genotypes=genotypes, metafounders=0.6)
    g = tolmkit.genomic_relationship_matrix(genotypes, allele_frequencies=0.5, min_maf=0.0)
    given = tolmkit.hybrid_inverse(pedigree, ["a", "c", "d"], g, metafounders=0.6)
    assert np.array_equal(made.matrix.toarray(), given.matrix.toarray())
