"""The breeder's report: every figure of a pedigree analysis on one HTML page
that needs nothing else to be read (its pictures embedded as data, no
network, no scripts)."""

from __future__ import annotations

import base64
import datetime
import functools
import hashlib
import html
import os
import tempfile
import typing
from collections.abc import Iterable

import numpy as np
import pandas as pd

from ._advice import PedigreeError
from ._arguments import integer
from ._version import __version__
from .ancestral import AncestralInbreeding, PartialInbreeding
from .births import MIN_AGE, birth_column, birth_order
from .pedigree import Pedigree, checked_pedigree
from .plots import plot_ancestry, plot_intervals, plot_trend
from .population import FIGURE_DROPS, PopulationFigures, cohort_column, figure_or_reason, population_figures
from .statistics import (
    INBREEDING_CLASSES,
    EffectiveSize,
    FounderStatistics,
    effective_population_size,
    founder_statistics,
    generation_intervals,
    inbreeding_classes,
    pedigree_statistics,
    summary_by,
)

__all__ = ["report_html", "write_report"]

#: Rows of the tables of the main ancestors and of the most inbred animals.
TOP = 20

_STYLE = """
body { font-family: system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; color: #222; margin: 2em auto;
       max-width: 62em; padding: 0 1em; line-height: 1.4; }
h1 { font-size: 1.6em; margin-bottom: 0.2em; } h2 { font-size: 1.2em; margin-top: 1.8em;
     border-bottom: 1px solid #ccc; padding-bottom: 0.2em; }
.note { color: #666; font-size: 0.9em; }
table { border-collapse: collapse; margin: 0.6em 0; font-size: 0.9em; }
th, td { padding: 0.2em 0.7em; border-bottom: 1px solid #e4e4e4; }
th { text-align: left; background: #f4f6f8; } td.n { text-align: right; font-variant-numeric: tabular-nums; }
.figures td:first-child { color: #444; } img { max-width: 100%; height: auto; display: block; margin: 0.8em 0; }
.wide { overflow-x: auto; }
"""


