"""The `tolmkit` command on a national-style CSV (string identifiers, birth
year, sex): writing its tables against reading the file, and `inbreeding`,
`ainv` and `stats`, each as a process of its own, and where their time goes.

    .venv/bin/python bench/bench_cli.py [--animals 1000000] [--sires 500] [--repeat 3] [--keep FOLDER]

First the table writers of the command against `read_pedigree` of the file
and against pandas' `to_csv` of the same tables (the writer they replaced),
taking turns, medians over the runs. Then for each command: the median over
the runs of the time on the clock and of the processor time of the process
(pyarrow parses and writes on several threads, whose time adds up), and one
run in this process with the steps that the command calls timed.
"""

import argparse
import contextlib
import os
import statistics
import tempfile
import time
from pathlib import Path

import numpy as np
import pandas as pd
import scipy.sparse as sp

from tolmkit import cli, inverse_relationship_matrix, pedigree_statistics, read_pedigree, simulate_pedigree
from tolmkit.writing import write_csv, write_lower_triangle

from common import timed, tolmkit_command

COMMANDS = {
    "inbreeding": ["inbreeding", "{ped}", "-o", "{out}/f.csv"],
    "ainv": ["ainv", "{ped}", "-o", "{out}/ainv.txt"],
    "stats": ["stats", "{ped}", "--reference-by", "birth_year={last}", "--by", "birth_year"],
}

#: The names in `tolmkit.cli` whose calls make up a command's steps.
STEPS = [
    "read_pedigree",
    "pedigree_statistics",
    "inverse_relationship_matrix",
    "effective_population_size",
    "founder_statistics",
    "summary_by",
    "write_csv",
    "write_lower_triangle",
]


def write_national(path, animals, sires, generations=25, seed=1):
    sire, dam = simulate_pedigree(animals, generations, sires_per_generation=sires, seed=seed)
    names = np.array([f"DE{k:012d}" for k in np.random.default_rng(seed).permutation(animals)] + ["0"], dtype=object)
    year = 2000 + np.searchsorted(np.linspace(0, animals, generations + 2)[1:], np.arange(animals), "right")
    sex = np.where(np.arange(animals) % 2 == 0, "M", "F")
    sex[np.isin(np.arange(animals), sire)] = "M"
    sex[np.isin(np.arange(animals), dam)] = "F"
    with open(path, "w", newline="") as file:
        file.write("animal,sire,dam,birth_year,sex\n")
        file.writelines(
            f"{a},{s},{d},{y},{x}\n" for a, s, d, y, x in zip(names[:-1], names[sire], names[dam], year, sex)
        )
    return int(year.max())


def pandas_triplets(lower, ids, path, ids_path):
    """The writer of `ainv`'s files before write_lower_triangle."""
    rows = np.repeat(np.arange(1, lower.shape[0] + 1), np.diff(lower.indptr))
    pd.DataFrame({"row": rows, "col": lower.indices + 1, "value": lower.data}).to_csv(
        path, sep=" ", header=False, index=False
    )
    pd.DataFrame({"number": np.arange(1, len(ids) + 1), "id": ids}).to_csv(ids_path, sep=" ", header=False, index=False)


def writing(ped, folder, repeat):
    pedigree = read_pedigree(ped)
    table = pedigree_statistics(pedigree)
    lower = sp.tril(inverse_relationship_matrix(pedigree), format="csr")
    lower.sort_indices()
    out = str(folder / "written")
    runs = {
        "read_pedigree": lambda: read_pedigree(ped),
        "write_csv, inbreeding table": lambda: write_csv(table, f"{out}.csv"),
        "to_csv, inbreeding table": lambda: table.to_csv(f"{out}-pandas.csv"),
        f"write_lower_triangle, ainv ({lower.nnz:,} elements)": lambda: write_lower_triangle(
            lower, pedigree.ids, f"{out}.txt", f"{out}.txt.ids"
        ),
        "to_csv, ainv": lambda: pandas_triplets(lower, pedigree.ids, f"{out}-pandas.txt", f"{out}-pandas.txt.ids"),
    }
    spent = {name: [] for name in runs}
    for _ in range(repeat):
        for name, run in runs.items():
            spent[name].append(timed(run)[1:])
    for suffix in (".csv", ".txt", ".txt.ids"):
        same = Path(f"{out}{suffix}").read_bytes() == Path(f"{out}-pandas{suffix}").read_bytes()
        assert same, f"the files {suffix} differ"
    print(f"{'step':<48}{'wall s':>9}{'processor s':>13}")
    for name, times in spent.items():
        print(
            f"{name:<48}{statistics.median(t[0] for t in times):>9.2f}{statistics.median(t[1] for t in times):>13.2f}",
            flush=True,
        )


@contextlib.contextmanager
def timed_steps(spent):
    """Wraps the steps that `tolmkit.cli` calls so that each adds its
    (processor, wall) seconds to `spent`."""
    originals = {name: getattr(cli, name) for name in STEPS if hasattr(cli, name)}

    def timed(name, function):
        def run(*args, **kwargs):
            processor, wall = time.process_time(), time.perf_counter()
            try:
                return function(*args, **kwargs)
            finally:
                total = spent.get(name, (0.0, 0.0))
                spent[name] = (total[0] + time.process_time() - processor, total[1] + time.perf_counter() - wall)

        return run

    for name, function in originals.items():
        setattr(cli, name, timed(name, function))
    try:
        yield
    finally:
        for name, function in originals.items():
            setattr(cli, name, function)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--animals", type=int, default=1_000_000)
    parser.add_argument("--sires", type=int, default=500)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--keep", help="write the pedigree and the outputs in this folder and keep them")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as scratch:
        folder = Path(args.keep or scratch)
        folder.mkdir(parents=True, exist_ok=True)
        ped = folder / "national.csv"
        last = write_national(ped, args.animals, args.sires)
        print(f"{args.animals:,} animals, {args.sires} sires a generation: {ped.stat().st_size / 2**20:.0f} MiB")
        writing(ped, folder, args.repeat)
        print()
        print(f"{'command':<12}{'wall s':>9}{'processor s':>13}   steps in one run (processor / wall s)")
        for name, template in COMMANDS.items():
            arguments = [a.format(ped=ped, out=folder, last=last) for a in template]
            runs = [tolmkit_command(arguments)[::-1] for _ in range(args.repeat)]
            spent = {}
            with timed_steps(spent), open(os.devnull, "w") as quiet, contextlib.redirect_stdout(quiet):
                cli.main(arguments)
            steps = ", ".join(f"{step} {p:.1f}/{w:.1f}" for step, (p, w) in spent.items())
            print(
                f"{name:<12}{statistics.median(r[0] for r in runs):>9.1f}"
                f"{statistics.median(r[1] for r in runs):>13.1f}   {steps}",
                flush=True,
            )


if __name__ == "__main__":
    main()
