"""read_pedigree against pyarrow's parse and a bare csv.reader pass over the
same file: the road's national-style file (quoted string identifiers, birth
year, sex, oldest first; bench/road.py) and a file of string identifiers in
shuffled order (offspring before their parents). Then the matching of
parents to animals, the companion's identifier table (its parents looked
up on the threads of the setting, and on one) against the same matching by
pyarrow.compute (index_in and dictionary_encode), alone and
within read_pedigree.

    .venv/bin/python bench/bench_read.py [--animals 1000000] [--repeat 3]

The runs are timed in turn, run after run, so that a machine shared with
other work slows them alike; the median of each is kept, of the processor
time (summed over threads: pyarrow parses on several) and of the time on the
clock, and the ratios printed: read_pedigree should take at most three
parses by pyarrow (with the identifiers typed as text, and as
pyarrow.csv.read_csv(path) types them), and at most twice the csv.reader
pass.

read_csv and read_pedigree are also timed each as the first call of a
process of its own, as a program that reads a national file meets them. In
one process the later calls find the memory that the calls before them let
go of still mapped, and a call that touches less of it finds more of its
pages so; on a virtual machine that hands freed memory back to its host, a
page touched afresh costs several times its zeroing.
"""

import argparse
import contextlib
import csv
import functools
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np
import pyarrow as pa
import pyarrow.compute as pc
import pyarrow.csv as pa_csv

from tolmkit import _native, read_pedigree, simulate_pedigree
from tolmkit._arrow import short_offsets_and_bytes
from tolmkit.threads import get_threads

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
    return pa_csv.read_csv(
        path,
        convert_options=pa_csv.ConvertOptions(column_types={name: pa.string() for name in ("animal", "sire", "dam")}),
    )


def arrow_matching(laid_out, n, threads=1):
    """match_identifiers by pyarrow.compute: index_in for the animal that each
    string names, dictionary_encode for the names of the parents that none
    does, numbered in the order that the records name them (on the threads
    of pyarrow's pool, whatever `threads` says)."""
    strings = pa.concat_arrays(
        [
            pa.StringArray.from_buffers(len(offsets) - 1, pa.py_buffer(offsets), pa.py_buffer(data))
            for offsets, data in laid_out
        ]
    )
    found = pc.fill_null(pc.index_in(strings, value_set=strings.slice(0, n)), -1).to_numpy().astype(np.int64)
    parents = np.arange(n, 3 * n).reshape(2, n).T.ravel()  # record by record, sire before dam
    missing = parents[found[parents] < 0]
    encoded = pc.dictionary_encode(strings.take(pa.array(missing)))
    numbers = encoded.indices.to_numpy().astype(np.int32)
    first = np.empty(len(encoded.dictionary), dtype=np.int64)
    first[numbers[::-1]] = missing[::-1]
    entry = 2 * (missing % n) + (missing >= 2 * n)  # 2 · record, + 1 for a dam
    return found, entry, numbers, first


def one_thread(laid_out, n, threads=1, match=_native.match_identifiers):
    """The companion's matching with every parent looked up on this thread
    (`match` bound here, before matched_by puts this function in its place)."""
    return match(laid_out, n, 1)


@contextlib.contextmanager
def matched_by(match):
    """read_pedigree with `match` in place of the companion's matching."""
    table = _native.match_identifiers
    _native.match_identifiers = match
    try:
        yield
    finally:
        _native.match_identifiers = table


def identifiers(path):
    """The strings that read_pedigree matches, in the parser's chunks: animals,
    sires, dams, the codes."""
    table = arrow_parse(path)
    pieces = sum((table.column(name).chunks for name in ("animal", "sire", "dam")), []) + [pa.array(["0"], pa.string())]
    return [short_offsets_and_bytes(piece) for piece in pieces], table.num_rows


# One call of a process of its own: its processor and wall seconds.
FIRST_CALL = """
import sys, time
import pyarrow.csv, tolmkit
call = pyarrow.csv.read_csv if sys.argv[2] == "read_csv" else tolmkit.read_pedigree
wall, processor = time.perf_counter(), time.process_time()
call(sys.argv[1])
print(time.process_time() - processor, time.perf_counter() - wall)
"""


def first_calls(path, repeat):
    """read_csv(path) and read_pedigree(path), each the first call of a
    process of its own, in turn."""
    times = {"read_csv": [], "read_pedigree": []}
    for _ in range(repeat):
        for run, values in times.items():
            done = subprocess.run(
                [sys.executable, "-c", FIRST_CALL, str(path), run], check=True, capture_output=True, text=True
            )
            values.append([float(value) for value in done.stdout.split()])
    plain, read = (np.median(np.array(values), axis=0) for values in times.values())
    print(
        f"  first call of a process, median of {repeat}: read_csv {plain[0]:.2f} ({plain[1]:.2f}), "
        f"read_pedigree {read[0]:.2f} ({read[1]:.2f}); read_pedigree / read_csv {read[0] / plain[0]:.2f} "
        f"({read[1] / plain[1]:.2f}), at most 3 by the clock",
        flush=True,
    )


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
    runs = {
        "pyarrow parse": arrow_parse,
        "read_csv": pa_csv.read_csv,
        "csv.reader": bare_pass,
        "read_pedigree": read_pedigree,
    }
    matchings = {
        "identifier table": _native.match_identifiers,
        "identifier table, 1 thread": one_thread,
        "pyarrow.compute": arrow_matching,
    }
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
            first_calls(path, args.repeat)
            compare_matchings(path, matchings, args.repeat)


def compare_matchings(path, matchings, repeat):
    """Each matching alone on the file's strings, and read_pedigree with it."""
    laid_out, n = identifiers(path)
    threads = get_threads()
    results = [match(laid_out, n, threads) for match in matchings.values()]
    assert all(np.array_equal(a, b) for result in results[1:] for a, b in zip(results[0], result))
    del results
    times = {}
    for _ in range(repeat):
        for name, match in matchings.items():
            times.setdefault(f"{name}, alone", []).append(seconds(functools.partial(match, laid_out, n, threads)))
            with matched_by(match):
                times.setdefault(f"{name}, read_pedigree", []).append(seconds(functools.partial(read_pedigree, path)))
    print(f"  matching parents to animals, median of {repeat}: processor (clock) seconds, range of the clock")
    for run, values in sorted(times.items(), key=lambda item: item[0].split(", ")[::-1]):
        clock = [value[1] for value in values]
        print(
            f"    {run:<34} {np.median([v[0] for v in values]):6.2f} ({np.median(clock):.2f}), "
            f"{min(clock):.2f} to {max(clock):.2f}",
            flush=True,
        )


def report(name, size, args, times):
    median = {run: np.median(np.array(values), axis=0) for run, values in times.items()}
    parse, plain, bare, read = median.values()
    print(f"{name}: {args.animals:,} animals, {size:.0f} MiB, median of {args.repeat}: processor (clock) seconds")
    for run, value in median.items():
        print(f"  {run:<14} {value[0]:6.2f} ({value[1]:.2f})")
    print(
        f"  read_pedigree / pyarrow parse {read[0] / parse[0]:.2f} ({read[1] / parse[1]:.2f}), at most 3; "
        f"/ csv.reader {read[0] / bare[0]:.2f} ({read[1] / bare[1]:.2f}), at most 2; "
        f"/ pyarrow.csv.read_csv(path) {read[0] / plain[0]:.2f} ({read[1] / plain[1]:.2f}), at most 3 by the clock",
        flush=True,
    )


if __name__ == "__main__":
    main()
