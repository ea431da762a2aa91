"""Writes examples/herd-genotypes.bed (with its .bim and .fam), the genotypes
of 300 animals of examples/herd.csv born from 2018 on at 500 markers,
dropped down the pedigree from founders drawn at random allele frequencies,
with 1% of the genotypes missing.

    python examples/make_genotypes.py examples/herd-genotypes
"""

import sys

import numpy as np
from bed_reader import to_bed
from numpy.typing import NDArray

from tolmkit import Pedigree, read_pedigree
from tolmkit.records import parents_first

ANIMALS, MARKERS = 300, 500


def drop_genes(pedigree: Pedigree, frequencies: NDArray[np.float64], rng: np.random.Generator) -> NDArray[np.int8]:
    """The two alleles (1 for the counted one) of every animal at each marker,
    dropped from parents to offspring, a generation at a time: an unknown
    parent passes one drawn at the marker's frequency in the base population."""
    n, markers = len(pedigree), len(frequencies)
    alleles = (rng.random((n, 2, markers)) < frequencies).astype(np.int8)
    generation = parents_first(pedigree.sire, pedigree.dam)[1]
    for depth in range(1, int(generation.max(initial=0)) + 1):
        animals = np.flatnonzero(generation == depth)
        for side, parents in enumerate((pedigree.sire, pedigree.dam)):
            known = animals[parents[animals] >= 0]
            which = rng.integers(0, 2, (len(known), markers))
            alleles[known, side] = np.take_along_axis(alleles[parents[known]], which[:, np.newaxis], axis=1)[:, 0]
    return alleles


def main(prefix: str) -> None:
    pedigree = read_pedigree("examples/herd.csv")
    rng = np.random.default_rng(11)
    alleles = drop_genes(pedigree, rng.uniform(0.1, 0.9, MARKERS), rng)
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
