"""The `tolmkit` command: inbreeding, the inverse relationship matrix and the
population figures of a pedigree file, and a check of the file.

Exit status 0 on success, 1 for a pedigree (or reference) that cannot be
used or a file that cannot be written, with a one-line message on standard
error, 2 for wrong usage, 130 when interrupted. Every file is written through
`writing.outputs`, so that none is ever lost or left half written.
"""

from __future__ import annotations

import argparse
import codecs
import contextlib
import io
import os
import sys
import threading
import time
import typing
import warnings
from collections.abc import Iterator, Sequence

import numpy as np
import pandas as pd
import pyarrow as pa
import scipy.sparse as sp
from numpy.typing import NDArray

from . import inverse_relationship_matrix
from ._advice import option
from .genomic import genomic_relationship_matrix, hybrid_inverse, read_genotypes
from .pedigree import UNKNOWN_PARENTS, Pedigree
from .reading import MAX_OFFSPRING, read_pedigree
from .statistics import (EffectiveSize, FounderStatistics, cohorts, effective_population_size, founder_statistics,
                         pedigree_statistics, summary_by)
from .writing import STANDARD_STREAM, OutputError, OverwritesInput, outputs, write_csv, write_lower_triangle

__all__ = ["main"]

#: Seconds after which a step still running says so on a terminal.
PROGRESS_AFTER = 2.0

#: The steps under way, innermost last, which an out-of-memory message names.
_running: list[str] = []


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
    except (UsageError, OverwritesInput) as error:
        args.parser.print_usage(sys.stderr)
        print(f"{args.parser.prog}: error: {error}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print("tolmkit: interrupted; every file is as it was", file=sys.stderr)
        return 130
    except BrokenPipeError:
        # A reader such as head has what it wanted; the rest goes nowhere.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    except MemoryError as error:  # numpy's, pandas', pyarrow's and the limits of tolmkit alike
        during = f" ({_running[-1]})" if _running else ""
        detail = f": {error}" if str(error) else ""
        print(f"tolmkit: out of memory{during}{detail}; every file is as it was", file=sys.stderr)
        return 1
    except OutputError as error:
        print(f"tolmkit: {error}", file=sys.stderr)
        return 1
    except pa.ArrowException as error:  # pyarrow's own failure, which says nothing of the file
        print(f"tolmkit: pyarrow failed ({type(error).__name__}): {error}", file=sys.stderr)
        return 1
    except (ValueError, OSError, ImportError) as error:
        print(f"tolmkit: {_named(args)}: {getattr(error, 'command_line', error)}", file=sys.stderr)
        return 1
    finally:
        _running.clear()
    return 0


def _parser() -> argparse.ArgumentParser:
    reading = argparse.ArgumentParser(add_help=False)
    options = reading.add_argument_group("reading the pedigree")
    options.add_argument("pedigree", help="pedigree file: animal, sire, dam and any further columns; - for "
                                          "standard input")
    options.add_argument("--delimiter", type=_delimiter,
                         help="column separator, one character or \\t (default: comma, tab or spaces, as the file "
                              "shows)")
    options.add_argument("--unknown", action="append", metavar="CODE",
                         help="code of an unknown parent, repeated or comma-separated "
                              f"(default: {', '.join(repr(c) for c in sorted(UNKNOWN_PARENTS))})")
    options.add_argument("--encoding", type=_encoding, default="utf-8-sig", help="text encoding (default: utf-8-sig)")
    options.add_argument("--selfing", action="store_true", help="allow an animal whose sire is its dam")
    options.add_argument("--header", action=argparse.BooleanOptionalAction, default=None,
                         help="whether the first line names the columns (default: when it names a sire and a dam)")
    options.add_argument("--columns", metavar="ANIMAL,SIRE,DAM", help="the header's names of the three columns")
    options.add_argument("--groups", metavar="CODES",
                         help="codes of groups of unknown parents, comma-separated; CODE* stands for every code "
                              "that begins with CODE (such as UPG*)")
    options.add_argument("--max-offspring", type=int, default=MAX_OFFSPRING, metavar="N",
                         help="the most offspring of a dam not listed as an animal, more reading like a group "
                              f"(default: {MAX_OFFSPRING}; 0 for no limit)")

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
                                  "triangle, numbered from 1, and OUT.ids mapping numbers to identifiers; with "
                                  "--groups, the groups of unknown parents follow the animals (Quaas 1988)")
    ainv.add_argument("-o", "--output", metavar="OUT", required=True)

    hinv = command("hinv", _hinv, "H-inverse of single-step genomic evaluation, written as ainv writes "
                                  "A-inverse, with G against A22 on standard error; takes no --groups (read the "
                                  "groups' codes as unknown parents with --unknown)")
    hinv.add_argument("--genotypes", metavar="FILE", required=True,
                      help="PLINK .bed (or its prefix) or a BLUPF90 text file of 0/1/2, 5 for missing")
    hinv.add_argument("-o", "--output", metavar="OUT", required=True)
    hinv.add_argument("--blend", type=float, default=0.05, help="share of A22 blended into G (default: 0.05)")
    hinv.add_argument("--tau", type=float, default=1.0, help="weight of the inverse of G (default: 1)")
    hinv.add_argument("--omega", type=float, default=1.0, help="weight of the inverse of A22 (default: 1)")
    hinv.add_argument("--tune", choices=["mean"], help="scale G to A22's mean diagonal and off-diagonal")
    hinv.add_argument("--min-maf", type=float, default=0.0, metavar="MAF",
                      help="drop the markers of a lower minor allele frequency (default: 0)")
    hinv.add_argument("--add-missing", action="store_true",
                      help="add genotyped animals missing from the pedigree as founders")

    stats = command("stats", _stats, "population figures (completeness, inbreeding, Ne, founders and "
                                     "ancestors), a table by cohort and its plot")
    _reference_options(stats)
    stats.add_argument("--by", metavar="COLUMN", help="a table of the figures by this column, such as birth_year")
    stats.add_argument("--plot", metavar="OUT.png", help="draw mean F and ΔF by the --by column")

    report = command("report", _report, "one self-contained HTML page of every figure: completeness, generation "
                                        "intervals, F and ΔF by cohort, Ne, f_e, f_a, f_g, ancestors, inbreeding")
    report.add_argument("-o", "--output", metavar="OUT.html", required=True)
    _reference_options(report)
    report.add_argument("--by", metavar="COLUMN", help="the cohorts, such as birth_year (dates grouped into years)")
    report.add_argument("--birth", metavar="COLUMN", help="the births for generation intervals (default: --by)")

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


