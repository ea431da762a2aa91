"""Births in a pedigree: the column that holds them, found by its name as the
reader finds the animal, sire and dam; the years or dates it holds; cohorts
by year; and the parents born after, or too soon before, their offspring."""

from __future__ import annotations

import re
import typing

import numpy as np
import pandas as pd
from numpy.typing import NDArray

from ._advice import PedigreeError, option, refused
from ._arguments import real
from .pedigree import Pedigree, checked_pedigree
from .records import UNKNOWN_PARENTS

__all__ = ["BIRTH_NAMES", "MIN_AGE", "birth_column", "birth_order", "cohorts", "parent_ages", "whole_cohorts"]

#: The names of a column of births, in any case: birth_year, BirthDate,
#: born, date_of_birth, dob, yob, year_born, …
BIRTH_NAMES = re.compile(
    r"(?:birth|born)(?:[ _.-]?(?:year|yr|date|day|dt))?|b[ _.-]?(?:year|yr|date|dt)"
    r"|(?:year|yr|date|day)[ _.-]?(?:of[ _.-]?birth|born)|[dy]ob",
    re.IGNORECASE,
)

#: The age in years below which a parent is suspect: born in the same year as
#: its offspring, when births are years.
MIN_AGE = 1.0

# Days in a year, for ages between birth dates.
_DAYS_PER_YEAR = 365.25
# The day of an ISO 8601 date, 2019-03-15, and such a date, with a time or not.
_DAY = r"\d{4}-\d{1,2}-\d{1,2}"
_DATE = _DAY + r"(?:$|[T ])"
# Beyond, a number is no year: a date written as 20190315.
_LAST_YEAR = 9999

_NOT_A_DATE = "not a date such as 2019-03-15, as others of the column are"

# From 2^53 on, whole numbers are no longer all floats: two codes would become one.
_EXACT_WHOLE = 2.0**53

_Floats = NDArray[np.float64]


def birth_column(pedigree: Pedigree) -> str | None:
    """The column of `pedigree.attributes` that holds the births, by its name.

    Parameters
    ----------
    pedigree : Pedigree

    Returns
    -------
    str or None
        The first column, in the file's order, whose name (spaces around it
        left out) is one of `BIRTH_NAMES`; None when there is none.

    Examples
    --------
    >>> birth_column(read_pedigree(io.StringIO("id,sire,dam,Birth_Date\\na,0,0,2019-03-01\\n")))
    'Birth_Date'
    """
    checked_pedigree(pedigree)
    return next((str(name) for name in pedigree.attributes.columns if BIRTH_NAMES.fullmatch(str(name).strip())), None)


def cohorts(values: pd.Series[typing.Any]) -> pd.Series[typing.Any]:
    """A column as the cohorts it names: text that is all numbers becomes
    numbers, so that years sort as years, and dates become their years.
    Text stays text where two of its values would become one number (0123
    and 123, or numbers of 2^53 or more).

    Parameters
    ----------
    values : pandas.Series

    Returns
    -------
    pandas.Series
        The same index. Empty text and the default codes of an unknown
        parent (0, NA and . written as text) are no value, NaN. A column of
        numbers stays as it is (0 a cohort: the founders' generation); one
        of dates (datetime values, or every value ISO 8601 text with its
        day, such as 2019-03-15) becomes the years as numbers.

    Raises
    ------
    PedigreeError
        A value that is no date in a column of dates such as 2019-03-15,
        naming it and its row.

    Examples
    --------
    >>> cohorts(pd.Series(["2019-03-15", "", "2020-07-01"])).tolist()
    [2019.0, nan, 2020.0]
    """
    given, numbers, dates = _kinds(values)
    if numbers is not None:
        if numbers is values:
            return numbers
        exact = ~(np.abs(numbers.to_numpy(dtype=np.float64, na_value=np.nan)) >= _EXACT_WHOLE)
        # Two texts of one number (0123 and 123, codes that the reader keeps apart) stay apart.
        apart = values.astype(str).str.strip().where(given.notna()).nunique() == numbers.nunique()
        return numbers if np.all(exact) and apart else given
    if dates is not None:
        return dates.dt.year.astype(np.float64)
    k = _undated(given)
    if k >= 0:
        raise PedigreeError(
            f"the {'value' if values.name is None else values.name} of {values.index[k]!r}, {values.iloc[k]!r}, "
            f"is {_NOT_A_DATE}; write every "
            f"date so, or leave it empty"
        )
    return given


