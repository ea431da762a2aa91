"""The figures of a reference population that `tolmkit stats` prints and the
report shows beyond the per-animal table: completeness by generation, the
parents of each cohort, Ne by every route, the ancestors that explain half
of the genes, kinship, and where inbreeding comes from; computed once for
both."""

from __future__ import annotations

import dataclasses
import functools
import typing
from collections.abc import Iterable

import pandas as pd

from .ancestral import (
    AncestralInbreeding,
    PartialInbreeding,
    ancestral_inbreeding,
    check_drops,
    kalinowski_inbreeding,
    partial_inbreeding,
)
from .births import birth_column
from .completeness import COMPLETENESS_GENERATIONS, completeness_by_generation, parents_by_cohort
from .contributors import ancestors_table, n50
from .kinship import conservation_index, mean_kinship
from .pedigree import Pedigree, checked_pedigree
from .statistics import (
    COMPUTED_COLUMNS,
    EffectiveSize,
    FounderStatistics,
    effective_population_size,
    intervals_by_cohort,
)

__all__ = ["FIGURE_DROPS", "NEW_ROUTES", "PopulationFigures", "cohort_column", "figure_or_reason", "population_figures"]

#: Gene drops of the figures by default: the means over a reference
#: population are the figures, and their error shrinks with its size too.
FIGURE_DROPS = 200

#: The routes to Ne that these figures add to those of the per-animal table.
NEW_ROUTES: tuple[typing.Literal["regression", "sex-ratio", "family-size"], ...] = (
    "regression",
    "sex-ratio",
    "family-size",
)

_Figure = typing.TypeVar("_Figure")


@dataclasses.dataclass(frozen=True, eq=False)
class PopulationFigures:
    """The figures of `population_figures`; a figure the pedigree cannot give
    holds the reason, as text.

    Attributes
    ----------
    completeness : pandas.DataFrame
        `completeness_by_generation` of the reference animals (one row).
    completeness_by : pandas.DataFrame or None
        The same of every animal by cohort (with `by`).
    parents : pandas.DataFrame or None
        `parents_by_cohort` (with `by`).
    effective : dict
        Ne by "regression", "sex-ratio" and "family-size": an
        `EffectiveSize` or the reason.
    n50 : int or None
        `n50` of the ancestors.
    ancestors : pandas.DataFrame
        `ancestors_table`.
    mean_kinship : float
        The reference animals' mean kinship.
    animals : pandas.DataFrame
        Per animal, indexed by identifier: `mean_kinship` (with the
        reference), `gci` and `ancestral_inbreeding` (Ballou's).
    kalinowski : AncestralInbreeding or str
    partial : PartialInbreeding or str
    intervals : pandas.DataFrame or str or None
        `intervals_by_cohort`; None without a column of births.
    """

    completeness: pd.DataFrame
    completeness_by: pd.DataFrame | None
    parents: pd.DataFrame | None
    effective: dict[str, EffectiveSize | str]
    n50: int | None
    ancestors: pd.DataFrame
    mean_kinship: float
    animals: pd.DataFrame
    kalinowski: AncestralInbreeding | str
    partial: PartialInbreeding | str
    intervals: pd.DataFrame | str | None


