"""Writes examples/herd.csv, the pedigree of the demo: 4,000 animals of a
small simulated dairy breed (25 sires per generation), with herd-book
identifiers, a birth year, unknown parents written in the ways real files
write them, and the rows in order of birth but for 60 animals registered
late, at the end of the file, after their calves; and examples/yields.csv,
a 305-day milk yield of every cow that calved by 2019, from breeding values
drawn down the pedigree (heritability 1/3).

    python examples/make_herd.py examples/herd.csv examples/yields.csv
"""

import csv
import sys

import numpy as np
from numpy.typing import NDArray

from tolmkit import Pedigree, inbreeding, simulate_pedigree

ANIMALS, GENERATIONS = 4000, 10
#: Mean, additive and residual standard deviations of a yield, in kg.
MILK, ADDITIVE_SD, RESIDUAL_SD = 8500.0, 1000.0 / 3**0.5, 1000.0 * (2 / 3) ** 0.5


def main(path: str, yields: str) -> None:
    sire, dam = simulate_pedigree(ANIMALS, GENERATIONS, sires_per_generation=25, unknown_dams=0.05, seed=2026)
    rng = np.random.default_rng(7)
    ids = [f"NL{k}" for k in rng.choice(np.arange(10**8, 10**9), ANIMALS, replace=False)]
    year = 2010 + np.linspace(0, GENERATIONS + 1, ANIMALS, endpoint=False).astype(int)
    unknown = ["0", "NA", "", "."]

    def name(k: int) -> str:
        return unknown[rng.integers(len(unknown))] if k == ANIMALS else ids[k]

    rows = [(ids[k], name(sire[k]), name(dam[k]), int(year[k])) for k in range(ANIMALS)]
    late = rng.choice(ANIMALS, 60, replace=False)
    order = np.concatenate([np.setdiff1d(np.arange(ANIMALS), late), late])
    with open(path, "w", newline="", encoding="utf-8") as out:
        writer = csv.writer(out)
        writer.writerow(["animal", "sire", "dam", "birth_year"])
        writer.writerows(rows[k] for k in order)
    write_yields(yields, sire, dam, ids, year)


def write_yields(
    path: str, sire: NDArray[np.int32], dam: NDArray[np.int32], ids: list[str], year: NDArray[np.int64]
) -> None:
    _, sampling_var = inbreeding(Pedigree.from_numbers(sire, dam, unknown=ANIMALS))
    rng = np.random.default_rng(305)
    value = np.zeros(ANIMALS + 1)  # an unknown parent, numbered ANIMALS, adds nothing
    for k in range(ANIMALS):
        value[k] = (value[sire[k]] + value[dam[k]]) / 2 + rng.normal(0, ADDITIVE_SD * sampling_var[k] ** 0.5)
    cows = np.unique(dam[(dam < ANIMALS)])
    cows = cows[year[cows] <= 2019]
    milk = np.round(MILK + value[cows] + rng.normal(0, RESIDUAL_SD, len(cows))).astype(int)
    with open(path, "w", newline="", encoding="utf-8") as out:
        writer = csv.writer(out)
        writer.writerow(["animal", "milk_kg"])
        writer.writerows((ids[k], m) for k, m in zip(cows, milk))


if __name__ == "__main__":
    main(*(sys.argv[1:3] if len(sys.argv) > 2 else ["examples/herd.csv", "examples/yields.csv"]))
