import datetime
import io

import numpy as np
import pandas as pd
import pytest

from tolmkit import (
    Pedigree,
    PedigreeError,
    effective_population_size,
    founder_statistics,
    generation_intervals,
    inbreeding_classes,
    pedigree_statistics,
    read_pedigree,
    simulate_pedigree,
    summary_by,
    summary_by_year,
)
from tolmkit.pedigree import ancestry
from tolmkit.plots import plot_ancestry
from tolmkit.statistics import EXPLAINED, EffectiveSize

import oracle
from conftest import bits
from pedigrees import KINDS, random_pedigree, relationship_matrix

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


@pytest.mark.parametrize(
    "animal, sire, dam, generation, complete, equivalent, f, delta, sampling_var",
    [
        ("s1", "", "", 0, 0, 0.0, 0.0, np.nan, 1.0),
        ("a", "s1", "d1", 1, 1, 1.0, 0.0, np.nan, 0.5),
        ("g", "a", "b", 2, 2, 2.0, 0.0, 0.0, 0.5),
        ("h", "a", "", 2, 0, 1.0, 0.0, np.nan, 0.75),
        ("i", "a", "c", 2, 2, 2.0, 0.25, 0.25, 0.5),
        ("j", "g", "h", 3, 1, 2.5, 0.125, DF_J, 0.5),
    ],
)
def test_every_column_of_an_animal(herd, animal, sire, dam, generation, complete, equivalent, f, delta, sampling_var):
    row = pedigree_statistics(herd).loc[animal]
    assert (row["sire"], row["dam"], row["generation"], row["complete_generations"]) == (
        sire,
        dam,
        generation,
        complete,
    )
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
    # Cohorts beyond the integers keep their animals: none is cast into another.
    frame = pd.DataFrame({"id": ["a", "b"], "sire": ["0", "0"], "dam": ["0", "0"], "herd": [1e20, 2.0]})
    assert summary_by(read_pedigree(frame), "herd")["animals"].tolist() == [1, 1]
    # A cohort named as a figure stays the cohort, beside the figure.
    by_f = summary_by(herd, "inbreeding")
    assert by_f.index.name == "inbreeding" and by_f["inbreeding"].tolist() == by_f.index.tolist()


