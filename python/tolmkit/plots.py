"""The breeder's picture of a population: inbreeding and its rate by cohort,
drawn with matplotlib (the `demo` extra), which is imported only here."""

from __future__ import annotations

import os

import numpy as np
import pandas as pd

from .statistics import EffectiveSize, FounderStatistics

__all__ = ["plot_trend"]


def plot_trend(summary: pd.DataFrame, path: str | os.PathLike[str], *, title: str | None = None,
               effective: EffectiveSize | None = None, founders: FounderStatistics | None = None) -> None:
    """Draws mean F and mean ΔF by cohort into a PNG (or any format that
    matplotlib writes by the file's extension).

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
    ImportError
        matplotlib is not installed.

    Examples
    --------
    >>> plot_trend(summary_by(pedigree, "birth_year"), "trend.png",
    ...            effective=effective_population_size(pedigree, young))  # doctest: +SKIP
    """
    try:
        import matplotlib
    except ImportError:
        raise ImportError("drawing needs matplotlib: pip install matplotlib") from None
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    cohort = str(summary.index.name or "cohort").replace("_", " ")
    x = np.asarray(summary.index)
    figure, (upper, lower) = plt.subplots(2, 1, sharex=True, figsize=(8, 6.5))
    upper.plot(x, summary["inbreeding"], marker="o", color="#1f5fa8", label="mean F")
    upper.set_ylabel("mean inbreeding F")
    shared = upper.twinx()
    shared.plot(x, summary["inbred"] * 100, marker="s", color="#c0602a", linestyle="--", label="inbred animals")
    shared.set_ylabel("inbred animals (%)", color="#c0602a")
    shared.tick_params(axis="y", colors="#c0602a")
    shared.set_ylim(0, 105)
    upper.legend(handles=upper.get_lines() + shared.get_lines(), loc="upper left", frameon=False)
    bars = lower.bar(x, summary["delta_inbreeding"] * 100, color="#4a7ab5", width=0.7)
    lower.bar_label(bars, labels=[f"Ne {ne:.0f}" if np.isfinite(ne) else "" for ne in summary["ne"]],
                    fontsize=8, padding=2)
    lower.margins(y=0.12)
    lower.set_ylabel("mean ΔF (% per generation)")
    lower.set_xlabel(cohort)
    for axes in (upper, lower):
        axes.grid(axis="y", alpha=0.3)
    if np.issubdtype(x.dtype, np.integer):
        lower.set_xticks(x)
    heading = title or f"Inbreeding by {cohort}"
    figures = _figures(effective, founders)
    figure.suptitle(heading + ("\n" + figures if figures else ""), fontsize=12)
    figure.tight_layout()
    os.makedirs(os.path.dirname(os.fspath(path)) or ".", exist_ok=True)
    figure.savefig(path, dpi=120)
    plt.close(figure)


def _figures(effective: EffectiveSize | None, founders: FounderStatistics | None) -> str:
    parts: list[str] = []
    if effective is not None:
        parts.append(f"Ne = {effective.ne:.1f} ± {effective.se:.1f} ({effective.n:,} animals)")
    if founders is not None:
        parts.append(f"founders f_e = {founders.founders_effective:.1f} of {founders.founders:,}")
        parts.append(f"ancestors f_a = {founders.ancestors_effective:.1f}")
    return " · ".join(parts)