def report_html(
    pedigree: Pedigree,
    reference: Iterable[str],
    *,
    by: str | None = None,
    birth: str | None = None,
    title: str = "Pedigree report",
    reference_label: str = "given",
    max_ancestors: int = 1000,
    min_age: float = MIN_AGE,
    offspring: typing.Literal["parents", "all"] = "parents",
    source: str | os.PathLike[str] | None = None,
    generations: int = 5,
    interval: float | None = None,
    drops: int = FIGURE_DROPS,
    seed: int = 0,
) -> str:
    """The page of every figure of the pedigree and its reference animals.

    Counts, completeness, parents born after (or soon before) their
    offspring, generation intervals, F and ΔF by cohort (with its picture),
    Ne by individual increase in inbreeding and in coancestry, f_e, f_a and
    f_g, the main ancestors with their marginal contributions, the
    inbreeding classes and the most inbred animals (with the chart of the
    ancestors of the first); and `population_figures`: completeness by
    generation, sires and dams by cohort, the intervals by cohort (with
    their picture), Ne by regression, sex ratio and family size, n50 and
    the ancestors' birth years, sexes and offspring, mean kinship and the
    GCI, ancestral inbreeding and the founders of the inbreeding. A figure
    that the pedigree cannot give (Ne without animals of more than one
    equivalent generation) is said so in its place, and the page goes on.
    The page states its sources: its date, the input's name and SHA-256,
    and tolmkit's version.

    Parameters
    ----------
    pedigree : Pedigree
    reference : iterable of str
        Identifiers of the reference animals, as for
        `effective_population_size` and `founder_statistics`.
    by : str, optional
        A column of `pedigree_statistics` giving the cohorts (as `summary_by`
        takes them: birth dates by year); without it, no figures by cohort.
    birth : str, optional
        The column of births for the birth order and the generation
        intervals; by default the one that `birth_column` finds by its name.
        A column found so that holds other than births is said so on the
        page; one given here is refused.
    title : str
        The page's heading (escaped).
    reference_label : str
        How the reference animals were chosen, shown beside their number.
    max_ancestors : int, default 1000
        As for `founder_statistics`.
    min_age : float, default 1
        As for `birth_order`: the parents younger than this at the birth of
        their offspring are listed as warnings.
    offspring : {"parents", "all"}, default "parents"
        As for `generation_intervals`.
    source : str or os.PathLike, optional
        The file the pedigree was read from, named on the page with its
        SHA-256; without it, the page says that the input is not named.
    generations, interval, drops, seed
        As for `population_figures`.

    Returns
    -------
    str
        The HTML document.

    Raises
    ------
    KeyError
        `by` or `birth` is not a column.
    ValueError, PedigreeError
        No reference animal, one not in the pedigree, births given by
        `birth` that are neither years nor dates, or other arguments that
        the functions of `tolmkit.statistics` refuse.

    Examples
    --------
    >>> page = report_html(pedigree, young, by="birth_year")  # doctest: +SKIP
    """
    checked_pedigree(pedigree)
    reference = [reference] if isinstance(reference, str) else list(reference)
    table = pedigree_statistics(pedigree)
    if by is not None and by not in table.columns:
        raise KeyError(f"no column {by!r}; the columns are {', '.join(map(repr, table.columns))}")
    births = _births(pedigree, birth, min_age, offspring)
    founders = founder_statistics(pedigree, reference, max_ancestors=max_ancestors)
    individual = figure_or_reason(lambda: effective_population_size(pedigree, reference))
    coancestry = figure_or_reason(lambda: effective_population_size(pedigree, reference, method="coancestry"))
    figures = population_figures(
        pedigree,
        reference,
        founders,
        by=cohort_column(pedigree, by),
        birth=birth,
        generations=generations,
        interval=interval,
        drops=drops,
        seed=seed,
        offspring=offspring,
    )
    summary = None if by is None else summary_by(pedigree, by)
    most_inbred = table.sort_values("inbreeding", ascending=False, kind="stable").head(TOP)
    with tempfile.TemporaryDirectory() as folder:
        trend = None
        if summary is not None:
            trend = os.path.join(folder, "trend.png")
            plot_trend(
                summary,
                trend,
                effective=individual if isinstance(individual, EffectiveSize) else None,
                founders=founders,
            )
        chart = os.path.join(folder, "ancestors.png")
        plot_ancestry(pedigree, str(most_inbred.index[0]), chart)
        over_time = None
        if isinstance(figures.intervals, pd.DataFrame) and len(figures.intervals):
            over_time = os.path.join(folder, "intervals.png")
            plot_intervals(figures.intervals, over_time)
        pictures = {
            name: None if path is None else _data_uri(path)
            for name, path in (("trend", trend), ("ancestors", chart), ("intervals", over_time))
        }
    sections = [
        _section("The pedigree", _counts(pedigree)),
        _section("Completeness", _completeness(table, reference)),
        _section("Completeness by generation", _by_generation(figures)),
        _section("Birth order", _birth_order(births, min_age)),
        _section("Generation intervals", _intervals(births, offspring)),
        _section("Generation intervals over time", _over_time(births, figures.intervals, pictures["intervals"])),
    ]
    if figures.parents is not None:
        sections.append(_section(f"Sires and dams by {by}", _parents(figures.parents)))
    sections += [
        _section(
            "The reference population",
            _population(reference, reference_label, individual, coancestry, founders, figures.effective),
        ),
        _section("Main ancestors", _ancestors(founders, figures)),
        _section("Kinship", _kinship(figures, reference)),
        _section("Inbreeding", _inbreeding(table)),
        _section("Ancestral inbreeding", _ancestral(figures, reference)),
        _section("Founders of the inbreeding", _partial(figures.partial)),
    ]
    if summary is not None:
        sections.append(_section(f"Inbreeding by {by}", _by_cohort(summary, pictures["trend"])))
    sections.append(_section("The most inbred animals", _most_inbred(most_inbred, by, pictures["ancestors"])))
    return (
        '<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
        f"<title>{html.escape(title)}</title>\n<style>{_STYLE}</style>\n</head>\n<body>\n"
        f'<h1>{html.escape(title)}</h1>\n<p class="note">'
        f"{len(pedigree):,} animals, {len(set(reference)):,} in the reference ({html.escape(reference_label)})."
        f"</p>\n{_sources(source)}\n" + "\n".join(sections) + "\n</body>\n</html>\n"
    )


