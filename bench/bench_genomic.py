"""hybrid_inverse for 5,000 genotyped animals among 10^6 (2,000 simulated
markers) against the sum of its parts, measured in the same run; with
--core, H⁻¹ as an operator by APY (not run in the documentation).

    .venv/bin/python bench/bench_genomic.py [--animals N] [--generations G] [--genotyped M] [--markers K]
    .venv/bin/python bench/bench_genomic.py --genotyped 50000 --markers 5000 --core 2000

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

With --core: the genotyped animals are the youngest, their genotypes
dropped through the pedigree from founders at random frequencies (as
examples/make_genotypes.py makes the shipped ones), a chunk of markers at a
time. hybrid_inverse(..., core=, form="operator") is timed against the
products that it cannot avoid, each timed apart in the same run: the
core–noncore block of G, its product with the core inverse, A22's columns
of the core (blend is 0.05) and the factor of A¹¹ (a22_inverse_product).
Then one product of the operator with a vector, the peak resident memory
from the operator's build on (VmHWM, reset before it), and
solve_animal_model on records of the youngest cohorts with a herd effect.
"""

import argparse
import os
import sys

import numpy as np
import pandas as pd
import scipy.linalg.lapack as lapack

import tolmkit
from tolmkit.candidates import relationship_block

from common import timed

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples"))
from make_genotypes import drop_genes  # noqa: E402

# Markers dropped through the pedigree at once: the draw holds 16 bytes per
# animal of the ancestry and marker.
_DROPPED_AT_ONCE = 250


def cholesky_inverse(matrix):
    factor, info = lapack.dpotrf(matrix, lower=True, clean=False)
    assert info == 0
    return lapack.dpotri(factor, lower=True, overwrite_c=True)[0]


def table(rows, width):
    """Prints (label, wall, processor seconds) rows under their heading."""
    print(f"{'':<{width}}{'wall s':>8}{'cpu s':>8}", flush=True)
    for label, wall, cpu in rows:
        print(f"{label:<{width}}{wall:>8.2f}{cpu:>8.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--animals", type=int, default=1_000_000)
    parser.add_argument("--generations", type=int, default=20)
    parser.add_argument("--genotyped", type=int, default=5_000)
    parser.add_argument("--markers", type=int, default=2_000)
    parser.add_argument("--core", type=int, help="time H⁻¹ as an operator by APY with a core of this size")
    args = parser.parse_args()
    n = args.animals
    pedigree = tolmkit.Pedigree.from_numbers(*tolmkit.simulate_pedigree(n, args.generations), unknown=n)
    if args.core is not None:
        return apy(pedigree, args)
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
    table(rows, 52)
    print(
        f"hybrid_inverse / sum of the parts: wall {whole[0] / total[0]:.2f}, cpu {whole[1] / total[1]:.2f} "
        "(target: at most 2)"
    )
    print(result.comparison.summary())
    return 0


def dropped_genotypes(pedigree, chosen, markers, rng):
    """Genotypes of the animals `chosen`, dropped through their ancestry."""
    pruned, renumber = tolmkit.ancestry(pedigree, chosen)
    genotypes = np.empty((len(chosen), markers), dtype=np.int8)
    for start in range(0, markers, _DROPPED_AT_ONCE):
        stop = min(markers, start + _DROPPED_AT_ONCE)
        alleles = drop_genes(pruned, rng.uniform(0.05, 0.95, stop - start), rng)
        genotypes[:, start:stop] = alleles[renumber[chosen]].sum(axis=1)
    genotypes[rng.random(genotypes.shape) < 0.01] = -1
    return genotypes


def core_products(across, c, others):
    """The seconds of G's core-noncore block and of its product with the
    inverse of a positive definite c × c matrix, the block freed on return."""
    g_across, *first = timed(across)
    square = g_across[:, :c] @ g_across[:, :c].T + others * np.eye(c)
    _, *second = timed(lambda: lapack.dpotrs(lapack.dpotrf(square, lower=True)[0], g_across, lower=True))
    return first, second


