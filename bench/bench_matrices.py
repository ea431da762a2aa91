"""A-inverse of a large simulated pedigree, and the relationships among
candidates and of pairs drawn from it.

    .venv/bin/python bench/bench_matrices.py [--animals N] [--generations G] [--candidates M] [--repeat R]

A-inverse is timed beside `inbreeding`, which it calls: what it adds is the
assembly. The candidates are drawn from the youngest cohort, the deepest
ancestry; the diagonal of their matrix is checked against 1 + F. Pairs are
timed scattered over the pedigree and as the sires by dams of a mating plan.
"""

import argparse
import sys

import numpy as np

import tolmkit

from common import best_of


def timed(repeat, function, *arguments, **keywords):
    """Seconds of the fastest of `repeat` calls, and the result of the last."""
    result = []
    seconds = best_of(repeat, lambda: (), lambda: result.append(function(*arguments, **keywords)))
    return seconds, result[-1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--animals", type=int, default=1_000_000)
    parser.add_argument("--generations", type=int, default=20)
    parser.add_argument("--candidates", type=int, default=2_000)
    parser.add_argument("--pairs", type=int, default=10_000)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    n = args.animals
    pedigree = tolmkit.Pedigree.from_numbers(*tolmkit.simulate_pedigree(n, args.generations), unknown=n)
    rng = np.random.default_rng(11)

    f_seconds, computed = timed(args.repeat, tolmkit.inbreeding, pedigree)
    f = computed[0]
    inverse_seconds, inverse = timed(args.repeat, tolmkit.inverse_relationship_matrix, pedigree)
    # The assembly alone, with inbreeding's result at hand: the difference of
    # the two timings above drowns in the noise of a shared machine.
    tolmkit.inverse.inbreeding = lambda _: computed
    assembly_seconds, _ = timed(args.repeat, tolmkit.inverse_relationship_matrix, pedigree)
    print(
        f"{n:,} animals, {args.generations} generations: inbreeding {f_seconds:.2f} s, "
        f"A-inverse {inverse_seconds:.2f} s ({inverse.nnz:,} elements), of which the assembly "
        f"{assembly_seconds:.2f} s",
        flush=True,
    )

    youngest = np.arange(n - n // (args.generations + 1), n)
    chosen = pedigree.ids[rng.choice(youngest, size=args.candidates, replace=False)]
    among_seconds, among = timed(args.repeat, tolmkit.relationships_among, pedigree, chosen)
    ancestry = len(tolmkit.prune(pedigree, chosen))
    error = np.abs(np.diag(among) - 1 - f[pedigree.numbers(chosen)]).max()
    print(
        f"{args.candidates:,} candidates ({ancestry:,} animals in their ancestry): relationships_among "
        f"{among_seconds:.2f} s; diagonal against 1 + F: largest difference {error:.1e}",
        flush=True,
    )

    sires, dams = (pedigree.ids[rng.choice(youngest, size=k, replace=False)] for k in (100, 1_000))
    pair_sets = {
        "random pairs of the whole pedigree": [pedigree.ids[rng.integers(0, n, args.pairs)] for _ in range(2)],
        "100 sires x 1,000 dams, youngest cohort": [np.repeat(sires, len(dams)), np.tile(dams, len(sires))],
    }
    for name, (first, second) in pair_sets.items():
        pairs_seconds, _ = timed(args.repeat, tolmkit.relationship_pairs, pedigree, first, second)
        print(f"{len(first):,} {name}: relationship_pairs {pairs_seconds:.2f} s", flush=True)
    if error > 1e-12:
        sys.exit("relationships_among: the diagonal differs from 1 + F")


if __name__ == "__main__":
    main()