def _reference_options(command: argparse.ArgumentParser) -> None:
    """The reference animals of the population figures, as stats and report take them."""
    chosen = command.add_mutually_exclusive_group()
    chosen.add_argument("--reference", nargs="+", metavar="ID",
                        help="the reference animals (default: every animal with both parents known)")
    chosen.add_argument("--reference-by", metavar="COLUMN=VALUES",
                        help="the animals with one of these comma-separated values, such as birth_year=2019,2020")
    command.add_argument("--max-ancestors", type=_positive, default=1000, metavar="N",
                         help="stop the search of major ancestors after N (default: 1000)")


def _delimiter(text: str) -> str:
    delimiter = "\t" if text == "\\t" else text
    if len(delimiter) != 1 or delimiter in "\"\r\n":
        raise argparse.ArgumentTypeError(f"expected one character other than a quote or a line end, or \\t for "
                                         f"a tab, got {text!r}")
    return delimiter


def _encoding(text: str) -> str:
    try:
        codecs.lookup(text)
    except LookupError:
        raise argparse.ArgumentTypeError(f"unknown encoding {text!r}; such as utf-8, latin-1, cp1252, "
                                         f"utf-16") from None
    return text


def _positive(text: str) -> int:
    if not text.isdigit() or int(text) < 1:
        raise argparse.ArgumentTypeError(f"expected a positive integer, got {text!r}")
    return int(text)


