"""fcoeff on pedigrees of several shapes, against two baselines and against
builds of itself with one speed mechanism switched off.

    .venv/bin/python bench/bench_fcoeff.py [--repeat R] [--shapes dairy,selfing]
        [--ablations BATCH,GROUP,...] [--literal-size N] [--sgkit PYTHON] [--threads-rounds 5]

Baselines: the plain bitset ordering of the ancestor-list method
(bench/baselines) and the literal transcription (tests/literal, quadratic, so
run at --literal-size animals only). Each build of the kernel with a
mechanism switched off is a library of its own (TOLM_BENCH_<MECHANISM>, made by
make bench). The variants of one shape and size run in turn, round after
round, and the tables give medians of processor time (which the other
processes of a shared machine disturb less than wall time) with the spread
over the rounds. Every result is checked bit for bit against the plain
ordering. With --sgkit, a Python that has sgkit installed also times sgkit's
pedigree_inbreeding, once, in a process of its own. Last, tolmkit's F
(the same passes a generation at a time) on 2 threads against 1, in wall
time; --shapes "" gives that table alone.
"""

import argparse
import ctypes
import os
import statistics
import sys
import time
from pathlib import Path

import numpy as np

import TOLM

from common import load_literal, pointers, run_sgkit, scalar
from shapes import SHAPES, generate

# fcoeff's speed mechanisms, from the one list of them.
MECHANISMS = [
    line[len("FCOEFF_") :]
    for line in (Path(__file__).parent.parent / "src" / "kernels" / "mechanisms.txt").read_text().splitlines()
    if line.startswith("FCOEFF_")
]
# The literal pass scans its whole list per ancestor: shapes with thousands of
# ancestors per animal get it at a smaller size.
LITERAL_SIZES = {"closed-100": 1_000, "selfing": 2_000}


def fcoeff_arguments(n):
    inbreeding = np.zeros(n + 1)
    inbreeding[n] = -1.0
    return inbreeding, np.empty(n)


def ctypes_run(function):
    def run(sire, dam):
        n = len(sire)
        inbreeding, sampling_var = fcoeff_arguments(n)
        if function(*pointers(sire, dam, inbreeding, sampling_var, scalar(n), scalar(1))) != 0:
            sys.exit("a baseline could not obtain its memory")
        return inbreeding

    return run


def module_run(sire, dam):
    n = len(sire)
    inbreeding, sampling_var = fcoeff_arguments(n)
    TOLM.fcoeff(sire, dam, inbreeding, sampling_var, scalar(n), scalar(1))
    return inbreeding


SGKIT_SCRIPT = """
import sys, time, json, numpy as np, xarray as xr, sgkit
sire, dam = np.load(sys.argv[1]), np.load(sys.argv[2])
n = len(sire)
parent = np.stack([np.where(sire == n, -1, sire), np.where(dam == n, -1, dam)], axis=1)
ds = xr.Dataset({"parent": (("samples", "parents"), parent)})
sgkit.pedigree_inbreeding(ds.isel(samples=slice(0, 10)), allow_half_founders=True).stat_pedigree_inbreeding.values
start = time.perf_counter()
f = sgkit.pedigree_inbreeding(ds, allow_half_founders=True).stat_pedigree_inbreeding.values
print(json.dumps({"seconds": time.perf_counter() - start, "f": f.tolist()}))
"""


def time_sgkit(python, sire, dam):
    answer = run_sgkit(python, SGKIT_SCRIPT, sire, dam)
    return answer["seconds"], np.array(answer["f"])


def rounds(variants, sire, dam, repeat, reference):
    """Processor seconds of each variant per round, the variants taking turns;
    each result is compared with `reference` (a variant's name) once."""
    seconds = {name: [] for name in variants}
    results = {}
    for _ in range(repeat):
        for name, run in variants.items():
            start = time.process_time()
            result = run(sire, dam)
            seconds[name].append(time.process_time() - start)
            results.setdefault(name, result.tobytes())
    for name, bits in results.items():
        if bits != results[reference]:
            sys.exit(f"{name}: different bits from {reference}")
    return seconds


def median_and_spread(values):
    return statistics.median(values), min(values), max(values)


def ratio_text(numerators, denominators):
    ratios = [a / b for a, b in zip(numerators, denominators)]
    middle, low, high = median_and_spread(ratios)
    return f"{middle:.2f} ({low:.2f}-{high:.2f})"