def test_effective_size_and_its_refusals(herd):
    result = effective_population_size(herd, ["g", "i", "j", "a"])
    deltas = np.array([0.0, 0.25, DF_J])
    assert result.n == 3
    np.testing.assert_allclose(
        [result.mean_delta_inbreeding, result.ne, result.se],
        [deltas.mean(), 1 / (2 * deltas.mean()), 2 * result.ne**2 * deltas.std(ddof=1) / np.sqrt(3)],
    )
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
        chosen_dams = rng.choice(born[size // 2 :], dams, replace=False)
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


EIGHT_FOUNDERS = [(f"p{k}", f"f{2 * k}", f"f{2 * k + 1}") for k in range(4)] + [(f"r{k}", "p0", "p1") for k in range(6)]


@pytest.mark.parametrize(
    "records, reference, max_ancestors, f_e, f_a, founders, ancestors, stopped_by",
    [
        (EIGHT_FOUNDERS, [f"r{k}" for k in range(6)], 1000, 4.0, 2.0, 4, 2, "explained"),
        (EIGHT_FOUNDERS, [f"r{k}" for k in range(6)], 1, 4.0, 4.0, 4, 1, "max_ancestors"),
        # 1 / Σ q² of two founders taken of eight would be 32: f_a is no more than f_e
        (EIGHT_FOUNDERS[:4], [f"p{k}" for k in range(4)], 2, 8.0, 8.0, 8, 2, "max_ancestors"),
        # i of g and h; a is a grandparent twice over, h's unknown dam half a founder
        (
            [("a", "s1", "d1"), ("b", "s2", "d2"), ("g", "a", "b"), ("h", "a", "0"), ("i", "g", "h")],
            ["i"],
            1000,
            32 / 7,
            8 / 3,
            5,
            3,
            "explained",
        ),
        # a reference animal of unknown parents is a founder of the population
        ([("c", "a", "b"), ("z", "0", "0")], ["c", "z"], 1000, 8 / 3, 8 / 3, 3, 3, "explained"),
    ],
    ids=["eight_founders", "stopped_early", "stopped_above_f_e", "half_founder", "founder_in_reference"],
)
def test_effective_founders_and_ancestors(records, reference, max_ancestors, f_e, f_a, founders, ancestors, stopped_by):
    result = founder_statistics(Pedigree.from_records(records), reference, max_ancestors=max_ancestors)
    assert (result.founders, result.ancestors, result.stopped_by) == (founders, ancestors, stopped_by)
    np.testing.assert_allclose([result.founders_effective, result.ancestors_effective], [f_e, f_a])
    table = result.contributions
    np.testing.assert_allclose(table["founder_contribution"].sum(), 1.0)
    assert table["marginal_contribution"].iloc[:ancestors].notna().all()
    assert table["marginal_contribution"].iloc[ancestors:].isna().all()


@pytest.mark.parametrize("max_ancestors", [1000, 5])
@pytest.mark.parametrize("kind", [*sorted(KINDS), "simulated"])
def test_ancestors_as_whole_passes_after_each_choice_take_them(kind, max_ancestors):
    # The native passes add in the order of the layered ones, so every q keeps
    # its bits and a tie (full sibs, the two parents of one family) goes to
    # the lower number on both sides.
    rng = np.random.default_rng(len(kind))
    if kind == "simulated":
        n = 4000
        sire, dam = simulate_pedigree(n, 8, sires_per_generation=12, seed=2)
    else:
        keywords, n = KINDS[kind]
        sire, dam = random_pedigree(rng, n, **keywords)
    pedigree = Pedigree.from_numbers(sire, dam, unknown=n)
    numbers = np.unique(rng.choice(n, max(1, n // 10), replace=False))
    result = founder_statistics(pedigree, pedigree.ids[numbers], max_ancestors=max_ancestors)
    kept, renumber = ancestry(pedigree, numbers)
    weight = np.zeros(len(kept))
    weight[renumber[numbers]] = 1.0 / len(numbers)
    unknown = (kept.sire < 0) | (kept.dam < 0)
    contribution = oracle.marginal_ancestors(kept.layers, weight, np.ones(len(kept), bool), 0, EXPLAINED)[0]
    eligible = (contribution > weight) | ((weight > 0) & unknown)
    _, order, marginal, explained = oracle.marginal_ancestors(kept.layers, weight, eligible, max_ancestors, EXPLAINED)
    table = result.contributions
    assert table.index[: result.ancestors].tolist() == kept.ids[order].tolist()
    assert bits(table["marginal_contribution"].iloc[: result.ancestors]) == bits(marginal)
    bound = 1.0 / np.sum(np.square(marginal))
    if explained < EXPLAINED:  # stopped: no more than f_e
        bound = min(bound, result.founders_effective)
    assert (result.explained, result.ancestors_effective) == (explained, bound)
    assert bits(table["contribution"]) == bits(contribution[kept.numbers(table.index)])


@pytest.mark.parametrize("max_ancestors", [0, 2.5, True, np.True_])
def test_refuses_a_bad_number_of_ancestors(max_ancestors):
    with pytest.raises(ValueError, match="max_ancestors must be a positive integer"):
        founder_statistics(Pedigree.from_records(EIGHT_FOUNDERS), ["r0"], max_ancestors=max_ancestors)


@pytest.mark.parametrize(
    "ne, se, written", [(float("inf"), float("nan"), "∞"), (12.34, 1.26, "12.3 ± 1.3"), (5.0, float("nan"), "5.0")]
)
def test_ne_is_written_without_inf_or_nan(ne, se, written):
    assert EffectiveSize(ne=ne, se=se, n=2, mean_delta_inbreeding=0.0).figure() == written


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
    with pytest.raises(ValueError, match=r"no pair of the 2 reference animals \(1 of the pairs fully related"):
        effective_population_size(pedigree, ["400", "401"], method="coancestry")


@pytest.mark.parametrize(
    "animal, generations, index",
    [
        ("s1", 5, 0.0),
        ("a", 2, 0.5),
        ("g", 2, 1.0),
        ("h", 5, 0.0),
        # sire g: 1 + 2/2 over 2 generations; dam h: 1 + 1/2 (its dam unknown)
        ("j", 2, 2 * 1.0 * 0.75 / 1.75),
        # over 5: (1 + 2/2 + 4/4) / 5 and (1 + 1/2 + 2/4) / 5
        ("j", 5, 2 * 0.6 * 0.4 / 1.0),
    ],
)
def test_maccluer_completeness(herd, animal, generations, index):
    table = pedigree_statistics(herd, completeness_generations=generations)
    assert table.loc[animal, "completeness"] == pytest.approx(index, rel=1e-15)


def test_inbreeding_classes_by_birth_year(herd):
    # 2002: g and h not inbred, i 0.25 (the bound is in its class); 2003: j 0.125
    shares = summary_by(herd, "birth_year").loc[[2002, 2003], ["F=0", "F<=0.0625", "F<=0.125", "F<=0.25", "F<=1"]]
    np.testing.assert_allclose(shares, [[2 / 3, 0, 0, 1 / 3, 0], [0, 0, 1, 0, 0]])
    assert inbreeding_classes([0.0, 0.25]).to_numpy().tolist() == [[1, 0, 0, 0, 0], [0, 0, 0, 1, 0]]
    for bad in (pd.Series(["a"]), ["0.1"], [True], 0.1, np.zeros((2, 2))):
        with pytest.raises(TypeError, match="inbreeding must be numbers"):
            inbreeding_classes(bad)
    # No row of zeros, where a mean is a share.
    for value in (np.nan, 1.5, -0.1):
        with pytest.raises(ValueError, match=f"inbreeding of 'b' is {value!r}, where a coefficient"):
            inbreeding_classes(pd.Series([0.1, value], index=["a", "b"]))


DATED = """animal,sire,dam,Sex,born
s,0,0,male,2000-01-01
d,0,0,F,2001-01-01
a,s,d,1,2003-01-01
b,s,d,2,2004-03-01
c,s,d,,2005-01-01
e,a,b,F,2007-01-01
"""
DAYS = {
    "s": datetime.date(2000, 1, 1),
    "d": datetime.date(2001, 1, 1),
    "a": datetime.date(2003, 1, 1),
    "b": datetime.date(2004, 3, 1),
    "c": datetime.date(2005, 1, 1),
    "e": datetime.date(2007, 1, 1),
}


def age(parent, offspring):
    return (DAYS[offspring] - DAYS[parent]).days / 365.25


# With offspring="parents", a and b alone are offspring, a son and a daughter
# by their roles (a sire, b a dam), with or without the sex column.
PARENTS = {
    "sire-son": [("s", "a")],
    "sire-daughter": [("s", "b")],
    "dam-son": [("d", "a")],
    "dam-daughter": [("d", "b")],
    "unknown sex": [],
    "all": [("s", "a"), ("s", "b"), ("d", "a"), ("d", "b")],
}
# With offspring="all", e is a daughter by the sex column; c, of no sex, is of unknown sex.
EVERY = {
    "sire-son": [("s", "a")],
    "sire-daughter": [("s", "b"), ("a", "e")],
    "dam-son": [("d", "a")],
    "dam-daughter": [("d", "b"), ("b", "e")],
    "unknown sex": [("s", "c"), ("d", "c")],
    "all": [("s", "a"), ("s", "b"), ("s", "c"), ("a", "e"), ("d", "a"), ("d", "b"), ("d", "c"), ("b", "e")],
}
# Without the sex column, e, a parent of none, is of unknown sex too.
NO_SEX = dict(
    EVERY,
    **{
        "sire-daughter": [("s", "b")],
        "dam-daughter": [("d", "b")],
        "unknown sex": [("s", "c"), ("d", "c"), ("a", "e"), ("b", "e")],
    },
)


@pytest.mark.parametrize(
    "offspring, sex_column, pairs",
    [
        ("parents", True, PARENTS),
        ("parents", False, PARENTS),
        ("all", True, EVERY),
        ("all", False, NO_SEX),
    ],
    ids=["parents", "parents_without_sex", "all", "all_without_sex"],
)
def test_generation_intervals_by_hand_from_dates(offspring, sex_column, pairs):
    text = (
        DATED
        if sex_column
        else "\n".join(",".join(f for k, f in enumerate(line.split(",")) if k != 3) for line in DATED.splitlines())
    )
    table = generation_intervals(read_pedigree(io.StringIO(text)), "born", offspring=offspring)
    assert table.index.tolist() == list(pairs)
    for path, chosen in pairs.items():
        ages = [age(p, o) for p, o in chosen]
        row = table.loc[path]
        assert (row["n"], row["left_out"]) == (len(ages), 0)
        np.testing.assert_allclose(
            [row["mean"], row["sd"]],
            [np.mean(ages) if ages else np.nan, np.std(ages, ddof=1) if len(ages) > 1 else np.nan],
            rtol=1e-14,
        )


@pytest.mark.parametrize("offspring, n", [("parents", [2, 3, 2, 1, 0, 8]), ("all", [2, 3, 2, 1, 4, 12])])
def test_generation_intervals_from_years_and_the_parents_roles(herd, offspring, n):
    # sons are the sires, daughters the dams; i and j, of no offspring, count only with "all", of unknown sex
    table = generation_intervals(herd, offspring=offspring)
    assert table["n"].tolist() == n
    assert table["mean"].fillna(1.0).tolist() == [1.0] * 6


@pytest.mark.parametrize(
    "offspring, n, ages",
    [
        ("parents", [1, 1, 2, 1, 0, 5], [3, 1, 2, 0, 1]),
        ("all", [1, 1, 2, 1, 2, 7], [3, 1, 3, 2, 0, 1, 4]),
    ],
)
def test_pairs_of_a_parent_born_after_its_offspring_are_left_out_and_counted(offspring, n, ages):
    # c, a son, is born before its sire a: left out; b in its dam's year, a warning, is kept
    table = generation_intervals(
        read_pedigree(
            io.StringIO(
                "id,sire,dam,birth_year\ns,0,0,2000\nd,0,0,2001\na,s,d,2003\nb,s,d,2001\nc,a,b,2002\ng,c,b,2005\n"
            )
        ),
        offspring=offspring,
    )
    assert table["n"].tolist() == n and table["left_out"].tolist() == [1, 0, 0, 0, 0, 1]
    assert table.loc["all", "mean"] == pytest.approx(np.mean(ages), rel=1e-15)
    assert table.loc["all", "sd"] == pytest.approx(np.std(ages, ddof=1), rel=1e-15)


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda p: generation_intervals(p, "birth"), KeyError, "no column 'birth'"),
        (
            lambda p: generation_intervals(
                p.__class__(
                    p.ids,
                    p.sire,
                    p.dam,
                    attributes=p.attributes.assign(birth_year=["", "2000", "2000", "spring"] + ["2001"] * 7),
                ),
                "birth_year",
            ),
            ValueError,
            "the birth of 's2', 'spring', is neither a year nor a date",
        ),
        (
            lambda p: generation_intervals(
                p.__class__(p.ids, p.sire, p.dam, attributes=p.attributes.assign(birth_year=["20000315"] * 11)),
                "birth_year",
            ),
            ValueError,
            "the birth of 'd2', 20000315, is no year",
        ),
        (lambda p: generation_intervals(p, offspring="sons"), ValueError, "offspring must be 'parents' or 'all'"),
        (lambda p: effective_population_size(p, ["j"], method="pairs"), ValueError, "method must be"),
        (lambda p: effective_population_size(p, ["j"], method="coancestry"), ValueError, "at least two"),
        (lambda p: effective_population_size(p, ["s1", "d1"], method="coancestry"), ValueError, "no pair of the 2"),
        (
            lambda p: effective_population_size(p, ["i", "j"], method="coancestry", pairs=0),
            ValueError,
            "pairs must be a positive integer",
        ),
        (
            lambda p: effective_population_size(p, ["i", "j"], method="coancestry", seed=1.5),
            ValueError,
            "seed must be a non-negative integer, got 1.5",
        ),
        (lambda p: pedigree_statistics(p, completeness_generations=0), ValueError, "completeness_generations"),
        (lambda p: plot_ancestry(p, "j", "chart.pdf"), ValueError, "name a .png or .svg file"),
        (lambda p: plot_ancestry(p, "j", "chart.svg", generations=7), ValueError, "an integer from 1 to 6"),
        (lambda p: plot_ancestry(p, "x", "chart.svg"), PedigreeError, "'x' is not in the pedigree"),
        (lambda p: ancestry(p, [0, len(p)]), ValueError, "animals must be numbers of animals, 0 to 10, got 11"),
        (lambda p: ancestry(p, [-1]), ValueError, "got -1"),
        (lambda p: ancestry(p, ["j"]), ValueError, "got 'j'; Pedigree.numbers gives"),
    ],
    ids=[
        "no_column",
        "not_a_date",
        "date_as_number",
        "offspring",
        "method",
        "one_animal",
        "no_generations",
        "pairs",
        "seed",
        "completeness_generations",
        "chart_format",
        "chart_generations",
        "chart_animal",
        "ancestry_beyond",
        "ancestry_negative",
        "ancestry_identifier",
    ],
)
def test_refusals_name_what_is_wrong(herd, call, error, message, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(error, match=message.replace("(", r"\(").replace(".", r"\.")):
        call(herd)
    assert list(tmp_path.iterdir()) == []


def coancestry_ne(a, equivalent, reference):
    """Ne by coancestry over all pairs of `reference`, by the formula, from a tabular A."""
    deltas = []
    for x, j in enumerate(reference):
        for k in reference[x + 1 :]:
            t = (equivalent[j] + equivalent[k]) / 2
            if t > 0:
                deltas.append(1 - (1 - a[j, k] / 2) ** (1 / t))
    return 1 / (2 * np.mean(deltas)), len(deltas)


def maccluer(sire, dam, animal, generations, missing):
    """MacCluer's index by walking the paths of the pedigree."""

    def side(parent):
        known, front = 0.0, [parent]
        for g in range(generations):
            front = [p for p in front if p != missing]
            known += len(front) / 2**g
            front = [q for p in front for q in (sire[p], dam[p])]
        return known / generations

    paternal, maternal = side(sire[animal]), side(dam[animal])
    return 0.0 if paternal + maternal == 0 else 2 * paternal * maternal / (paternal + maternal)


@pytest.mark.parametrize("kind", sorted(KINDS))
def test_population_figures_against_independent_computations(kind):
    rng = np.random.default_rng(sorted(KINDS).index(kind))
    keywords, n = KINDS[kind]
    sire, dam = random_pedigree(rng, n, **keywords)
    pedigree = Pedigree.from_numbers(sire, dam, unknown=n)
    a = relationship_matrix(sire, dam, n)
    table = pedigree_statistics(pedigree, completeness_generations=4)
    np.testing.assert_allclose(table["completeness"], [maccluer(sire, dam, k, 4, n) for k in range(n)], rtol=1e-14)
    reference = sorted(rng.choice(n, min(n, 30), replace=False).tolist())
    ids = pedigree.ids[reference]
    founders = founder_statistics(pedigree, ids)
    assert founders.founder_genome_equivalents == pytest.approx(1 / a[np.ix_(reference, reference)].mean(), rel=1e-12)
    equivalent = table["equivalent_generations"].to_numpy()
    if not np.any(equivalent[reference] > 0):
        return
    ne, pairs = coancestry_ne(a, equivalent, reference)
    result = effective_population_size(pedigree, ids, method="coancestry")
    assert (result.n, result.sampled, result.method) == (pairs, False, "coancestry")
    assert result.ne == pytest.approx(ne, rel=1e-12)


def test_coancestry_samples_pairs_among_many_animals_reproducibly():
    pedigree = designed_population(np.random.default_rng(0), 10, 10, size=1000, generations=3)
    young = pedigree.ids[-2500:]
    first, again, other = (
        effective_population_size(pedigree, young, method="coancestry", pairs=1000, seed=seed) for seed in (1, 1, 2)
    )
    # 46 animals hold 1,035 pairs
    assert first.ne == again.ne and (first.n, first.sampled) == (1035, True) and other.ne != first.ne


@pytest.mark.parametrize("sires, dams", [(5, 20), (10, 10), (2, 30)])
def test_designed_population_gives_its_effective_size_by_coancestry(sires, dams):
    expected = 4 * sires * dams / (sires + dams)
    estimates = []
    for seed in range(8):
        pedigree = designed_population(np.random.default_rng(seed), sires, dams, generations=20)
        estimates.append(effective_population_size(pedigree, pedigree.ids[-100:], method="coancestry").ne)
    assert abs(np.mean(estimates) / expected - 1) < 0.10


def test_figures_of_birth_dates_regrouped_by_year():
    rng = np.random.default_rng(5)
    sire, dam = random_pedigree(rng, 300, unknown=0.1, span=40)
    born = np.datetime64("2000-01-01") + (np.arange(300) * 6 + rng.integers(0, 6, 300)).astype("timedelta64[D]")
    attributes = pd.DataFrame({"born": born.astype(str), "year": born.astype("datetime64[Y]").astype(str)})
    pedigree = Pedigree(
        np.arange(300).astype(str),
        np.where(np.array(sire) == 300, -1, sire),
        np.where(np.array(dam) == 300, -1, dam),
        attributes=attributes,
    )
    by_year = summary_by(pedigree, "year")
    regrouped = summary_by_year(summary_by(pedigree, "born"))
    assert regrouped.index.tolist() == by_year.index.tolist() and regrouped.columns.equals(by_year.columns)
    np.testing.assert_allclose(regrouped, by_year, rtol=1e-12)
    assert summary_by_year(by_year) is by_year
    with pytest.raises(TypeError, match="summary must be a table of summary_by"):
        summary_by_year([1, 2])
    by_day = pd.DataFrame({"animals": [1, 2], "delta_animals": [0, 1], "ne": 1.0}, index=["2019-03-01", "2019-05-02"])
    with pytest.raises(KeyError, match="'delta_inbreeding'"):
        summary_by_year(by_day)
