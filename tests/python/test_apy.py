"""APY, the A22-inverse product and H-inverse as an operator against their
dense formulas; the core size against the eigenvalues of G."""

import numpy as np
import pytest
from test_genomic import SMALL, assert_close, herd, random_genotypes, vanraden

import tolmkit
from tolmkit import PedigreeError
from tolmkit.apy import Centring, apy_inverse
from tolmkit.cli import main
from tolmkit.genomic import kept_markers

from pedigrees import relationship_matrix as tabular
from test_genotypes import write_plink


def dense_apy(gw, core):
    """Misztal, Legarra and Aguilar (2014): the noncore animals independent given the core."""
    noncore = np.setdiff1d(np.arange(len(gw)), core)
    inverse_core = np.linalg.inv(gw[np.ix_(core, core)])
    across = gw[np.ix_(core, noncore)]
    m = np.diag(gw)[noncore] - np.einsum("ij,ik,kj->j", across, inverse_core, across)
    lifted = inverse_core @ across
    result = np.zeros_like(gw)
    result[np.ix_(core, core)] = inverse_core + lifted @ np.diag(1 / m) @ lifted.T
    result[np.ix_(core, noncore)] = -lifted / m
    result[np.ix_(noncore, core)] = (-lifted / m).T
    result[np.ix_(noncore, noncore)] = np.diag(1 / m)
    return result


def weighted_g(genotypes, a22, blend, tune):
    g = vanraden(genotypes)
    if tune:
        off = ~np.eye(len(g), dtype=bool)
        slope = (np.diag(a22).mean() - a22[off].mean()) / (np.diag(g).mean() - g[off].mean())
        g = a22[off].mean() - slope * g[off].mean() + slope * g
    return (1 - blend) * g + blend * a22


def case(kind, m=16):
    pedigree = herd(kind, seed=len(kind))
    rng = np.random.default_rng(len(kind))
    chosen = rng.choice(len(pedigree), m, replace=False)
    return pedigree, chosen, random_genotypes(rng, m, 40), rng


@pytest.mark.parametrize("kind", ["selfing", "mixed", "deep"])
@pytest.mark.parametrize(
    "core, blend, tune, tau, omega",
    [
        ([0, 3, 5, 9], 0.05, None, 1.0, 1.0),
        ([1, 2, 4, 8, 11, 15], 0.3, "mean", 1.3, 0.7),
        ("all_but_one", 0.1, None, 1.0, 1.0),
    ],
)
def test_apy_is_the_dense_formula_as_matrix_and_as_operator(kind, core, blend, tune, tau, omega):
    pedigree, chosen, genotypes, rng = case(kind)
    core = list(range(1, 16)) if core == "all_but_one" else core
    a = tabular(pedigree.sire, pedigree.dam, -1)
    a22 = a[np.ix_(chosen, chosen)]
    g_inverse = dense_apy(weighted_g(genotypes, a22, blend, tune), core)
    if len(core) == 15:
        assert_close(g_inverse, np.linalg.inv(weighted_g(genotypes, a22, blend, tune)))
    expected = np.linalg.inv(a)
    expected[np.ix_(chosen, chosen)] += tau * g_inverse - omega * np.linalg.inv(a22)
    ids = pedigree.ids[chosen]
    options = dict(genotypes=genotypes, core=list(ids[core]), blend=blend, tune=tune, tau=tau, omega=omega)
    assert_close(tolmkit.hybrid_inverse(pedigree, ids, **options).matrix.toarray(), expected)
    operator = tolmkit.hybrid_inverse(pedigree, ids, form="operator", **options).matrix
    block = rng.standard_normal((len(pedigree), 3))
    assert_close(operator @ block, expected @ block)
    assert_close(operator @ block[:, 0], expected @ block[:, 0])
    assert_close(operator.diagonal(), np.diag(expected))
    assert_close(operator.genomic.toarray(), g_inverse)


@pytest.mark.parametrize("tune", ["mean", "base"])
@pytest.mark.parametrize("order", ["tune-then-blend", "blend-then-tune"])
def test_apy_tunes_and_blends_as_the_exact_inverse(tune, order):
    # With all but one animal in the core, APY is exact: the blocks are tuned
    # and blended from the means alone as the whole G is.
    pedigree, chosen, genotypes, _ = case("mixed")
    ids = pedigree.ids[chosen]
    options = dict(blend=0.2, tune=tune, order=order)
    exact = tolmkit.hybrid_inverse(pedigree, ids, vanraden(genotypes), **options)
    apy = tolmkit.hybrid_inverse(pedigree, ids, genotypes=genotypes, core=list(ids[1:]), **options)
    assert_close(apy.matrix.toarray(), exact.matrix.toarray())
    for name in ("mean_diagonal_g", "mean_off_diagonal_g", "diagonal_correlation"):
        assert getattr(apy.comparison_after, name) == pytest.approx(getattr(exact.comparison_after, name), rel=1e-12)


