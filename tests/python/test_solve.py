"""Breeding values by conjugate gradients against spsolve of the mixed-model equations."""

import numpy as np
import pandas as pd
import pytest
import scipy.sparse as sp
from scipy.sparse.linalg import spsolve

import tolmkit
from tolmkit import PedigreeError

HERD = tolmkit.read_pedigree("examples/herd.csv")
YIELDS = pd.read_csv("examples/yields.csv", dtype={"animal": str})


def reference(x, records, k, ratio):
    """The equations of the user guide, solved directly."""
    y = records["milk_kg"].to_numpy(dtype=float)
    m = len(y)
    z = sp.csr_matrix((np.ones(m), (np.arange(m), HERD.numbers(records["animal"]))), shape=(m, k.shape[0]))
    lhs = sp.bmat([[x.T @ x, x.T @ z], [z.T @ x, z.T @ z + ratio * k]], format="csc")
    return spsolve(lhs, np.concatenate([x.T @ y, z.T @ y]))


@pytest.fixture(scope="module")
def genotyped():
    return tolmkit.read_genotypes("examples/herd-genotypes.bed")


@pytest.mark.parametrize("relationship", ["A", "H", "H operator", "APY operator"])
def test_the_solver_meets_spsolve_on_the_herd(relationship, genotyped):
    ids, genotypes = genotyped
    options = dict(genotypes=genotypes, tune="mean", core=120 if relationship.startswith("APY") else None)
    k = hybrid = None
    if relationship == "A":
        k = tolmkit.inverse_relationship_matrix(HERD)
    else:
        hybrid = tolmkit.hybrid_inverse(
            HERD, ids, form="operator" if "operator" in relationship else "matrix", **options
        )
        k = hybrid.matrix if relationship == "H" else hybrid.matrix @ np.eye(len(HERD))
    expected = reference(sp.csr_matrix(np.ones((len(YIELDS), 1))), YIELDS, sp.csr_matrix(k), 2.0)
    solution = tolmkit.solve_animal_model(HERD, YIELDS, "milk_kg", ratio=2.0, relationship=hybrid)
    found = np.concatenate([solution.fixed.to_numpy(), solution.breeding_values.to_numpy()])
    assert np.abs(found - expected).max() <= 1e-8 * np.abs(expected).max()
    assert solution.residual < 1e-12 and 0 < solution.iterations < 1000
    assert list(solution.breeding_values.index) == list(HERD.ids)


def test_fixed_effects_take_every_level_of_the_first_and_all_but_one_of_the_others():
    rng = np.random.default_rng(2)
    records = YIELDS.assign(herd=rng.choice(["h2", "h1", "h3"], len(YIELDS)), parity=rng.integers(1, 4, len(YIELDS)))
    first = pd.get_dummies(records["herd"]).to_numpy(dtype=float)
    second = pd.get_dummies(records["parity"]).to_numpy(dtype=float)[:, 1:]
    x = sp.csr_matrix(np.hstack([first, second]))
    expected = reference(x, records, tolmkit.inverse_relationship_matrix(HERD), 1.5)
    solution = tolmkit.solve_animal_model(HERD, records, "milk_kg", ["herd", "parity"], ratio=1.5)
    assert list(solution.fixed.index) == [("herd", "h1"), ("herd", "h2"), ("herd", "h3"), ("parity", 2), ("parity", 3)]
    found = np.concatenate([solution.fixed.to_numpy(), solution.breeding_values.to_numpy()])
    assert np.abs(found - expected).max() <= 1e-8 * np.abs(expected).max()


def test_a_small_system_converges_within_the_default_iterations():
    # 26 equations, whose conjugate gradients take 27 iterations to the tolerance.
    parents = [("0", "0")] * 3 + [("A2", "A1"), ("A0", "A1"), ("0", "A1"), ("A4", "A1"), ("0", "0"), ("A0", "A3")]
    parents += [("A8", "A1"), ("A6", "A9"), ("A8", "A1"), ("A0", "A3"), ("A4", "A7"), ("A12", "A11"), ("0", "A5")]
    parents += [("A0", "A3"), ("A14", "A13"), ("A16", "0"), ("A4", "A13"), ("0", "A7"), ("A10", "A5")]
    parents += [("A14", "A17"), ("A6", "A5"), ("A4", "A23")]
    pedigree = tolmkit.Pedigree.from_records([(f"A{k}", s, d) for k, (s, d) in enumerate(parents)])
    solution = tolmkit.solve_animal_model(pedigree, pd.DataFrame({"animal": ["A6"], "y": [95.3]}), "y", ratio=1.0)
    assert solution.fixed.iloc[0] == pytest.approx(95.3) and np.abs(solution.breeding_values).max() < 1e-10


SMALL = YIELDS.head(3)


@pytest.mark.parametrize(
    "records, options, error, message",
    [
        (
            SMALL.assign(animal=["x", *SMALL["animal"][1:]]),
            {},
            ValueError,
            "records row 0: animal 'x' is not in the pedigree",
        ),
        (SMALL.assign(milk_kg=[1.0, None, 2.0]), {}, ValueError, r"records row 1 \(animal '.*'\) has no milk_kg"),
        (SMALL, {"fixed": ["herd"]}, ValueError, "records have no column 'herd'"),
        (SMALL.rename(columns={"animal": "cow"}), {}, ValueError, "records have no column 'animal'"),
        (SMALL.assign(milk_kg=["a", "b", "c"]), {}, TypeError, "'milk_kg' must hold numbers"),
        (SMALL.assign(milk_kg=[True, False, True]), {}, TypeError, "'milk_kg' must hold numbers, got bool"),
        (SMALL.assign(milk_kg=[1.0, np.inf, 2.0]), {}, ValueError, "records row 1: milk_kg is inf"),
        (SMALL, {"ratio": 0}, PedigreeError, "ratio must be a number above 0"),
        (SMALL, {"tol": -1}, PedigreeError, "tol must be a finite number above 0"),
        (SMALL, {"tol": np.inf}, PedigreeError, "tol must be a finite number above 0"),
        (SMALL.assign(herd="h"), {"fixed": ["herd", "herd"]}, ValueError, "the column 'herd' is named twice"),
        (
            SMALL,
            {"max_iterations": 1},
            PedigreeError,
            "did not converge in 1 iterations .* raise max_iterations or tol",
        ),
        (SMALL, {"relationship": np.eye(3)}, ValueError, r"relationship must be 4,000 × 4,000"),
        (SMALL, {"relationship": sp.identity(4000, format="csr") * np.nan}, ValueError, "the solution is not finite"),
        (SMALL, {"relationship": sp.csr_matrix((4000, 4000))}, ValueError, "no positive diagonal at animal"),
        (SMALL.head(0), {}, ValueError, "the records hold no record"),
        (SMALL.assign(animal=[7, 8, 9]), {}, TypeError, "records row 0: animal 7 is given as int64, .* pass '7'"),
        (pd.concat([SMALL, SMALL[["milk_kg"]]], axis=1), {}, ValueError, "two columns named 'milk_kg'"),
    ],
)
def test_bad_records_are_refused(records, options, error, message):
    before = records.copy()
    options = {"ratio": 2.0, **options}
    with pytest.raises(error, match=message):
        tolmkit.solve_animal_model(HERD, records, "milk_kg", **options)
    pd.testing.assert_frame_equal(records, before)
