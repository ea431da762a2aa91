"""The `tolmkit` command: inbreeding, the inverse relationship matrix and the
population figures of a pedigree file, and a check of the file.

Exit status 0 on success, 1 for a pedigree (or reference) that cannot be
used, with a one-line message on standard error, 2 for wrong usage.
"""

from __future__ import annotations

import argparse
import contextlib
import os
import sys
import threading
import time
import typing
from collections.abc import Iterator, Sequence

import numpy as np
import pandas as pd
import scipy.sparse as sp
from numpy.typing import NDArray

from . import inverse_relationship_matrix
from .pedigree import UNKNOWN_PARENTS, Pedigree
from .reading import read_pedigree
from .statistics import (EffectiveSize, FounderStatistics, cohorts, effective_population_size, founder_statistics,
                         pedigree_statistics, summary_by)

__all__ = ["main"]

#: Seconds after which a step still running says so on a terminal.
PROGRESS_AFTER = 2.0


class UsageError(Exception):
    """Arguments that the parser accepts but the pedigree cannot serve."""


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command with `argv` (by default the process's arguments)
    and returns its exit status.

    Parameters
    ----------
    argv : sequence of str, optional

    Returns
    -------
    int
        0 on success, 1 for a pedigree that cannot be used, 2 for wrong usage.

    Examples
    --------
    >>> main(["check", "examples/herd.csv"])  # doctest: +SKIP
    """
    parser = _parser()
    try:
        args = parser.parse_args(argv)
    except SystemExit as stop:
        return int(stop.code or 0)
    try:
        command: typing.Callable[[argparse.Namespace], None] = args.command
        command(args)
    except UsageError as error:
        args.parser.print_usage(sys.stderr)
        print(f"{args.parser.prog}: error: {error}", file=sys.stderr)
        return 2
    except BrokenPipeError:
        # A reader such as head has what it wanted; the rest goes nowhere.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    except (ValueError, OSError, ImportError, MemoryError) as error:
        print(f"tolmkit: {args.pedigree}: {error}", file=sys.stderr)
        return 1
    return 0


def _parser() -> argparse.ArgumentParser:
    reading = argparse.ArgumentParser(add_help=False)
    options = reading.add_argument_group("reading the pedigree")
    options.add_argument("pedigree", help="pedigree file: animal, sire, dam and any further columns")
    options.add_argument("--delimiter", help="column separator (default: comma, tab or spaces, as the file shows)")
    options.add_argument("--unknown", action="append", metavar="CODE",
                         help="code of an unknown parent, repeated or comma-separated "
                              f"(default: {', '.join(repr(c) for c in sorted(UNKNOWN_PARENTS))})")
    options.add_argument("--encoding", default="utf-8-sig", help="text encoding (default: utf-8-sig)")
    options.add_argument("--selfing", action="store_true", help="allow an animal whose sire is its dam")

    parser = argparse.ArgumentParser(prog="tolmkit", description=__doc__.split("\n\n")[0] if __doc__ else None)
    commands = parser.add_subparsers(title="commands", dest="name", metavar="COMMAND", required=True)

    def command(name: str, run: typing.Callable[[argparse.Namespace], None], text: str) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, parents=[reading], help=text, description=text)
        sub.set_defaults(command=run, parser=sub)
        return sub

    inbreeding = command("inbreeding", _inbreeding,
                         "the table of every animal (generations known, F, ΔF, sampling variance, the "
                         "file's other columns) as CSV")
    inbreeding.add_argument("-o", "--output", metavar="OUT.csv", help="write here instead of standard output")

    ainv = command("ainv", _ainv, "the inverse relationship matrix as 'row col value' lines of its lower "
                                  "triangle, numbered from 1, and OUT.ids mapping numbers to identifiers")
    ainv.add_argument("-o", "--output", metavar="OUT", required=True)

    stats = command("stats", _stats, "population figures (completeness, inbreeding, Ne, founders and "
                                     "ancestors), a table by cohort and its plot")
    chosen = stats.add_mutually_exclusive_group()
    chosen.add_argument("--reference", nargs="+", metavar="ID",
                        help="the reference animals (default: every animal with both parents known)")
    chosen.add_argument("--reference-by", metavar="COLUMN=VALUES",
                        help="the animals with one of these comma-separated values, such as birth_year=2019,2020")
    stats.add_argument("--by", metavar="COLUMN", help="a table of the figures by this column, such as birth_year")
    stats.add_argument("--plot", metavar="OUT.png", help="draw mean F and ΔF by the --by column")
    stats.add_argument("--max-ancestors", type=_positive, default=1000, metavar="N",
                       help="stop the search of major ancestors after N (default: 1000)")

    command("check", _check, "read the pedigree with every check and print its summary, or the problem")

    among = command("among", _among, "the relationship matrix of candidates to a Zarr store, computed by "
                                     "blocks on Dask (needs the dask extra)")
    among.add_argument("--ids", metavar="FILE", required=True, help="the candidates' identifiers, one a line")
    among.add_argument("-o", "--output", metavar="OUT.zarr", required=True, help="the store to create")
    among.add_argument("--chunks", type=_positive, default=5000, metavar="K",
                       help="rows and columns of a block (default: 5000)")
    among.add_argument("--scheduler", metavar="ADDRESS",
                       help="a Dask scheduler, such as tcp://10.0.0.1:8786 (default: a local cluster)")
    return parser


def _positive(text: str) -> int:
    if not text.isdigit() or int(text) < 1:
        raise argparse.ArgumentTypeError(f"expected a positive integer, got {text!r}")
    return int(text)


def _read(args: argparse.Namespace) -> Pedigree:
    unknown = (UNKNOWN_PARENTS if args.unknown is None
               else frozenset(code.strip() for codes in args.unknown for code in codes.split(",")))
    with _progress("reading"):
        return read_pedigree(args.pedigree, delimiter=args.delimiter, unknown=unknown,
                             encoding=args.encoding, selfing=args.selfing)


@contextlib.contextmanager
def _progress(step: str) -> Iterator[None]:
    """Says on a terminal's standard error when a step takes more than a
    moment, and how long it took."""
    if not sys.stderr.isatty():
        yield
        return
    start = time.monotonic()
    announce = threading.Timer(PROGRESS_AFTER, lambda: print(f"{step} …", file=sys.stderr, flush=True))
    announce.start()
    try:
        yield
    finally:
        announce.cancel()
        if time.monotonic() - start >= PROGRESS_AFTER:
            print(f"{step}: {time.monotonic() - start:.1f} s", file=sys.stderr, flush=True)


def _inbreeding(args: argparse.Namespace) -> None:
    pedigree = _read(args)
    with _progress("inbreeding"):
        table = pedigree_statistics(pedigree)
    with _progress("writing"):
        table.to_csv(args.output if args.output else sys.stdout, index_label="id")


def _ainv(args: argparse.Namespace) -> None:
    pedigree = _read(args)
    with _progress("inverse relationship matrix"):
        lower = sp.tril(inverse_relationship_matrix(pedigree), format="csr")
        lower.sort_indices()
    rows = np.repeat(np.arange(1, lower.shape[0] + 1), np.diff(lower.indptr))
    with _progress("writing"):
        pd.DataFrame({"row": rows, "col": lower.indices + 1, "value": lower.data}).to_csv(
            args.output, sep=" ", header=False, index=False)
        pd.DataFrame({"number": np.arange(1, len(pedigree) + 1), "id": pedigree.ids}).to_csv(
            f"{args.output}.ids", sep=" ", header=False, index=False)


def _check(args: argparse.Namespace) -> None:
    pedigree = _read(args)
    print(f"{args.pedigree}\n{pedigree.summary()}")


def _among(args: argparse.Namespace) -> None:
    from .blocks import among_to_zarr  # Dask is imported for this command alone

    with open(args.ids, encoding=args.encoding) as lines:
        ids = [line.strip() for line in lines if line.strip()]
    if not ids:
        raise ValueError(f"{args.ids} names no animal")
    pedigree = _read(args)
    with _progress("relationships among the candidates"):
        among_to_zarr(pedigree, ids, args.output, chunks=args.chunks, scheduler=args.scheduler)


def _stats(args: argparse.Namespace) -> None:
    if args.plot and not args.by:
        raise UsageError("--plot draws the figures by cohort: give --by COLUMN as well")
    pedigree = _read(args)
    with _progress("per-animal figures"):
        table = pedigree_statistics(pedigree)
    for column in (args.by, args.reference_by and args.reference_by.partition("=")[0]):
        if column and column not in table.columns:
            raise UsageError(f"no column {column!r}; the columns are {', '.join(table.columns)}")
    reference, described = _reference(args, table)
    print(f"{args.pedigree}: {len(pedigree):,} animals, "
          f"{int(np.count_nonzero((pedigree.sire < 0) & (pedigree.dam < 0))):,} founders")
    print(_completeness(table))
    print(f"reference: {len(reference):,} animals ({described})")
    with _progress("effective population size"):
        effective = effective_population_size(pedigree, reference)
    with _progress("founders and ancestors"):
        founders = founder_statistics(pedigree, reference, max_ancestors=args.max_ancestors)
    print(_population(effective, founders))
    if args.by:
        with _progress(f"figures by {args.by}"):
            summary = summary_by(pedigree, args.by, statistics=table)
        print()
        print(summary.to_string(float_format=lambda v: f"{v:.4g}"))
        if args.plot:
            from .plots import plot_trend

            with _progress("drawing"):
                plot_trend(summary, args.plot, effective=effective, founders=founders)
            print(f"\nplot: {args.plot}")


def _reference(args: argparse.Namespace, table: pd.DataFrame) -> tuple[list[str], str]:
    """The identifiers of the reference animals and how they were chosen."""
    if args.reference:
        return list(args.reference), "given"
    if args.reference_by:
        column, equals, values = args.reference_by.partition("=")
        wanted = [v.strip() for v in values.split(",") if v.strip()]
        if not equals or not wanted:
            raise UsageError(f"--reference-by takes COLUMN=VALUES, got {args.reference_by!r}")
        found = table.index[_matches(table[column], wanted)]
        if len(found) == 0:
            raise ValueError(f"no animal has {column} in {', '.join(wanted)}")
        return [str(name) for name in found], f"{column} in {', '.join(wanted)}"
    both = (table["sire"] != "") & (table["dam"] != "")
    return [str(name) for name in table.index[both]], "every animal with both parents known"


def _matches(column: pd.Series[typing.Any], wanted: list[str]) -> NDArray[np.bool_]:
    """Where `column` holds one of the values written in `wanted`: numbers
    compare as numbers, so that 2019 finds 2019.0."""
    column = cohorts(column)
    if pd.api.types.is_numeric_dtype(column):
        try:
            numbers = [float(v) for v in wanted]
        except ValueError:
            raise UsageError(f"column {column.name!r} holds numbers; got {', '.join(wanted)}") from None
        return np.asarray(column.isin(numbers))
    return np.asarray(column.astype(str).isin(wanted))



def _completeness(table: pd.DataFrame) -> str:
    both = ((table["sire"] != "") & (table["dam"] != "")).mean()
    f = table["inbreeding"]
    return (f"both parents known {both:.1%}; mean generations: maximum {table['generation'].mean():.2f}, "
            f"complete {table['complete_generations'].mean():.2f}, "
            f"equivalent {table['equivalent_generations'].mean():.2f}\n"
            f"mean F {f.mean():.5f}, inbred {(f > 0).mean():.1%}, largest F {f.max():.5f}")


def _population(effective: EffectiveSize, founders: FounderStatistics) -> str:
    stop = ("their marginal contributions sum to" if founders.stopped_by == "explained"
            else "the most searched, explaining")
    return (f"Ne {effective.ne:.1f} ± {effective.se:.1f} from {effective.n:,} animals with more than one "
            f"equivalent generation (mean ΔF {effective.mean_delta_inbreeding:.5f})\n"
            f"founders contributing {founders.founders:,}, effective number of founders f_e "
            f"{founders.founders_effective:.1f}\n"
            f"effective number of ancestors f_a {founders.ancestors_effective:.1f} from {founders.ancestors:,} "
            f"ancestors ({stop} {founders.explained:.4f})")