def write_report(
    pedigree: Pedigree, reference: Iterable[str], path: str | os.PathLike[str], **options: typing.Any
) -> None:
    """Writes `report_html` to a file, in UTF-8.

    Parameters
    ----------
    pedigree : Pedigree
    reference : iterable of str
    path : str or os.PathLike
        The HTML file; missing folders are created.
    **options
        The keyword arguments of `report_html`.

    Raises
    ------
    As `report_html`, and OSError for a file that cannot be written.

    Examples
    --------
    >>> write_report(pedigree, young, "build/report.html", by="birth_year")  # doctest: +SKIP
    """
    checked_pedigree(pedigree)
    page = report_html(pedigree, reference, **options)
    os.makedirs(os.path.dirname(os.fspath(path)) or ".", exist_ok=True)
    with open(path, "w", encoding="utf-8") as out:
        out.write(page)


class _Births(typing.NamedTuple):
    """What the page says of the births: their column (None when none is
    found), why it was not read, or the birth order and the intervals."""

    column: str | None
    unread: str | None = None
    order: pd.DataFrame | None = None
    intervals: pd.DataFrame | None = None


def _births(
    pedigree: Pedigree, birth: str | None, min_age: float, offspring: typing.Literal["parents", "all"]
) -> _Births:
    column = birth if birth is not None else birth_column(pedigree)
    if column is None:
        return _Births(None)
    try:
        return _Births(
            column,
            order=birth_order(pedigree, column, min_age=min_age),
            intervals=generation_intervals(pedigree, column, offspring=offspring),
        )
    except PedigreeError as error:
        if birth is not None:
            raise
        return _Births(column, unread=str(error))


def _data_uri(path: str) -> str:
    with open(path, "rb") as picture:
        return "data:image/png;base64," + base64.b64encode(picture.read()).decode("ascii")


def _section(heading: str, body: str) -> str:
    return f"<section>\n<h2>{html.escape(heading)}</h2>\n{body}\n</section>"


def _note(text: str) -> str:
    return f'<p class="note">{text}</p>'


def _number(value: object, digits: int = 4) -> str:
    """A computed figure: whole numbers with thousands separated, others
    with `digits` decimals."""
    if isinstance(value, (bool, np.bool_)):
        return "yes" if value else "no"
    whole = integer(value)
    if whole is not None:
        return f"{whole:,}"
    if isinstance(value, (float, np.floating)):
        number = float(value)
        if np.isnan(number):
            return "–"
        if np.isinf(number):
            return "∞"
        # A figure that rounds to zero from below is written 0, not −0.
        return f"{round(number, digits) + 0.0:,.{digits}f}" if abs(number) < 1e6 else f"{number:,.0f}"
    return html.escape(str(value))


def _share(value: object) -> str:
    number = float(typing.cast(float, value))
    return "–" if np.isnan(number) else f"{round(100.0 * number, 1) + 0.0:.1f} %"


def _size(value: object) -> str:
    """Ne and the effective numbers, with one decimal."""
    return _number(value, 1)


def _as_written(value: object) -> str:
    """A value of the file (a year, a date, a code) as it stands, without
    separators."""
    return (
        "–"
        if value is None or value is pd.NA or (isinstance(value, float) and np.isnan(value))
        else html.escape(str(value))
    )


def _figures(rows: list[tuple[str, str]]) -> str:
    """A table of labelled figures, one a row, each already written."""
    body = "".join(f'<tr><td>{html.escape(label)}</td><td class="n">{text}</td></tr>' for label, text in rows)
    return f'<table class="figures">{body}</table>'


def _table(
    frame: pd.DataFrame,
    digits: int = 4,
    written: typing.Mapping[typing.Any, typing.Callable[[object], str]] | None = None,
) -> str:
    """A data frame as an HTML table, its index the first column; a column
    of `written` is written by its function, the others as figures."""
    head = "".join(f"<th>{html.escape(str(name))}</th>" for name in [frame.index.name or ""] + list(frame.columns))
    figure = functools.partial(_number, digits=digits)
    ways = [(written or {}).get(name, figure) for name in frame.columns]
    rows = []
    for label, row in zip(frame.index, frame.itertuples(index=False)):
        cells = "".join(f'<td class="n">{way(value)}</td>' for way, value in zip(ways, row))
        rows.append(f"<tr><th>{_as_written(label)}</th>{cells}</tr>")
    return f'<div class="wide"><table><tr>{head}</tr>{"".join(rows)}</table></div>'


