"""The ancestors that explain a population's genes: how few of them explain
half, and who they are (born when, of which sex, with how many offspring)."""

from __future__ import annotations

import numpy as np
import pandas as pd

from ._advice import PedigreeError
from .births import birth_column, cohorts
from .pedigree import Pedigree, checked_pedigree, sexes
from .statistics import FounderStatistics

__all__ = ["HALF", "ancestors_table", "n50"]

#: The share of the genes that n50 ancestors explain.
HALF = 0.5

# Relative rounding of marginal contributions forgiven at the half.
_ROUNDING = 1e-12

# Sexes as `sexes` codes them, for a table a breeder reads.
_SEX_NAMES = np.array(["", "M", "F"], dtype=object)


def n50(founders: FounderStatistics) -> int | None:
    """The fewest ancestors, taken by their marginal contributions, that
    explain half of the reference population's genes.

    n50 is the smallest k with q_1 + … + q_k ≥ 0.5, q the marginal
    contributions in the order `founder_statistics` takes the ancestors
    (Boichard, Maignel and Verrier 1997).

    Parameters
    ----------
    founders : FounderStatistics
        From `founder_statistics` on the reference animals.

    Returns
    -------
    int or None
        None when the ancestors taken (at most `max_ancestors`) explain less
        than half.

    Examples
    --------
    >>> rows = [("c", "a", "b"), ("d", "a", "b")]
    >>> n50(founder_statistics(Pedigree.from_records(rows), ["c", "d"]))
    1
    """
    marginal = founders.contributions["marginal_contribution"].to_numpy()[: founders.ancestors]
    # The running sum as the report's cumulated shares; contributions that
    # are exactly halves come out of the passes an ulp or so off, which must
    # not push n50 one ancestor further.
    reached = np.flatnonzero(np.cumsum(marginal) >= HALF * (1.0 - _ROUNDING))
    return int(reached[0]) + 1 if len(reached) else None


def ancestors_table(pedigree: Pedigree, founders: FounderStatistics, *, birth: str | None = None) -> pd.DataFrame:
    """The ancestors taken for f_a, in the order taken, with what a breeder
    looks them up by.

    Parameters
    ----------
    pedigree : Pedigree
        The pedigree that `founders` was computed on.
    founders : FounderStatistics
    birth : str, optional
        The column of births; by default the one that `birth_column` finds.
        Its years (of dates, the year) are given; without one, or where the
        column found by its name holds other than births, NaN.

    Returns
    -------
    pandas.DataFrame
        Indexed by identifier, with columns `marginal_contribution`,
        `cumulated` (their running sum), `contribution`,
        `founder_contribution`, `birth_year`, `sex` ("M", "F" or "" as
        `sexes` gives it) and `offspring` (in the whole pedigree).

    Raises
    ------
    KeyError
        `birth` is not a column.
    PedigreeError
        `birth` holds other than years or dates.

    Examples
    --------
    >>> rows = [("c", "a", "b"), ("d", "a", "b")]
    >>> pedigree = Pedigree.from_records(rows)
    >>> ancestors_table(pedigree, founder_statistics(pedigree, ["c", "d"]))["offspring"].tolist()
    [2, 2]
    """
    checked_pedigree(pedigree)
    taken = founders.contributions.iloc[: founders.ancestors]
    animals = pedigree.numbers(taken.index.astype(str))
    column = birth if birth is not None else birth_column(pedigree)
    attributes = pedigree.attributes
    if column is not None and column not in attributes.columns:
        raise KeyError(f"no column {column!r}; the columns are {', '.join(map(repr, attributes.columns))}")
    years = np.full(len(animals), np.nan)
    if column is not None:
        try:
            # A column found by its name is read whole: it gives the births of
            # this table where it gives those of every other figure.
            read = (
                cohorts(attributes[column]).iloc[animals]
                if birth is None
                else cohorts(attributes[column].iloc[animals])
            )
        except PedigreeError:
            if birth is not None:
                raise
        else:
            years = pd.to_numeric(read, errors="coerce").to_numpy(dtype=np.float64)
    sire, dam = pedigree.sire, pedigree.dam
    # An offspring of selfing counts once.
    parents = np.concatenate([sire[sire >= 0], dam[(dam >= 0) & (dam != sire)]])
    offspring = np.bincount(parents, minlength=len(pedigree))
    marginal = taken["marginal_contribution"]
    return pd.DataFrame(
        {
            "marginal_contribution": marginal,
            "cumulated": marginal.cumsum(),
            "contribution": taken["contribution"],
            "founder_contribution": taken["founder_contribution"],
            "birth_year": years,
            "sex": _SEX_NAMES[sexes(pedigree)[animals]],
            "offspring": offspring[animals],
        },
        index=taken.index,
    )
