import io

import numpy as np
import pandas as pd
import pytest

from tolmkit import Pedigree, effective_population_size, founder_statistics, intervals_by_cohort, read_pedigree
from tolmkit.ancestral import EXACT_DEPTH, ancestral_inbreeding, kalinowski_inbreeding, partial_inbreeding
from tolmkit.completeness import ancestors_known, completeness_by_generation, parents_by_cohort
from tolmkit.contributors import ancestors_table, n50
from tolmkit.kinship import conservation_index, mean_kinship

from pedigrees import KINDS, random_pedigree, relationship_matrix

# s1 and d1 founders, d2 not listed; a and c full sibs, b of s1 and d2; e of
# a and b, f of a and an unknown dam, g of e and c.
HERD = """animal,sire,dam,birth_year,sex
s1,0,0,2000,M
d1,0,0,2000,F
a,s1,d1,2001,M
b,s1,d2,2001,F
c,s1,d1,2002,F
e,a,b,2003,M
f,a,0,2003,F
g,e,c,2004,F
"""


@pytest.fixture(scope="module")
def herd():
    return read_pedigree(io.StringIO(HERD))


def paths_known(sire, dam, missing, animal, generations):
    """The shares of the ancestors known in each generation back, by walking the paths."""
    shares, front = [], [animal]
    for g in range(1, generations + 1):
        front = [p for q in front for p in (sire[q], dam[q]) if p != missing]
        shares.append(len(front) / 2**g)
    return shares


def founder_shares(sire, dam, missing):
    """p_if by the definition: rows of animals, columns of founders and of
    the unknown parents of half-founders."""
    n = len(sire)
    columns = {}
    rows = []
    for i in range(n):
        row = {}
        parents = [p for p in (sire[i], dam[i]) if p != missing]
        if not parents:
            row[("founder", i)] = 1.0
        for p in parents:
            for key, value in rows[p].items():
                row[key] = row.get(key, 0.0) + value / 2
        if len(parents) == 1:
            row[("unknown parent", i)] = 0.5
        rows.append(row)
        columns.update(dict.fromkeys(row))
    return np.array([[row.get(key, 0.0) for key in columns] for row in rows])


def tabular_partial(sire, dam, missing, founder):
    """Lacy, Alaks and Walsh's tabular method for founder `founder` (whose
    unknown parents bring its alleles): partial kinships f(j) and shares p(j)."""
    n = len(sire)
    f, p = np.zeros((n, n)), np.zeros(n)
    unknown = (sire[founder] == missing) + (dam[founder] == missing)
    for i in range(n):
        s, d = sire[i], dam[i]
        p[i] = (unknown / 2 if i == founder else 0) + sum(p[q] / 2 for q in (s, d) if q != missing)
        for k in range(i):
            f[i, k] = f[k, i] = sum(f[q, k] / 2 for q in (s, d) if q != missing)
        f[i, i] = p[i] / 2 + (f[s, d] / 2 if s != missing and d != missing else 0)
    return np.array([f[sire[i], dam[i]] if missing not in (sire[i], dam[i]) else 0.0 for i in range(n)])


@pytest.mark.parametrize("kind", sorted(KINDS))
def test_figures_against_the_papers_on_random_pedigrees(kind):
    rng = np.random.default_rng(100 + sorted(KINDS).index(kind))
    keywords, n = KINDS[kind]
    n = min(n, 60)
    sire, dam = random_pedigree(rng, n, **keywords)
    pedigree = Pedigree.from_numbers(sire, dam, unknown=n)
    a = relationship_matrix(sire, dam, n)
    reference = sorted(rng.choice(n, min(n, 15), replace=False).tolist())
    ids = pedigree.ids[reference]
    expected = [paths_known(sire, dam, n, k, 4) for k in range(n)]
    assert ancestors_known(pedigree, 4).tolist() == expected
    x = np.zeros(n)
    x[reference] = 1 / len(reference)
    np.testing.assert_allclose(mean_kinship(pedigree, ids), a @ x / 2, rtol=1e-12, atol=1e-15)
    shares = founder_shares(sire, dam, n)
    np.testing.assert_allclose(conservation_index(pedigree), 1 / (shares**2).sum(axis=1), rtol=1e-12)
    # Ballou's recursion, animal by animal
    f = np.diag(a) - 1
    ballou = np.zeros(n)
    for i in range(n):
        ballou[i] = sum(ballou[q] + (1 - ballou[q]) * f[q] for q in (sire[i], dam[i]) if q != n) / 2
    assert ancestral_inbreeding(pedigree).tolist() == ballou.tolist()
    founders = [i for i in range(n) if n in (sire[i], dam[i])]
    by_founder = np.array([tabular_partial(sire, dam, n, j) for j in founders]).T
    np.testing.assert_allclose(by_founder.sum(axis=1), f, atol=1e-14)
    partial = partial_inbreeding(pedigree, ids, founders=3)
    means = by_founder[reference].mean(axis=0)
    top = partial.founders.index[:-1]
    if partial.mean_inbreeding > 0:
        np.testing.assert_allclose(
            partial.founders["inbreeding"].iloc[:-1], np.sort(means)[::-1][: len(top)], atol=1e-14
        )
        chosen = [founders.index(int(pedigree.numbers([name])[0])) for name in top]
        np.testing.assert_allclose(partial.animals[top], by_founder[reference][:, chosen], atol=1e-14)
    assert partial.founders["inbreeding"].sum() == pytest.approx(f[reference].mean(), abs=1e-14)


