"""`tolmkit report` against `tolmkit stats` on the same file: a dairy pedigree
of a million animals with birth years and dates, and the trend of its
11,000 birth dates drawn. Both compute the same figures of the reference
population (completeness by generation, parents by cohort, Ne by five
routes, n50, mean kinship, GCI, ancestral and partial inbreeding), stats
writing the per-animal ones with --animals; the report at most twice
stats.

    .venv/bin/python bench/bench_report.py [--animals 1000000] [--repeat 2]

The two commands run in turn, run after run, so that a machine shared with
other work slows both alike; the best of each is kept, and their ratio
printed, of the time on the clock and of the processor time.
"""

import argparse
import resource
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np
import pandas as pd

from shapes import dairy

# Days between the first births of two cohorts, so that the 21 cohorts of
# the dairy shape are born on some 11,000 days.
COHORT_DAYS = 533


def write_dairy(path, animals, seed=3):
    """Animals A0 …, parents first; a birth date within the animal's cohort and its year."""
    sire, dam = dairy(animals)
    cohorts = 21
    cohort = (
        np.searchsorted(np.linspace(0, animals, cohorts + 1).astype(np.int64), np.arange(animals), side="right") - 1
    )
    ids = np.char.add("A", np.arange(animals).astype(str))
    name = np.append(ids, "0")  # the unknown parent, coded `animals`
    day = np.random.default_rng(seed).integers(0, COHORT_DAYS, animals)
    date = np.datetime64("2000-01-01") + (cohort * COHORT_DAYS + day).astype("timedelta64[D]")
    pd.DataFrame(
        {
            "animal": ids,
            "sire": name[sire],
            "dam": name[dam],
            "birth_year": date.astype("datetime64[Y]").astype(str),
            "birth_date": date.astype(str),
        }
    ).to_csv(path, index=False)


# Prints the seconds that plot_trend takes to draw the figures by birth date.
DRAW_DATES = """
import sys, time
import tolmkit
from tolmkit.plots import plot_trend
pedigree = tolmkit.read_pedigree(sys.argv[1])
summary = tolmkit.summary_by(pedigree, "birth_date")
start = time.perf_counter()
plot_trend(summary, sys.argv[2])
print(len(summary), time.perf_counter() - start)
"""


def seconds(command):
    """Wall and processor seconds of a command run in a process of its own."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    wall = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - wall
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--animals", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=2)
    args = parser.parse_args()
    tolmkit = [sys.executable, "-m", "tolmkit"]
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "dairy.csv"
        write_dairy(path, args.animals)
        stats, report = [], []
        for _ in range(args.repeat):
            stats.append(
                seconds(
                    tolmkit + ["stats", str(path), "--by", "birth_year", "--animals", str(Path(folder) / "animals.csv")]
                )
            )
            report.append(
                seconds(tolmkit + ["report", str(path), "--by", "birth_year", "-o", str(Path(folder) / "report.html")])
            )
        drawn = subprocess.run(
            [sys.executable, "-c", DRAW_DATES, str(path), str(Path(folder) / "dates.png")],
            check=True,
            capture_output=True,
            text=True,
        ).stdout.split()
    (stats_wall, stats_cpu), (report_wall, report_cpu) = (np.min(times, axis=0) for times in (stats, report))
    print(
        f"{args.animals:,} animals: stats {stats_wall:.1f} s, report {report_wall:.1f} s, ratio "
        f"{report_wall / stats_wall:.2f} (at most 2); processor time {stats_cpu:.1f} and {report_cpu:.1f} s, "
        f"ratio {report_cpu / stats_cpu:.2f}"
    )
    print(f"plot_trend of the figures by birth date ({int(drawn[0]):,} dates drawn by year): {float(drawn[1]):.1f} s")


if __name__ == "__main__":
    main()
