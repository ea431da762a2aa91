"""The `tolmkit` command: inbreeding, the inverse relationship matrix and the
population figures of a pedigree file, and a check of the file.

Exit status 0 on success, 1 for a pedigree (or reference) that cannot be
used or a file that cannot be written, with a one-line message on standard
error, 2 for wrong usage, 130 when interrupted. Every file is written through
`writing.outputs`, so that none is ever lost or left half written.
"""

from __future__ import annotations

import argparse
import contextlib
import io
import os
import signal
import sys
import threading
import time
import typing
import warnings
from collections.abc import Iterator, Sequence

import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.compute as pc
import scipy.sparse as sp
from numpy.typing import NDArray

from ._advice import PedigreeError, argument
from ._version import __version__
from .apy import ApyInverse
from .births import MIN_AGE, birth_column, birth_order, cohorts
from .decoding import checked_encoding, utf8_text
from .genomic import KEPT, genomic_relationship_matrix, hybrid_inverse, kept_markers, single_step_options
from .genotypes import GenotypeError, genotype_files, read_genotypes
from .inverse import inverse_relationship_matrix
from .pedigree import Pedigree
from .population import FIGURE_DROPS, PopulationFigures, cohort_column, population_figures
from .quality import CONFLICT_REMOVALS, THRESHOLDS, genotype_quality
from .reading import can_delimit, check_reading_options, quoted_text, read_pedigree
from .records import MAX_OFFSPRING, UNKNOWN_PARENTS, Rules
from .relationship_files import read_relationships, relationship_files, write_genotyped_block
from .statistics import (
    EffectiveSize,
    FounderStatistics,
    effective_population_size,
    founder_statistics,
    generation_intervals,
    pedigree_statistics,
    summary_by,
)
from .threads import ENVIRONMENT_VARIABLE, MOST_THREADS, set_threads
from .tuning import BLENDS, ORDERS, TUNINGS
from .writing import (
    STANDARD_STREAM,
    STOPPING_SIGNALS,
    OutputError,
    OverwritesInput,
    as_stream,
    check_outputs,
    opened_output,
    outputs,
    signals_handled,
    write_csv,
    write_lower_triangle,
)

__all__ = ["main"]

#: Seconds after which a step still running says so on a terminal.
PROGRESS_AFTER = 2.0

#: The pairs of parent and offspring that `check` shows of each kind; it counts them all.
SHOWN = 10

# What each threshold of quality control does.
_THRESHOLD_HELP = {
    "min_marker_call_rate": "remove the markers called in a lower share of the animals",
    "min_animal_call_rate": "remove the animals called at a lower share of the markers",
    "min_maf": "remove the markers of a lower minor allele frequency, min(p, 1 - p)",
    "max_pair_conflicts": "a genotyped parent and offspring conflict above this share of markers of "
    "opposing homozygotes",
    "max_marker_conflicts": "remove the markers that conflict in more of the pairs",
    "max_agreement": "remove one of two animals that agree at more of the markers",
}

# What each matrix of the genotyped animals that hinv writes holds.
_KEPT_HELP = {
    "G": "G as given (after quality control), before tuning and blending",
    "A22": "A22, the pedigree relationships of the genotyped animals",
    "Gw_inverse": "the inverse of Gw, G tuned and blended",
    "block": "tau Gw-inverse - omega A22-inverse, the genotyped block added to A-inverse",
}

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
    try:
        args = _arguments(_parser(), argv)
    except SystemExit as stop:
        return int(stop.code or 0)
    except MemoryError as error:  # a process started at its limit runs out before a command
        return _out_of_memory(error, "reading the options")
    try:
        command: typing.Callable[[argparse.Namespace], None] = args.command
        # Whatever a command prints would write into its input.
        check_outputs(STANDARD_STREAM, inputs=_inputs(args))
        with set_threads(args.threads), _stopped_as_interrupted():
            command(args)
    except (UsageError, OverwritesInput) as error:
        args.parser.print_usage(sys.stderr)
        print(f"{args.parser.prog}: error: {error}", file=sys.stderr)
        return 2
    except KeyboardInterrupt as stop:
        print("tolmkit: interrupted; every file is as it was", file=sys.stderr)
        return 128 + (stop.number if isinstance(stop, _Stopped) else signal.SIGINT)
    except BrokenPipeError:
        # A reader such as head has what it wanted; the rest goes nowhere.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    except MemoryError as error:  # numpy's, pandas', pyarrow's and the limits of tolmkit alike
        return _out_of_memory(error)
    except OutputError as error:
        print(f"tolmkit: {error}", file=sys.stderr)
        return 1
    except pa.ArrowException as error:  # pyarrow's own failure, which says nothing of the file
        print(f"tolmkit: pyarrow failed ({type(error).__name__}): {error}", file=sys.stderr)
        return 1
    except (ValueError, OSError, ImportError) as error:
        # A refusal of a genotype file, a file that cannot be opened, a store that exists and a scheduler not
        # reached name their own.
        named = (
            ""
            if isinstance(error, (GenotypeError, FileExistsError, ConnectionError)) or getattr(error, "filename", None)
            else f"{_named(args)}: "
        )
        print(f"tolmkit: {named}{getattr(error, 'command_line', error)}", file=sys.stderr)
        return 1
    finally:
        _running.clear()
    return 0


class _Stopped(KeyboardInterrupt):
    """A signal to stop other than Ctrl-C, taken as Ctrl-C is."""

    def __init__(self, number: int) -> None:
        super().__init__(number)
        self.number = number


@contextlib.contextmanager
def _stopped_as_interrupted() -> Iterator[None]:
    """The `STOPPING_SIGNALS` other than Ctrl-C raise `_Stopped` in the
    block, so that the outputs are removed as for Ctrl-C."""

    def stop(number: int, frame: object) -> None:
        raise _Stopped(number)

    with signals_handled([number for number in STOPPING_SIGNALS if number != signal.SIGINT], stop):
        yield