def population_figures(
    pedigree: Pedigree,
    reference: Iterable[str],
    founders: FounderStatistics,
    *,
    by: str | None = None,
    birth: str | None = None,
    generations: int = COMPLETENESS_GENERATIONS,
    interval: float | None = None,
    drops: int = FIGURE_DROPS,
    seed: int = 0,
    offspring: typing.Literal["parents", "all"] = "parents",
) -> PopulationFigures:
    """Every figure of the reference population beyond the per-animal table.

    Parameters
    ----------
    pedigree : Pedigree
    reference : iterable of str
        Identifiers of the reference animals.
    founders : FounderStatistics
        `founder_statistics` of the same reference animals, which the caller
        has for f_e and f_a.
    by : str, optional
        A column of the pedigree's attributes giving cohorts.
    birth : str, optional
        The column of births; by default the one `birth_column` finds.
    generations : int, default 5
        Generations back of the completeness.
    interval : float, optional
        The generation interval of Ne by family size; by default from the
        births.
    drops : int, default 200
        Gene drops of F_ANC and of partial inbreeding beyond the exact size.
    seed : int, default 0
    offspring : {"parents", "all"}, default "parents"
        As for `generation_intervals`.

    Returns
    -------
    PopulationFigures

    Raises
    ------
    PedigreeError
        An identifier that is not in the pedigree.
    KeyError
        `by` is not a column.
    ValueError
        `drops` not a positive integer up to 2^31, `seed` not a
        non-negative integer; other arguments that the functions of the
        figures refuse.

    Examples
    --------
    >>> founders = founder_statistics(pedigree, young)  # doctest: +SKIP
    >>> population_figures(pedigree, young, founders, by="birth_year").n50  # doctest: +SKIP
    12
    """
    # Checked here, since a figure that cannot be had gives its reason
    # instead, and a bad argument is no reason of the pedigree's.
    checked_pedigree(pedigree)
    check_drops(drops, seed)
    reference = [reference] if isinstance(reference, str) else list(reference)
    column = birth if birth is not None else birth_column(pedigree)
    effective: dict[str, EffectiveSize | str] = {
        route: figure_or_reason(functools.partial(_route, pedigree, reference, route, interval)) for route in NEW_ROUTES
    }
    kinship = mean_kinship(pedigree, reference)
    animals = pd.DataFrame(
        {
            "mean_kinship": kinship,
            "gci": conservation_index(pedigree),
            "ancestral_inbreeding": ancestral_inbreeding(pedigree),
        }
    )
    chosen = list(dict.fromkeys(reference))
    return PopulationFigures(
        completeness=completeness_by_generation(pedigree, reference, generations=generations),
        completeness_by=None if by is None else completeness_by_generation(pedigree, by=by, generations=generations),
        parents=None if by is None else parents_by_cohort(pedigree, by),
        effective=effective,
        n50=n50(founders),
        ancestors=ancestors_table(pedigree, founders, birth=birth),
        mean_kinship=float(kinship.loc[chosen].mean()),
        animals=animals,
        kalinowski=figure_or_reason(lambda: kalinowski_inbreeding(pedigree, reference, drops=drops, seed=seed)),
        partial=figure_or_reason(lambda: partial_inbreeding(pedigree, reference, drops=drops, seed=seed)),
        intervals=None
        if column is None
        else figure_or_reason(lambda: intervals_by_cohort(pedigree, column, offspring=offspring)),
    )


def cohort_column(pedigree: Pedigree, by: str | None) -> str | None:
    """The column by which `population_figures` takes figures by cohort, for
    a table by cohort of `summary_by` grouped by `by`.

    Parameters
    ----------
    pedigree : Pedigree
    by : str, optional
        A column of `pedigree_statistics`.

    Returns
    -------
    str or None
        `by` where it is a column of the pedigree's attributes, and the
        attribute X for "X_file", the name that `pedigree_statistics` gives
        it beside a column of its own; None for a column that
        `pedigree_statistics` computes (generation), whose figures by cohort
        are those of `summary_by`'s table alone, even where the file has one
        of that name.

    Examples
    --------
    >>> cohort_column(Pedigree.from_records([("a", "0", "0")]), "generation") is None
    True
    """
    if by is None or by in COMPUTED_COLUMNS:
        return None
    if by.endswith("_file") and by[: -len("_file")] in COMPUTED_COLUMNS:
        by = by[: -len("_file")]
    return by if by in pedigree.attributes.columns else None


def _route(
    pedigree: Pedigree,
    reference: list[str],
    method: typing.Literal["regression", "sex-ratio", "family-size"],
    interval: float | None,
) -> EffectiveSize:
    return effective_population_size(pedigree, reference, method=method, interval=interval)


def figure_or_reason(compute: typing.Callable[[], _Figure]) -> _Figure | str:
    """The figure that `compute` returns, or why the pedigree cannot give it:
    the message of the ValueError (a PedigreeError among them) it raises.

    Parameters
    ----------
    compute : callable
        Without arguments.

    Returns
    -------
    The figure, or str.

    Examples
    --------
    >>> figure_or_reason(lambda: effective_population_size(pedigree, ["founder"]))  # doctest: +SKIP
    'none of the 1 reference animals has more than one equivalent generation ...'
    """
    try:
        return compute()
    except ValueError as error:
        return str(error)
