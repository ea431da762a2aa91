"""The breeder's report: every figure of a pedigree analysis on one HTML page
that needs nothing else to be read (its pictures embedded as data, no
network, no scripts)."""

from __future__ import annotations

import base64
import html
import os
import tempfile
import typing
from collections.abc import Iterable

import numpy as np
import pandas as pd

from . import __version__
from .pedigree import Pedigree
from .plots import plot_ancestry, plot_trend
from .statistics import (EffectiveSize, FounderStatistics, effective_population_size, founder_statistics,
                         generation_intervals, inbreeding_classes, pedigree_statistics, summary_by,
                         summary_by_year)

__all__ = ["report_html", "write_report"]

# A column name that no file gives.

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


def report_html(pedigree: Pedigree, reference: Iterable[str], *, by: str | None = None,
                birth: str | None = None, title: str = "Pedigree report", reference_label: str = "given",
                max_ancestors: int = 1000) -> str:
    """The page of every figure of the pedigree and its reference animals.

    Summary, completeness, generation intervals, F and ΔF by cohort (with
    its picture), Ne by individual increase in inbreeding and in
    coancestry, f_e, f_a and f_g, the main ancestors with their marginal
    contributions, the inbreeding classes and the most inbred animals (with
    the chart of the ancestors of the first).

    Parameters
    ----------
    pedigree : Pedigree
    reference : iterable of str
        Identifiers of the reference animals, as for
        `effective_population_size` and `founder_statistics`.
    by : str, optional
        A column of `pedigree_statistics` giving the cohorts (birth dates
        are grouped into years); without it, no figures by cohort.
    birth : str, optional
        The column of births for the generation intervals; by default `by`
        where it is a column of the file.
    title : str
        The page's heading (escaped).
    reference_label : str
        How the reference animals were chosen, shown beside their number.
    max_ancestors : int, default 1000
        As for `founder_statistics`.

    Returns
    -------
    str
        The HTML document.

    Raises
    ------
    KeyError
        `by` or `birth` is not a column.
    ValueError, PedigreeError
        As the functions of `tolmkit.statistics` raise them.
    ImportError
        matplotlib is not installed.

    Examples
    --------
    >>> page = report_html(pedigree, young, by="birth_year")  # doctest: +SKIP
    """
    reference = [reference] if isinstance(reference, str) else list(reference)
    table = pedigree_statistics(pedigree)
    if by is not None and by not in table.columns:
        raise KeyError(f"no column {by!r}; the columns are {', '.join(map(repr, table.columns))}")
    if birth is None and by is not None and by in pedigree.attributes.columns:
        birth = by
    individual = effective_population_size(pedigree, reference)
    coancestry = effective_population_size(pedigree, reference, method="coancestry")
    founders = founder_statistics(pedigree, reference, max_ancestors=max_ancestors)
    summary = None if by is None else summary_by_year(summary_by(pedigree, by))
    most_inbred = table.sort_values("inbreeding", ascending=False, kind="stable").head(TOP)
    with tempfile.TemporaryDirectory() as folder:
        trend = None
        if summary is not None:
            trend = os.path.join(folder, "trend.png")
            plot_trend(summary, trend, effective=individual, founders=founders)
        chart = os.path.join(folder, "ancestors.png")
        plot_ancestry(pedigree, str(most_inbred.index[0]), chart)
        pictures = {name: None if path is None else _data_uri(path) for name, path in
                    (("trend", trend), ("ancestors", chart))}
    sections = [
        _section("The pedigree", _counts(pedigree)),
        _section("Completeness", _completeness(table, reference)),
        _section("Generation intervals", _intervals(pedigree, birth)),
        _section("The reference population", _population(reference, reference_label, individual, coancestry,
                                                         founders)),
        _section("Main ancestors", _ancestors(founders)),
        _section("Inbreeding", _inbreeding(pedigree, table)),
    ]
    if summary is not None:
        sections.append(_section(f"Inbreeding by {by}", _by_cohort(summary, pictures["trend"])))
    sections.append(_section("The most inbred animals", _most_inbred(most_inbred, by, pictures["ancestors"])))
    return ("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            f"<title>{html.escape(title)}</title>\n<style>{_STYLE}</style>\n</head>\n<body>\n"
            f"<h1>{html.escape(title)}</h1>\n<p class=\"note\">tolmkit {html.escape(__version__)}; "
            f"{len(pedigree):,} animals, {len(set(reference)):,} in the reference ({html.escape(reference_label)})."
            "</p>\n" + "\n".join(sections) + "\n</body>\n</html>\n")


