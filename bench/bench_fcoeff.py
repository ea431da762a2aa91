"""fcoeff on simulated dairy pedigrees: the module against the literal algorithm.

    .venv/bin/python bench/bench_fcoeff.py [--repeat R] [--literal-up-to N]
        [--plot fcoeff.png] [--sgkit PYTHON]

Times TOLM.fcoeff (mode 1, numpy int32/float64 arrays) and the literal
transcription of the specified ancestor-list pass, which is timed only up to
--literal-up-to animals (it is quadratic), and checks that both give the same
bits. With --sgkit, a Python that has sgkit installed also times sgkit's
pedigree_inbreeding on the same pedigrees, in a process of its own.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile

import numpy as np

import TOLM
from tolmkit import simulate_pedigree

from common import best_of, load_literal, pointers, scalar

CASES = [(10_000, 10), (30_000, 12), (60_000, 15), (100_000, 15), (300_000, 20), (1_000_000, 20)]
SIRES = 100


def fcoeff_arguments(n):
    inbreeding = np.zeros(n + 1)
    inbreeding[n] = -1.0
    return inbreeding, np.empty(n)


def time_module(sire, dam, repeat):
    n = len(sire)
    results = {}

    def run(inbreeding, sampling_var):
        TOLM.fcoeff(sire, dam, inbreeding, sampling_var, scalar(n), scalar(1))
        results["f"] = inbreeding

    return best_of(repeat, lambda: fcoeff_arguments(n), run), results["f"]


def time_literal(library, sire, dam):
    n = len(sire)
    inbreeding, sampling_var = fcoeff_arguments(n)
    seconds = best_of(1, lambda: (), lambda: library.literal_fcoeff(
        *pointers(sire, dam, inbreeding, sampling_var, scalar(n), scalar(1))))
    return seconds, inbreeding


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
    with tempfile.TemporaryDirectory() as folder:
        files = [os.path.join(folder, name) for name in ("sire.npy", "dam.npy")]
        np.save(files[0], sire)
        np.save(files[1], dam)
        done = subprocess.run([python, "-c", SGKIT_SCRIPT, *files], capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(done.stderr.strip().splitlines()[-1])
    answer = json.loads(done.stdout)
    return answer["seconds"], np.array(answer["f"])


def plot(rows, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(figsize=(7, 4.5))
    animals = [r["animals"] for r in rows]
    for key, label in [("module", "TOLM.fcoeff"), ("literal", "literal algorithm"), ("sgkit", "sgkit")]:
        points = [(r["animals"], r[key]) for r in rows if r.get(key)]
        if points:
            axes.plot(*zip(*points), marker="o", label=label)
    axes.set_xscale("log")
    axes.set_yscale("log")
    axes.set_xlabel("animals")
    axes.set_ylabel("seconds")
    axes.set_title(f"Inbreeding coefficients, dairy-like pedigrees, {SIRES} sires per generation")
    axes.set_xticks(animals)
    axes.set_xticklabels([f"{a:,}" for a in animals], rotation=30)
    axes.grid(True, which="both", alpha=0.3)
    axes.legend()
    figure.tight_layout()
    figure.savefig(path, dpi=120)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--literal-up-to", type=int, default=60_000)
    parser.add_argument("--plot", default="build/bench/fcoeff.png")
    parser.add_argument("--sgkit", help="a Python with sgkit installed")
    parser.add_argument("--largest", type=int, default=CASES[-1][0])
    args = parser.parse_args()
    library = load_literal()
    header = (f"{'animals':>10} {'gens':>5} {'anc/animal':>10} {'TOLM s':>8} {'literal s':>10} "
              f"{'ratio':>7}" + (f" {'sgkit s':>8} {'ratio':>7}" if args.sgkit else ""))
    print(header)
    rows = []
    for n, generations in (c for c in CASES if c[0] <= args.largest):
        sire, dam = simulate_pedigree(n, generations, sires_per_generation=SIRES, seed=n)
        row = {"animals": n, "module": None}
        visited = library.literal_ancestors_processed(*pointers(sire, dam), n) / n
        row["module"], f = time_module(sire, dam, args.repeat if n < 1_000_000 else 1)
        line = f"{n:>10,} {generations:>5} {visited:>10.0f} {row['module']:>8.3f}"
        if n <= args.literal_up_to:
            row["literal"], f_literal = time_literal(library, sire, dam)
            if f.tobytes() != f_literal.tobytes():
                sys.exit(f"different bits from the literal algorithm at {n} animals")
            line += f" {row['literal']:>10.2f} {row['literal'] / row['module']:>7.0f}"
        else:
            line += f" {'-':>10} {'-':>7}"
        if args.sgkit:
            try:
                row["sgkit"], f_sgkit = time_sgkit(args.sgkit, sire, dam)
                agree = np.max(np.abs(f_sgkit - f[:n]))
                line += f" {row['sgkit']:>8.3f} {row['sgkit'] / row['module']:>7.1f} (max |dF| {agree:.1e})"
            except RuntimeError as failure:
                line += f" sgkit failed: {failure}"
        print(line, flush=True)
        rows.append(row)
    if args.plot:
        os.makedirs(os.path.dirname(args.plot) or ".", exist_ok=True)
        plot(rows, args.plot)
        print(f"plot: {args.plot}")


if __name__ == "__main__":
    main()