def _out_of_memory(error: MemoryError, step: str | None = None) -> int:
    """The one line of a command out of memory, naming the step it was at."""
    step = step or (_running[-1] if _running else None)
    during = f" ({step})" if step else ""
    detail = f": {error}" if str(error) else ""
    print(f"tolmkit: out of memory{during}{detail}; every file is as it was", file=sys.stderr)
    return 1


def _arguments(parser: argparse.ArgumentParser, argv: Sequence[str] | None) -> argparse.Namespace:
    """The parsed arguments. `--reference ID …` takes every word after it,
    so that before the pedigree it takes the pedigree too: its last word is
    then the pedigree."""
    args = parser.parse_args(argv)
    if args.pedigree is None:
        reference: list[str] | None = getattr(args, "reference", None)
        if not reference or len(reference) < 2:
            command: argparse.ArgumentParser = args.parser
            command.error("the following arguments are required: pedigree")
        args.pedigree = reference.pop()
    if hasattr(args, "max_offspring"):
        # The reading options refused here, as wrong usage, before any file is read.
        options = _reading_options(args)
        try:
            check_reading_options(options["delimiter"], options["header"], options["columns"])
            _rules(options)
        except (ValueError, TypeError) as error:
            args.parser.error(getattr(error, "command_line", str(error)))
    if hasattr(args, "blend"):
        # So are the weights of single-step, before G is made.
        try:
            single_step_options(
                args.tune, args.blend_with, args.order, blend=args.blend, tau=args.tau, omega=args.omega
            )
        except ValueError as error:
            args.parser.error(getattr(error, "command_line", str(error)))
    return args


