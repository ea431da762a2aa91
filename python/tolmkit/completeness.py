"""How much of a pedigree is known, generation by generation back, and who
bred each cohort: its sires and dams and how their families varied."""

from __future__ import annotations

import typing
from collections.abc import Iterable

import numpy as np
import pandas as pd
from numpy.typing import NDArray

from ._arguments import integer
from .births import cohorts, whole_cohorts
from .pedigree import Pedigree, checked_pedigree

__all__ = [
    "COMPLETENESS_GENERATIONS",
    "MOST_GENERATIONS",
    "MOST_USED",
    "ancestors_known",
    "check_generations",
    "completeness_by_generation",
    "parents_by_cohort",
]

#: Generations back over which completeness is taken by default.
COMPLETENESS_GENERATIONS = 5

#: The most generations back of completeness: the 2^g ancestors counted of
#: generation g are exact in a float up to 2^53.
MOST_GENERATIONS = 53

#: Sires whose share of a cohort's offspring `parents_by_cohort` gives.
MOST_USED = 10

_Floats = NDArray[np.float64]


def ancestors_known(pedigree: Pedigree, generations: int = COMPLETENESS_GENERATIONS) -> _Floats:
    """The share of the 2^g ancestors g generations back that are known, of
    every animal, for g = 1 … `generations`.

    Ancestors are counted by paths, so that one met twice counts twice:
    K_i,1 = (s_i known + d_i known) / 2 and K_i,g = (K_s,g−1 + K_d,g−1) / 2
    over the known parents (MacCluer et al. 1983). Every share is a count
    divided by a power of 2, exact in a float.

    Parameters
    ----------
    pedigree : Pedigree
    generations : int, default 5

    Returns
    -------
    numpy.ndarray of float64
        One row per animal, one column per generation back.

    Raises
    ------
    ValueError
        `generations` is not an integer from 1 to `MOST_GENERATIONS`.

    Examples
    --------
    >>> ancestors_known(Pedigree.from_records([("b", "a", "0"), ("c", "b", "d")]), 2).tolist()
    [[0.0, 0.0], [0.0, 0.0], [0.5, 0.0], [1.0, 0.25]]
    """
    checked_pedigree(pedigree)
    check_generations(generations)
    sire, dam = pedigree.sire, pedigree.dam
    s, d = np.maximum(sire, 0), np.maximum(dam, 0)
    shares = np.empty((len(pedigree), generations))
    # Known ancestors of the generation before, counted, for every animal at
    # once from its parents'.
    known = np.ones(len(pedigree))
    for g in range(generations):
        known = np.where(sire >= 0, known[s], 0.0) + np.where(dam >= 0, known[d], 0.0)
        shares[:, g] = known / 2.0 ** (g + 1)
    return shares


def completeness_by_generation(
    pedigree: Pedigree,
    animals: Iterable[str] | None = None,
    *,
    by: str | None = None,
    generations: int = COMPLETENESS_GENERATIONS,
) -> pd.DataFrame:
    """The mean share of known ancestors in each generation back, of a group
    of animals or of each cohort.

    Parameters
    ----------
    pedigree : Pedigree
    animals : iterable of str, optional
        The animals taken (the reference population, say); by default all.
    by : str, optional
        A column of `pedigree.attributes` giving cohorts, as `cohorts` reads
        it (dates by year); animals without a value are left out. Without
        it, one row, "all".
    generations : int, default 5

    Returns
    -------
    pandas.DataFrame
        One row per cohort in ascending order, with column `animals` and
        then one column per generation back, 1 … `generations`: the mean
        of `ancestors_known`.

    Raises
    ------
    PedigreeError
        An identifier that is not in the pedigree.
    KeyError
        `by` is not a column.
    ValueError
        `generations` is not an integer from 1 to `MOST_GENERATIONS`.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("b", "a", "0"), ("c", "b", "d")])
    >>> completeness_by_generation(pedigree, ["c"], generations=2).loc["all"].tolist()
    [1.0, 1.0, 0.25]
    """
    checked_pedigree(pedigree)
    shares = ancestors_known(pedigree, generations)
    chosen = np.arange(len(pedigree)) if animals is None else np.unique(pedigree.numbers(_listed(animals)))
    frame = pd.DataFrame(shares[chosen], columns=pd.Index(range(1, generations + 1), name="generation"))
    if by is None:
        groups = pd.Series("all", index=frame.index, name="")
    else:
        groups = pd.Series(_cohort_of(pedigree, by)[chosen], name=by)
    grouped = frame.groupby(groups.to_numpy(), sort=True)
    table = grouped.mean()
    table.insert(0, "animals", grouped.size().to_numpy())
    table.index = whole_cohorts(table.index)
    table.index.name = groups.name or None
    return table


