import io

import numpy as np
import pandas as pd
import pytest

from tolmkit import (Pedigree, PedigreeError, effective_population_size, founder_statistics, pedigree_statistics,
                     read_pedigree, summary_by)

# Four founders (d2 not listed); a, b and c their offspring (a and c full
# sibs); g with four known grandparents, h with an unknown dam, i of full
# sibs, j of g and h.
HERD = """animal,sire,dam,birth_year
s1,0,0,2000
d1,0,0,2000
s2,0,0,2000
a,s1,d1,2001
b,s2,d2,2001
c,s1,d1,2001
g,a,b,2002
h,a,0,2002
i,a,c,2002
j,g,h,2003
"""
DF_J = 1 - 0.875 ** (1 / 1.5)


@pytest.fixture(scope="module")
def herd():
    return read_pedigree(io.StringIO(HERD))


@pytest.mark.parametrize("animal, sire, dam, generation, complete, equivalent, f, delta, sampling_var", [
    ("s1", "", "", 0, 0, 0.0, 0.0, np.nan, 1.0),
    ("a", "s1", "d1", 1, 1, 1.0, 0.0, np.nan, 0.5),
    ("g", "a", "b", 2, 2, 2.0, 0.0, 0.0, 0.5),
    ("h", "a", "", 2, 0, 1.0, 0.0, np.nan, 0.75),
    ("i", "a", "c", 2, 2, 2.0, 0.25, 0.25, 0.5),
    ("j", "g", "h", 3, 1, 2.5, 0.125, DF_J, 0.5),
])
def test_every_column_of_an_animal(herd, animal, sire, dam, generation, complete, equivalent, f, delta,
                                   sampling_var):
    row = pedigree_statistics(herd).loc[animal]
    assert (row["sire"], row["dam"], row["generation"], row["complete_generations"]) == (sire, dam, generation,
                                                                                         complete)
    assert row["equivalent_generations"] == equivalent
    assert row["inbreeding"] == f and row["sampling_var"] == sampling_var
    np.testing.assert_allclose(row["delta_inbreeding"], delta, rtol=1e-15)


def test_the_table_keeps_the_order_of_the_animals_and_the_file_columns(herd):
    table = pedigree_statistics(herd)
    assert table.index.tolist() == herd.ids.tolist()
    assert table.index[0] == "d2" and pd.isna(table["birth_year"].iloc[0])
    assert table["birth_year"].tolist()[1:] == [2000] * 3 + [2001] * 3 + [2002] * 3 + [2003]


def test_figures_by_birth_year(herd):
    summary = summary_by(herd, "birth_year")
    assert summary.index.tolist() == [2000, 2001, 2002, 2003]
    assert summary["animals"].tolist() == [3, 3, 3, 1]
    np.testing.assert_allclose(summary["both_parents_known"], [0, 1, 2 / 3, 1])
    np.testing.assert_allclose(summary["equivalent_generations"], [0, 1, 5 / 3, 2.5])
    np.testing.assert_allclose(summary["inbreeding"], [0, 0, 0.25 / 3, 0.125])
    np.testing.assert_allclose(summary["inbred"], [0, 0, 1 / 3, 1])
    np.testing.assert_allclose(summary["delta_inbreeding"], [np.nan, np.nan, 0.125, DF_J])
    np.testing.assert_allclose(summary["ne"], [np.nan, np.nan, 4.0, 1 / (2 * DF_J)])
    with pytest.raises(KeyError, match="no column 'sex'"):
        summary_by(herd, "sex")


def test_effective_size_and_its_refusals(herd):
    result = effective_population_size(herd, ["g", "i", "j", "a"])
    deltas = np.array([0.0, 0.25, DF_J])
    assert result.n == 3
    np.testing.assert_allclose([result.mean_delta_inbreeding, result.ne, result.se],
                               [deltas.mean(), 1 / (2 * deltas.mean()),
                                2 * result.ne ** 2 * deltas.std(ddof=1) / np.sqrt(3)])
    with pytest.raises(ValueError, match="none of the 3 reference animals"):
        effective_population_size(herd, ["s1", "a", "h"])
    with pytest.raises(ValueError, match="no animal"):
        effective_population_size(herd, [])
    with pytest.raises(PedigreeError, match="'x' is not in the pedigree"):
        effective_population_size(herd, ["j", "x"])