def write_report(pedigree: Pedigree, reference: Iterable[str], path: str | os.PathLike[str],
                 **options: typing.Any) -> None:
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
    page = report_html(pedigree, reference, **options)
    os.makedirs(os.path.dirname(os.fspath(path)) or ".", exist_ok=True)
    with open(path, "w", encoding="utf-8") as out:
        out.write(page)


def _data_uri(path: str) -> str:
    with open(path, "rb") as picture:
        return "data:image/png;base64," + base64.b64encode(picture.read()).decode("ascii")


def _section(heading: str, body: str) -> str:
    return f"<section>\n<h2>{html.escape(heading)}</h2>\n{body}\n</section>"


def _number(value: object, digits: int = 4) -> str:
    if isinstance(value, (bool, np.bool_)):
        return "yes" if value else "no"
    if isinstance(value, (int, np.integer)):
        return f"{int(value):,}"
    if isinstance(value, (float, np.floating)):
        number = float(value)
        if np.isnan(number):
            return "–"
        if np.isinf(number):
            return "∞"
        return f"{number:,.{digits}f}" if abs(number) < 1e6 else f"{number:,.0f}"
    return html.escape(str(value))


def _figures(rows: list[tuple[str, object]]) -> str:
    """A table of labelled figures, one a row."""
    body = "".join(f"<tr><td>{html.escape(label)}</td><td class=\"n\">{_number(value)}</td></tr>"
                   for label, value in rows)
    return f"<table class=\"figures\">{body}</table>"


def _table(frame: pd.DataFrame, digits: int = 4) -> str:
    """A data frame as an HTML table, its index the first column."""
    head = "".join(f"<th>{html.escape(str(name))}</th>" for name in [frame.index.name or ""] + list(frame.columns))
    rows = []
    for label, row in zip(frame.index, frame.itertuples(index=False)):
        cells = "".join(f"<td class=\"n\">{_number(value, digits)}</td>" for value in row)
        rows.append(f"<tr><th>{html.escape(str(label))}</th>{cells}</tr>")
    return f"<div class=\"wide\"><table><tr>{head}</tr>{''.join(rows)}</table></div>"


def _picture(uri: str | None, text: str) -> str:
    return "" if uri is None else f"<img src=\"{uri}\" alt=\"{html.escape(text)}\">"


def _counts(pedigree: Pedigree) -> str:
    rows: list[tuple[str, object]] = []
    for line in pedigree.summary().splitlines():
        label, value = line.rsplit(None, 1)
        rows.append((label, int(value.replace(",", ""))))
    return _figures(rows)


def _completeness(table: pd.DataFrame, reference: list[str]) -> str:
    both = (table["sire"] != "") & (table["dam"] != "")
    chosen = table.loc[pd.unique(np.asarray(reference, dtype=object))]
    columns = ["generation", "complete_generations", "equivalent_generations", "completeness"]
    means = pd.DataFrame({"all animals": table[columns].mean(), "reference": chosen[columns].mean()})
    means.index = pd.Index(["maximum generations", "complete generations", "equivalent generations",
                            "MacCluer's index (5 generations)"], name="mean")
    return (_figures([("both parents known", float(both.mean())),
                      ("sire known", float((table["sire"] != "").mean())),
                      ("dam known", float((table["dam"] != "").mean()))])
            + _table(means, 3))


def _intervals(pedigree: Pedigree, birth: str | None) -> str:
    if birth is None:
        return "<p class=\"note\">No column of births: give the birth year or date column as the cohorts.</p>"
    intervals = generation_intervals(pedigree, birth)
    return (_table(intervals, 2)
            + f"<p class=\"note\">The age in years of the parent at the birth of its offspring ({html.escape(birth)}"
            "), both births known; offspring of unknown sex count in <i>all</i> only.</p>")