@pytest.mark.parametrize("kind", ["selfing", "mixed", "deep", "founders"])
def test_a22_inverse_product_and_exact_operator_are_the_dense_inverses(kind):
    pedigree, chosen, genotypes, rng = case(kind)
    a = tabular(pedigree.sire, pedigree.dam, -1)
    inverse22 = np.linalg.inv(a[np.ix_(chosen, chosen)])
    product = tolmkit.a22_inverse_product(pedigree, pedigree.ids[chosen])
    block = rng.standard_normal((16, 4))
    assert_close(product @ block, inverse22 @ block)
    assert_close(product.diagonal(), np.diag(inverse22))
    g = vanraden(genotypes)
    exact = tolmkit.hybrid_inverse(pedigree, pedigree.ids[chosen], g, tune="mean")
    operator = tolmkit.hybrid_inverse(pedigree, pedigree.ids[chosen], g, tune="mean", form="operator")
    block = rng.standard_normal((len(pedigree), 2))
    assert_close(operator.matrix @ block, exact.matrix @ block)
    assert_close(operator.matrix.diagonal(), exact.matrix.diagonal())


def test_everyone_genotyped_needs_no_factor():
    everyone = SMALL.ids
    product = tolmkit.a22_inverse_product(SMALL, everyone)
    assert_close(product @ np.eye(4), np.linalg.inv(tabular(SMALL.sire, SMALL.dam, -1)))


def test_a_core_drawn_with_a_seed_is_the_same_core():
    pedigree, chosen, genotypes, _ = case("mixed")
    ids = pedigree.ids[chosen]
    first, second = (
        tolmkit.hybrid_inverse(pedigree, ids, genotypes=genotypes, core=5, seed=7, form="operator") for _ in "ab"
    )
    assert np.array_equal(first.matrix.genomic.core, second.matrix.genomic.core) and len(first.matrix.genomic.core) == 5


CLONES = np.array([[0, 1, 2, 1, 0], [0, 1, 2, 1, 0], [2, 1, 0, 1, 1]], dtype=np.int8)


@pytest.mark.parametrize(
    "arguments, error, message",
    [
        ({"genotypes": CLONES, "core": ["c", "x"]}, PedigreeError, "core animal 'x' is not genotyped"),
        ({"genotypes": CLONES, "core": 4}, PedigreeError, "a core of 4 animals among 3 genotyped ones: core must be"),
        ({"genotypes": CLONES, "core": list("bcda")}, PedigreeError, "a core of 4 animals among 3 .* is larger"),
        ({"genotypes": CLONES, "core": ["c", "c"]}, PedigreeError, "core animal 'c' is listed twice"),
        (
            {"genotypes": CLONES, "core": ["b", "c"], "blend": 0.0},
            PedigreeError,
            "G of the core is not positive definite: .* at core animal 'c'; raise blend",
        ),
        (
            {"genotypes": CLONES, "core": ["b"], "blend": 0.0},
            PedigreeError,
            "animal 'c' has no variance left given the core",
        ),
        (
            {"genotypes": CLONES, "core": 2, "tune": "mean", "blend": 0.0, "G": np.eye(3)},
            PedigreeError,
            "pass G or genotypes, one of them: both",
        ),
        ({}, PedigreeError, "pass G or genotypes, one of them: neither"),
        ({"G": np.eye(3), "core": 2}, PedigreeError, "core draws G's blocks from the genotypes: pass genotypes"),
        ({"genotypes": CLONES, "core": 2, "seed": -1}, ValueError, "seed must be a non-negative integer, got -1"),
        ({"G": np.eye(3), "form": "dense"}, ValueError, "form must be 'matrix' or 'operator'"),
        ({"genotypes": CLONES[:2], "core": 1}, ValueError, "genotypes hold 2 animals .*; 3 are genotyped"),
        ({"genotypes": CLONES, "core": 2, "groups": "full"}, PedigreeError, "core takes groups as unknown parents"),
        ({"genotypes": CLONES, "core": 2, "blend_with": "identity"}, PedigreeError, "core blends G with A22 only"),
        ({"G": np.eye(3), "form": "operator", "keep": ["G"]}, PedigreeError, "form='operator' keeps no matrix"),
        ({"genotypes": np.vstack([[-1] * 5, CLONES[1:]]), "core": 1}, ValueError, "animal 'b' has no genotype"),
    ],
)
def test_bad_cores_are_refused(arguments, error, message):
    with pytest.raises(error, match=message):
        tolmkit.hybrid_inverse(SMALL, ["b", "c", "d"], **arguments)


