"""hybrid_inverse for 5,000 genotyped animals among 10^6 (2,000 simulated
markers) against the sum of its parts, measured in the same run.

    .venv/bin/python bench/bench_genomic.py [--animals N] [--generations G] [--genotyped M] [--markers K]

The parts: quality control of the genotypes (genotype_quality, with the
pedigree for the Mendelian conflicts), A⁻¹ (inverse_relationship_matrix),
A22 (relationships_among of the genotyped animals), and two dense inverses
of M × M by their Cholesky factors, as hybrid_inverse takes them (numpy.linalg.inv, by LU, is timed
too, for reference; the factor is what names the animal where a matrix
stops being positive definite). G (genomic_relationship_matrix) is timed apart, being
an input. The genotyped animals are drawn from the two youngest cohorts;
their genotypes are drawn independently at random frequencies (1% missing),
which the times do not depend on. Each step prints its processor seconds
(all threads) beside its wall seconds: the machine may be shared.
"""

import argparse
import sys

import numpy as np
import scipy.linalg.lapack as lapack

import tolmkit

from common import timed


def cholesky_inverse(matrix):
    factor, info = lapack.dpotrf(matrix, lower=True, clean=False)
    assert info == 0
    return lapack.dpotri(factor, lower=True, overwrite_c=True)[0]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--animals", type=int, default=1_000_000)
    parser.add_argument("--generations", type=int, default=20)
    parser.add_argument("--genotyped", type=int, default=5_000)
    parser.add_argument("--markers", type=int, default=2_000)
    args = parser.parse_args()
    n = args.animals
    pedigree = tolmkit.Pedigree.from_numbers(*tolmkit.simulate_pedigree(n, args.generations), unknown=n)
    rng = np.random.default_rng(1)
    young = np.arange(n - 2 * (n // (args.generations + 1)), n)
    ids = pedigree.ids[rng.choice(young, size=args.genotyped, replace=False)]
    frequencies = rng.uniform(0.05, 0.95, args.markers)
    genotypes = rng.binomial(2, frequencies, size=(args.genotyped, args.markers)).astype(np.int8)
    genotypes[rng.random(genotypes.shape) < 0.01] = -1

    cholesky_inverse(np.eye(64))  # BLAS starts its threads here, not within a part
    rows = []
    g, *seconds = timed(lambda: tolmkit.genomic_relationship_matrix(genotypes))
    rows.append((f"G, {args.genotyped:,} × {args.markers:,} markers (an input)", *seconds))
    _, *quality = timed(lambda: tolmkit.genotype_quality(genotypes, ids, pedigree=pedigree))
    _, *a_inverse = timed(lambda: tolmkit.inverse_relationship_matrix(pedigree))
    a22, *among = timed(lambda: tolmkit.relationships_among(pedigree, ids))
    blended = 0.95 * g + 0.05 * a22
    _, *first = timed(lambda: cholesky_inverse(blended))
    _, *second = timed(lambda: cholesky_inverse(a22))
    _, *lu = timed(lambda: np.linalg.inv(a22))
    parts = [quality, a_inverse, among, first, second]
    total = [sum(part[k] for part in parts) for k in range(2)]
    result, *whole = timed(lambda: tolmkit.hybrid_inverse(pedigree, ids, g))
    rows += [
        ("quality control (genotype_quality)", *quality),
        ("A-inverse (inverse_relationship_matrix)", *a_inverse),
        ("A22 (relationships_among)", *among),
        (f"inverse of Gw, {args.genotyped:,} (Cholesky)", *first),
        (f"inverse of A22, {args.genotyped:,} (Cholesky)", *second),
        ("sum of the parts", *total),
        ("hybrid_inverse", *whole),
        (f"for reference: numpy.linalg.inv of {args.genotyped:,} (LU)", *lu),
    ]
    print(f"{n:,} animals, {args.genotyped:,} genotyped, H-inverse of {result.matrix.nnz:,} elements")
    print(f"{'':<52}{'wall s':>8}{'cpu s':>8}")
    for label, wall, cpu in rows:
        print(f"{label:<52}{wall:>8.2f}{cpu:>8.2f}")
    print(
        f"hybrid_inverse / sum of the parts: wall {whole[0] / total[0]:.2f}, cpu {whole[1] / total[1]:.2f} "
        "(target: at most 2)"
    )
    print(result.comparison.summary())
    return 0


if __name__ == "__main__":
    sys.exit(main())
