"""read_pedigree on a CSV of string identifiers in shuffled order (offspring
before their parents), against a bare csv.reader pass over the same file.

    .venv/bin/python bench/bench_read.py [--animals 1000000] [--repeat 5]

The two are timed in turn, run after run, so that a machine shared with other
work slows both alike; the best of each is kept, and their ratio printed, of
the time on the clock and of the processor time (pyarrow parses on several
threads, whose time adds up).
"""

import argparse
import csv
import tempfile
import time
from pathlib import Path

import numpy as np

from tolmkit import read_pedigree, simulate_pedigree


def write_shuffled(path, animals, seed=1):
    sire, dam = simulate_pedigree(animals, 10, seed=seed)
    rng = np.random.default_rng(seed)
    names = np.array([f"HOL{k:09d}" for k in rng.permutation(animals)], dtype=object)
    name_of = np.append(names, "0")  # the unknown parent, coded `animals`
    order = rng.permutation(animals)
    rows = zip(names[order], name_of[sire[order]], name_of[dam[order]])
    with open(path, "w", newline="") as file:
        file.write("animal,sire,dam\n")
        file.writelines(f"{a},{s},{d}\n" for a, s, d in rows)


def bare_pass(path):
    with open(path, newline="") as file:
        for _ in csv.reader(file):
            pass


def seconds(run):
    """Wall and processor seconds of run(), the processor's summed over threads."""
    wall, processor = time.perf_counter(), time.process_time()
    run()
    return time.perf_counter() - wall, time.process_time() - processor


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--animals", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "shuffled.csv"
        write_shuffled(path, args.animals)
        bare, read = [], []
        for _ in range(args.repeat):
            bare.append(seconds(lambda: bare_pass(path)))
            read.append(seconds(lambda: read_pedigree(path)))
        size = path.stat().st_size / 2**20
    (bare_wall, bare_cpu), (read_wall, read_cpu) = (np.min(times, axis=0) for times in (bare, read))
    print(f"{args.animals:,} animals, {size:.0f} MiB: csv.reader {bare_wall:.2f} s, read_pedigree "
          f"{read_wall:.2f} s, ratio {read_wall / bare_wall:.2f} (at most 2); processor time "
          f"{bare_cpu:.2f} and {read_cpu:.2f} s, ratio {read_cpu / bare_cpu:.2f}")


if __name__ == "__main__":
    main()
