"""Timings of TOLM.fcoeff on generated pedigrees (best of several runs).

    .venv/bin/python bench/bench_fcoeff.py [--repeat R]

The ancestor pass scans an unsorted list twice per processed ancestor and
clears i + 1 contributions per animal, so its cost grows with the square of
the number of ancestors and with the square of the herd size; the cases span
shallow and deep pedigrees to show both.
"""

import argparse
import time

import numpy as np

import TOLM


def random_mating(n, window, unknown, rng):
    """Parents drawn from the `window` animals born just before; about n / window generations."""
    i = np.arange(n)
    low = np.maximum(0, i - window)
    parents = [low + (rng.random(n) * (i - low)).astype(np.int64) for _ in range(2)]
    for p in parents:
        p[(rng.random(n) < unknown) | (i == 0)] = n
    return parents[0].astype(np.int32), parents[1].astype(np.int32)


def chain(n):
    sire = np.concatenate([[n, n], np.arange(1, n - 1)]).astype(np.int32)
    dam = np.concatenate([[n, n], np.arange(0, n - 2)]).astype(np.int32)
    return sire, dam


def time_fcoeff(sire, dam, mode, repeat):
    n = len(sire)
    best = float("inf")
    for _ in range(repeat):
        inbreeding = np.zeros(n + 1)
        inbreeding[n] = -1.0
        sampling_var = np.empty(n)
        start = time.perf_counter()
        TOLM.fcoeff(sire, dam, inbreeding, sampling_var, np.array([n], np.int32),
                    np.array([mode], np.int32))
        best = min(best, time.perf_counter() - start)
    return best, inbreeding[:n].mean()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    rng = np.random.default_rng(2026)
    cases = [
        ("offspring of 1,000 founders", 200_000, lambda n: _offspring_of_founders(n, 1_000, rng), 1),
        ("random mating, 10 generations", 2_000, lambda n: random_mating(n, 200, 0.05, rng), 1),
        ("random mating, 40 generations", 2_000, lambda n: random_mating(n, 50, 0.05, rng), 1),
        ("chain, each of the two before", 2_000, chain, 1),
        ("variances only", 10_000_000, lambda n: random_mating(n, 10_000, 0.05, rng), 0),
    ]
    print(f"{'pedigree':<32} {'animals':>11} {'mode':>5} {'seconds':>9} {'animals/s':>12} {'mean F':>8}")
    for name, n, make, mode in cases:
        sire, dam = make(n)
        seconds, mean_f = time_fcoeff(sire, dam, mode, args.repeat)
        print(f"{name:<32} {n:>11,} {mode:>5} {seconds:>9.3f} {n / seconds:>12,.0f} {mean_f:>8.4f}")


def _offspring_of_founders(n, founders, rng):
    sire, dam = random_mating(n, n, 0.0, rng)
    sire[:founders] = dam[:founders] = n
    sire[founders:] %= founders
    dam[founders:] %= founders
    return sire, dam


if __name__ == "__main__":
    main()
