"""The breeder's pictures of a population: inbreeding and its rate by
cohort, and an animal's ancestors, drawn with matplotlib, which is imported
only here and only when drawing."""

from __future__ import annotations

import functools
import math
import os
import typing
import warnings

import numpy as np
import pandas as pd

from ._arguments import integer
from .pedigree import Pedigree, ancestry, checked_pedigree
from .relationships import inbreeding
from .statistics import EffectiveSize, FounderStatistics, summary_by_year

__all__ = ["chart_format", "plot_ancestry", "plot_intervals", "plot_trend"]

# Cohorts up to which every point has its marker and every integer cohort its tick.
_MARKED = 40
# Cohorts up to which ΔF is drawn as bars.
_MOST_BARS = 500
# The widest chart of ancestors that stays legible: 64 animals in its last column.
_MOST_GENERATIONS = 6
_SUFFIXES = (".png", ".svg")

_Drawing = typing.TypeVar("_Drawing", bound=typing.Callable[..., None])


def _as_written(draw: _Drawing) -> _Drawing:
    """`draw` with its text drawn as written: matplotlib reads text between
    two dollar signs as mathematics, and an identifier or a cohort may hold
    them (a malformed formula stops the drawing)."""

    @functools.wraps(draw)
    def drawn(*args: typing.Any, **kwargs: typing.Any) -> None:
        with _pyplot().rc_context({"text.parse_math": False}):
            draw(*args, **kwargs)

    return typing.cast(_Drawing, drawn)


@_as_written
def plot_trend(
    summary: pd.DataFrame,
    path: str | os.PathLike[str],
    *,
    title: str | None = None,
    effective: EffectiveSize | None = None,
    founders: FounderStatistics | None = None,
) -> None:
    """Draws mean F and mean ΔF by cohort into a PNG (or any format that
    matplotlib writes by the file's extension).

    Readable for any number of cohorts: birth dates are grouped into years
    (`summary_by_year`), ticks and labels thinned, and the Ne of a cohort
    written over its bar only where it fits.

    Parameters
    ----------
    summary : pandas.DataFrame
        A table of `summary_by`; its index (a birth year, say) is the x axis.
    path : str or os.PathLike
        The file to write; missing folders are created.
    title : str, optional
        The first line of the title; by default "Inbreeding by <index name>".
    effective, founders : optional
        Results of `effective_population_size` and `founder_statistics`,
        shown under the title.

    Raises
    ------
    ValueError
        `path` with an extension that matplotlib does not write.
    ImportError
        matplotlib is not installed.

    Examples
    --------
    >>> plot_trend(summary_by(pedigree, "birth_year"), "trend.png",
    ...            effective=effective_population_size(pedigree, young))  # doctest: +SKIP
    """
    written = chart_format(path)
    plt = _pyplot()
    by_date = summary_by_year(summary)
    grouped = by_date is not summary
    summary = by_date
    cohort = str(summary.index.name or "cohort").replace("_", " ") + (" (year)" if grouped else "")
    n = len(summary)
    numeric = pd.api.types.is_numeric_dtype(summary.index) and not pd.api.types.is_bool_dtype(summary.index)
    x = np.asarray(summary.index, dtype=np.float64) if numeric else np.arange(n, dtype=np.float64)
    spacing = float(np.min(np.diff(x))) if n > 1 else 1.0
    marker = "o" if n <= _MARKED else None
    figure, (upper, lower) = plt.subplots(2, 1, sharex=True, figsize=(8, 6.5))
    upper.plot(x, summary["inbreeding"], marker=marker, markersize=4, color="#1f5fa8", label="mean F")
    upper.set_ylabel("mean inbreeding F")
    shared = upper.twinx()
    shared.plot(
        x,
        summary["inbred"] * 100,
        marker="s" if marker else None,
        markersize=4,
        color="#c0602a",
        linestyle="--",
        label="inbred animals",
    )
    shared.set_ylabel("inbred animals (%)", color="#c0602a")
    shared.tick_params(axis="y", colors="#c0602a")
    shared.set_ylim(0, 105)
    upper.legend(handles=upper.get_lines() + shared.get_lines(), loc="upper left", frameon=False)
    delta = summary["delta_inbreeding"] * 100
    # A bar is a patch, which matplotlib places and draws one by one (15 s for
    # 20,000): beyond some hundreds of cohorts, where bars are a pixel wide,
    # a line each, drawn as one collection.
    bars = lower.bar(x, delta, color="#4a7ab5", width=0.7 * spacing) if n <= _MOST_BARS else None
    if bars is None:
        lower.vlines(x, 0.0, delta, color="#4a7ab5", linewidth=0.8)
    lower.margins(y=0.15)
    lower.set_ylabel("mean ΔF (% per generation)")
    lower.set_xlabel(cohort)
    for axes in (upper, lower):
        axes.grid(axis="y", alpha=0.3)
    _cohort_ticks(lower, x, [str(label) for label in summary.index], numeric)
    heading = title or f"Inbreeding by {cohort}"
    figures = _figures(effective, founders)
    figure.suptitle(heading + ("\n" + figures if figures else ""), fontsize=12)
    figure.tight_layout()
    labels = None if bars is None else _fitting_labels(figure, lower, spacing, summary["ne"].to_numpy(dtype=np.float64))
    if labels is None:
        _ne_axis(lower)
    else:
        lower.bar_label(bars, labels=labels, fontsize=8, padding=2)
    _save(figure, path, written)
    plt.close(figure)