def _population(reference: list[str], label: str, individual: EffectiveSize, coancestry: EffectiveSize,
                founders: FounderStatistics) -> str:
    pairs = "a sample of" if coancestry.sampled else "all"
    rows: list[tuple[str, object]] = [
        ("reference animals", len(set(reference))),
        ("Ne, individual increase in inbreeding", individual.ne),
        ("  its standard error", individual.se),
        ("  animals with g_e > 1", individual.n),
        ("  mean ΔF", individual.mean_delta_inbreeding),
        ("Ne, individual increase in coancestry", coancestry.ne),
        (f"  pairs ({pairs} the pairs of reference animals)", coancestry.n),
        ("  mean ΔC", coancestry.mean_delta_inbreeding),
        ("founders contributing", founders.founders),
        ("effective number of founders f_e", founders.founders_effective),
        ("effective number of ancestors f_a", founders.ancestors_effective),
        ("founder genome equivalents f_g", founders.founder_genome_equivalents),
        ("ancestors taken for f_a", founders.ancestors),
        ("  their marginal contributions sum to", founders.explained),
    ]
    stop = ("" if founders.stopped_by == "explained" else
            " The search for ancestors stopped at its limit, so f_a is an upper bound.")
    return (f"<p>Reference: {html.escape(label)}.</p>" + _figures(rows)
            + "<p class=\"note\">f_e counts founders by their expected contributions, f_a ancestors by their "
            "marginal contributions (bottlenecks after the founders), f_g also the genes lost by drift, "
            f"so that as a rule f_g ≤ f_a ≤ f_e.{stop}</p>")


def _ancestors(founders: FounderStatistics) -> str:
    taken = founders.contributions.iloc[:min(TOP, founders.ancestors)]
    frame = pd.DataFrame({
        "marginal contribution": taken["marginal_contribution"],
        "cumulated": taken["marginal_contribution"].cumsum(),
        "contribution": taken["contribution"],
        "as a founder": taken["founder_contribution"],
    })
    frame.index.name = "ancestor"
    return _table(frame) + (f"<p class=\"note\">The first {len(taken)} of the {founders.ancestors:,} ancestors "
                            "taken, in the order taken.</p>")


def _inbreeding(pedigree: Pedigree, table: pd.DataFrame) -> str:
    f = table["inbreeding"]
    # The classes of summary_by, over every animal as one cohort
    shares = inbreeding_classes(f).mean()
    rows: list[tuple[str, object]] = [("mean F", float(f.mean())), ("inbred animals (F > 0)", float((f > 0).mean())),
                                      ("mean F of the inbred", float(f[f > 0].mean()) if (f > 0).any() else 0.0),
                                      ("largest F", float(f.max()))]
    rows += [(f"share with {_class_label(name)}", float(share)) for name, share in shares.items()]
    return _figures(rows)


# The headings of the columns of summary_by on the page, narrower than the names.
_HEADINGS = {"animals": "animals", "both_parents_known": "both parents known", "equivalent_generations": "mean g_e",
             "inbreeding": "mean F", "inbred": "inbred", "delta_inbreeding": "mean ΔF",
             "delta_animals": "animals of g_e > 1", "ne": "Ne"}


def _class_label(name: object) -> str:
    """F<=0.0625 as F ≤ 0.0625."""
    return str(name).replace("<=", " ≤ ").replace("=", " = ")


def _by_cohort(summary: pd.DataFrame, trend: str | None) -> str:
    classes = [name for name in summary.columns if name not in _HEADINGS]
    figures = summary.drop(columns=classes).rename(columns=_HEADINGS)
    figures["Ne"] = [_number(ne, 1) for ne in figures["Ne"]]
    return (_picture(trend, "mean F and mean ΔF by cohort") + _table(figures, 5)
            + "<p>Shares of the animals in the inbreeding classes:</p>"
            + _table(summary[classes].rename(columns=_class_label)))


def _most_inbred(rows: pd.DataFrame, by: str | None, chart: str | None) -> str:
    columns = ["sire", "dam"] + ([by] if by is not None else []) + ["inbreeding", "equivalent_generations"]
    frame = rows[columns]
    return (_table(frame) + f"<p class=\"note\">The ancestors of {html.escape(str(rows.index[0]))}:</p>"
            + _picture(chart, f"ancestors of {rows.index[0]}"))
