"""Timings of TOLM.cald and TOLM.dijp on a generated pedigree and matrix (best of several runs).

    .venv/bin/python bench/bench_dominance.py [--animals N] [--per-row K] [--repeat R]

The matrix has the pattern of a relationship matrix (each row its diagonal
and about K earlier columns, with the parents among them) but random values:
the timings depend on the pattern, not on the numbers.
"""

import argparse
import time

import numpy as np

import TOLM

MISSING = -999


def pedigree(n, rng):
    i = np.arange(n)
    sire = (rng.random(n) * i).astype(np.int32)
    dam = (rng.random(n) * i).astype(np.int32)
    unknown = (rng.random(n) < 0.05) | (i < 100)
    sire[unknown] = MISSING
    dam[unknown] = MISSING
    return sire, dam


def lower_csr(n, per_row, sire, dam, rng):
    rows = np.repeat(np.arange(n, dtype=np.int64), per_row)
    cols = (rng.random(rows.size) * rows).astype(np.int64)
    parents = np.concatenate([sire, dam]).astype(np.int64)
    keep = parents != MISSING
    rows = np.concatenate([rows, np.arange(n), np.tile(np.arange(n), 2)[keep]])
    cols = np.concatenate([cols, np.arange(n), parents[keep]])
    keys = np.unique(rows * n + cols)
    rows, cols = keys // n, keys % n
    a_rowstart = np.searchsorted(rows, np.arange(n + 1)).astype(np.int32)
    a_val = np.where(rows == cols, 1.0 + rng.random(keys.size) * 0.1, rng.random(keys.size) * 0.5)
    return cols.astype(np.int32), a_rowstart, a_val


def best_of(repeat, run):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--animals", type=int, default=1_000_000)
    parser.add_argument("--per-row", type=int, default=20)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    rng = np.random.default_rng(2026)
    n = args.animals
    sire, dam = pedigree(n, rng)
    a_col, a_rowstart, a_val = lower_csr(n, args.per_row, sire, dam, rng)
    stored = a_col.size
    print(f"{n:,} animals, {stored:,} stored elements of the relationship matrix")

    d_val, d_col = np.empty(stored), np.empty(stored, dtype=np.int32)
    d_rowstart, d_count = np.empty(n + 1, dtype=np.int32), np.zeros(1, dtype=np.int32)

    def cald():
        d_count[0] = 0
        TOLM.cald(sire, dam, a_col, a_rowstart, a_val, np.array([n], np.int32),
                  d_val, d_col, d_rowstart, d_count)

    seconds = best_of(args.repeat, cald)
    print(f"cald  {seconds:9.3f} s  {stored / seconds:14,.0f} stored elements/s  "
          f"({d_count[0]:,} elements of D)")

    for pairs in [10, 1_000_000]:
        pair_i = rng.integers(0, n, pairs).astype(np.int32)
        pair_j = rng.integers(0, n, pairs).astype(np.int32)
        d_pair = np.zeros(pairs)
        seconds = best_of(args.repeat, lambda: TOLM.dijp(
            sire, dam, np.array([pairs], np.int32), pair_i, pair_j, a_col, a_rowstart, a_val, d_pair))
        print(f"dijp  {seconds:9.6f} s  {pairs / seconds:14,.0f} pairs/s  ({pairs:,} pairs)")


if __name__ == "__main__":
    main()