def _picture(uri: str | None, text: str) -> str:
    return "" if uri is None else f'<img src="{uri}" alt="{html.escape(text)}">'


def _counts(pedigree: Pedigree) -> str:
    counts = pedigree.counts()
    return _figures([(label, _number(getattr(counts, name))) for name, label in counts.labelled()])


def _completeness(table: pd.DataFrame, reference: list[str]) -> str:
    both = (table["sire"] != "") & (table["dam"] != "")
    chosen = table.loc[pd.unique(np.asarray(reference, dtype=object))]
    columns = ["generation", "complete_generations", "equivalent_generations", "completeness"]
    means = pd.DataFrame({"all animals": table[columns].mean(), "reference": chosen[columns].mean()})
    means.index = pd.Index(
        ["maximum generations", "complete generations", "equivalent generations", "MacCluer's index (5 generations)"],
        name="mean",
    )
    return _figures(
        [
            ("both parents known", _share(both.mean())),
            ("sire known", _share((table["sire"] != "").mean())),
            ("dam known", _share((table["dam"] != "").mean())),
        ]
    ) + _table(means, 3)


def _unread(births: _Births) -> str | None:
    """Why the page has no figures of births, or None."""
    if births.column is None:
        return _note(
            "No column of births was found by its name (such as birth_year, birth_date, born or dob): "
            "name the column of births to check the birth order and have the generation intervals."
        )
    if births.unread is not None:
        return _note(
            f"The column {html.escape(births.column)}, found by its name, is not read as births: "
            f"{html.escape(births.unread)}. Name the column of births to have these figures."
        )
    return None


def _birth_order(births: _Births, min_age: float) -> str:
    unread = _unread(births)
    if unread is not None or births.order is None:
        return unread or ""
    order = births.order
    errors = int(np.count_nonzero(order["problem"] == "error"))
    text = _figures(
        [
            ("parents born after their offspring (errors)", _number(errors)),
            (
                f"parents less than {min_age:g} year{'' if min_age == 1 else 's'} older than their offspring "
                "(warnings)",
                _number(len(order) - errors),
            ),
        ]
    ) + _note(
        f"From the column {html.escape(births.column or '')}. The pairs of an error are left out of "
        "the generation intervals; those of a warning are kept."
    )
    if len(order) == 0:
        return text
    shown = order.head(TOP).set_index("problem")
    return (
        text
        + _table(
            shown,
            2,
            written={name: _as_written for name in ("offspring", "parent", "role", "offspring_birth", "parent_birth")},
        )
        + (_note(f"The first {TOP} of {len(order):,}, the errors first.") if len(order) > TOP else "")
    )


def _intervals(births: _Births, offspring: str) -> str:
    unread = _unread(births)
    if unread is not None or births.intervals is None:
        return unread or ""
    counted = (
        "offspring that are parents themselves, a son a sire and a daughter a dam"
        if offspring == "parents"
        else "every offspring, of the sex of the file's sex column or, without one, of its role as a parent"
    )
    left_out = int(births.intervals["left_out"].loc["all"])
    return _table(births.intervals, 2) + _note(
        f"The age in years of the parent at the birth of its offspring "
        f"({html.escape(births.column or '')}), both births known, over {counted}; offspring of unknown "
        f"sex count in <i>unknown sex</i> and <i>all</i>. {left_out:,} pair"
        f"{' is' if left_out == 1 else 's are'} left out, the parent born after its offspring."
    )


