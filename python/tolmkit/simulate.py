"""Seeded simulation of dairy-like pedigrees, for tests and benchmarks."""

from __future__ import annotations

import numpy as np
from numpy.typing import NDArray

from ._arguments import checked_seed, integer, real

__all__ = ["simulate_pedigree"]


def simulate_pedigree(
    animals: int,
    generations: int,
    *,
    sires_per_generation: int = 100,
    unknown_dams: float = 0.03,
    sire_ages: int = 1,
    dam_ages: int = 4,
    unknown: int | None = None,
    seed: int = 0,
) -> tuple[NDArray[np.int32], NDArray[np.int32]]:
    """Sires and dams of `animals` animals in `generations` + 1 cohorts of equal size.

    Cohort 0 are founders. Each later cohort is bred from `sires_per_generation`
    males chosen at random among those of the `sire_ages` cohorts before it and
    from the females of the `dam_ages` cohorts before it, so generations overlap;
    a share `unknown_dams` of the dams is not recorded; a cohort with no male
    or no female before it is of founders too. Animals are numbered cohort by
    cohort, so parents come before their offspring.

    Returns two int32 arrays; an unknown parent is coded `unknown`, by default
    `animals` (the coding of `TOLM.fcoeff`; pass -999 for `cald` and `dijp`).
    Counts that are not integers of their least value or more, fewer
    animals than cohorts, a share
    beyond [0, 1], a code among the animals' numbers or beyond int32, and a
    seed that is not a non-negative integer, are refused naming them
    (ValueError).
    """
    least = {"animals": 1, "generations": 0, "sires_per_generation": 1, "sire_ages": 1, "dam_ages": 1}
    given = {"animals": animals, "generations": generations, "sires_per_generation": sires_per_generation}
    given.update(sire_ages=sire_ages, dam_ages=dam_ages)
    for name, value in given.items():
        number = integer(value)
        if number is None or number < least[name]:
            raise ValueError(f"{name} must be an integer of at least {least[name]}, got {value!r}")
    if animals < generations + 1:
        raise ValueError(f"animals must be at least generations + 1, a cohort each; got {animals} for {generations}")
    share = real(unknown_dams)
    if share is None or not 0.0 <= share <= 1.0:
        raise ValueError(f"unknown_dams must lie in [0, 1], got {unknown_dams!r}")
    code = animals if unknown is None else integer(unknown)
    # A code among the animals' numbers would make them unknown parents.
    if code is None or 0 <= code < animals or not -(2**31) <= code < 2**31:
        raise ValueError(f"unknown must be an integer of int32 outside 0 to {animals - 1}, got {unknown!r}")
    rng = np.random.default_rng(checked_seed(seed))
    bounds = np.linspace(0, animals, generations + 2).astype(np.int64)
    male = rng.random(animals) < 0.5
    sire = np.full(animals, code, dtype=np.int64)
    dam = np.full(animals, code, dtype=np.int64)
    for t in range(1, generations + 1):
        start, end = bounds[t], bounds[t + 1]
        born = np.arange(bounds[max(0, t - sire_ages)], start)
        males = born[male[born]]
        females_born = np.arange(bounds[max(0, t - dam_ages)], start)
        females = females_born[~male[females_born]]
        calves = end - start
        if len(males) == 0 or len(females) == 0:
            continue
        chosen = rng.choice(males, size=min(sires_per_generation, len(males)), replace=False)
        sire[start:end] = rng.choice(chosen, size=calves)
        dam[start:end] = rng.choice(females, size=calves)
        dam[start:end][rng.random(calves) < unknown_dams] = code
    return sire.astype(np.int32), dam.astype(np.int32)
