"""read_pedigree against pyarrow's parse and a bare csv.reader pass over the
same file: the road's national-style file (quoted string identifiers, birth
year, sex, oldest first; bench/road.py) and a file of string identifiers in
shuffled order (offspring before their parents).

    .venv/bin/python bench/bench_read.py [--animals 1000000] [--repeat 3]

The three are timed in turn, run after run, so that a machine shared with
other work slows them alike; the median of each is kept, of the processor
time (summed over threads: pyarrow parses on several) and of the time on the
clock, and the ratios printed: read_pedigree should take at most three
parses by pyarrow, and at most twice the csv.reader pass.
"""

import argparse
import csv
import functools
import tempfile
from pathlib import Path

import numpy as np
import pyarrow as pa
import pyarrow.csv as pa_csv

from tolmkit import read_pedigree, simulate_pedigree

import road
from common import timed


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


def arrow_parse(path):
    return pa_csv.read_csv(path, convert_options=pa_csv.ConvertOptions(
        column_types={name: pa.string() for name in ("animal", "sire", "dam")}))


def seconds(run):
    """Processor and wall seconds of run(); what it made is freed after the
    clocks stop, with the tuple that held it."""
    wall, processor = timed(run)[1:]
    return processor, wall


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--animals", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    runs = {"pyarrow parse": arrow_parse, "csv.reader": bare_pass, "read_pedigree": read_pedigree}
    with tempfile.TemporaryDirectory() as folder:
        files = {"road": Path(folder) / "road.csv", "shuffled": Path(folder) / "shuffled.csv"}
        road.write_file(files["road"], args.animals, 25, 500)
        write_shuffled(files["shuffled"], args.animals)
        for name, path in files.items():
            times = {run: [] for run in runs}
            for _ in range(args.repeat):
                for run, call in runs.items():
                    times[run].append(seconds(functools.partial(call, path)))
            report(name, path.stat().st_size / 2**20, args, times)


def report(name, size, args, times):
    median = {run: np.median(np.array(values), axis=0) for run, values in times.items()}
    parse, bare, read = median.values()
    print(f"{name}: {args.animals:,} animals, {size:.0f} MiB, median of {args.repeat}: processor (clock) seconds")
    for run, value in median.items():
        print(f"  {run:<14} {value[0]:6.2f} ({value[1]:.2f})")
    print(f"  read_pedigree / pyarrow parse {read[0] / parse[0]:.2f} ({read[1] / parse[1]:.2f}), at most 3; "
          f"/ csv.reader {read[0] / bare[0]:.2f} ({read[1] / bare[1]:.2f}), at most 2", flush=True)


if __name__ == "__main__":
    main()