def _named(args: argparse.Namespace) -> str:
    return "standard input" if args.pedigree == STANDARD_STREAM else str(args.pedigree)


def _unknown(args: argparse.Namespace) -> frozenset[str]:
    """The codes of an unknown parent that --unknown gives, or the default ones."""
    return (UNKNOWN_PARENTS if args.unknown is None
            else frozenset(code.strip() for codes in args.unknown for code in codes.split(",")))


def _read(args: argparse.Namespace) -> Pedigree:
    unknown = _unknown(args)
    source: str | typing.IO[str] = args.pedigree
    if args.pedigree == STANDARD_STREAM:
        source = io.TextIOWrapper(sys.stdin.buffer, encoding=args.encoding, newline="")
    with _progress("reading"):
        return read_pedigree(source, delimiter=args.delimiter, unknown=unknown,
                             encoding=args.encoding, selfing=args.selfing, header=args.header,
                             columns=None if args.columns is None else args.columns.split(","),
                             groups=None if args.groups is None else args.groups.split(","),
                             max_offspring=args.max_offspring)


@contextlib.contextmanager
def _progress(step: str) -> Iterator[None]:
    """Says on a terminal's standard error when a step takes more than a
    moment, and how long it took. A step that raises stays in `_running`, for
    main's message."""
    _running.append(step)
    if not sys.stderr.isatty():
        yield
        _running.pop()
        return
    start = time.monotonic()
    announce = threading.Timer(PROGRESS_AFTER, lambda: print(f"{step} …", file=sys.stderr, flush=True))
    with contextlib.suppress(RuntimeError):  # no thread to be had (out of memory): no announcement
        announce.start()
    try:
        yield
    finally:
        announce.cancel()
        if time.monotonic() - start >= PROGRESS_AFTER:
            print(f"{step}: {time.monotonic() - start:.1f} s", file=sys.stderr, flush=True)
    _running.pop()


def _inbreeding(args: argparse.Namespace) -> None:
    with outputs(args.output or STANDARD_STREAM, inputs=[args.pedigree]) as (path,):
        pedigree = _read(args)
        with _progress("inbreeding"):
            table = pedigree_statistics(pedigree)
        with _progress("writing"):
            write_csv(table, path)


def _ainv(args: argparse.Namespace) -> None:
    if args.output == STANDARD_STREAM:
        raise UsageError("ainv writes two files, OUT and OUT.ids: give -o a file name")
    with outputs(args.output, f"{args.output}.ids", inputs=[args.pedigree]) as (matrix, ids):
        pedigree = _read(args)
        with _progress("inverse relationship matrix"):
            grouped = len(pedigree.group_ids) > 0
            lower = sp.tril(inverse_relationship_matrix(pedigree, groups=grouped), format="csr")
            lower.sort_indices()
        with _progress("writing"):
            write_lower_triangle(lower, np.concatenate([pedigree.ids, pedigree.group_ids]) if grouped
                                 else pedigree.ids, matrix, ids)


def _hinv(args: argparse.Namespace) -> None:
    if args.output == STANDARD_STREAM:
        raise UsageError("hinv writes two files, OUT and OUT.ids: give -o a file name")
    if args.groups is not None:
        raise UsageError(_without_groups(args))
    with outputs(args.output, f"{args.output}.ids", inputs=[args.pedigree, args.genotypes]) as (matrix, ids):
        pedigree = _read(args)
        with _progress("reading genotypes"):
            genotyped, genotypes = read_genotypes(args.genotypes)
        with _progress("genomic relationships"), warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            g = genomic_relationship_matrix(genotypes, min_maf=args.min_maf, ids=genotyped)
        for warning in caught:
            print(f"tolmkit: {args.genotypes}: {warning.message}", file=sys.stderr)
        del genotypes
        with _progress("H-inverse"):
            result = hybrid_inverse(pedigree, genotyped, g, blend=args.blend, tau=args.tau, omega=args.omega,
                                    tune=args.tune, add_missing=args.add_missing)
            lower = sp.tril(result.matrix, format="csr")
            lower.sort_indices()
        print(result.comparison.summary(), file=sys.stderr)
        with _progress("writing"):
            write_lower_triangle(lower, result.ids, matrix, ids)


