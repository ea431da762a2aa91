"""The road from a national-style pedigree file to F, A-inverse, Ne, f_e and
f_a, in one process, step by step; then the command line on the same file.

    .venv/bin/python bench/road.py [--animals 1000000] [--generations 25] [--sires 500]
                                   [--repeat 3] [--threads N] [--no-cli] [--folder build/road]

`make road` runs it on a national file of 10^7 animals (25 generations,
100 sires a generation), once, without the command line.

The file has string identifiers, birth year and sex, in the order of birth
(simulated by tolmkit.simulate_pedigree), and is written once per shape.
Each run of the road is a process of its own, so that nothing computed in
one run serves the next, and its peak memory is its own. Printed per step:
the processor time (summed over threads) and the wall time, median of the
runs, with the threads of tolmkit's setting (--threads, else
TOLMKIT_THREADS, else the cores of the process) and the peak memory; then
the whole road against reading plus one inbreeding of the same run
(target: at most 1.5), and each command against the same steps in Python
(target: at most 1.3): ``stats`` against the road's steps and the rest of
what it computes (birth order, generation intervals, the population's
further figures), timed after the road and left out of its total. The
reference population is the youngest birth year.
"""

import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
import pyarrow as pa
import pyarrow.csv as pacsv

from common import timed, tolmkit_command

STEPS = ["read", "F", "A-inverse", "Ne", "f_e and f_a"]
REST_OF_STATS = "rest of stats"
FIRST_YEAR = 2000


def write_file(path, animals, generations, sires, seed=1):
    """The national-style CSV: animal, sire, dam (0 unknown), birth year, sex."""
    from tolmkit import simulate_pedigree

    sire, dam = simulate_pedigree(animals, generations, sires_per_generation=sires, seed=seed)
    names = np.char.add("DEU", np.char.zfill(np.arange(1, animals + 1).astype(str), 12)).astype(object)
    name_of = np.append(names, "0")
    born = (
        np.searchsorted(np.linspace(0, animals, generations + 2).astype(np.int64), np.arange(animals), side="right") - 1
    )
    male = np.random.default_rng(seed).random(animals) < 0.5
    male[sire[sire < animals]] = True
    male[dam[dam < animals]] = False
    table = pa.table(
        {
            "animal": names,
            "sire": name_of[sire],
            "dam": name_of[dam],
            "birth_year": FIRST_YEAR + born,
            "sex": np.where(male, "M", "F"),
        }
    )
    pacsv.write_csv(table, path)
    return FIRST_YEAR + int(born.max())


def road(path, year, rest_of_stats):
    """One run of the road: each step's processor and wall seconds, and the
    peak memory of the process; with `rest_of_stats`, then the rest of what
    ``tolmkit stats`` computes, by the same functions with its defaults."""
    import tolmkit

    seconds = {}
    peaks = {}

    def step(name, run):
        result, wall, processor = timed(run)
        seconds[name] = (processor, wall)
        peaks[name] = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 2**20
        return result

    pedigree = step("read", lambda: tolmkit.read_pedigree(path))
    step("F", lambda: tolmkit.inbreeding(pedigree))
    step("A-inverse", lambda: tolmkit.inverse_relationship_matrix(pedigree))
    reference = pedigree.ids[pedigree.attributes["birth_year"].astype(int).to_numpy() == year]
    step("Ne", lambda: tolmkit.effective_population_size(pedigree, reference))
    founders = step("f_e and f_a", lambda: tolmkit.founder_statistics(pedigree, reference))
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 2**20
    if rest_of_stats:
        step(
            REST_OF_STATS,
            lambda: (
                tolmkit.birth_order(pedigree, "birth_year"),
                tolmkit.generation_intervals(pedigree, "birth_year"),
                tolmkit.population_figures(pedigree, reference, founders, birth="birth_year"),
            ),
        )
    return {
        "seconds": seconds,
        "threads": tolmkit.get_threads(),
        "peak_gib": peak,
        "peaks_gib": peaks,
    }