def test_gene_dropping_agrees_with_the_exact_figures_within_its_error():
    rng = np.random.default_rng(7)
    sire, dam = random_pedigree(rng, 80, unknown=0.1, same_as_previous=0.3, span=8)
    pedigree = Pedigree.from_numbers(sire, dam, unknown=80)
    reference = pedigree.ids[60:]
    exact = partial_inbreeding(pedigree, reference, founders=4)
    dropped = partial_inbreeding(pedigree, reference, founders=4, max_animals=10, drops=3000, seed=1)
    assert not dropped.exact and dropped.drops == 3000
    both = exact.founders.index[:-1].intersection(dropped.founders.index[:-1])
    gap = (dropped.founders.loc[both, "inbreeding"] - exact.founders.loc[both, "inbreeding"]).abs()
    assert len(both) >= 2 and (gap <= 4 * dropped.founders.loc[both, "se"] + 1e-12).all()
    split = kalinowski_inbreeding(pedigree, reference, drops=3000, seed=1)
    table = split.animals
    assert np.all(np.abs(table["identical"] - table["inbreeding"]) <= 4 * np.sqrt(0.25 / 3000) + 1e-12)
    assert np.allclose(table["ancestral"] + table["new"], table["identical"])
    assert kalinowski_inbreeding(pedigree, reference, drops=3000, seed=1).animals.equals(table)
    # Every founder listed: the others' part, 0, is the exact F less the estimates, within their error.
    sibs = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b"), ("d", "a", "b"), ("e", "c", "d")])
    other = partial_inbreeding(sibs, ["e"], max_animals=1, drops=3000, seed=1).founders.loc["other founders"]
    assert 0 < abs(other["inbreeding"]) <= 4 * other["se"]
    # A line selfed for more generations than are taken exactly: its founder's part is all of F.
    line = [("p0", "0", "0")] + [(f"p{k}", f"p{k - 1}", f"p{k - 1}") for k in range(1, EXACT_DEPTH + 2)]
    selfed = partial_inbreeding(Pedigree.from_records(line, selfing=True), [line[-1][0]], drops=100)
    assert not selfed.exact and selfed.founders["inbreeding"].tolist() == [1.0, 0.0]


def test_ancestral_inbreeding_by_hand():
    # a selfed twice: F_b = 1/2, F_c = 3/4; c is IBD for an allele b was IBD
    # for (F_ANC) half the time, and for one first IBD in c a quarter.
    pedigree = Pedigree.from_records([("b", "a", "a"), ("c", "b", "b")], selfing=True)
    assert ancestral_inbreeding(pedigree).tolist() == [0.0, 0.0, 0.5]
    split = kalinowski_inbreeding(pedigree, ["c"], drops=20000, seed=3)
    assert abs(split.ancestral - 0.5) < 4 * split.ancestral_se
    assert abs(split.new - 0.25) < 4 * np.sqrt(0.25 * 0.75 / 20000)


def kalinowski_by_hand(sire, dam, missing, drops, rng):
    """F_ANC of every animal by dropping genes one drop and one animal at a
    time, each allele copy carrying whether it was in an animal identical
    by descent."""
    n = len(sire)
    ancestral = np.zeros(n)
    for _ in range(drops):
        alleles = []
        for i in range(n):
            copies = []
            for slot, q in enumerate((sire[i], dam[i])):
                copies.append(((i, slot), False) if q == missing else alleles[q][rng.integers(2)])
            identical = copies[0][0] == copies[1][0]
            ancestral[i] += identical and (copies[0][1] or copies[1][1])
            alleles.append([(allele, marked or identical) for allele, marked in copies])
    return ancestral / drops


