"""Writes examples/herd-genotypes.bed (with its .bim and .fam), the genotypes
of 300 animals of examples/herd.csv born from 2018 on at 500 markers,
dropped down the pedigree from founders drawn at random allele frequencies,
with 1% of the genotypes missing.

    python examples/make_genotypes.py examples/herd-genotypes
"""

import sys

import numpy as np
from bed_reader import to_bed

from tolmkit import read_pedigree
from tolmkit.records import parents_first

ANIMALS, MARKERS = 300, 500


def main(prefix: str) -> None:
    pedigree = read_pedigree("examples/herd.csv")
    rng = np.random.default_rng(11)
    frequencies = rng.uniform(0.1, 0.9, MARKERS)
    n = len(pedigree)
    # Two alleles per animal and marker; an unknown parent passes one drawn from the base population.
    alleles = (rng.random((n, 2, MARKERS)) < frequencies).astype(np.int8)
    generation = parents_first(pedigree.sire, pedigree.dam)[1]
    for depth in range(1, int(generation.max()) + 1):
        animals = np.flatnonzero(generation == depth)
        for side, parents in enumerate((pedigree.sire, pedigree.dam)):
            known = animals[parents[animals] >= 0]
            which = rng.integers(0, 2, (len(known), MARKERS))
            alleles[known, side] = np.take_along_axis(alleles[parents[known]], which[:, np.newaxis], axis=1)[:, 0]
    young = np.flatnonzero(pedigree.attributes["birth_year"].astype(int).to_numpy() >= 2018)
    chosen = rng.choice(young, ANIMALS, replace=False)
    genotypes = alleles[chosen].sum(axis=1, dtype=np.int8)
    varying = np.flatnonzero(genotypes.min(axis=0) < genotypes.max(axis=0))
    genotypes = genotypes[:, varying]
    genotypes[rng.random(genotypes.shape) < 0.01] = -127
    to_bed(
        f"{prefix}.bed",
        genotypes,
        properties={
            "iid": pedigree.ids[chosen].tolist(),
            "sid": [f"snp{k + 1}" for k in varying],
            "chromosome": ["1"] * len(varying),
            "bp_position": (varying + 1) * 10_000,
        },
    )


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples/herd-genotypes")