def whole_cohorts(index: pd.Index[typing.Any]) -> pd.Index[typing.Any]:
    """Cohorts of whole numbers as integers, which animals without a value,
    or years of dates, leave as floats.

    Parameters
    ----------
    index : pandas.Index
        Cohorts, as the groups of `cohorts` give them.

    Returns
    -------
    pandas.Index
        int64 where every cohort is a whole number that int64 holds, else
        `index` as it is.

    Examples
    --------
    >>> whole_cohorts(pd.Index([2019.0, 2020.0])).tolist()
    [2019, 2020]
    """
    if pd.api.types.is_float_dtype(index) and np.all(np.mod(index, 1) == 0) and np.all(np.abs(index) < 2.0**63):
        return index.astype(np.int64)
    return index


def parent_ages(pedigree: Pedigree, birth: str | None = None) -> pd.DataFrame:
    """The age of every parent at the birth of its offspring, where both
    births are known.

    Parameters
    ----------
    pedigree : Pedigree
    birth : str, optional
        The column of `pedigree.attributes` that holds the births: years (a
        number) or dates (datetime values or ISO 8601 text with the day,
        such as 2019-03-15, counted in days / 365.25); by default
        `birth_column`. An empty value is unknown, and so are 0, NA and .,
        the default codes of an unknown parent.

    Returns
    -------
    pandas.DataFrame
        One row per parent-offspring pair, the sires first, each in the
        order of the animals: `offspring` and `parent` (numbers in
        `pedigree`), `role` ("sire" or "dam") and `age` in years (negative
        for a parent born after its offspring).

    Raises
    ------
    PedigreeError
        No column of births named so, or a birth that is neither a year nor
        a date (a date written as a number such as 20190315, a negative
        year, text), naming the animal.
    KeyError
        `birth` is not a column.

    Examples
    --------
    >>> ages = parent_ages(read_pedigree(io.StringIO("id,sire,dam,born\\na,0,0,2015\\nc,a,0,2019\\n")))
    >>> ages["age"].tolist()
    [4.0]
    """
    checked_pedigree(pedigree)
    column = _birth(pedigree, birth)
    times, per_year = _times(pedigree.attributes[column], pedigree.ids, column)
    n = len(pedigree)
    offspring = np.concatenate([np.arange(n)] * 2)
    parent = np.concatenate([pedigree.sire, pedigree.dam]).astype(np.int64)
    dam = np.repeat([False, True], n)
    known = (parent >= 0) & ~np.isnan(times[offspring]) & ~np.isnan(times[np.maximum(parent, 0)])
    offspring, parent, dam = offspring[known], parent[known], dam[known]
    return pd.DataFrame(
        {
            "offspring": offspring,
            "parent": parent,
            "role": pd.Categorical.from_codes(dam.astype(np.int8), categories=pd.Index(["sire", "dam"])),
            "age": (times[offspring] - times[parent]) / per_year,
        }
    )


def birth_order(pedigree: Pedigree, birth: str | None = None, *, min_age: float = MIN_AGE) -> pd.DataFrame:
    """The parents born after their offspring (errors), and those born less
    than `min_age` years before them (warnings).

    Parameters
    ----------
    pedigree : Pedigree
    birth : str, optional
        The column of births, as for `parent_ages`; by default
        `birth_column`.
    min_age : float, default 1
        The youngest age in years at which a parent is taken as it stands.
        With births as years, 1 warns of a parent born in the same year as
        its offspring; fish, poultry and rabbits breed younger: 0 warns of
        none.

    Returns
    -------
    pandas.DataFrame
        One row per such pair, the errors first, then the warnings, each in
        the order of `parent_ages`: `offspring` and `parent` (identifiers),
        `role`, `offspring_birth` and `parent_birth` (as the column holds
        them), `age` (years) and `problem` ("error" for age < 0, else
        "warning"). An age of 0 is a warning: a parent born on its
        offspring's day, or in its year, when births are years.

    Raises
    ------
    PedigreeError, KeyError
        As `parent_ages`.
    ValueError
        `min_age` is not a number of at least 0.

    Examples
    --------
    >>> pedigree = read_pedigree(io.StringIO("id,sire,dam,born\\na,0,0,2019\\nb,0,0,2018\\nc,a,b,2018\\n"))
    >>> birth_order(pedigree)[["parent", "role", "problem"]].values.tolist()
    [['a', 'sire', 'error'], ['b', 'dam', 'warning']]
    """
    checked_pedigree(pedigree)
    years = real(min_age)
    if years is None or not years >= 0 or not np.isfinite(years):
        raise ValueError(f"min_age must be a number of years of at least 0, got {min_age!r}")
    column = _birth(pedigree, birth)
    ages = parent_ages(pedigree, column)
    age = ages["age"].to_numpy()
    rows = np.concatenate([np.flatnonzero(age < 0), np.flatnonzero((age >= 0) & (age < min_age))])
    offspring, parent = ages["offspring"].to_numpy()[rows], ages["parent"].to_numpy()[rows]
    values = pedigree.attributes[column].to_numpy(dtype=object)
    return pd.DataFrame(
        {
            "offspring": pedigree.ids[offspring],
            "parent": pedigree.ids[parent],
            "role": ages["role"].to_numpy()[rows],
            "offspring_birth": values[offspring],
            "parent_birth": values[parent],
            "age": age[rows],
            "problem": np.where(age[rows] < 0, "error", "warning"),
        }
    )