def _parser() -> argparse.ArgumentParser:
    reading = argparse.ArgumentParser(add_help=False)
    options = reading.add_argument_group("reading the pedigree")
    options.add_argument(
        "pedigree", nargs="?", help="pedigree file: animal, sire, dam and any further columns; - for standard input"
    )
    options.add_argument(
        "--delimiter",
        type=_delimiter,
        help="column separator, one character or \\t (default: comma, tab or spaces, as the file shows)",
    )
    options.add_argument(
        "--unknown",
        action="append",
        metavar="CODE",
        help="code of an unknown parent, repeated or comma-separated; the codes given replace the "
        f"default ones, {', '.join(repr(c) for c in sorted(UNKNOWN_PARENTS))} (a code that "
        "starts with a dash as --unknown=-999)",
    )
    options.add_argument(
        "--encoding",
        type=_encoding,
        default="utf-8-sig",
        help="text encoding, of the genotype file too (default: utf-8-sig)",
    )
    options.add_argument(
        "--selfing",
        action="store_true",
        help="allow an animal to be both a sire and a dam (plants, hermaphrodites); lifts --max-offspring",
    )
    options.add_argument(
        "--header",
        action=argparse.BooleanOptionalAction,
        default=None,
        help="whether the first line names the columns (default: when it names a sire and a dam)",
    )
    options.add_argument("--columns", metavar="ANIMAL,SIRE,DAM", help="the header's names of the three columns")
    options.add_argument(
        "--groups",
        metavar="CODES",
        help="codes of groups of unknown parents, comma-separated; CODE* stands for every code "
        "that begins with CODE (such as UPG*)",
    )
    options.add_argument(
        "--max-offspring",
        type=int,
        default=MAX_OFFSPRING,
        metavar="N",
        help="the most offspring of a dam not listed as an animal, more reading like a group "
        f"(default: {MAX_OFFSPRING}; 0 for no limit)",
    )
    options.add_argument(
        "--case-distinct",
        action="store_true",
        help="take identifiers that differ only in case (NL1, nl1) for different animals",
    )
    options.add_argument(
        "--threads",
        type=_threads,
        metavar="N",
        help=f"threads of the computations, the reader and the writer (default: {ENVIRONMENT_VARIABLE}, "
        "else every core the process may use)",
    )

    parser = argparse.ArgumentParser(prog="tolmkit", description=__doc__.split("\n\n")[0] if __doc__ else None)
    parser.add_argument("--version", action="version", version=f"tolmkit {__version__}")
    commands = parser.add_subparsers(title="commands", dest="name", metavar="COMMAND", required=True)

    def command(name: str, run: typing.Callable[[argparse.Namespace], None], text: str) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, parents=[reading], help=text, description=text)
        sub.set_defaults(command=run, parser=sub)
        return sub

    inbreeding = command(
        "inbreeding",
        _inbreeding,
        "the table of every animal (generations known, F, ΔF, sampling variance, the file's other columns) as CSV",
    )
    inbreeding.add_argument(
        "-o", "--output", type=_target, metavar="OUT.csv", help="write here instead of standard output"
    )

    ainv = command(
        "ainv",
        _ainv,
        "the inverse relationship matrix as 'row col value' lines of its lower "
        "triangle, numbered from 1, and OUT.ids mapping numbers to identifiers; with "
        "--groups, the groups of unknown parents follow the animals (Quaas 1988)",
    )
    ainv.add_argument("-o", "--output", type=_target, metavar="OUT", required=True)

    hinv = command(
        "hinv",
        _hinv,
        "H-inverse of single-step genomic evaluation, written as ainv writes "
        "A-inverse, with G against A22 on standard error; with --groups, the groups of unknown parents "
        "follow the animals (Quaas 1988)",
    )
    given = hinv.add_mutually_exclusive_group(required=True)
    given.add_argument(
        "--genotypes",
        metavar="FILE",
        help="PLINK .bed (or its prefix) or a BLUPF90 text file of 0/1/2, 5 for missing",
    )
    given.add_argument(
        "--g",
        metavar="FILE",
        help="a G made elsewhere: 'id id value' lines of its lower triangle, or GCTA's .grm.bin (or its prefix) "
        "with its .grm.id; no quality control then",
    )
    hinv.add_argument("-o", "--output", type=_target, metavar="OUT", required=True)
    hinv.add_argument("--blend", type=float, default=0.05, help="share of A22 (or I) blended into G (default: 0.05)")
    hinv.add_argument("--tau", type=float, default=1.0, help="weight of the inverse of G (default: 1)")
    hinv.add_argument("--omega", type=float, default=1.0, help="weight of the inverse of A22 (default: 1)")
    hinv.add_argument(
        "--tune",
        choices=[tune for tune in TUNINGS if tune],
        help="mean: G* = a + bG with the mean diagonal and off-diagonal of A22 (Chen et al. 2011); "
        "base: G* = a + G with the mean of A22 (Vitezica et al. 2011)",
    )
    hinv.add_argument(
        "--blend-with",
        choices=BLENDS,
        default=BLENDS[0],
        help="Gw = (1 - blend) G + blend A22, or + blend I (default: A22)",
    )
    hinv.add_argument("--order", choices=ORDERS, default=ORDERS[0], help=f"(default: {ORDERS[0]})")
    hinv.add_argument(
        "--add-missing", action="store_true", help="add genotyped animals missing from the pedigree as founders"
    )
    hinv.add_argument(
        "--full-groups",
        action="store_true",
        help="with --groups, also tie the genotyped animals to their groups through G-inverse minus "
        "A22-inverse (Misztal et al. 2013); --write-block still writes that block alone",
    )
    quality = hinv.add_argument_group(
        "quality control of the genotypes", "the removals, and why, go to OUT.quality.csv (genotype_quality)"
    )
    for name, default in THRESHOLDS.items():
        quality.add_argument(
            argument(name).command_line,
            type=float,
            default=default,
            metavar="SHARE",
            help=f"{_THRESHOLD_HELP[name]} (default: {default})",
        )
    quality.add_argument(
        "--on-conflict",
        choices=CONFLICT_REMOVALS,
        default=CONFLICT_REMOVALS[0],
        help="what a conflicting pair loses: the offspring's genotypes or the parent link (default: genotype)",
    )
    quality.add_argument("--no-quality", action="store_true", help="use the genotypes as they are")
    files = hinv.add_argument_group(
        "matrices of the genotyped animals",
        "each written as OUT is, numbered as the rows of H-inverse, with FILE.ids",
    )
    for name in KEPT:
        files.add_argument(f"--write-{_flag(name)}", type=_target, metavar="FILE", help=f"write {_KEPT_HELP[name]}")
    files.add_argument(
        "--named", action="store_true", help="write 'id id value' lines instead of numbers, and no FILE.ids"
    )
    hinv.add_argument(
        "--core",
        type=int,
        metavar="N",
        help="G-inverse by APY from a core of N genotyped animals drawn at random: writes its parts as "
        "OUT.core-inverse.npy, OUT.core-noncore.npy and OUT.noncore-diagonal.npy, with OUT.core.ids and "
        "OUT.noncore.ids, instead of H-inverse",
    )
    hinv.add_argument("--seed", type=_natural, default=0, help="seed of the draw of the core (default: 0)")

    stats = command(
        "stats",
        _stats,
        "population figures (completeness, birth order, generation intervals, "
        "inbreeding, Ne, founders and ancestors), a table by cohort and its plot",
    )
    _reference_options(stats)
    stats.add_argument(
        "--by",
        metavar="COLUMN",
        help="a table of the figures by this column, such as birth_year (dates grouped into years)",
    )
    stats.add_argument(
        "-o", "--output", type=_target, metavar="OUT.csv", help="write the table by the --by column as CSV"
    )
    stats.add_argument("--plot", type=_target, metavar="OUT.png", help="draw mean F and ΔF by the --by column")
    stats.add_argument(
        "--animals",
        type=_target,
        metavar="OUT.csv",
        help="write each animal's mean kinship with the reference, GCI and ancestral inbreeding as CSV",
    )
    _birth_options(stats, intervals=True)
    _figure_options(stats)

    report = command(
        "report",
        _report,
        "one self-contained HTML page of every figure: completeness, birth order, "
        "generation intervals, F and ΔF by cohort, Ne, f_e, f_a, f_g, ancestors, "
        "inbreeding",
    )
    report.add_argument("-o", "--output", type=_target, metavar="OUT.html", required=True)
    _reference_options(report)
    report.add_argument("--by", metavar="COLUMN", help="the cohorts, such as birth_year (dates grouped into years)")
    _birth_options(report, intervals=True)
    _figure_options(report)

    check = command(
        "check",
        _check,
        "read the pedigree with every check and print its summary and the parents "
        "born after, or soon before, their offspring; or the problem",
    )
    _birth_options(check, intervals=False)
    check.add_argument("--strict", action="store_true", help="exit with 1 when a parent is born after its offspring")

    among = command(
        "among",
        _among,
        "the relationship matrix of candidates to a Zarr store, computed by blocks on Dask (needs the dask extra)",
    )
    among.add_argument("--ids", metavar="FILE", required=True, help="the candidates' identifiers, one a line")
    among.add_argument("-o", "--output", type=_target, metavar="OUT.zarr", required=True, help="the store to create")
    among.add_argument(
        "--chunks", type=_positive, default=5000, metavar="K", help="rows and columns of a block (default: 5000)"
    )
    among.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="a Dask scheduler, such as tcp://10.0.0.1:8786 (default: a local cluster)",
    )
    return parser


def _reference_options(command: argparse.ArgumentParser) -> None:
    """The reference animals of the population figures, as stats and report take them."""
    chosen = command.add_mutually_exclusive_group()
    chosen.add_argument(
        "--reference",
        nargs="+",
        metavar="ID",
        help="the reference animals (default: every animal with both parents known); before the "
        "pedigree, the last word is the pedigree",
    )
    chosen.add_argument("--reference-file", metavar="FILE", help="the reference animals, one identifier a line")
    chosen.add_argument(
        "--reference-by",
        metavar="COLUMN=VALUES",
        help="the animals with one of these comma-separated values, such as birth_year=2019,2020 "
        "(a year for a column of dates)",
    )
    command.add_argument(
        "--max-ancestors",
        type=_positive,
        default=1000,
        metavar="N",
        help="stop the search of major ancestors after N (default: 1000)",
    )