def _population(
    reference: list[str],
    label: str,
    individual: EffectiveSize | str,
    coancestry: EffectiveSize | str,
    founders: FounderStatistics,
    routes: typing.Mapping[str, EffectiveSize | str],
) -> str:
    rows: list[tuple[str, str]] = [("reference animals", _number(len(set(reference))))]
    if isinstance(individual, EffectiveSize):
        rows += [
            ("Ne, individual increase in inbreeding", _size(individual.ne)),
            ("  its standard error", _size(individual.se)),
            ("  animals with g_e > 1", _number(individual.n)),
            ("  mean ΔF", _number(individual.mean_delta_inbreeding)),
        ]
    if isinstance(coancestry, EffectiveSize):
        pairs = "a sample of" if coancestry.sampled else "all"
        rows += [
            ("Ne, individual increase in coancestry", _size(coancestry.ne)),
            (f"  pairs ({pairs} the pairs of reference animals)", _number(coancestry.n)),
            ("  mean ΔC", _number(coancestry.mean_delta_inbreeding)),
        ]
    rows += [row for route in routes.values() if isinstance(route, EffectiveSize) for row in _route(route)]
    rows += [
        ("founders contributing", _number(founders.founders)),
        ("effective number of founders f_e", _size(founders.founders_effective)),
        (
            "effective number of ancestors f_a" + (", at most" if founders.stopped_by == "max_ancestors" else ""),
            _size(founders.ancestors_effective),
        ),
        ("founder genome equivalents f_g", _size(founders.founder_genome_equivalents)),
        ("ancestors taken for f_a", _number(founders.ancestors)),
        ("  their marginal contributions sum to", _share(founders.explained)),
    ]
    reasons = "".join(
        _note(f"No {what}: {html.escape(figure)}.")
        for what, figure in [
            ("Ne by individual increase in inbreeding", individual),
            ("Ne by individual increase in coancestry", coancestry),
        ]
        + [(f"Ne by {_ROUTES[name]}", figure) for name, figure in routes.items()]
        if isinstance(figure, str)
    )
    stop = (
        ""
        if founders.stopped_by == "explained"
        else " The search for ancestors stopped at its limit, so f_a is an upper bound."
    )
    return (
        f"<p>Reference: {html.escape(label)}.</p>"
        + _figures(rows)
        + reasons
        + _note(
            "f_e counts founders by their expected contributions, f_a ancestors by their marginal "
            "contributions (bottlenecks after the founders), f_g also the genes lost by drift, so that as "
            f"a rule f_g ≤ f_a ≤ f_e.{stop}"
        )
    )


def _ancestors(founders: FounderStatistics, figures: PopulationFigures) -> str:
    taken = figures.ancestors.iloc[:TOP]
    frame = pd.DataFrame(
        {
            "marginal contribution": taken["marginal_contribution"],
            "cumulated": taken["cumulated"],
            "contribution": taken["contribution"],
            "as a founder": taken["founder_contribution"],
            "born": taken["birth_year"],
            "sex": taken["sex"],
            "offspring": taken["offspring"],
        }
    )
    frame.index.name = "ancestor"
    shares = dict.fromkeys(["marginal contribution", "cumulated", "contribution", "as a founder"], _share)
    half = (
        f"n50 = {figures.n50:,}: the fewest ancestors whose marginal contributions explain half of the genes."
        if figures.n50 is not None
        else "The ancestors taken explain less than half of the genes: no n50."
    )
    return (
        _figures([("n50", "–" if figures.n50 is None else _number(figures.n50))])
        + _table(frame, written={**shares, "born": _whole_or_none, "sex": _as_written})
        + _note(
            f"The first {len(taken)} of the {founders.ancestors:,} ancestors taken, in the order taken: shares of "
            f"the genes of the reference animals; offspring in the whole pedigree. {half}"
        )
    )


def _whole_or_none(value: object) -> str:
    """A year, without separators; – for none."""
    number = float(typing.cast(float, value))
    return "–" if np.isnan(number) else f"{number:.0f}"


# How each route to Ne is named on the page.
_ROUTES = {
    "regression": "regression of ln(1 − F) on equivalent generations",
    "sex-ratio": "sex ratio",
    "family-size": "family size (Hill 1979)",
}


def _route(effective: EffectiveSize) -> list[tuple[str, str]]:
    rows = [(f"Ne, {_ROUTES[effective.method]}", _size(effective.ne))]
    if effective.method == "regression":
        rows += [("  its standard error", _size(effective.se)), ("  ΔF", _number(effective.mean_delta_inbreeding))]
    else:
        rows.append(("  sires and dams of the reference", f"{effective.sires:,} and {effective.dams:,}"))
    if effective.method == "family-size":
        rows.append(("  generation interval L (years)", _number(effective.interval, 2)))
    return rows