def test_kalinowski_against_an_allele_by_allele_drop():
    rng = np.random.default_rng(9)
    sire, dam = random_pedigree(rng, 40, unknown=0.1, selfing=0.2, same_as_previous=0.3, span=5)
    pedigree = Pedigree.from_numbers(sire, dam, unknown=40)
    split = kalinowski_inbreeding(pedigree, pedigree.ids, drops=4000, seed=2)
    by_hand = kalinowski_by_hand(sire, dam, 40, 4000, rng)
    got = split.animals.loc[pedigree.ids, "ancestral"].to_numpy()
    error = np.sqrt(2 * np.maximum(got * (1 - got), by_hand * (1 - by_hand)) / 4000)
    assert np.all(np.abs(got - by_hand) <= 4 * error + 1e-12) and by_hand.max() > 0.1


def test_intervals_by_the_offspring_cohort_by_hand(herd):
    # Offspring that are parents: a (a sire) and b (a dam) of 2001, c (a dam)
    # of 2002, e (a sire) of 2003; d2 has no birth
    table = intervals_by_cohort(herd)
    expected = {
        2001: [1.0, 1.0, 1.0, np.nan, 1.0, 3],
        2002: [np.nan, 2.0, np.nan, 2.0, 2.0, 2],
        2003: [2.0, np.nan, 2.0, np.nan, 2.0, 2],
    }
    assert table.index.tolist() == list(expected)
    np.testing.assert_array_equal(table.to_numpy(dtype=float), np.array(list(expected.values())))


def test_completeness_parents_and_ancestors_by_hand(herd):
    by_year = completeness_by_generation(herd, by="birth_year", generations=2)
    assert by_year.index.tolist() == [2000, 2001, 2002, 2003, 2004]
    # g: both parents; of its grandparents a, b, s1, d1 known
    assert completeness_by_generation(herd, ["g"], generations=2).loc["all"].tolist() == [1, 1.0, 1.0]
    # e: grandparents all known (d2 added as a founder); f: a's two of four
    assert by_year.loc[2003, [1, 2]].tolist() == [0.75, 0.75]
    parents = parents_by_cohort(herd, "birth_year", most_used=1)
    assert parents.loc[2001].tolist() == [2, 1, 2.0, 0.0, 2, 1.0, 0.0, 1.0]
    assert parents.loc[2003].tolist() == [2, 1, 2.0, 0.0, 1, 1.0, 0.0, 1.0]
    records = [(f"p{k}", f"f{2 * k}", f"f{2 * k + 1}") for k in range(4)] + [(f"r{k}", "p0", "p1") for k in range(6)]
    pedigree = Pedigree.from_records(records)
    founders = founder_statistics(pedigree, [f"r{k}" for k in range(6)])
    assert n50(founders) == 1
    table = ancestors_table(pedigree, founders)
    assert table["offspring"].tolist() == [6, 6]
    np.testing.assert_allclose(table["cumulated"], [0.5, 1.0])
    assert table["birth_year"].isna().all()
    # s1 brings half of g's genes: a quarter through c, an eighth through each of a and b
    first = ancestors_table(herd, founder_statistics(herd, ["g"])).iloc[0]
    assert (first.name, first["birth_year"], first["sex"], first["offspring"]) == ("s1", 2000.0, "M", 3)


