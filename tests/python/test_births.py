import io
import re

import numpy as np
import pandas as pd
import pytest

from tolmkit import PedigreeError, birth_column, birth_order, cohorts, read_pedigree

# b is born in its dam's year (a warning); c before its sire a (an error);
# e's birth and f's (0) are unknown, so their pairs are not looked at.
YEARS = """id,sire,dam,birth_year
s,0,0,2000
d,0,0,2001
a,s,d,2003
b,s,d,2001
c,a,b,2002
e,a,0,
f,0,0,0
g,f,b,2003
"""
# Fish of a season, with a gap: z is born before its sire x.
DATES = """id,sire,dam,born
m,0,0,2020-01-10
w,0,0,2020-03-01
x,m,w,2020-09-01
y,m,w,
z,x,w,2020-08-01
"""


@pytest.mark.parametrize(
    "text, min_age, expected",
    [
        (YEARS, 1, [("c", "a", "sire", 2002, 2003, -1.0, "error"), ("b", "d", "dam", 2001, 2001, 0.0, "warning")]),
        (YEARS, 0, [("c", "a", "sire", 2002, 2003, -1.0, "error")]),
        (
            YEARS,
            2,
            [
                ("c", "a", "sire", 2002, 2003, -1.0, "error"),
                ("b", "s", "sire", 2001, 2000, 1.0, "warning"),
                ("b", "d", "dam", 2001, 2001, 0.0, "warning"),
                ("c", "b", "dam", 2002, 2001, 1.0, "warning"),
            ],
        ),
        (
            DATES,
            1,
            [
                ("z", "x", "sire", "2020-08-01", "2020-09-01", -31 / 365.25, "error"),
                ("x", "m", "sire", "2020-09-01", "2020-01-10", 235 / 365.25, "warning"),
                ("x", "w", "dam", "2020-09-01", "2020-03-01", 184 / 365.25, "warning"),
                ("z", "w", "dam", "2020-08-01", "2020-03-01", 153 / 365.25, "warning"),
            ],
        ),
        (
            DATES,
            0.5,
            [
                ("z", "x", "sire", "2020-08-01", "2020-09-01", -31 / 365.25, "error"),
                ("z", "w", "dam", "2020-08-01", "2020-03-01", 153 / 365.25, "warning"),
            ],
        ),
    ],
    ids=["years", "years_no_warning", "years_min_age_2", "dates_with_a_gap", "dates_of_fish"],
)
def test_birth_order_lists_errors_then_warnings(text, min_age, expected):
    found = birth_order(read_pedigree(io.StringIO(text)), min_age=min_age)
    assert list(found.columns) == ["offspring", "parent", "role", "offspring_birth", "parent_birth", "age", "problem"]
    assert [tuple(row) for row in found.itertuples(index=False)] == expected