def parents_by_cohort(pedigree: Pedigree, by: str, *, most_used: int = MOST_USED) -> pd.DataFrame:
    """The sires and dams of each cohort of offspring and how many offspring
    each had there.

    Parameters
    ----------
    pedigree : Pedigree
    by : str
        A column of `pedigree.attributes` giving the offspring's cohorts, as
        `cohorts` reads it; animals without a value are left out.
    most_used : int, default 10
        The sires whose share of the offspring is given.

    Returns
    -------
    pandas.DataFrame
        One row per cohort in ascending order, with columns `offspring`
        (animals of the cohort), `sires` (distinct known sires of them),
        `offspring_per_sire` and `offspring_per_sire_var` (mean and
        variance, divided by the sires' number, of their offspring in the
        cohort), `dams`, `offspring_per_dam`, `offspring_per_dam_var`
        likewise, and `most_used_sires_share`, the share of the offspring of
        known sire that the `most_used` sires with most offspring there sired
        (NaN without sires).

    Raises
    ------
    KeyError
        `by` is not a column.
    ValueError
        `most_used` is not a positive integer.

    Examples
    --------
    >>> rows = [("a", "0", "0", 1), ("b", "0", "0", 1), ("c", "a", "b", 2), ("d", "a", "0", 2)]
    >>> pedigree = read_pedigree(pd.DataFrame(rows, columns=["id", "sire", "dam", "year"]))
    >>> parents_by_cohort(pedigree, "year").loc[2, ["sires", "offspring_per_sire", "dams"]].tolist()
    [1.0, 2.0, 1.0]
    """
    checked_pedigree(pedigree)
    number = integer(most_used)
    if number is None or number < 1:
        raise ValueError(f"most_used must be a positive integer, got {most_used!r}")
    cohort = pd.Series(_cohort_of(pedigree, by))
    rows = []
    labels = []
    for label, members in cohort.groupby(cohort, sort=True).groups.items():
        offspring = np.asarray(members, dtype=np.int64)
        sires, dams = (_families(parents) for parents in (pedigree.sire[offspring], pedigree.dam[offspring]))
        figures = [float(len(offspring))]
        for families in (sires, dams):
            spread = (float(families.mean()), float(families.var())) if len(families) else (np.nan, np.nan)
            figures += [float(len(families)), *spread]
        top = np.sort(sires)[::-1][:most_used]
        figures.append(float(top.sum() / sires.sum()) if len(sires) else np.nan)
        rows.append(figures)
        labels.append(label)
    columns = [
        "offspring",
        "sires",
        "offspring_per_sire",
        "offspring_per_sire_var",
        "dams",
        "offspring_per_dam",
        "offspring_per_dam_var",
        "most_used_sires_share",
    ]
    table = pd.DataFrame(rows, columns=columns, index=whole_cohorts(pd.Index(labels, name=by)))
    for name in ("offspring", "sires", "dams"):
        table[name] = table[name].astype(np.int64)
    return table


def _families(parents: NDArray[np.int32]) -> NDArray[np.int64]:
    """The offspring of each known parent among `parents`."""
    counts: NDArray[np.int64] = np.unique(parents[parents >= 0], return_counts=True)[1]
    return counts


def check_generations(generations: object, name: str = "generations") -> None:
    """Refuses generations back that completeness cannot be taken over.

    Parameters
    ----------
    generations : int
        From 1 to `MOST_GENERATIONS`.
    name : str
        The argument's name, for the message.

    Raises
    ------
    ValueError
        Naming the argument.

    Examples
    --------
    >>> check_generations(5)
    """
    number = integer(generations)
    if number is None or not 1 <= number <= MOST_GENERATIONS:
        raise ValueError(f"{name} must be an integer from 1 to {MOST_GENERATIONS}, got {generations!r}")


def _listed(animals: Iterable[str]) -> list[str]:
    return [animals] if isinstance(animals, str) else list(animals)


def _cohort_of(pedigree: Pedigree, by: str) -> NDArray[typing.Any]:
    """The cohort of every animal by the column `by`, NaN for none."""
    attributes = pedigree.attributes
    if by not in attributes.columns:
        raise KeyError(f"no column {by!r}; the columns are {', '.join(map(repr, attributes.columns))}")
    return cohorts(attributes[by]).to_numpy()