def unavoidable(pedigree, ids, genotypes, core):
    """The products that APY and the A22⁻¹ product cannot do without, each
    timed apart: name, wall and processor seconds."""
    m = len(ids)
    noncore = np.setdiff1d(np.arange(m), core)
    frequencies = np.where(genotypes >= 0, genotypes, 0).sum(axis=0) / (2.0 * (genotypes >= 0).sum(axis=0))

    def across():
        block = np.zeros((len(core), len(noncore)))
        for start in range(0, genotypes.shape[1], 1024):
            z = genotypes[:, start : start + 1024] - 2.0 * frequencies[start : start + 1024]
            block += z[core] @ z[noncore].T
        return block

    first, second = core_products(across, len(core), len(noncore))
    pruned, renumber = tolmkit.ancestry(pedigree, pedigree.numbers(ids))
    chosen = renumber[pedigree.numbers(ids)]
    _, *third = timed(lambda: relationship_block(pruned, chosen, chosen[core]))
    _, *fourth = timed(lambda: tolmkit.a22_inverse_product(pedigree, ids))
    return [
        (f"G's core-noncore block, {len(core):,} x {len(noncore):,}", *first),
        ("its product with the core inverse", *second),
        (f"A22's columns of the core, {len(pruned):,} in the ancestry", *third),
        ("A11's factor (a22_inverse_product)", *fourth),
    ]


def peak_reset():
    with open("/proc/self/clear_refs", "w") as file:
        file.write("5")


def peak():
    with open("/proc/self/status") as file:
        return next(int(line.split()[1]) * 1024 for line in file if line.startswith("VmHWM"))


def apy(pedigree, args):
    n = len(pedigree)
    rng = np.random.default_rng(1)
    chosen = np.arange(n - args.genotyped, n)
    ids = pedigree.ids[chosen]
    print(f"{n:,} animals, {args.genotyped:,} genotyped (the youngest), {args.markers:,} markers, core {args.core:,}")
    table([], 60)  # the rows follow as they are measured
    genotypes, *simulated = timed(lambda: dropped_genotypes(pedigree, chosen, args.markers, rng))
    show(f"genotypes, {args.genotyped:,} x {args.markers:,}, dropped (an input)", *simulated)
    core = np.sort(np.random.default_rng(2).choice(len(ids), args.core, replace=False))
    cholesky_inverse(np.eye(64))  # BLAS starts its threads here, not within a part
    parts = unavoidable(pedigree, ids, genotypes, core)
    for part in parts:
        show(*part)
    total = [sum(part[k] for part in parts) for k in (1, 2)]
    show("sum of the products it cannot avoid", *total)
    peak_reset()
    result, *whole = timed(
        lambda: tolmkit.hybrid_inverse(pedigree, ids, genotypes=genotypes, core=list(ids[core]), form="operator")
    )
    show(f"hybrid_inverse, APY core {args.core:,}, form='operator'", *whole)
    print(f"operator build / the products it cannot avoid: wall {whole[0] / total[0]:.2f} (target: at most 1.5)")
    operator = result.matrix
    x = rng.standard_normal(n)
    show("one product with a vector (best of 3)", *min(timed(lambda: operator @ x)[1:] for _ in range(3)))
    print(f"peak resident memory from the build on: {peak() / 2**30:.2f} GiB (target: under 8)", flush=True)
    show("its diagonal (one solve with A11 per genotyped animal)", *timed(operator.diagonal)[1:])
    herds = rng.integers(0, 200, n)
    cows = np.arange(n - 3 * (n // (args.generations + 1)), n)
    records = pd.DataFrame(
        {"animal": pedigree.ids[cows], "herd": herds[cows], "y": 100.0 + herds[cows] % 7 + rng.normal(0, 10, len(cows))}
    )
    solution, *solving = timed(
        lambda: tolmkit.solve_animal_model(pedigree, records, "y", ["herd"], ratio=2.0, relationship=result)
    )
    show(f"solve_animal_model, {len(records):,} records, tol 1e-12", *solving)
    print(f"solve: {solution.iterations} iterations, |r|/|b| {solution.residual:.2e}")
    print(f"peak resident memory from the build on: {peak() / 2**30:.2f} GiB (target: under 8)")
    print(result.comparison.summary())
    return 0


def show(label, wall, cpu):
    print(f"{label:<60}{wall:>8.2f}{cpu:>8.2f}", flush=True)


if __name__ == "__main__":
    sys.exit(main())
