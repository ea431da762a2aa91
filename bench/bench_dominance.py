"""cald and dijp on the relationship matrix of a simulated dairy pedigree:
the module against the literal lookup.

    .venv/bin/python bench/bench_dominance.py [--animals 8000,20000] [--pairs N] [--repeat R]

Time per candidate pair (a stored off-diagonal element whose two animals both
have both parents) for cald, and per pair for dijp on random pairs; both are
checked to give the same bits as the literal transcriptions.
"""

import argparse
import sys

import numpy as np

import TOLM
from tolmkit import simulate_pedigree

from common import best_of, load_literal, pointers, relationship_lower_csr, scalar

MISSING = -999


def candidate_pairs(sire, dam, rowstart, col):
    both = (sire != MISSING) & (dam != MISSING)
    rows = np.repeat(np.arange(len(sire)), np.diff(rowstart))
    return int(np.count_nonzero(both[rows] & both[col] & (rows != col)))


def cald_outputs(n, stored):
    return np.empty(stored), np.empty(stored, np.int32), np.empty(n, np.int32), np.zeros(1, np.int32)


def compare_cald(library, sire, dam, rowstart, col, val, repeat):
    n, stored = len(sire), len(col)
    runs = {"TOLM": lambda *out: TOLM.cald(sire, dam, col, rowstart, val, scalar(n), *out),
            "literal": lambda *out: library.literal_cald(
                *pointers(sire, dam, col, rowstart, val, scalar(n), *out))}
    seconds, results = {}, {}
    for name, run in runs.items():
        def keep(*out, run=run, name=name):
            run(*out)
            results[name] = out
        seconds[name] = best_of(repeat, lambda: cald_outputs(n, stored), keep)
    count = results["TOLM"][3][0]
    if any(a[:count].tobytes() != b[:count].tobytes()
           for a, b in zip(results["TOLM"][:2], results["literal"][:2])):
        sys.exit("cald: different results from the literal lookup")
    return seconds, count


def compare_dijp(library, sire, dam, rowstart, col, val, pairs, repeat, rng):
    n = len(sire)
    pair_i = rng.integers(0, n, pairs).astype(np.int32)
    pair_j = rng.integers(0, n, pairs).astype(np.int32)
    runs = {"TOLM": lambda d: TOLM.dijp(sire, dam, scalar(pairs), pair_i, pair_j, col, rowstart, val, d),
            "literal": lambda d: library.literal_dijp(
                *pointers(sire, dam, scalar(pairs), pair_i, pair_j, col, rowstart, val, d))}
    seconds, results = {}, {}
    for name, run in runs.items():
        def keep(d, run=run, name=name):
            run(d)
            results[name] = d
        seconds[name] = best_of(repeat, lambda: (np.zeros(pairs),), keep)
    if results["TOLM"].tobytes() != results["literal"].tobytes():
        sys.exit("dijp: different results from the literal lookup")
    return seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--animals", default="8000,20000")
    parser.add_argument("--pairs", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    library = load_literal()
    rng = np.random.default_rng(7)
    print(f"{'animals':>8} {'stored':>12} {'candidates':>12} {'routine':>7} "
          f"{'TOLM ns':>9} {'literal ns':>11} {'ratio':>6}")
    for n in (int(a) for a in args.animals.split(",")):
        sire, dam = simulate_pedigree(n, 12, sires_per_generation=100, unknown=MISSING, seed=n)
        rowstart, col, val = relationship_lower_csr(sire, dam)
        candidates = candidate_pairs(sire, dam, rowstart, col)
        seconds, _ = compare_cald(library, sire, dam, rowstart, col, val, args.repeat)
        per = {k: v / candidates * 1e9 for k, v in seconds.items()}
        print(f"{n:>8,} {len(col):>12,} {candidates:>12,} {'cald':>7} {per['TOLM']:>9.1f} "
              f"{per['literal']:>11.1f} {per['literal'] / per['TOLM']:>6.2f}", flush=True)
        seconds = compare_dijp(library, sire, dam, rowstart, col, val, args.pairs, args.repeat, rng)
        per = {k: v / args.pairs * 1e9 for k, v in seconds.items()}
        print(f"{n:>8,} {len(col):>12,} {args.pairs:>12,} {'dijp':>7} {per['TOLM']:>9.1f} "
              f"{per['literal']:>11.1f} {per['literal'] / per['TOLM']:>6.2f}", flush=True)


if __name__ == "__main__":
    main()