def _birth(pedigree: Pedigree, birth: str | None) -> str:
    """The column of births asked for, or found by its name."""
    columns = pedigree.attributes.columns
    if birth is None:
        found = birth_column(pedigree)
        if found is None:
            raise refused(
                "no column of births, named such as birth_year, birth_date or born, among the columns ",
                f"{_listed(columns)}; pass ",
                option("birth", "COLUMN"),
            )
        return found
    if birth not in columns:
        raise KeyError(f"no column {birth!r}; the columns are {_listed(columns)}")
    return birth


def _listed(columns: pd.Index[typing.Any]) -> str:
    return ", ".join(map(repr, columns)) if len(columns) else "(none: the file has no header)"


def _kinds(
    values: pd.Series[typing.Any],
) -> tuple[pd.Series[typing.Any], pd.Series[typing.Any] | None, pd.Series[typing.Any] | None]:
    """The values given (NaN where none), and them as numbers, or as dates,
    when every value given reads so."""
    if pd.api.types.is_datetime64_any_dtype(values):
        return values, None, values
    if not (pd.api.types.is_object_dtype(values) or pd.api.types.is_string_dtype(values)):
        numeric = pd.api.types.is_numeric_dtype(values) and not pd.api.types.is_bool_dtype(values)
        return values, values if numeric else None, None
    text = values.astype(str).str.strip()
    given = values.where(values.notna() & ~text.isin(UNKNOWN_PARENTS))
    count = given.notna().sum()
    numbers = pd.to_numeric(given, errors="coerce")
    if numbers.notna().sum() == count:  # a column of no value too: all unknown
        return given, numbers, None
    dated = text.str.match(_DATE) & given.notna()
    if dated.sum() == count:
        # Each value checked whole, its time and offset too (mixed offsets are
        # no datetime column), and the day kept as written: a birth's day and
        # year are those of its place.
        whole = pd.to_datetime(given.where(dated), format="ISO8601", errors="coerce", utc=True)
        if whole.notna().sum() == count:
            days = text.where(dated).str.extract(f"^({_DAY})", expand=False)
            return given, None, pd.to_datetime(days, format="ISO8601")
    return given, None, None


def _times(values: pd.Series[typing.Any], ids: NDArray[np.object_], column: str) -> tuple[_Floats, float]:
    """Births as numbers (NaN unknown) and the numbers in a year: years as
    they are (0 unknown), dates as days, so that differences are exact
    before the division."""
    given, numbers, dates = _kinds(values)
    if dates is not None:
        days = dates.to_numpy(dtype="datetime64[ns]").astype("datetime64[D]")
        return np.where(np.isnat(days), np.nan, days.astype(np.int64).astype(np.float64)), _DAYS_PER_YEAR
    if numbers is not None:
        years = numbers.to_numpy(dtype=np.float64, na_value=np.nan)
        wrong = (years < 0) | (years > _LAST_YEAR)
        if np.any(wrong):
            k = int(np.argmax(wrong))
            raise PedigreeError(
                f"the birth of {ids[k]!r}, {values.iloc[k]}, is no year (column {column!r}); "
                "write a date as 2019-03-15 and leave an unknown birth empty"
            )
        return np.where(years == 0, np.nan, years), 1.0
    k = _undated(given)
    if k >= 0:
        kind = _NOT_A_DATE
    else:
        kind = "neither a year nor a date such as 2019-03-15"
        k = int(np.argmax(given.notna().to_numpy() & pd.to_numeric(given, errors="coerce").isna().to_numpy()))
    raise PedigreeError(f"the birth of {ids[k]!r}, {values.iloc[k]!r}, is {kind} (column {column!r})")


def _undated(given: pd.Series[typing.Any]) -> int:
    """The first value given that is no date, in a column where others are
    dates (a year, text or an impossible day among them); −1 where none or
    all are."""
    known = given.notna().to_numpy()
    dated = given.astype(str).str.match(_DATE).to_numpy() & known
    if not dated.any():
        return -1
    parsed = pd.to_datetime(given.where(dated), format="ISO8601", errors="coerce").notna().to_numpy()
    wrong = known & ~parsed
    return int(np.argmax(wrong)) if wrong.any() else -1
