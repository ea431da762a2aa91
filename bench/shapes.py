"""Seeded pedigrees of different shapes, for benchmarks that no single shape
can tune.

Every generator takes the number of animals and a seed and returns two int32
arrays, sire and dam, numbered parents first, with an unknown parent coded as
the animal count (the coding of TOLM.fcoeff); `for_dominance` recodes them for
TOLM.cald and TOLM.dijp. `SHAPES` names them all, each with the number of
generations and the sizes at which the benchmarks use it.

    .venv/bin/python bench/shapes.py    # a summary of each shape
"""

import numpy as np

from tolmkit import MISSING_PARENT as MISSING, simulate_pedigree


def for_dominance(sire, dam):
    """The same pedigree with an unknown parent coded -999, as cald and dijp read it."""
    n = len(sire)
    return (np.where(sire == n, MISSING, sire).astype(np.int32), np.where(dam == n, MISSING, dam).astype(np.int32))


def dairy(animals, generations=20, sires=100, seed=0):
    """Overlapping generations; a few sires per cohort chosen among the young
    males, dams from the last four cohorts, 3 % of dams unrecorded."""
    return simulate_pedigree(animals, generations, sires_per_generation=sires, seed=seed)


def few_sires(animals, generations=25, sires=8, seed=0):
    """A small, heavily inbred breed: 8 to 20 sires per generation."""
    return simulate_pedigree(animals, generations, sires_per_generation=sires, seed=seed)


def many_sires(animals, generations=20, sires=1_000, seed=0):
    """A large breed with 1,000 sires per generation."""
    return simulate_pedigree(animals, generations, sires_per_generation=sires, seed=seed)


def random_mating(animals, generations=20, overlap=3, seed=0):
    """No sexes and no selection: each parent is any animal of the `overlap`
    cohorts before, drawn independently (so now and then one animal is both)."""
    rng = np.random.default_rng(seed)
    bounds = _cohorts(animals, generations)
    sire = np.full(animals, animals, np.int64)
    dam = np.full(animals, animals, np.int64)
    for t in range(1, generations + 1):
        start, end = bounds[t], bounds[t + 1]
        first = bounds[max(0, t - overlap)]
        sire[start:end] = rng.integers(first, start, end - start)
        dam[start:end] = rng.integers(first, start, end - start)
    return sire.astype(np.int32), dam.astype(np.int32)


def closed_population(animals, generations=100, sires=10, seed=0):
    """A small herd closed for `generations` discrete generations: every animal
    descends from the founders of cohort 0, parents from the cohort before."""
    return simulate_pedigree(
        animals, generations, sires_per_generation=sires, unknown_dams=0.0, sire_ages=1, dam_ages=1, seed=seed
    )


def selfing_lines(animals, cycles=20, selfings=6, lines_per_cross=4, seed=0):
    """A plant breeding programme of `cycles` cycles: each crosses pairs of
    lines of the cycle before, chosen at random, and selfs each cross for
    `selfings` generations in `lines_per_cross` lines by single-seed descent.
    Cycle 0 are unrelated inbred founders."""
    rng = np.random.default_rng(seed)
    per_cross = 1 + lines_per_cross * selfings
    crosses = max(1, animals // (cycles * per_cross + 2 * lines_per_cross))
    sire = np.full(animals, animals, np.int64)
    dam = np.full(animals, animals, np.int64)
    tips = np.arange(min(animals, 2 * lines_per_cross * crosses))
    filled = len(tips)
    while filled < animals:
        count = min(crosses, animals - filled)
        parents = rng.choice(tips, size=(count, 2), replace=len(tips) < 2 * count)
        sire[filled : filled + count] = parents[:, 0]
        dam[filled : filled + count] = parents[:, 1]
        tips = np.repeat(np.arange(filled, filled + count), lines_per_cross)
        filled += count
        for _ in range(selfings):
            count = min(len(tips), animals - filled)
            sire[filled : filled + count] = tips[:count]
            dam[filled : filled + count] = tips[:count]
            tips = np.arange(filled, filled + count)
            filled += count
    return sire.astype(np.int32), dam.astype(np.int32)


def _cohorts(animals, generations):
    return np.linspace(0, animals, generations + 2).astype(np.int64)


# name: (generator, keyword arguments, sizes in animals)
SHAPES = {
    "dairy": (dairy, {"generations": 20, "sires": 100}, [200_000, 1_000_000]),
    "dairy-50": (dairy, {"generations": 20, "sires": 50}, [200_000]),
    "few-sires-8": (few_sires, {"generations": 25, "sires": 8}, [200_000]),
    "few-sires-20": (few_sires, {"generations": 20, "sires": 20}, [200_000]),
    "many-sires": (many_sires, {"generations": 20, "sires": 1_000}, [100_000]),
    "wide-500": (dairy, {"generations": 25, "sires": 500}, [200_000, 1_000_000]),
    "wide-2000": (dairy, {"generations": 25, "sires": 2_000}, [200_000, 1_000_000]),
    "random-mating": (random_mating, {"generations": 20}, [100_000]),
    "closed-100": (closed_population, {"generations": 100, "sires": 10}, [20_200]),
    "selfing": (selfing_lines, {"cycles": 20, "selfings": 6}, [50_000]),
}


def generate(name, animals, seed=0):
    """Sire and dam of shape `name` at `animals` animals."""
    generator, keywords, _ = SHAPES[name]
    return generator(animals, seed=seed, **keywords)


def _summary():
    for name, (_, keywords, sizes) in SHAPES.items():
        for animals in sizes:
            sire, dam = generate(name, animals)
            assert np.all((sire < np.arange(animals)) | (sire == animals))
            assert np.all((dam < np.arange(animals)) | (dam == animals))
            known = np.count_nonzero(sire != animals) + np.count_nonzero(dam != animals)
            parents = len(np.union1d(sire[sire != animals], dam[dam != animals]))
            print(
                f"{name:>14} {animals:>10,} {keywords}: {known / animals:.2f} known parents "
                f"per animal, {parents:,} animals are parents"
            )


if __name__ == "__main__":
    _summary()