def _without_groups(args: argparse.Namespace) -> str:
    """Why hinv refuses --groups, and the options that read the same file
    with the groups as unknown parents, as hybrid_inverse takes them."""
    codes = sorted(code for code in _unknown(args) if code)  # an empty field is unknown whatever is listed
    groups = [code.strip() for code in args.groups.split(",") if code.strip()]
    prefixes = [code[:-1] for code in groups if code.endswith("*")]
    codes += [code for code in groups if not code.endswith("*")]
    every = f" and every code that begins with {' or '.join(prefixes)}" if prefixes else ""
    return ("hinv takes no --groups: its H-inverse has no equations for groups of unknown parents; leave out "
            f"--groups and pass {option('unknown', codes).command_line}{every}, which reads the grouped parents "
            "as unknown ones")


def _check(args: argparse.Namespace) -> None:
    pedigree = _read(args)
    print(f"{_named(args)}\n{pedigree.summary()}")


def _among(args: argparse.Namespace) -> None:
    with _progress("loading Dask"):
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
    with outputs(args.plot, inputs=[args.pedigree]) as (plot,):
        _statistics(args, plot)
    if args.plot:
        print(f"\nplot: {args.plot}")


def _statistics(args: argparse.Namespace, plot: str) -> None:
    pedigree, table, reference, described = _with_reference(args)
    print(f"{_named(args)}: {len(pedigree):,} animals, "
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
            summary = summary_by(pedigree, args.by)
        print()
        print(summary.to_string(float_format=lambda v: f"{v:.4g}"))
        if plot:
            from .plots import plot_trend

            with _progress("drawing"):
                plot_trend(summary, plot, effective=effective, founders=founders)


def _report(args: argparse.Namespace) -> None:
    with outputs(args.output, inputs=[args.pedigree]) as (path,):
        page = _report_page(args)
        if path == STANDARD_STREAM:
            sys.stdout.write(page)
        else:
            with open(path, "w", encoding="utf-8") as out:
                out.write(page)
    if args.output != STANDARD_STREAM:
        print(f"report: {args.output}")


def _report_page(args: argparse.Namespace) -> str:
    from .report import report_html

    pedigree, _, reference, described = _with_reference(args)
    if args.birth and args.birth not in pedigree.attributes.columns:
        raise UsageError(f"no column {args.birth!r} in the file; its columns are "
                         f"{', '.join(pedigree.attributes.columns)}")
    with _progress("report"):
        return report_html(pedigree, reference, by=args.by, birth=args.birth,
                           title=f"Pedigree report: {os.path.basename(_named(args))}", reference_label=described,
                           max_ancestors=args.max_ancestors)


def _with_reference(args: argparse.Namespace) -> tuple[Pedigree, pd.DataFrame, list[str], str]:
    """The pedigree, its per-animal table, and the reference animals of stats
    and report with how they were chosen."""
    pedigree = _read(args)
    with _progress("per-animal figures"):
        table = pedigree_statistics(pedigree)
    for column in (args.by, args.reference_by and args.reference_by.partition("=")[0]):
        if column and column not in table.columns:
            raise UsageError(f"no column {column!r}; the columns are {', '.join(table.columns)}")
    reference, described = _reference(args, table)
    return pedigree, table, reference, described


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
    inbred = f", {effective.fully_inbred:,} fully inbred left out" if effective.fully_inbred else ""
    return (f"Ne {effective.ne:.1f} ± {effective.se:.1f} from {effective.n:,} animals with more than one "
            f"equivalent generation (mean ΔF {effective.mean_delta_inbreeding:.5f}{inbred})\n"
            f"founders contributing {founders.founders:,}, effective number of founders f_e "
            f"{founders.founders_effective:.1f}\n"
            f"effective number of ancestors f_a {founders.ancestors_effective:.1f} from {founders.ancestors:,} "
            f"ancestors ({stop} {founders.explained:.4f})")