def designed_population(rng, sires, dams, size=100, generations=8):
    """Discrete generations of `size`; each bred by `sires` males and `dams`
    females drawn from the one before, every calf of a random pair of them."""
    sire, dam = [-1] * size, [-1] * size
    for t in range(generations):
        born = np.arange(t * size, (t + 1) * size)
        chosen_sires = rng.choice(born[: size // 2], sires, replace=False)
        chosen_dams = rng.choice(born[size // 2:], dams, replace=False)
        sire += rng.choice(chosen_sires, size).tolist()
        dam += rng.choice(chosen_dams, size).tolist()
    return Pedigree.from_numbers(sire, dam, unknown=-1)


@pytest.mark.parametrize("sires, dams", [(5, 20), (10, 10), (2, 30)])
def test_designed_population_gives_its_effective_size(sires, dams):
    expected = 4 * sires * dams / (sires + dams)
    estimates = []
    for seed in range(8):
        pedigree = designed_population(np.random.default_rng(seed), sires, dams)
        estimates.append(effective_population_size(pedigree, pedigree.ids[-100:]).ne)
    assert abs(np.mean(estimates) - expected) < 3 * np.std(estimates, ddof=1) / np.sqrt(len(estimates))


EIGHT_FOUNDERS = ([(f"p{k}", f"f{2 * k}", f"f{2 * k + 1}") for k in range(4)]
                  + [(f"r{k}", "p0", "p1") for k in range(6)])


@pytest.mark.parametrize("records, reference, max_ancestors, f_e, f_a, founders, ancestors, stopped_by", [
    (EIGHT_FOUNDERS, [f"r{k}" for k in range(6)], 1000, 4.0, 2.0, 4, 2, "explained"),
    (EIGHT_FOUNDERS, [f"r{k}" for k in range(6)], 1, 4.0, 4.0, 4, 1, "max_ancestors"),
    # i of g and h; a is a grandparent twice over, h's unknown dam half a founder
    ([("a", "s1", "d1"), ("b", "s2", "d2"), ("g", "a", "b"), ("h", "a", "0"), ("i", "g", "h")], ["i"], 1000,
     32 / 7, 8 / 3, 5, 3, "explained"),
    # a reference animal of unknown parents is a founder of the population
    ([("c", "a", "b"), ("z", "0", "0")], ["c", "z"], 1000, 8 / 3, 8 / 3, 3, 3, "explained"),
], ids=["eight_founders", "stopped_early", "half_founder", "founder_in_reference"])
def test_effective_founders_and_ancestors(records, reference, max_ancestors, f_e, f_a, founders, ancestors,
                                          stopped_by):
    result = founder_statistics(Pedigree.from_records(records), reference, max_ancestors=max_ancestors)
    assert (result.founders, result.ancestors, result.stopped_by) == (founders, ancestors, stopped_by)
    np.testing.assert_allclose([result.founders_effective, result.ancestors_effective], [f_e, f_a])
    table = result.contributions
    np.testing.assert_allclose(table["founder_contribution"].sum(), 1.0)
    assert table["marginal_contribution"].iloc[:ancestors].notna().all()
    assert table["marginal_contribution"].iloc[ancestors:].isna().all()


@pytest.mark.parametrize("max_ancestors", [0, 2.5, True])
def test_refuses_a_bad_number_of_ancestors(max_ancestors):
    with pytest.raises(ValueError, match="max_ancestors must be a positive integer"):
        founder_statistics(Pedigree.from_records(EIGHT_FOUNDERS), ["r0"], max_ancestors=max_ancestors)


def test_fully_inbred_reference_animals_are_left_out_and_counted():
    # 200 generations of full-sib mating: F reaches 1, which leaves no rate of inbreeding.
    sire, dam = [-1, -1], [-1, -1]
    for t in range(1, 201):
        sire += [2 * t - 2] * 2
        dam += [2 * t - 1] * 2
    pedigree = Pedigree.from_numbers(sire, dam, unknown=-1)
    assert pedigree.inbreeding[-1] == 1.0 and pedigree.inbreeding[20] < 1.0
    result = effective_population_size(pedigree, ["20", "21", "400", "401"])
    assert (result.n, result.fully_inbred) == (2, 2)
    assert result.ne == effective_population_size(pedigree, ["20", "21"]).ne
    with pytest.raises(ValueError, match=r"none of the 2 reference animals \(2 of them fully inbred, F = 1\)"):
        effective_population_size(pedigree, ["400", "401"])