@_as_written
def plot_intervals(table: pd.DataFrame, path: str | os.PathLike[str], *, title: str | None = None) -> None:
    """Draws the generation intervals of the four paths, and of all, by the
    offspring's cohort.

    Parameters
    ----------
    table : pandas.DataFrame
        A table of `intervals_by_cohort`; its index is the x axis.
    path : str or os.PathLike
        The file to write, PNG or any format matplotlib writes by the
        extension; missing folders are created.
    title : str, optional
        By default "Generation intervals by <index name>".

    Raises
    ------
    ValueError
        `path` with an extension that matplotlib does not write.
    ImportError
        matplotlib is not installed.

    Examples
    --------
    >>> plot_intervals(intervals_by_cohort(pedigree), "intervals.png")  # doctest: +SKIP
    """
    written = chart_format(path)
    plt = _pyplot()
    numeric = pd.api.types.is_numeric_dtype(table.index) and not pd.api.types.is_bool_dtype(table.index)
    x = np.asarray(table.index, dtype=np.float64) if numeric else np.arange(len(table), dtype=np.float64)
    marker = "o" if len(table) <= _MARKED else None
    figure, axes = plt.subplots(figsize=(8, 4.5))
    styles = {"sire-son": "-", "sire-daughter": "--", "dam-son": "-.", "dam-daughter": ":", "all": "-"}
    for name, style in styles.items():
        wide = name == "all"
        axes.plot(
            x,
            table[name],
            linestyle=style,
            marker=marker,
            markersize=3,
            linewidth=2.5 if wide else 1.2,
            color="#222222" if wide else None,
            label=name,
        )
    cohort = str(table.index.name or "cohort").replace("_", " ")
    axes.set_xlabel(f"{cohort} of the offspring")
    axes.set_ylabel("age of the parent (years)")
    axes.grid(axis="y", alpha=0.3)
    axes.legend(frameon=False, ncol=3, fontsize=8)
    _cohort_ticks(axes, x, [str(label) for label in table.index], numeric)
    axes.set_title(title or f"Generation intervals by {cohort}")
    figure.tight_layout()
    _save(figure, path, written)
    plt.close(figure)