def _birth_options(command: argparse.ArgumentParser, *, intervals: bool) -> None:
    """The births of the birth order and the generation intervals."""
    command.add_argument(
        "--birth",
        metavar="COLUMN",
        help="the column of births, years or dates such as 2019-03-15 (default: the column named "
        "such as birth_year, birth_date, born or dob)",
    )
    command.add_argument(
        "--min-age",
        type=_years,
        default=MIN_AGE,
        metavar="YEARS",
        help="warn of a parent younger than this at its offspring's birth (default: 1, a parent "
        "born in the year of its offspring; 0 warns of none)",
    )
    if intervals:
        command.add_argument(
            "--offspring",
            choices=["parents", "all"],
            default="parents",
            help="the offspring of the generation intervals: those that are parents themselves (the default), or all",
        )


def _figure_options(command: argparse.ArgumentParser) -> None:
    """The options of the population figures that stats and report share."""
    command.add_argument(
        "--drops",
        type=_positive,
        default=FIGURE_DROPS,
        metavar="N",
        help=f"gene drops of ancestral and partial inbreeding (default: {FIGURE_DROPS})",
    )
    command.add_argument("--seed", type=_natural, default=0, help="the seed of the gene drops (default: 0)")
    command.add_argument(
        "--interval",
        type=_interval,
        metavar="YEARS",
        help="the generation interval of Ne by family size (default: the mean interval from the births)",
    )


def _years(text: str) -> float:
    try:
        years = float(text)
    except ValueError:
        years = -1.0
    if not 0.0 <= years < float("inf"):
        raise argparse.ArgumentTypeError(f"expected a number of years of at least 0, got {text!r}")
    return years


def _interval(text: str) -> float:
    years = _years(text)
    if years == 0.0:
        raise argparse.ArgumentTypeError(f"expected a positive number of years, got {text!r}")
    return years


def _delimiter(text: str) -> str:
    delimiter = "\t" if text == "\\t" else text
    if not can_delimit(delimiter):
        raise argparse.ArgumentTypeError(
            f"expected one ASCII character other than a quote or a line end, or \\t for a tab, got {text!r}"
        )
    return delimiter