def generations_of(sizes, families):
    """Discrete generations of `sizes[t]` animals, half of each sex, parents of
    generation t + 1 from t by `families(rng, t)`: pairs of sire and dam."""
    rng = np.random.default_rng(11)
    sire, dam = [-1] * sizes, [-1] * sizes
    for t in range(5):
        males = np.arange(t * sizes, t * sizes + sizes // 2)
        sires, dams = families(rng, males, males + sizes // 2)
        sire += list(sires)
        dam += list(dams)
    return Pedigree.from_numbers(sire, dam, unknown=-1)


def test_effective_sizes_by_sex_ratio_and_family_size():
    n = 200
    # Monogamous pairs, each with one son and one daughter: equal families.
    equal = generations_of(n, lambda rng, m, f: (np.concatenate([m, m]), np.concatenate([f, f])))
    reference = equal.ids[n : 2 * n]
    result = effective_population_size(equal, reference, method="family-size", interval=1)
    assert (result.ne, result.sires, result.dams, result.method) == (2 * n, n // 2, n // 2, "family-size")
    assert effective_population_size(equal, reference, method="sex-ratio").ne == n

    # Every sire and dam of a random pick, Poisson families.
    def poisson(rng, m, f):
        return rng.choice(m, n), rng.choice(f, n)

    estimates = [
        effective_population_size(
            generations_of(n, poisson), [str(k) for k in range(n * t, n * t + n)], method="family-size", interval=1
        ).ne
        for t in (1, 2, 3)
    ]
    assert abs(np.mean(estimates) / n - 1) < 0.15
    with pytest.raises(ValueError, match="interval="):
        effective_population_size(equal, reference, method="family-size")
    with pytest.raises(ValueError, match="interval must be a positive"):
        effective_population_size(equal, reference, method="family-size", interval=0)


def test_effective_size_by_regression():
    rng = np.random.default_rng(5)
    sire, dam = random_pedigree(rng, 120, unknown=0.05, same_as_previous=0.3, span=10)
    pedigree = Pedigree.from_numbers(sire, dam, unknown=120)
    reference = pedigree.ids[80:]
    t = pedigree.equivalent_generations[80:]
    y = np.log(1 - pedigree.inbreeding[80:])
    slope = np.linalg.lstsq(t[t > 0, np.newaxis], y[t > 0], rcond=None)[0][0]
    result = effective_population_size(pedigree, reference, method="regression")
    assert result.ne == pytest.approx(1 / (2 * (1 - np.exp(slope))), rel=1e-12)
    assert result.n == np.count_nonzero(t > 0) and result.se > 0


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda p: partial_inbreeding(p, ["g"], max_animals=0), ValueError, "max_animals must be a positive"),
        (lambda p: kalinowski_inbreeding(p, ["g"], drops=0), ValueError, "drops must be a positive"),
        (lambda p: kalinowski_inbreeding(p, ["g"], seed=1.5), ValueError, "seed must be a non-negative integer"),
        (lambda p: kalinowski_inbreeding(p, ["g"], drops=2**31 + 1), ValueError, r"drops must be at most 2\^31"),
        (lambda p: mean_kinship(p, ["x"]), Exception, "'x' is not in the pedigree"),
        (lambda p: parents_by_cohort(p, "born"), KeyError, "no column 'born'"),
        (lambda p: completeness_by_generation(p, generations=0), ValueError, "generations must be an integer from 1"),
        (lambda p: completeness_by_generation(p, generations=10**9), ValueError, "from 1 to 53, got 1000000000"),
        (lambda p: effective_population_size(p, ["s1"], method="sex-ratio"), ValueError, "needs both"),
        (
            lambda p: effective_population_size(
                Pedigree.from_records([("p", "0", "0"), ("c", "p", "p")], selfing=True), ["c"], method="family-size"
            ),
            ValueError,
            "'p' is a sire and a dam of the reference animals",
        ),
        (lambda p: effective_population_size(p, ["g"], method="lineage"), ValueError, "'family-size'"),
    ],
)
def test_refusals(herd, call, error, message):
    before = [array.copy() for array in (herd.sire, herd.dam, herd.inbreeding)] + [herd.attributes]
    with pytest.raises(error, match=message):
        call(herd)
    after = [herd.sire, herd.dam, herd.inbreeding, herd.attributes]
    assert all(np.array_equal(old, new) for old, new in zip(before[:3], after[:3])) and before[3].equals(after[3])


def test_parents_by_cohort_against_a_count_of_the_records():
    rng = np.random.default_rng(4)
    sire, dam = random_pedigree(rng, 300, unknown=0.2, span=40)
    names = [f"x{k}" for k in range(300)]
    frame = pd.DataFrame(
        {
            "id": names,
            "sire": [names[p] if p < 300 else "0" for p in sire],
            "dam": [names[p] if p < 300 else "0" for p in dam],
            "year": 2000 + np.arange(300) // 50,
        }
    )
    table = parents_by_cohort(read_pedigree(frame, selfing=True), "year", most_used=3)
    for year, cohort in frame.groupby("year"):
        sires, dams = (cohort[role][cohort[role] != "0"].value_counts() for role in ("sire", "dam"))
        expected = [len(cohort), len(sires), sires.mean(), sires.var(ddof=0), len(dams), dams.mean(), dams.var(ddof=0)]
        expected.append(sires.nlargest(3).sum() / sires.sum())
        np.testing.assert_allclose(table.loc[year].to_numpy(dtype=float), expected, rtol=1e-12)