def median(runs, step, which):
    return statistics.median(run["seconds"][step][which] for run in runs)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--animals", type=int, default=1_000_000)
    parser.add_argument("--generations", type=int, default=25)
    parser.add_argument("--sires", type=int, default=500)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--threads", type=int, help="threads of tolmkit (by default its setting)")
    parser.add_argument("--no-cli", action="store_true", help="time the road in Python only")
    parser.add_argument("--folder", default="build/road")
    parser.add_argument("--run", nargs=3, metavar=("FILE", "YEAR", "STATS"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.run:
        print(json.dumps(road(args.run[0], int(args.run[1]), args.run[2] == "stats")))
        return
    folder = Path(args.folder)
    folder.mkdir(parents=True, exist_ok=True)
    path = folder / f"road-{args.animals}-{args.generations}-{args.sires}.csv"
    start = time.perf_counter()
    year = write_file(path, args.animals, args.generations, args.sires)
    print(
        f"{args.animals:,} animals, {args.generations} generations, {args.sires} sires a generation: "
        f"{path} ({path.stat().st_size / 2**20:.0f} MiB, written in {time.perf_counter() - start:.1f} s); "
        f"reference: born {year}; {os.cpu_count()} processors"
    )
    environment = dict(os.environ, **({} if args.threads is None else {"TOLMKIT_THREADS": str(args.threads)}))
    runs = []
    for _ in range(args.repeat):
        answer = subprocess.run(
            [sys.executable, __file__, "--run", str(path), str(year), "road" if args.no_cli else "stats"],
            check=True,
            capture_output=True,
            text=True,
            env=environment,
        )
        runs.append(json.loads(answer.stdout))
    print(
        f"\nthe road in Python on {runs[0]['threads']} threads, median of {len(runs)} runs (processor s / wall s; "
        f"load average {os.getloadavg()[0]:.1f}); the peak memory by the end of each step, the most over the runs"
    )
    for name in STEPS:
        peak = max(run["peaks_gib"][name] for run in runs)
        print(f"  {name:<12} {median(runs, name, 0):8.2f} {median(runs, name, 1):8.2f} {peak:8.2f} GiB")
    total = [sum(run["seconds"][s][w] for s in STEPS) for run in runs for w in (0, 1)]
    base = [sum(run["seconds"][s][w] for s in ("read", "F")) for run in runs for w in (0, 1)]
    ratio = [t / b for t, b in zip(total, base)]
    print(f"  {'whole road':<12} {statistics.median(total[0::2]):8.2f} {statistics.median(total[1::2]):8.2f}")
    print(
        f"  whole road / (read + F) of the same run: processor {statistics.median(ratio[0::2]):.2f}, "
        f"wall {statistics.median(ratio[1::2]):.2f} (target at most 1.5)"
    )
    print(f"  peak memory {max(run['peak_gib'] for run in runs):.2f} GiB")
    if args.no_cli:
        return
    rest = [median(runs, REST_OF_STATS, w) for w in (0, 1)]
    print(f"  {REST_OF_STATS:<12} {rest[0]:8.2f} {rest[1]:8.2f}   after the road, for stats")
    out = folder / "out"
    commands = {
        "inbreeding": (["inbreeding", str(path), "-o", f"{out}.csv"], ["read", "F"]),
        "ainv": (["ainv", str(path), "-o", f"{out}.ainv"], ["read", "F", "A-inverse"]),
        "stats": (
            ["stats", str(path), "--reference-by", f"birth_year={year}"],
            ["read", "F", "Ne", "f_e and f_a", REST_OF_STATS],
        ),
    }
    print(f"\nthe command line, median of {args.repeat} runs (processor s / wall s; the same steps in Python)")
    for name, (arguments, steps) in commands.items():
        times = [tolmkit_command(arguments) for _ in range(args.repeat)]
        cli = [statistics.median(t[w] for t in times) for w in (0, 1)]
        python = [sum(median(runs, s, w) for s in steps) for w in (0, 1)]
        print(
            f"  tolmkit {name:<11} {cli[0]:8.2f} {cli[1]:8.2f}   Python {python[0]:8.2f} {python[1]:8.2f}   "
            f"ratio {cli[0] / python[0]:.2f} {cli[1] / python[1]:.2f} (target at most 1.3)"
        )


if __name__ == "__main__":
    main()