@pytest.mark.parametrize(
    "text, birth, error, message",
    [
        (
            "id,sire,dam,born\na,0,0,spring\nb,a,0,2019\n",
            None,
            PedigreeError,
            "the birth of 'a', 'spring', is neither a year nor a date such as 2019-03-15 (column 'born')",
        ),
        (
            "id,sire,dam,born\na,0,0,20190315\nb,a,0,20200101\n",
            None,
            PedigreeError,
            "the birth of 'a', 20190315, is no year (column 'born'); write a date as 2019-03-15",
        ),
        ("id,sire,dam,yob\na,0,0,-999\nb,a,0,2019\n", None, PedigreeError, "the birth of 'a', -999, is no year"),
        (
            "id,sire,dam,dob\na,0,0,2019-03-15\nb,a,0,2020\n",
            None,
            PedigreeError,
            "the birth of 'b', '2020', is not a date such as 2019-03-15, as others of the column are (column 'dob')",
        ),
        (
            "id,sire,dam,dob\na,0,0,2019-03-15\nb,a,0,2020-02-30\n",
            None,
            PedigreeError,
            "the birth of 'b', '2020-02-30', is not a date",
        ),
        (
            "id,sire,dam,herd\na,0,0,H1\n",
            None,
            PedigreeError,
            "no column of births, named such as birth_year, birth_date or born, among the columns 'herd'; pass "
            "birth='COLUMN'",
        ),
        ("a,0,0\nb,a,0\n", None, PedigreeError, "among the columns (none: the file has no header)"),
        ("id,sire,dam,herd\na,0,0,H1\n", "born", KeyError, "no column 'born'; the columns are 'herd'"),
    ],
    ids=[
        "text",
        "date_as_number",
        "negative_year",
        "year_among_dates",
        "impossible_day",
        "no_column",
        "no_header",
        "column_not_in_file",
    ],
)
def test_births_that_cannot_be_read_are_refused_naming_the_animal(text, birth, error, message):
    pedigree = read_pedigree(io.StringIO(text))
    with pytest.raises(error) as raised:
        birth_order(pedigree, birth)
    assert message in str(raised.value)
    if message.endswith("birth='COLUMN'"):
        assert raised.value.command_line.endswith("pass --birth=COLUMN")


@pytest.mark.parametrize("min_age", [-1, float("nan"), float("inf"), True, "1"])
def test_a_min_age_that_is_no_number_of_years_is_refused(min_age):
    with pytest.raises(ValueError, match="min_age must be a number of years of at least 0"):
        birth_order(read_pedigree(io.StringIO(YEARS)), min_age=min_age)


@pytest.mark.parametrize(
    "names, found",
    [
        (["birth_year"], "birth_year"),
        (["BirthDate"], "BirthDate"),
        (["born"], "born"),
        (["date_of_birth"], "date_of_birth"),
        (["DOB"], "DOB"),
        (["yob"], "yob"),
        (["year_born"], "year_born"),
        (["b_date"], "b_date"),
        (["sex", "Birth-Day", "birth_year"], "Birth-Day"),
        (["b", "birthplace", "date", "herd"], None),
    ],
)
def test_the_column_of_births_is_found_by_its_name(names, found):
    text = "id,sire,dam," + ",".join(names) + "\na,0,0," + ",".join("1" for _ in names) + "\n"
    assert birth_column(read_pedigree(io.StringIO(text))) == found


@pytest.mark.parametrize(
    "values, expected",
    [
        (["2019", "", "2020"], [2019.0, np.nan, 2020.0]),
        (["2019-03-01", "NA", "2020-12-31", "."], [2019.0, np.nan, 2020.0, np.nan]),
        (pd.to_datetime(["2019-03-01", None]), [2019.0, np.nan]),
        (["H1", "0", "H2"], ["H1", np.nan, "H2"]),
        (["2019", "2019-03-01"], "the value of 0, '2019', is not a date such as 2019-03-15, as others"),
        (["0123", "123", "2019"], ["0123", "123", "2019"]),
        (np.array([0, 1, 1]), [0, 1, 1]),
        (["2000-01-01T00:00+01:00", "2000-12-31", "2003-01-01T05:00Z"], [2000.0, 2000.0, 2003.0]),
        (["12345678901234567", "12345678901234568"], ["12345678901234567", "12345678901234568"]),
    ],
    ids=[
        "years_as_text",
        "dates_by_year",
        "datetimes",
        "codes_of_no_value",
        "years_among_dates",
        "codes_of_one_number_stay_text",
        "numbers_stay",
        "dates_of_mixed_offsets_by_their_own_day",
        "numbers_beyond_floats_stay_text",
    ],
)
def test_cohorts(values, expected):
    if isinstance(expected, str):
        with pytest.raises(PedigreeError, match=re.escape(expected)):
            cohorts(pd.Series(values))
        return
    got = cohorts(pd.Series(values)).tolist()
    assert [g if g == g else "nan" for g in got] == [e if e == e else "nan" for e in expected]