def _sources(source: str | os.PathLike[str] | None) -> str:
    """The date of the page, the input's name and SHA-256, tolmkit's version."""
    if source is None:
        named = "an input not named"
    else:
        digest = hashlib.sha256()
        with open(source, "rb") as data:
            for block in iter(lambda: data.read(1 << 20), b""):
                digest.update(block)
        named = (
            f"<code>{html.escape(os.path.basename(os.fspath(source)))}</code>, SHA-256 "
            f"<code>{digest.hexdigest()}</code>"
        )
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    return _note(f"Made on {now} from {named}, by tolmkit {html.escape(__version__)}.")


def _by_generation(figures: PopulationFigures) -> str:
    generations = [column for column in figures.completeness.columns if column != "animals"]
    reference = figures.completeness.loc[["all"], generations].set_axis(["reference"], axis="index")
    reference.index.name = "generation back"
    text = _table(reference, written=dict.fromkeys(reference.columns, _share))
    if figures.completeness_by is not None:
        by = figures.completeness_by
        text += "<p>Every animal by cohort:</p>" + _table(by, written=dict.fromkeys(generations, _share))
    return text + _note(
        "The share of the 2<sup>g</sup> ancestors g generations back that are known, counted by paths "
        "(an ancestor met twice counts twice)."
    )


def _over_time(births: _Births, intervals: pd.DataFrame | str | None, picture: str | None) -> str:
    unread = _unread(births)
    if unread is not None:
        return unread
    if isinstance(intervals, str):
        return _note(html.escape(intervals))
    if intervals is None or len(intervals) == 0:
        return _note("No pair of a parent and its offspring with both births known and the parent born first.")
    return (
        _picture(picture, "generation intervals by cohort")
        + _table(intervals, 2)
        + _note(
            "The mean age in years of the parents at the births of the offspring of each cohort, by path; "
            "n, the pairs of all paths."
        )
    )


def _parents(parents: pd.DataFrame) -> str:
    frame = parents.rename(
        columns={
            "offspring_per_sire": "offspring a sire",
            "offspring_per_sire_var": "its variance",
            "offspring_per_dam": "offspring a dam",
            "offspring_per_dam_var": "its variance ",
            "most_used_sires_share": "by the 10 most used sires",
        }
    )
    return _table(frame, 2, written={"by the 10 most used sires": _share}) + _note(
        "The distinct sires and dams of each cohort's animals, the mean and variance (over the parents) of "
        "their offspring in the cohort, and the share of the offspring of known sire by the 10 sires with most."
    )


def _kinship(figures: PopulationFigures, reference: list[str]) -> str:
    chosen = figures.animals.loc[pd.unique(np.asarray(reference, dtype=object))]
    lowest = chosen.sort_values("mean_kinship", kind="stable").head(TOP)
    frame = lowest[["mean_kinship", "gci", "ancestral_inbreeding"]].set_axis(
        ["mean kinship", "GCI", "Ballou's F_a"], axis="columns"
    )
    frame.index.name = "animal"
    return (
        _figures(
            [
                ("mean kinship of the reference", _number(figures.mean_kinship, 5)),
                ("mean GCI of the reference", _number(float(chosen["gci"].mean()), 2)),
            ]
        )
        + "<p>The reference animals least related to the reference population:</p>"
        + _table(frame, 5)
        + _note(
            "Mean kinship: an animal's mean coancestry with the reference animals, ½·A·x (Colleau 2002). "
            "GCI: 1 / Σ p<sub>f</sub>², p<sub>f</sub> the share of the animal's genes from founder f "
            "(Alderson 1992), each unknown parent of an animal with one parent known a founder of its own."
        )
    )


