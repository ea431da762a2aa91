"""Writes examples/herd.csv, the pedigree of the demo: 4,000 animals of a
small simulated dairy breed (25 sires per generation), with herd-book
identifiers, a birth year, unknown parents written in the ways real files
write them, and the rows in order of birth but for 60 animals registered
late, at the end of the file, after their calves.

    python examples/make_herd.py examples/herd.csv
"""

import csv
import sys

import numpy as np

from tolmkit import simulate_pedigree

ANIMALS, GENERATIONS = 4000, 10


def main(path: str) -> None:
    sire, dam = simulate_pedigree(ANIMALS, GENERATIONS, sires_per_generation=25, unknown_dams=0.05,
                                  seed=2026)
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


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples/herd.csv")
