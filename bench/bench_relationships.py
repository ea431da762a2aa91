"""relationship_matrix on simulated pedigrees, deep and wide, and dominance_pairs
on a given matrix.

    .venv/bin/python bench/bench_relationships.py [--cases 4000x400,20000x12] [--repeat R] [--sgkit PYTHON]

Times the full symmetric matrix and its lower triangle (best of R runs).
With --sgkit, a Python that has sgkit installed also times sgkit's dense
pedigree_kinship on the same pedigree, in a process of its own, and the
row sums of both kinship matrices are compared.
"""

import argparse
import functools
import sys
import time

import numpy as np

import tolmkit
from tolmkit import Pedigree, simulate_pedigree

from common import best_of, run_sgkit

SGKIT_SCRIPT = """
import sys, time, json, numpy as np, xarray as xr, sgkit
sire, dam = np.load(sys.argv[1]), np.load(sys.argv[2])
parent = np.stack([sire, dam], axis=1)
ds = xr.Dataset({"parent": (("samples", "parents"), parent)})
sgkit.pedigree_kinship(ds.isel(samples=slice(0, 10)), allow_half_founders=True).stat_pedigree_kinship.values
start = time.perf_counter()
kinship = sgkit.pedigree_kinship(ds, allow_half_founders=True).stat_pedigree_kinship.values
seconds = time.perf_counter() - start
print(json.dumps({"seconds": seconds, "row_sums": kinship.sum(axis=1).tolist()}))
"""


def time_sgkit(python, pedigree):
    answer = run_sgkit(python, SGKIT_SCRIPT, pedigree.sire, pedigree.dam)
    return answer["seconds"], np.array(answer["row_sums"])


def dominance_pairs_calls(repeat):
    """Seconds of the first call of dominance_pairs on a given kinship matrix of
    10,000 animals, which examines it, and of a later call, for one pair."""
    n = 10_000
    pedigree = Pedigree.from_numbers(*simulate_pedigree(n, 10, seed=5), unknown=n)
    pair = ([str(n - 1)], [str(n - 2)])
    seconds = []
    for _ in range(repeat):
        kinship = tolmkit.relationship_matrix(pedigree, kinship=True)
        start = time.perf_counter()
        tolmkit.dominance_pairs(pedigree, *pair, relationships=kinship)
        first = time.perf_counter() - start
        start = time.perf_counter()
        tolmkit.dominance_pairs(pedigree, *pair, relationships=kinship)
        seconds.append((first, time.perf_counter() - start))
    return kinship.nnz, min(s[0] for s in seconds), min(s[1] for s in seconds)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cases", default="4000x400,20000x12")
    parser.add_argument("--repeat", type=int, default=2)
    parser.add_argument("--sgkit", help="a Python with sgkit installed")
    args = parser.parse_args()
    print(
        f"{'animals':>8} {'gens':>5} {'lower elements':>15} {'lower s':>8} {'full s':>8}"
        + (f" {'sgkit s':>8} {'sgkit/full':>10}" if args.sgkit else "")
    )
    for case in args.cases.split(","):
        n, generations = map(int, case.split("x"))
        pedigree = Pedigree.from_numbers(*simulate_pedigree(n, generations, seed=n), unknown=n)
        unbounded = dict(kinship=True, memory_limit=float("inf"))
        lower = best_of(
            args.repeat, lambda: (), functools.partial(tolmkit.relationship_matrix, pedigree, lower=True, **unbounded)
        )
        full = best_of(args.repeat, lambda: (), functools.partial(tolmkit.relationship_matrix, pedigree, **unbounded))
        elements = tolmkit.relationship_matrix(pedigree, lower=True, **unbounded).nnz
        line = f"{n:>8,} {generations:>5} {elements:>15,} {lower:>8.2f} {full:>8.2f}"
        if args.sgkit:
            try:
                seconds, row_sums = time_sgkit(args.sgkit, pedigree)
                kinship = tolmkit.relationship_matrix(pedigree, **unbounded)
                agree = np.max(np.abs(np.asarray(kinship.sum(axis=1)).ravel() - row_sums) / row_sums)
                del kinship
                line += f" {seconds:>8.2f} {seconds / full:>10.1f} (row sums within {agree:.1e})"
            except (RuntimeError, OSError) as failure:
                line += f" sgkit failed: {failure}"
        print(line, flush=True)
    stored, first, later = dominance_pairs_calls(args.repeat)
    print(
        f"\ndominance_pairs, one pair, on a given kinship matrix of 10,000 animals ({stored:,} elements): "
        f"first call {first * 1e3:.1f} ms (examines the matrix), later calls {later * 1e3:.3f} ms"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