def _encoding(text: str) -> str:
    try:
        checked_encoding(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None
    return text


def _target(text: str) -> str:
    """A file that the command writes; "-" for the file that standard output
    is redirected to, so that every command writes it as it writes "-"."""
    try:
        return as_stream(text)
    except OutputError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def _positive(text: str) -> int:
    if not text.isdigit() or int(text) < 1:
        raise argparse.ArgumentTypeError(f"expected a positive integer, got {text!r}")
    return int(text)


def _threads(text: str) -> int:
    if not (text.isascii() and text.isdigit() and 1 <= int(text) <= MOST_THREADS):
        raise argparse.ArgumentTypeError(f"expected a number of threads from 1 to {MOST_THREADS}, got {text!r}")
    return int(text)


def _natural(text: str) -> int:
    if not (text.isascii() and text.isdigit()):
        raise argparse.ArgumentTypeError(f"expected a non-negative integer, got {text!r}")
    return int(text)


def _named(args: argparse.Namespace) -> str:
    return "standard input" if args.pedigree == STANDARD_STREAM else str(args.pedigree)


def _unknown(args: argparse.Namespace) -> frozenset[str]:
    """The codes of an unknown parent that --unknown gives, or the default ones."""
    return (
        UNKNOWN_PARENTS
        if args.unknown is None
        else frozenset(code.strip() for codes in args.unknown for code in codes.split(","))
    )


def _reading_options(args: argparse.Namespace) -> dict[str, typing.Any]:
    """The arguments of read_pedigree that the reading options give."""
    return {
        "delimiter": args.delimiter,
        "unknown": _unknown(args),
        "encoding": args.encoding,
        "selfing": args.selfing,
        "header": args.header,
        "columns": None if args.columns is None else [name.strip() for name in args.columns.split(",")],
        "groups": None if args.groups is None else [code.strip() for code in args.groups.split(",")],
        "max_offspring": args.max_offspring,
        "case_distinct": args.case_distinct,
    }


def _rules(options: dict[str, typing.Any]) -> Rules:
    """The rules that read_pedigree makes of the reading options."""
    return Rules.given(
        options["unknown"],
        options["selfing"],
        options["groups"],
        options["max_offspring"],
        case_distinct=options["case_distinct"],
    )


def _read(args: argparse.Namespace) -> Pedigree:
    source: str | typing.IO[str] = args.pedigree
    if args.pedigree == STANDARD_STREAM:
        # Read whole, so that a byte not of the encoding is found on its line.
        source = io.TextIOWrapper(io.BytesIO(sys.stdin.buffer.read()), encoding=args.encoding, newline="")
    with _progress("reading"):
        return read_pedigree(source, **_reading_options(args))


def _check_genotyped_groups(args: argparse.Namespace, genotyped: NDArray[np.object_], path: str) -> None:
    """Refuses a genotyped animal that fits --groups, which --add-missing
    would add as an animal where reading the pedigree refuses one; the
    groups of the pedigree alone are known to hybrid_inverse."""
    if args.groups is None or not args.add_missing:
        return
    rules = _rules(_reading_options(args))
    names = pa.array([str(name) for name in genotyped], pa.string())
    # As the reader refuses a parent that begins as the groups do but for case.
    forms = [names] if args.case_distinct else [names, pc.utf8_upper(names), pc.utf8_lower(names)]
    fits = np.any([rules.groups(form) for form in forms], axis=0)
    if np.any(fits):
        name = genotyped[int(np.argmax(fits))]
        raise GenotypeError(
            f"{path}: genotyped animal {name!r} fits the groups of unknown parents (--groups={args.groups}), "
            "which --add-missing would add as an animal; remove its genotypes"
        )


@contextlib.contextmanager
def _judging(path: str) -> Iterator[None]:
    """Refusals of what a genotype file holds, found after it is read (its
    checks against the pedigree among them), name that file rather than the
    pedigree."""
    try:
        yield
    except ValueError as error:
        command_line = getattr(error, "command_line", str(error))
        raise GenotypeError(f"{path}: {error}", f"{path}: {command_line}") from None


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
            write_lower_triangle(
                lower, np.concatenate([pedigree.ids, pedigree.group_ids]) if grouped else pedigree.ids, matrix, ids
            )


def _flag(name: str) -> str:
    return name.lower().replace("_", "-")


def _hinv(args: argparse.Namespace) -> None:
    if args.output == STANDARD_STREAM:
        raise UsageError("hinv writes two files, OUT and OUT.ids: give -o a file name")
    if args.full_groups and args.groups is None:
        raise UsageError("--full-groups ties the genotyped animals to the groups of unknown parents: give --groups")
    kept = {name: getattr(args, f"write_{_flag(name).replace('-', '_')}") for name in KEPT}
    kept = {name: path for name, path in kept.items() if path}
    for name, path in kept.items():
        if path == STANDARD_STREAM and not args.named:
            raise UsageError(
                f"--write-{_flag(name)} writes two files, the matrix and its .ids: give it a file name, or pass --named"
            )
    if args.core is not None:
        if kept:
            raise UsageError(
                f"--core writes APY's parts of Gw-inverse, not the matrices of --write-{_flag(next(iter(kept)))}: "
                "leave out one or the other"
            )
        if args.full_groups:
            raise UsageError("--core takes groups as unknown parents or by Quaas' rules: leave out --full-groups")
        if args.blend_with != BLENDS[0]:
            raise UsageError(f"--core blends G with {BLENDS[0]} only: leave out --blend-with")
        _apy_parts(args)
        return
    checked = args.genotypes is not None and not args.no_quality
    targets = [args.output, f"{args.output}.ids", f"{args.output}.quality.csv" if checked else None]
    for path in kept.values():
        targets += [path, None if args.named else f"{path}.ids"]
    given = genotype_files(args.genotypes) if args.genotypes is not None else relationship_files(args.g)
    with outputs(*targets, inputs=[args.pedigree, *given]) as (matrix, ids, removals, *files):
        pedigree = _read(args)
        if args.g is not None:
            quality = ""
            with _progress("reading G"):
                genotyped, g = read_relationships(
                    args.g, pedigree=None if args.add_missing else pedigree, encoding=args.encoding
                )
        else:
            pedigree, genotyped, g, quality = _genomic(args, pedigree, removals if checked else None)
        source = args.genotypes if args.g is None else args.g
        _check_genotyped_groups(args, genotyped, source)
        with _progress("H-inverse"), _judging(source):
            result = hybrid_inverse(
                pedigree,
                genotyped,
                g,
                keep=list(kept),
                **_single_step(args),
            )
            lower = sp.tril(result.matrix, format="csr")
            lower.sort_indices()
        print(quality + result.comparison.summary(), file=sys.stderr)
        print(result.comparison_after.summary("Gw"), file=sys.stderr)
        with _progress("writing"):
            write_lower_triangle(lower, result.ids, matrix, ids)
            positions: NDArray[np.int64] = pd.Index(result.ids, dtype=object).get_indexer(genotyped)  # type: ignore[no-untyped-call]
            for name, (path, key) in zip(kept, zip(files[0::2], files[1::2])):
                write_genotyped_block(result.kept[name], positions, result.ids, path, key)


def _single_step(args: argparse.Namespace) -> dict[str, typing.Any]:
    """hinv's options as the arguments of hybrid_inverse that they stand for."""
    return {
        "blend": args.blend,
        "tau": args.tau,
        "omega": args.omega,
        "tune": args.tune,
        "blend_with": args.blend_with,
        "order": args.order,
        "groups": "full" if args.full_groups else args.groups is not None,
        "add_missing": args.add_missing,
    }


def _genomic(
    args: argparse.Namespace, pedigree: Pedigree, removals: str | None
) -> tuple[Pedigree, NDArray[np.object_], NDArray[np.float64], str]:
    """The genotypes read, checked (their removals written at `removals`
    unless None) and made into G; and the summary of the checks, if any, which
    is printed once H-inverse is made."""
    pedigree, genotyped, genotypes, summary = _genotypes(args, pedigree, removals)
    with _progress("genomic relationships"), _judging(args.genotypes), warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        g = genomic_relationship_matrix(genotypes, min_maf=args.min_maf, ids=genotyped)
    for warning in caught:
        print(f"tolmkit: {args.genotypes}: {warning.message}", file=sys.stderr)
    return pedigree, genotyped, g, summary


def _genotypes(
    args: argparse.Namespace, pedigree: Pedigree, removals: str | None
) -> tuple[Pedigree, NDArray[np.object_], NDArray[np.integer[typing.Any]], str]:
    """The genotypes read and checked, their removals written at `removals`
    unless None; and the summary of the checks, if any."""
    summary = ""
    with _progress("reading genotypes"):
        genotyped, chip = read_genotypes(args.genotypes, encoding=args.encoding)
    genotypes: NDArray[np.integer[typing.Any]] = chip
    if removals is not None:
        with _progress("quality control"), _judging(args.genotypes):
            limits = {name: getattr(args, name) for name in THRESHOLDS}
            checked = genotype_quality(genotypes, genotyped, pedigree=pedigree, on_conflict=args.on_conflict, **limits)
        summary = checked.summary() + "\n"
        # Markers numbered from 1 in the file's order, as the reader's messages number them.
        write_csv(checked.removed.assign(marker=checked.removed["marker"] + 1), removals, index=False)
        genotyped, genotypes = checked.ids, checked.genotypes
        pedigree = typing.cast(Pedigree, checked.pedigree)
    return pedigree, genotyped, genotypes, summary


def _apy_parts(args: argparse.Namespace) -> None:
    """hinv --core: the parts of Gw⁻¹ by APY, as numpy files, and the
    identifiers of their rows."""
    if args.genotypes is None:
        raise UsageError("hinv --core draws G's blocks from the genotypes: give --genotypes")
    names = ["core-inverse.npy", "core-noncore.npy", "noncore-diagonal.npy", "core.ids", "noncore.ids"]
    targets = [f"{args.output}.{name}" for name in names]
    checked = not args.no_quality
    with outputs(
        *targets,
        f"{args.output}.quality.csv" if checked else None,
        inputs=[args.pedigree, *genotype_files(args.genotypes)],
    ) as (
        *paths,
        removals,
    ):
        pedigree, genotyped, genotypes, summary = _genotypes(args, _read(args), removals if checked else None)
        _check_genotyped_groups(args, genotyped, args.genotypes)
        with _progress("G-inverse by APY"), _judging(args.genotypes), warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            # The markers of G without a core, so that a core of all but one gives its Gw⁻¹.
            markers = kept_markers(genotypes, min_maf=args.min_maf)
            result = hybrid_inverse(
                pedigree,
                genotyped,
                genotypes=genotypes[:, markers],
                core=args.core,
                seed=args.seed,
                form="operator",
                **_single_step(args),
            )
        for warning in caught:
            print(f"tolmkit: {args.genotypes}: {warning.message}", file=sys.stderr)
        print(summary + result.comparison.summary(), file=sys.stderr)
        parts = typing.cast(ApyInverse, result.matrix.genomic)  # a core gives APY's parts
        with _progress("writing"):
            for path, array in zip(paths, (parts.core_inverse, parts.core_noncore, parts.noncore_diagonal)):
                with open(path, "wb") as file:
                    np.save(file, array)
            for path, rows in zip(paths[3:], (parts.core, parts.noncore)):
                write_csv(pd.DataFrame({"id": parts.ids[rows]}), path, header=False, index=False)


def _check(args: argparse.Namespace) -> None:
    pedigree = _read(args)
    _check_columns([("--birth", args.birth)], pedigree.attributes.columns)
    print(f"{_named(args)}\n{pedigree.summary()}")
    found = _births(args, pedigree)
    if found is None:
        return
    column, order = found
    errors = int(np.count_nonzero(order["problem"] == "error"))
    print(f"births ({column}): {_birth_counts(order, args.min_age)}")
    if len(order):
        print(order.head(SHOWN).to_string(index=False))
        if len(order) > SHOWN:
            print(f"… and {len(order) - SHOWN:,} more")
    if args.strict and errors:
        raise ValueError(f"--strict: {_born_after(errors)}")


def _births(args: argparse.Namespace, pedigree: Pedigree) -> tuple[str, pd.DataFrame] | None:
    """The column of births and the parents born after, or soon before,
    their offspring; None, having said why, where there is no such column,
    or the one found by its name holds other than births."""
    column = args.birth or birth_column(pedigree)
    if column is None:
        print(
            "births: no column named such as birth_year, birth_date or born; give --birth COLUMN to check the "
            "birth order"
        )
        return None
    try:
        with _progress("birth order"):
            return column, birth_order(pedigree, column, min_age=args.min_age)
    except PedigreeError as error:
        if args.birth:
            raise ValueError(f"--birth {column}: {error}") from None
        print(
            f"births: the column {column!r}, found by its name, is not read as births: {error}; give --birth "
            "COLUMN naming the column of births"
        )
        return None


def _birth_counts(order: pd.DataFrame, min_age: float) -> str:
    errors = int(np.count_nonzero(order["problem"] == "error"))
    return (
        f"{_born_after(errors)} (errors), {len(order) - errors:,} less than {min_age:g} "
        f"year{'' if min_age == 1 else 's'} older (warnings)"
    )


def _born_after(errors: int) -> str:
    return "1 parent born after its offspring" if errors == 1 else f"{errors:,} parents born after their offspring"


def _among(args: argparse.Namespace) -> None:
    if args.output == STANDARD_STREAM:
        raise UsageError("among writes a Zarr store, which is a folder: give -o its name")
    check_outputs(args.output, inputs=[args.pedigree, args.ids])
    with _progress("loading Dask"):
        from .blocks import among_to_zarr  # Dask is imported for this command alone

    listed = _listed(args.ids, args.encoding, "--ids")
    ids = [name for _, name in listed]
    pedigree = _read(args)
    try:
        pedigree.numbers(ids)
    except PedigreeError:
        # Which line: the whole pedigree hashed, on this road alone.
        missing = ~pd.Index(ids, dtype=object).isin(pedigree.ids)
        line, name = listed[int(np.argmax(missing))]
        raise ValueError(f"--ids {args.ids}, line {line}: animal {name!r} is not in the pedigree") from None
    with _progress("relationships among the candidates"):
        among_to_zarr(pedigree, ids, args.output, chunks=args.chunks, scheduler=args.scheduler)


def _stats(args: argparse.Namespace) -> None:
    for flag, value in (("--plot", args.plot), ("-o", args.output)):
        if value and not args.by:
            raise UsageError(f"{flag} writes the figures by cohort: give --by COLUMN as well")
    if args.output == STANDARD_STREAM:
        raise UsageError("stats prints its figures on standard output: give -o a file name")
    if args.animals == STANDARD_STREAM:
        raise UsageError("stats prints its figures on standard output: give --animals a file name")
    with outputs(args.output, args.plot, args.animals, inputs=_inputs(args)) as (written, plot, animals):
        if args.plot:
            from .plots import chart_format

            try:
                chart_format(args.plot)
            except ValueError as error:
                raise UsageError(f"--plot: {error}") from None
        _statistics(args, written, plot, animals)
    for name, path in (("table", args.output), ("plot", args.plot), ("animals", args.animals)):
        if path:
            print(f"{name}: {path}")


def _statistics(args: argparse.Namespace, written: str, plot: str, animals: str) -> None:
    pedigree, table, reference, described = _with_reference(args)
    counts = pedigree.counts()
    print(
        f"{_named(args)}: {counts.animals:,} animals, {counts.founders:,} founders, {counts.parents_added:,} "
        "parents added as founders"
    )
    print(_completeness(table))
    found = _births(args, pedigree)
    if found is not None:
        column, order = found
        print(f"births ({column}): {_birth_counts(order, args.min_age)}")
        with _progress("generation intervals"):
            intervals = generation_intervals(pedigree, column, offspring=args.offspring)
        counted = "every offspring" if args.offspring == "all" else "the offspring that are parents"
        print(
            f"generation intervals in years, of {counted}; {int(intervals['left_out'].loc['all']):,} pairs of a "
            f"parent born after its offspring left out:\n{intervals.to_string(float_format=lambda v: f'{v:.2f}')}"
        )
    print(f"reference: {len(reference):,} animals ({described})")
    with _progress("effective population size"):
        try:
            effective = effective_population_size(pedigree, reference)
        except ValueError as error:  # the report says so in Ne's place; here Ne is the figure asked for
            raise ValueError(
                f"{error}: give reference animals with more generations known (--reference, "
                "--reference-file or --reference-by)"
            ) from None
    with _progress("founders and ancestors"):
        founders = founder_statistics(pedigree, reference, max_ancestors=args.max_ancestors)
    print(_population(effective, founders))
    with _progress("completeness, parents, Ne by more routes, kinship, ancestral and partial inbreeding"):
        figures = population_figures(
            pedigree,
            reference,
            founders,
            by=cohort_column(pedigree, args.by),
            birth=found[0] if found is not None else None,
            interval=args.interval,
            drops=args.drops,
            seed=args.seed,
            offspring=args.offspring,
        )
    print(_more_figures(figures, args.by))
    if animals:
        with _progress("writing"):
            write_csv(figures.animals, animals)
    if args.by:
        with _progress(f"figures by {args.by}"):
            summary = summary_by(pedigree, args.by)
        print()
        print(summary.to_string(float_format=lambda v: f"{v:.4g}"))
        if written:
            with _progress("writing"):
                write_csv(summary, written)
        if plot:
            from .plots import plot_trend

            with _progress("drawing"):
                plot_trend(summary, plot, effective=effective, founders=founders)


def _report(args: argparse.Namespace) -> None:
    with outputs(args.output, inputs=_inputs(args)) as (path,):
        page = _report_page(args)
        with opened_output(path) as out:
            out.write(page.encode())
    if args.output != STANDARD_STREAM:
        print(f"report: {args.output}")


def _report_page(args: argparse.Namespace) -> str:
    from .report import report_html

    pedigree, _, reference, described = _with_reference(args)
    with _progress("report"):
        try:
            return report_html(
                pedigree,
                reference,
                by=args.by,
                birth=args.birth,
                title=f"Pedigree report: {os.path.basename(_named(args))}",
                reference_label=described,
                max_ancestors=args.max_ancestors,
                min_age=args.min_age,
                offspring=args.offspring,
                source=None if args.pedigree == STANDARD_STREAM else args.pedigree,
                interval=args.interval,
                drops=args.drops,
                seed=args.seed,
            )
        except PedigreeError as error:  # the reference is checked: what is left is the births given
            if args.birth:
                raise ValueError(f"--birth {args.birth}: {error}") from None
            raise


def _with_reference(args: argparse.Namespace) -> tuple[Pedigree, pd.DataFrame, list[str], str]:
    """The pedigree, its per-animal table, and the reference animals of stats
    and report with how they were chosen."""
    listed = _listed(args.reference_file, args.encoding, "--reference-file") if args.reference_file else None
    pedigree = _read(args)
    _check_columns([("--birth", args.birth)], pedigree.attributes.columns)
    with _progress("per-animal figures"):
        table = pedigree_statistics(pedigree)
    _check_columns(
        [("--by", args.by), ("--reference-by", args.reference_by and args.reference_by.partition("=")[0])],
        table.columns,
    )
    reference, described = _reference(args, table, listed)
    return pedigree, table, reference, described


def _check_columns(options: list[tuple[str, str | None]], columns: pd.Index[typing.Any]) -> None:
    """Refuses an option that names none of `columns`."""
    for flag, column in options:
        if column is not None and column not in columns:
            raise UsageError(f"{flag}: no column {column!r}; the columns are {', '.join(map(str, columns))}")


def _listed(path: str, encoding: str, option: str) -> list[tuple[int, str]]:
    """The identifiers of a file of one a line, with their lines; blank lines
    and comments are skipped, as in every text file that tolmkit reads, and
    an identifier quoted whole is read as the writer quotes it (a '#' or a
    blank inside, a quote doubled)."""
    try:
        text = utf8_text(path, encoding)
    except OSError as error:
        raise UsageError(f"{option} {path}: {error.strerror or error}") from None
    except PedigreeError as error:
        raise UsageError(f"{option} {path}: {error.command_line}") from None
    listed = []
    for number, line in enumerate(text.decode().split("\n"), 1):
        name = line.strip()
        if len(name) >= 2 and name[0] == name[-1] == '"':
            unquoted = quoted_text(name)
            if unquoted is None:
                raise ValueError(f"{option} {path}, line {number}: a quote inside quotes that is not doubled")
            name = unquoted
        if name:
            listed.append((number, name))
    if not listed:
        raise ValueError(f"{option} {path} names no animal")
    return listed


def _reference(
    args: argparse.Namespace, table: pd.DataFrame, listed: list[tuple[int, str]] | None
) -> tuple[list[str], str]:
    """The identifiers of the reference animals and how they were chosen."""
    if args.reference or listed:
        where = (
            [("--reference", name) for name in args.reference]
            if args.reference
            else [(f"--reference-file {args.reference_file}, line {line}", name) for line, name in listed or []]
        )
        missing = ~np.asarray(pd.Index([name for _, name in where], dtype=object).isin(table.index))
        if np.any(missing):
            option, name = where[int(np.argmax(missing))]
            raise ValueError(f"{option}: animal {name!r} is not in the pedigree")
        # An animal named twice is one of the reference.
        chosen = list(dict.fromkeys(name for _, name in where))
        return chosen, "given" if args.reference else f"listed in {args.reference_file}"
    if args.reference_by:
        column, equals, values = args.reference_by.partition("=")
        wanted = [v.strip() for v in values.split(",") if v.strip()]
        if not equals or not wanted:
            raise UsageError(f"--reference-by takes COLUMN=VALUES, got {args.reference_by!r}")
        found = table.index[_matches(table[column], wanted)]
        if len(found) == 0:
            raise ValueError(f"--reference-by: no animal has {column} in {', '.join(wanted)}")
        return [str(name) for name in found], f"{column} in {', '.join(wanted)}"
    both = (table["sire"] != "") & (table["dam"] != "")
    if not both.any():
        raise ValueError(
            "no animal has both parents known, which the reference takes by default: give "
            "--reference, --reference-file or --reference-by"
        )
    return [str(name) for name in table.index[both]], "every animal with both parents known"


def _matches(column: pd.Series[typing.Any], wanted: list[str]) -> NDArray[np.bool_]:
    """Where `column` holds one of the values written in `wanted`: cohorts
    compare as `cohorts` reads them, so that 2019 finds 2019.0 and the dates
    of 2019."""
    column = cohorts(column)
    if pd.api.types.is_numeric_dtype(column):
        try:
            numbers = [float(v) for v in wanted]
        except ValueError:
            raise UsageError(
                f"--reference-by: column {column.name!r} holds numbers (years of dates count as "
                f"numbers); got {', '.join(wanted)}"
            ) from None
        return np.asarray(column.isin(numbers))
    return np.asarray(column.astype(str).isin(wanted))


def _inputs(args: argparse.Namespace) -> list[str]:
    """The files that a command reads, which no output may overwrite."""
    return [args.pedigree] + ([args.reference_file] if getattr(args, "reference_file", None) else [])


def _completeness(table: pd.DataFrame) -> str:
    both = ((table["sire"] != "") & (table["dam"] != "")).mean()
    f = table["inbreeding"]
    return (
        f"both parents known {both:.1%}; mean generations: maximum {table['generation'].mean():.2f}, "
        f"complete {table['complete_generations'].mean():.2f}, "
        f"equivalent {table['equivalent_generations'].mean():.2f}\n"
        f"mean F {f.mean():.5f}, inbred {(f > 0).mean():.1%}, largest F {f.max():.5f}"
    )


def _population(effective: EffectiveSize, founders: FounderStatistics) -> str:
    stop = (
        "their marginal contributions sum to" if founders.stopped_by == "explained" else "the most searched, explaining"
    )
    inbred = f", {effective.fully_inbred:,} fully inbred left out" if effective.fully_inbred else ""
    return (
        f"Ne {effective.figure()} from {effective.n:,} animals with more than one "
        f"equivalent generation (mean ΔF {effective.mean_delta_inbreeding:.5f}{inbred})\n"
        f"founders contributing {founders.founders:,}, effective number of founders f_e "
        f"{founders.founders_effective:.1f}\n"
        f"effective number of ancestors f_a {'at most ' if founders.stopped_by == 'max_ancestors' else ''}"
        f"{founders.ancestors_effective:.1f} from {founders.ancestors:,} "
        f"ancestors ({stop} {founders.explained:.4f})"
    )


def _more_figures(figures: PopulationFigures, by: str | None) -> str:
    """The figures of `population_figures` as stats prints them."""
    lines = []
    known = figures.completeness.iloc[0].drop("animals")
    lines.append(
        "known ancestors of the reference by generation back: "
        + ", ".join(f"{g}: {share:.1%}" for g, share in known.items())
    )
    for route, effective in figures.effective.items():
        if isinstance(effective, EffectiveSize):
            extra = (
                ""
                if route == "regression"
                else f" ({effective.sires:,} sires, {effective.dams:,} dams"
                + (f", L {effective.interval:.2f} years)" if route == "family-size" else ")")
            )
            lines.append(f"Ne by {route} {effective.figure()}{extra}")
        else:
            lines.append(f"Ne by {route}: none, {effective}")
    lines.append(
        f"n50 {figures.n50 if figures.n50 is not None else 'none (the ancestors taken explain less than half)'}; "
        f"mean kinship of the reference {figures.mean_kinship:.5f}"
    )
    kalinowski = figures.kalinowski
    lines.append(
        f"ancestral inbreeding: F_ANC {kalinowski.ancestral:.5f} ± {kalinowski.ancestral_se:.5f}, "
        f"F_NEW {kalinowski.new:.5f} ({kalinowski.drops:,} drops)"
        if not isinstance(kalinowski, str)
        else f"ancestral inbreeding: none, {kalinowski}"
    )
    partial = figures.partial
    if not isinstance(partial, str):
        how = "exact" if partial.exact else f"{partial.drops:,} drops"
        lines.append(
            f"founders of the reference's mean F {partial.mean_inbreeding:.5f} ({how}):\n"
            + partial.founders.to_string(float_format=lambda v: f"{v:.5f}")
        )
    if figures.parents is not None:
        lines.append(f"sires and dams by {by}:\n" + figures.parents.to_string(float_format=lambda v: f"{v:.3g}"))
    if isinstance(figures.intervals, pd.DataFrame):
        lines.append(
            "generation intervals by the offspring's cohort:\n"
            + figures.intervals.to_string(float_format=lambda v: f"{v:.2f}")
        )
    return "\n".join(lines)