def _ancestral(figures: PopulationFigures, reference: list[str]) -> str:
    chosen = figures.animals.loc[pd.unique(np.asarray(reference, dtype=object)), "ancestral_inbreeding"]
    rows = [("mean ancestral inbreeding F_a (Ballou 1997)", _number(float(chosen.mean()), 5))]
    split = figures.kalinowski
    notes = ""
    if isinstance(split, AncestralInbreeding):
        rows += [
            ("mean F_ANC (Kalinowski et al. 2000)", _number(split.ancestral, 5)),
            ("  its Monte Carlo error", _number(split.ancestral_se, 5)),
            ("mean F_NEW", _number(split.new, 5)),
            ("gene drops", _number(split.drops)),
        ]
    else:
        notes = _note(f"No F_ANC: {html.escape(split)}.")
    return (
        _figures(rows)
        + notes
        + _note(
            "F_a: the chance that an allele has been identical by descent in an ancestor. F_ANC: the chance that "
            "the animal is identical by descent for an allele that already was so in an ancestor; F_NEW the rest "
            "of F, by gene dropping as Doekes et al. (2020) corrected it."
        )
    )


def _partial(partial: PartialInbreeding | str) -> str:
    if isinstance(partial, str):
        return _note(f"No partial inbreeding: {html.escape(partial)}.")
    how = (
        f"exactly, over the reference's ancestry of {partial.ancestry:,} animals"
        if partial.exact
        else f"by {partial.drops:,} gene drops over an ancestry of {partial.ancestry:,} animals (se their error)"
    )
    written: dict[str, typing.Callable[[object], str]] = {"share": _share}
    frame = partial.founders if not partial.exact else partial.founders.drop(columns="se")
    return (
        _figures([("mean F of the reference", _number(partial.mean_inbreeding, 5))])
        + _table(frame, 5, written=written)
        + _note(
            "The founders whose alleles, identical by descent, make most of the reference's mean F (Lacy, Alaks "
            f"and Walsh 1996), {how}; the rows sum to the mean F."
        )
    )


def _class_labels() -> list[str]:
    """The inbreeding classes of `inbreeding_classes` as intervals: F = 0,
    0 < F ≤ 0.0625, …"""
    bounds = INBREEDING_CLASSES
    return ["F = 0"] + [f"{low:g} < F ≤ {high:g}" for low, high in zip(bounds[:-1], bounds[1:])]


def _inbreeding(table: pd.DataFrame) -> str:
    f = table["inbreeding"]
    # The classes of summary_by, over every animal as one cohort
    shares = inbreeding_classes(f).mean()
    rows: list[tuple[str, str]] = [
        ("mean F", _number(float(f.mean()))),
        ("inbred animals (F > 0)", _share(float((f > 0).mean()))),
        ("mean F of the inbred", _number(float(f[f > 0].mean()) if (f > 0).any() else 0.0)),
        ("largest F", _number(float(f.max()))),
    ]
    rows += [(f"share with {label}", _share(share)) for label, share in zip(_class_labels(), shares)]
    return _figures(rows)


# The headings of the columns of summary_by on the page, narrower than the
# names, and how each is written.
_HEADINGS = {
    "animals": "animals",
    "both_parents_known": "both parents known",
    "equivalent_generations": "mean g_e",
    "inbreeding": "mean F",
    "inbred": "inbred",
    "delta_inbreeding": "mean ΔF",
    "delta_animals": "animals of g_e > 1",
    "ne": "Ne",
}
_WRITTEN = {"both parents known": _share, "inbred": _share, "Ne": _size}


def _by_cohort(summary: pd.DataFrame, trend: str | None) -> str:
    classes = [name for name in summary.columns if name not in _HEADINGS]
    figures = summary.drop(columns=classes).rename(columns=_HEADINGS)
    shares = summary[classes].set_axis(_class_labels(), axis="columns")
    return (
        _picture(trend, "mean F and mean ΔF by cohort")
        + _table(figures, 5, written=_WRITTEN)
        + "<p>Shares of the animals in the inbreeding classes:</p>"
        + _table(shares, written=dict.fromkeys(shares.columns, _share))
    )


def _most_inbred(rows: pd.DataFrame, by: str | None, chart: str | None) -> str:
    columns = ["sire", "dam"] + ([by] if by is not None else []) + ["inbreeding", "equivalent_generations"]
    frame = rows[columns]
    return (
        _table(frame, written={name: _as_written for name in ("sire", "dam", by or "sire")})
        + _note(f"The ancestors of {html.escape(str(rows.index[0]))}:")
        + _picture(chart, f"ancestors of {rows.index[0]}")
    )