@pytest.mark.parametrize(
    "seed, clone, message",
    [(0, 1, "G of the core is singular: core animal 'a1'"), (4, 6, "animal 'a6' has no variance left given the core")],
    ids=["in_the_core", "of_the_core"],
)
def test_a_clone_that_rounding_lets_through_the_factorisation_is_refused(seed, clone, message):
    ids = [f"a{i}" for i in range(8)]
    genotypes = np.random.default_rng(seed).integers(0, 3, (8, 300)).astype(np.int8)
    genotypes[clone] = genotypes[0]
    genotypes[7] = np.where(genotypes[0] == 0, 2, 0)  # no marker monomorphic
    founders = tolmkit.Pedigree.from_records([(name, "0", "0") for name in ids])
    with pytest.raises(PedigreeError, match=message):
        tolmkit.hybrid_inverse(founders, ids, genotypes=genotypes, core=ids[:5], blend=0.0, form="operator")


def test_an_inverse_beyond_the_floats_is_refused():
    z = np.random.default_rng(1).standard_normal((8, 50))
    centring = Centring(lambda rows: iter([(z[rows], np.ones((len(rows), 50), bool))]), 1.0, 50)
    ids = np.array(list("abcdefgh"), dtype=object)
    with pytest.raises(ValueError, match="the APY inverse of Gw is not finite"):
        apy_inverse(
            centring, ids, np.arange(3), (z * z).sum(axis=1), lambda g, a22: g * 1e-310, np.zeros(()), np.ones(8)
        )


def test_clones_in_the_core_are_mended_by_blending():
    result = tolmkit.hybrid_inverse(SMALL, ["b", "c", "d"], genotypes=CLONES, core=["b", "c"], blend=0.05)
    assert np.all(np.isfinite(result.matrix.toarray()))


@pytest.mark.parametrize("markers", [8, 60])
@pytest.mark.parametrize("share", [0.5, 0.9, 0.98, 1.0])
def test_core_size_counts_the_eigenvalues_of_g(markers, share):
    genotypes = random_genotypes(np.random.default_rng(markers), 20, markers)
    eigenvalues = np.clip(np.linalg.eigvalsh(vanraden(genotypes))[::-1], 0, None)
    explained = np.cumsum(eigenvalues) / eigenvalues.sum()
    expected = int(np.argmax(explained >= share * (1 - 1e-9))) + 1
    assert tolmkit.suggest_core_size(genotypes, share=share) == expected
    with pytest.raises(PedigreeError, match="share must be a number above 0"):
        tolmkit.suggest_core_size(genotypes, share=0)


def test_hinv_writes_the_apy_parts(tmp_path, capsys):
    pedigree, chosen, genotypes, _ = case("deep")
    herd_path, chip, out = tmp_path / "herd.csv", tmp_path / "chip", tmp_path / "apy"
    parents = [("0" if p < 0 else pedigree.ids[p]) for p in (*pedigree.sire, *pedigree.dam)]
    n = len(pedigree)
    herd_path.write_text(
        "animal,sire,dam\n" + "".join(f"{pedigree.ids[k]},{parents[k]},{parents[n + k]}\n" for k in range(n))
    )
    write_plink(chip, genotypes, list(pedigree.ids[chosen]))
    args = ["hinv", str(herd_path), "--selfing", "--no-quality", "--genotypes", str(chip), "-o", str(out)]
    assert main([*args, "--core", "5", "--seed", "3"]) == 0
    # The markers of G, as the command takes them into APY too.
    kept = genotypes[:, kept_markers(genotypes)]
    parts = tolmkit.hybrid_inverse(
        pedigree, pedigree.ids[chosen], genotypes=kept, core=5, seed=3, form="operator"
    ).matrix.genomic
    for name, array in [
        ("core-inverse", parts.core_inverse),
        ("core-noncore", parts.core_noncore),
        ("noncore-diagonal", parts.noncore_diagonal),
    ]:
        assert np.array_equal(np.load(f"{out}.{name}.npy"), array)
    assert (tmp_path / "apy.core.ids").read_text().split() == list(parts.ids[parts.core])
    assert (tmp_path / "apy.noncore.ids").read_text().split() == list(parts.ids[parts.noncore])
    assert main([*args, "--core", "99"]) == 1
    assert "a core of 99 animals among 16 genotyped ones: --core must be" in capsys.readouterr().err