@_as_written
def plot_ancestry(pedigree: Pedigree, animal: str, path: str | os.PathLike[str], *, generations: int = 4) -> None:
    """Draws an animal's ancestors as a pedigree chart, with the inbreeding
    coefficient F of each: sires above, dams below, ancestors met more than
    once in bold.

    Parameters
    ----------
    pedigree : Pedigree
    animal : str
        The identifier of the animal.
    path : str or os.PathLike
        A .png or .svg file; missing folders are created.
    generations : int, default 4
        Generations of ancestors drawn, 1 to 6.

    Raises
    ------
    PedigreeError
        `animal` is not in the pedigree.
    ValueError
        `path` ends in neither .png nor .svg, or `generations` is not an
        integer from 1 to 6.
    ImportError
        matplotlib is not installed.

    Examples
    --------
    >>> plot_ancestry(pedigree, "NL483982950", "build/ancestors.svg")  # doctest: +SKIP
    """
    checked_pedigree(pedigree)
    suffix = os.path.splitext(os.fspath(path))[1].lower()
    if suffix not in _SUFFIXES:
        raise ValueError(f"{os.fspath(path)!r}: the chart is written as PNG or SVG; name a .png or .svg file")
    depth = integer(generations)
    if depth is None or not 1 <= depth <= _MOST_GENERATIONS:
        raise ValueError(f"generations must be an integer from 1 to {_MOST_GENERATIONS}, got {generations!r}")
    # F of an ancestor depends on its own ancestors alone.
    number = pedigree.numbers([animal])
    pedigree, renumber = ancestry(pedigree, number)
    f, _ = inbreeding(pedigree)
    root = int(renumber[number[0]])
    columns = [np.array([root], dtype=np.int64)]
    for _ in range(generations):
        before = columns[-1]
        parents = np.stack(
            [
                np.where(before >= 0, pedigree.sire[np.maximum(before, 0)], -1),
                np.where(before >= 0, pedigree.dam[np.maximum(before, 0)], -1),
            ],
            axis=1,
        ).ravel()
        columns.append(parents.astype(np.int64))
    seen = np.bincount(np.concatenate([c[c >= 0] for c in columns[1:]]), minlength=len(pedigree))
    plt = _pyplot()
    slots = 2**generations
    figure, axes = plt.subplots(figsize=(2.1 * (generations + 1), max(3.5, 0.42 * slots + 0.8)))
    axes.set_axis_off()
    axes.set_xlim(-0.5, generations + 0.5)
    axes.set_ylim(0, 1)
    boxes: dict[tuple[int, int], typing.Any] = {}
    for g, column in enumerate(columns):
        for i, k in enumerate(column):
            if g > 0 and columns[g - 1][i // 2] < 0:
                continue
            y = 1.0 - (i + 0.5) / len(column)
            if k < 0:
                boxes[g, i] = axes.text(g, y, "unknown", ha="center", va="center", fontsize=7.5, color="#9a9a9a")
                continue
            male = g > 0 and i % 2 == 0
            edge = "#888888" if g == 0 else "#2f6db3" if male else "#c0392b"
            boxes[g, i] = axes.text(
                g,
                y,
                f"{_shortened(str(pedigree.ids[k]))}\nF = {f[k]:.4f}",
                ha="center",
                va="center",
                fontsize=8 if g == 0 else 7.5,
                fontweight="bold" if seen[k] > 1 or g == 0 else "normal",
                bbox=dict(
                    boxstyle="round,pad=0.35",
                    facecolor=_shade(float(f[k])),
                    edgecolor=edge,
                    linewidth=1.4 if seen[k] > 1 else 0.9,
                ),
            )
    axes.set_title(f"Ancestors of {_shortened(animal, 60)}: F = {f[root]:.4f}", fontsize=11, loc="left")
    figure.text(
        0.01,
        0.01,
        "sires above (blue), dams below (red); bold: met more than once; fill: darker for larger F",
        fontsize=7.5,
        color="#555555",
    )
    figure.tight_layout()
    # The connectors join the boxes' edges, known only once the text is drawn.
    figure.canvas.draw()
    renderer = figure.canvas.get_renderer()
    to_data = axes.transData.inverted()

    def edges(artist: typing.Any) -> tuple[float, float]:
        patch = artist.get_bbox_patch()
        extent = (patch if patch is not None else artist).get_window_extent(renderer)
        (left, _), (right, _) = to_data.transform([(extent.x0, 0), (extent.x1, 0)])
        return float(left), float(right)

    for (g, i), artist in boxes.items():
        if g == 0:
            continue
        child = boxes[g - 1, i // 2]
        start, end = edges(child)[1], edges(artist)[0]
        middle = g - 0.5
        y_child, y = child.get_position()[1], artist.get_position()[1]
        axes.plot([start, middle, middle, end], [y_child, y_child, y, y], color="#8a8a8a", linewidth=0.8, zorder=1)
    _save(figure, path, suffix[1:])
    plt.close(figure)


def chart_format(path: str | os.PathLike[str]) -> str:
    """The format in which a chart is written at `path`: its extension, of
    those that matplotlib writes.

    Parameters
    ----------
    path : str or os.PathLike

    Returns
    -------
    str
        Such as "png" or "svg".

    Raises
    ------
    ValueError
        An extension that matplotlib does not write, or none.
    ImportError
        matplotlib is not installed.

    Examples
    --------
    >>> chart_format("trend.PNG")
    'png'
    """
    _pyplot()
    from matplotlib.backends.backend_agg import FigureCanvasAgg

    written = FigureCanvasAgg.get_supported_filetypes()
    extension = os.path.splitext(os.fspath(path))[1].lower().lstrip(".")
    if extension not in written:
        raise ValueError(
            f"{os.fspath(path)!r}: a chart is written in the format that its extension names, one of "
            f"{', '.join(sorted(written))}"
        )
    return extension


def _shortened(name: str, most: int = 24) -> str:
    """An identifier as a chart shows it: a long one cut, that its box fits
    the chart's column."""
    return name if len(name) <= most else name[: most - 1] + "…"


def _pyplot() -> typing.Any:
    # matplotlib's own imports warn of their dependencies' deprecations.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        try:
            import matplotlib
        except ImportError:
            raise ImportError("drawing needs matplotlib: pip install matplotlib") from None
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    return plt


def _save(figure: typing.Any, path: str | os.PathLike[str], written: str) -> None:
    """The chart written at `path` in the format `written`, which the name of a
    temporary file would not tell."""
    os.makedirs(os.path.dirname(os.fspath(path)) or ".", exist_ok=True)
    figure.savefig(path, dpi=120, format=written)


def _shade(f: float) -> str:
    """White for F = 0, deepening to orange at F = 0.25 and beyond."""
    strength = min(max(f, 0.0) / 0.25, 1.0)
    red, green, blue = (round(255 - (255 - c) * strength) for c in (246, 178, 107))
    return f"#{red:02x}{green:02x}{blue:02x}"


def _cohort_ticks(axes: typing.Any, x: typing.Any, labels: list[str], numeric: bool) -> None:
    """Every cohort's tick when few; else as many as fit, evenly spaced."""
    from matplotlib.ticker import MaxNLocator

    whole = numeric and bool(np.all(np.mod(x, 1) == 0))
    if len(x) <= 15 and (whole or not numeric):
        axes.set_xticks(x, labels=labels if not numeric else [f"{v:g}" for v in x])
    elif numeric:
        axes.xaxis.set_major_locator(MaxNLocator(nbins=12, integer=whole))
    else:
        step = math.ceil(len(x) / 12)
        axes.set_xticks(x[::step], labels=labels[::step])
    if not numeric and max((len(label) for label in labels), default=0) > 6:
        axes.tick_params(axis="x", labelrotation=30)


def _fitting_labels(figure: typing.Any, axes: typing.Any, spacing: float, ne: typing.Any) -> list[str] | None:
    """The Ne over each bar (none where it is unknown) when every label fits
    within its bar's slot, so that none runs over the next bar; else None."""
    low, high = axes.get_xlim()
    slot = spacing * axes.get_window_extent().width / (high - low) if high > low else 0.0
    texts = [f"Ne {value:.0f}" if np.isfinite(value) else "" for value in ne]
    # An 8-point digit is about 0.6 of its size wide.
    widest = max((len(text) for text in texts), default=0) * 8 * 0.6 * figure.dpi / 72 + 4
    return texts if slot >= widest else None


def _ne_axis(axes: typing.Any) -> None:
    """Ne = 1 / (2 ΔF) on the right of the axes of ΔF in percent, for bars
    too narrow to carry it."""

    def reciprocal(percent: typing.Any) -> typing.Any:
        # The axis's limits must be finite: ΔF of 0 stands at an Ne of 10^12.
        return 50.0 / np.maximum(np.asarray(percent, dtype=np.float64), 5e-11)

    right = axes.secondary_yaxis("right", functions=(reciprocal, reciprocal))
    top = axes.get_ylim()[1]
    candidates = [step * 10**power for power in range(1, 6) for step in (1, 2, 3, 5)]
    # Not so many that they crowd where ΔF is small.
    right.set_yticks([ne for ne in candidates if 0.08 * top <= 50.0 / ne <= top])
    right.set_ylabel("Ne = 1 / (2 ΔF)")


def _figures(effective: EffectiveSize | None, founders: FounderStatistics | None) -> str:
    parts: list[str] = []
    if effective is not None:
        if effective.method == "coancestry":
            parts.append(f"Ne by coancestry = {effective.figure()} ({effective.n:,} pairs)")
        else:
            parts.append(f"Ne = {effective.figure()} ({effective.n:,} animals)")
    if founders is not None:
        parts.append(f"founders f_e = {founders.founders_effective:.1f} of {founders.founders:,}")
        parts.append(f"ancestors f_a = {founders.ancestors_effective:.1f}")
    return " · ".join(parts)