def speed_table(shapes, repeat, literal, literal_size, sgkit):
    print(
        "fcoeff (the module) against the plain bitset ordering and the literal algorithm;\n"
        "processor seconds, median of the rounds (min-max of the per-round ratio)"
    )
    print(f"{'shape':>14} {'animals':>10} {'fcoeff s':>9} {'plain s':>8} {'fcoeff/plain':>18} {'fcoeff/literal':>16}")
    plain = ctypes_run(ctypes.CDLL(os.environ["TOLM_BENCH"]).plain_bitset_fcoeff)
    for name in shapes:
        for animals in SHAPES[name][2]:
            sire, dam = generate(name, animals, seed=animals)
            seconds = rounds(
                {"plain": plain, "fcoeff": module_run},
                sire,
                dam,
                repeat if animals < 1_000_000 else max(1, repeat // 2),
                "plain",
            )
            print(
                f"{name:>14} {animals:>10,} {statistics.median(seconds['fcoeff']):>9.3f} "
                f"{statistics.median(seconds['plain']):>8.3f} "
                f"{ratio_text(seconds['fcoeff'], seconds['plain']):>18}"
                + (sgkit_text(sgkit, sire, dam, seconds) if sgkit else ""),
                flush=True,
            )
        small = LITERAL_SIZES.get(name, literal_size)
        sire, dam = generate(name, small, seed=small)
        seconds = rounds({"literal": ctypes_run(literal.literal_fcoeff), "fcoeff": module_run}, sire, dam, 1, "literal")
        ratio = seconds["fcoeff"][0] / seconds["literal"][0]
        print(
            f"{name:>14} {small:>10,} {seconds['fcoeff'][0]:>9.3f} {'':>8} {'':>18} {ratio:>9.4f} (1/{1 / ratio:.0f})",
            flush=True,
        )


def sgkit_text(python, sire, dam, seconds):
    try:
        wall, f = time_sgkit(python, sire, dam)
    except RuntimeError as failure:
        return f"  sgkit failed: {failure}"
    agree = np.max(np.abs(f - module_run(sire, dam)[: len(sire)]))
    return f"  sgkit {wall:.2f} s wall (max |dF| {agree:.1e})"


def ablation_table(shapes, mechanisms, repeat, largest):
    print(
        "\nWhat each mechanism brings: time without it / time with it, processor time,\n"
        "median of the rounds (min-max); above 1 means the mechanism pays"
    )
    full = ctypes_run(ctypes.CDLL(os.environ["TOLM_BENCH"]).kernel_fcoeff)
    without = {m: ctypes_run(ctypes.CDLL(os.environ[f"TOLM_BENCH_{m}"]).kernel_fcoeff) for m in mechanisms}
    print(f"{'shape':>14} {'animals':>10} {'all s':>7}" + "".join(f" {m:>17}" for m in mechanisms))
    for name in shapes:
        for animals in (a for a in SHAPES[name][2] if a <= largest):
            sire, dam = generate(name, animals, seed=animals)
            seconds = rounds({"all": full, **without}, sire, dam, repeat, "all")
            print(
                f"{name:>14} {animals:>10,} {statistics.median(seconds['all']):>7.3f}"
                + "".join(f" {ratio_text(seconds[m], seconds['all']):>17}" for m in mechanisms),
                flush=True,
            )


def threads_table(rounds, animals=1_000_000, shape="wide-500"):
    """tolmkit's F on 2 threads against 1, the two taking turns: wall seconds
    (processor time adds the threads up), median of the rounds, on a load
    that the table gives; every result checked against TOLM.fcoeff."""
    from tolmkit import Pedigree

    sire, dam = generate(shape, animals, seed=animals)
    expected = module_run(sire, dam)[:animals].tobytes()
    wall = {1: [], 2: []}
    for _ in range(rounds):
        for threads in wall:
            pedigree = Pedigree.from_numbers(sire, dam, unknown=animals)
            pedigree.layers  # noqa: B018 -- the layers are the pedigree's, made before the clock starts
            start = time.perf_counter()
            f, _ = pedigree.coefficients(threads=threads)
            wall[threads].append(time.perf_counter() - start)
            if f.tobytes() != expected:
                sys.exit(f"{threads} threads: different bits from TOLM.fcoeff")
    print(
        f"\ntolmkit's F on {shape} at {animals:,} animals, wall seconds, median of {rounds} rounds "
        f"(load average {os.getloadavg()[0]:.1f} at the end)"
    )
    one, two = (statistics.median(wall[t]) for t in (1, 2))
    print(f"  1 thread {one:.2f}, 2 threads {two:.2f}: {ratio_text(wall[2], wall[1])} (target at most 0.55)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--shapes", default=",".join(SHAPES))
    parser.add_argument(
        "--ablations", default=",".join(MECHANISMS), help="mechanisms to time switched off; empty for none"
    )
    parser.add_argument("--ablation-largest", type=int, default=1_000_000)
    parser.add_argument("--literal-size", type=int, default=5_000)
    parser.add_argument("--sgkit", help="a Python with sgkit installed")
    parser.add_argument("--threads-rounds", type=int, default=5, help="rounds of F on 2 threads against 1; 0 for none")
    args = parser.parse_args()
    shapes = [s for s in args.shapes.split(",") if s]
    mechanisms = [m for m in args.ablations.split(",") if m]
    if os.getloadavg()[0] > 1.0:
        print(f"load average {os.getloadavg()[0]:.1f} at the start: other processes share the machine")
    if shapes:
        speed_table(shapes, args.repeat, load_literal(), args.literal_size, args.sgkit)
    if shapes and mechanisms:
        ablation_table(shapes, mechanisms, args.repeat, args.ablation_largest)
    if args.threads_rounds:
        threads_table(args.threads_rounds)


if __name__ == "__main__":
    main()
