"""Pedigree files and data frames read into a `Pedigree`: the delimiter and
the header found, the columns parsed and their fields checked, then the
records numbered by the rule of `tolmkit.records`.

A file is accepted only when every line and every field is accounted for:
each line is blank, a comment, the header or a record; in a record, the
animal is an identifier, and each parent an animal, a code of an unknown
parent, a code of a group of unknown parents, or a founder that the file
does not list, which must not read like any of the others. Whatever fits
none of these, or more than one, is refused naming the line and what to pass.
"""

from __future__ import annotations

import csv
import io
import os
import re
import typing
import unicodedata
from collections.abc import Iterable, Sequence

import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.compute as pc
import pyarrow.csv as pa_csv

from . import _native
from ._advice import Option, PedigreeError, argument, option, refused
from ._arguments import switch
from ._arrow import chunks, short_offsets_and_bytes, string_array
from ._memory import has_room, require_room
from ._patterns import ROLES, SPACES, WIDE_SPACE, WORD
from .decoding import TextMarks, line_at, marked_utf8_text
from .genotypes import first_repeat
from .pedigree import Pedigree, from_table
from .records import (
    COLUMNS,
    MAX_OFFSPRING,
    UNKNOWN_PARENTS,
    Groups,
    Rules,
    Strings,
    Table,
    Where,
    header_advice,
    identifiers,
    no_attributes,
    sex_text,
)
from .threads import follows_threads

__all__ = ["pedigree_from_columns", "read_pedigree"]

Source = typing.Union[str, "os.PathLike[str]", typing.IO[str], pd.DataFrame]

# The first line by which spreadsheets name the delimiter, sep=; (with empty fields after it).
_SEPARATOR_LINE = re.compile(r'(?i)sep=([^"\n])\1*[ \t]*')

_EXPONENT_ARROW = r"^[-+]?\d(?:[.,]\d+)?[Ee][-+]?\d+$"

_NEWLINE = b"\n"

# The fields of a line beyond which the lines' widths are checked before the
# parse, whose columns take some kilobytes each.
_WIDE = 1000

# pyarrow's block of text parsed at a time, its default: a file's longest
# line raises it.
_ARROW_BLOCK = pa_csv.ReadOptions().block_size

# The text of the last parse that pyarrow gave up, whose tasks may still read
# it (see `_arrow_columns`): held until the next such parse, or exit.
_given_up: list[bytes] = []

# A field in quotes, a quote inside it doubled; the group holds its text.
_QUOTED = '"((?:[^"]|"")*)"'
_QUOTED_FIELD = re.compile(_QUOTED)
_QUOTED_WHOLE = "^" + _QUOTED + "$"

# What the reader asks of a file's text besides its marks: blanks, quotes and
# the plus of a number in exponent form.
_READER_ASKS = b' \t"+'


def read_pedigree(
    source: Source,
    *,
    delimiter: str | None = None,
    header: bool | None = None,
    columns: Sequence[str] | None = None,
    unknown: str | Iterable[str] = UNKNOWN_PARENTS,
    encoding: str = "utf-8-sig",
    selfing: bool = False,
    groups: Groups = None,
    max_offspring: int | None = MAX_OFFSPRING,
    case_distinct: bool = False,
) -> Pedigree:
    """Reads the animal, sire and dam of every animal from a text file or a data frame.

    The file is read only when every line and field is accounted for (see
    Raises); otherwise the message names the line and the argument to pass.

    Parameters
    ----------
    source : path, open text file or pandas.DataFrame
        A file (also compressed by gzip, bzip2 or xz): blank lines are
        skipped, and a '#' at the start of a line or after a blank, outside
        quotes, starts a comment to the end of the line. A frame: its
        columns are taken by name as those of a header, else the first
        three; None, NaN, pd.NA and "" are unknown parents, and a whole
        float such as 101.0 is the identifier "101".
    delimiter : str, optional
        One character between columns; by default the one that a first line
        such as ``sep=;`` names (as spreadsheets write it), else a comma
        (CSV, with quoted fields) when the first line has one, else a tab
        when it has one, else runs of spaces and tabs.
    header : bool, optional
        Whether the first line names the columns; by default it does when it
        names a sire and a dam column (sire, father or male; dam, mother or
        female; in any case, with suffixes such as "_id"), and a first line
        that reads like a header of other names is refused until you say.
    columns : three str, optional
        The header's names of the animal, sire and dam columns.
    unknown : str or iterable of str
        The code (or codes) of an unknown parent. While left at its default,
        an animal whose identifier reads like such a code (-999, ?, nan) is
        refused.
    encoding : str
        The file's encoding.
    selfing : bool
        Allow an animal to be both a sire and a dam (plants, hermaphrodites);
        it also lifts `max_offspring`.
    groups : iterable of str, or callable, optional
        Codes of groups of unknown parents (a code ending in '*' stands for
        every code that begins so: "UPG*"), or a function of a parent's text
        that is true for a group. A parent that is no animal and is a group
        is an unknown parent of that group (`Pedigree.group_ids`).
    max_offspring : int or None
        The most offspring of a dam that is not listed as an animal (200 by
        default): more reads like a group of unknown dams and is refused
        with the advice to pass `groups=`. None or 0 lifts the limit.
    case_distinct : bool
        Take identifiers that differ only in case (NL1, nl1) for different
        animals; by default they are refused as one animal typed two ways.

    Returns
    -------
    Pedigree
        Parents first; the other columns of a file with a header in
        `attributes`: a column of whole numbers (no leading zeros) as
        integers (pandas Int64 where some are missing), others as text.

    Raises
    ------
    PedigreeError
        Naming the line (or row) and what to do: a first line that reads
        like a header not said to be one; two columns named for one role;
        a record with fewer fields than animal, sire and dam, or with
        another number of fields than the header; an animal with no
        identifier, listed twice, with the code of an unknown parent or one
        that fits the groups, or its own ancestor; a parent that is not
        listed and reads like a code, like a column name or like a listed
        animal's number written otherwise (0123, 123.0 or 123,0 for 123,
        3.000 or 3'000 for 3000), a parent that is both a code and
        a group, or a dam not listed with more than `max_offspring`
        offspring; identifiers that differ only in case, naming both lines
        (unless `case_distinct`); a ``sep=`` line that another `delimiter`
        contradicts; control characters, a byte-order mark
        past the start, a Unicode space inside an identifier, identifiers
        that differ only in Unicode normalisation; and the checks of
        `pedigree_from_columns`; options it cannot take (see
        `check_reading_options`, a negative `max_offspring`, a code of
        `groups` that is empty or '*'). The exception's `command_line` gives
        the advice as options of the ``tolmkit`` command.
    TypeError
        A frame holding identifiers that are neither strings nor numbers;
        `header`, `selfing` or `case_distinct` not a bool; `unknown` or
        `groups` neither text nor strings.
    OSError
        A file that cannot be opened.

    Examples
    --------
    >>> pedigree = read_pedigree(io.StringIO("id,sire_id,dam_id,born\\nB,A,-,2001\\nA,-,-,1998\\n"), unknown="-")
    >>> pedigree.ids.tolist(), pedigree.attributes["born"].tolist()
    (['A', 'B'], [1998, 2001])
    """
    check_reading_options(delimiter, header, columns)
    if isinstance(source, pd.DataFrame):
        rules = Rules.given(unknown, selfing, groups, max_offspring, extra=[""], case_distinct=case_distinct)
        return from_table(_frame_table(source, columns), rules)
    rules = Rules.given(unknown, selfing, groups, max_offspring, case_distinct=case_distinct)
    return from_table(_file_table(*marked_utf8_text(source, encoding, _READER_ASKS), delimiter, header, columns), rules)


def check_reading_options(delimiter: str | None, header: bool | None, columns: Sequence[str] | None) -> None:
    """Refuses the `delimiter`, `header` and `columns` of `read_pedigree` that
    it cannot take, before any file is read.

    Parameters
    ----------
    delimiter, header, columns
        As `read_pedigree` takes them.

    Raises
    ------
    PedigreeError
        A delimiter that `can_delimit` refuses; columns that are not three
        different names, or given with ``header=False``.
    TypeError
        `header` not a bool.
    """
    if header is not None:
        switch(header, "header")
    if delimiter is not None and not can_delimit(delimiter):
        raise refused(
            argument("delimiter"), f" must be one ASCII character other than a quote or a line end, got {delimiter!r}"
        )
    if columns is not None and (
        isinstance(columns, str) or len(columns) != 3 or len(set(columns)) != 3 or not all(map(str, columns))
    ):
        raise refused(argument("columns"), f" must name three different columns: animal, sire and dam; got {columns!r}")
    if columns is not None and header is False:
        raise refused(
            argument("columns"), " names columns of the header: pass ", option("header", True), " or leave it out"
        )


def can_delimit(delimiter: object) -> bool:
    """Whether `delimiter` can separate the columns of a pedigree file.

    Parameters
    ----------
    delimiter : object

    Returns
    -------
    bool
        True for one ASCII character other than a quote or a line end: the
        parser splits bytes, and a quote or a line end means its own.

    Examples
    --------
    >>> can_delimit(";"), can_delimit("§"), can_delimit('"')
    (True, False, False)
    """
    return isinstance(delimiter, str) and len(delimiter) == 1 and delimiter.isascii() and delimiter not in '"\r\n'


def pedigree_from_columns(
    animal: Strings,
    sire: Strings,
    dam: Strings,
    *,
    unknown: str | Iterable[str] = UNKNOWN_PARENTS,
    selfing: bool = False,
    where: Where | None = None,
    attributes: pd.DataFrame | None = None,
    sex: Strings | None = None,
    groups: Groups = None,
    max_offspring: int | None = MAX_OFFSPRING,
    case_distinct: bool = False,
) -> Pedigree:
    """Numbers animals given by identifiers parents first, checking every record.

    Parameters
    ----------
    animal, sire, dam : array_like of str
        One entry per record; numbers are taken as in `Pedigree.from_records`.
    unknown : str or iterable of str
        The code (or codes) of an unknown parent.
    selfing : bool
        Allow an animal to be both a sire and a dam.
    where : callable, optional
        Names record k in messages ("line 12"); by default line k + 1.
    attributes : pandas.DataFrame, optional
        Other columns, one row per record.
    sex : numpy.ndarray of str, optional
        Sex of each record's animal (M/F, male/female, 1/2; anything else
        unknown): sires must be male and dams female.
    groups : iterable of str, or callable, optional
        Codes of groups of unknown parents, as in `read_pedigree`.
    max_offspring : int or None
        The most offspring of a dam not listed as an animal, as in `read_pedigree`.
    case_distinct : bool
        Take identifiers that differ only in case for different animals, as
        in `read_pedigree`.

    Returns
    -------
    Pedigree
        Parents that are not listed as animals added as founders, numbered
        first; then the animals, in the order of the records where parents
        already come first there, else generation by generation.

    Raises
    ------
    PedigreeError
        Naming the record: an animal listed twice, coded as unknown or as a
        group, or its own parent or ancestor; a parent that is no animal but
        reads like a code of an unknown parent, or a dam not listed with
        more than `max_offspring` offspring; a header line met again; an
        animal used as sire and as dam without `selfing`; a sire recorded
        female or a dam recorded male; identifiers that differ only in case
        (unless `case_distinct`).

    Examples
    --------
    >>> ids = lambda *names: np.array(names, dtype=object)
    >>> pedigree_from_columns(ids("b", "a"), ids("a", "0"), ids("0", "0")).ids.tolist()
    ['a', 'b']
    """
    at = where if where is not None else (lambda k: f"line {k + 1}")
    animal, sire, dam = (
        string_array(identifiers(np.asarray(values, dtype=object), at)) for values in (animal, sire, dam)
    )
    table = Table(animal, sire, dam, at, lambda: attributes, None if sex is None else sex_text(sex))
    return from_table(table, Rules.given(unknown, selfing, groups, max_offspring, case_distinct=case_distinct))


def _columns(names: list[str], columns: Sequence[str] | None, at: str) -> tuple[list[int], int | None] | None:
    """Positions of the animal, sire and dam columns, and of a sex column,
    by their names; None when the names do not say."""
    roles = [next((role for role, pattern in ROLES.items() if pattern.fullmatch(name.strip())), None) for name in names]
    if columns is not None:
        positions = []
        for wanted in columns:
            same = [k for k, name in enumerate(names) if name.strip() == wanted]
            alike = [k for k, name in enumerate(names) if name.strip().lower() == str(wanted).lower()]
            if not same + alike:
                raise PedigreeError(
                    f"{at}: no column is named {wanted!r}; the columns are {', '.join(map(repr, names))}"
                )
            positions.append((same + alike)[0])
        sexes = [k for k, role in enumerate(roles) if role == "sex" and k not in positions]
        return positions, sexes[0] if len(sexes) == 1 else None
    for role in ROLES:
        twice = [names[k] for k, named in enumerate(roles) if named == role]
        if len(twice) > 1:
            raise refused(
                f"{at}: columns {twice[0]!r} and {twice[1]!r} both read as the {role}; pass ",
                COLUMNS,
                " to say which columns to use",
            )
    if "sire" in roles and "dam" in roles:
        sire, dam = roles.index("sire"), roles.index("dam")
        # The animal's column where no name says it: the one column left whose name says nothing else.
        others = [k for k in range(len(names)) if k not in (sire, dam) and roles[k] is None]
        if "animal" not in roles and len(others) != 1:
            which = f"; which of {', '.join(repr(names[k]) for k in others)} is it? Pass " if others else "; pass "
            raise refused(
                f"{at}: the header names the sire ({names[sire]!r}) and the dam ({names[dam]!r}) but no animal "
                f"column{which}",
                COLUMNS,
                " to say which columns to use",
            )
        positions = [roles.index("animal") if "animal" in roles else others[0], sire, dam]
    else:
        return None
    sex = roles.index("sex") if "sex" in roles and roles.index("sex") not in positions else None
    return positions, sex


def _unnamed(where: str, names: list[str]) -> PedigreeError:
    """The refusal of columns of which no name says the sire and the dam,
    more than three: which of them hold the pedigree is no guess."""
    shown = ", ".join(map(repr, names[:8])) + (", …" if len(names) > 8 else "")
    return refused(
        f"{where} names no sire and dam column that tolmkit knows among its {len(names)} ({shown}); pass ",
        COLUMNS,
        " to say which columns hold the animal, its sire and its dam",
    )


def _frame_table(frame: pd.DataFrame, columns: Sequence[str] | None) -> Table:
    names = [str(name) for name in frame.columns]
    if frame.shape[1] < 3:
        raise PedigreeError(f"the frame has {frame.shape[1]} columns; it needs animal, sire and dam")
    repeat = first_repeat(np.asarray(names, dtype=object))
    if repeat is not None:
        raise PedigreeError(f"two columns of the frame are named {names[repeat[1]]!r}; name them apart")
    # A frame's labels may be numbers: they are matched as the text of its names.
    found = _columns(names, None if columns is None else [str(name) for name in columns], "the frame")
    # Columns numbered as pandas numbers them are taken in their order.
    if found is None and len(names) > 3 and not isinstance(frame.columns, pd.RangeIndex):
        raise _unnamed("the frame", names)
    positions, sex = found if found is not None else ([0, 1, 2], None)
    for p in positions:
        dtype = frame.dtypes.iloc[p]
        if not (
            pd.api.types.is_object_dtype(dtype)
            or pd.api.types.is_string_dtype(dtype)
            or pd.api.types.is_integer_dtype(dtype)
            or pd.api.types.is_float_dtype(dtype)
        ):
            raise TypeError(f"column {names[p]!r} holds {dtype} values; identifiers are text or whole numbers")
    labels = frame.index

    def where(k: int) -> str:
        return f"row {labels[k]}"

    animal, sire, dam = (identifiers(frame.iloc[:, p].to_numpy(), where) for p in positions)
    others = [k for k in range(frame.shape[1]) if k not in positions]
    return Table(
        string_array(animal),
        string_array(sire),
        string_array(dam),
        where,
        lambda: frame.iloc[:, others].reset_index(drop=True),
        None if sex is None else sex_text(frame.iloc[:, sex].to_numpy()),
    )


class _Lines:
    """The line of each row of data, found when a message needs it."""

    def __init__(self, data: bytes, skipped: int, empty: bool) -> None:
        # Row k of a text without empty lines is on line k + 1: the text is
        # let go once parsed (0.6 GB at 10^7 lines), before the matching.
        self._data = data if empty else None
        self._skipped = skipped
        self._lines: list[int] | None = None

    def number(self, k: int) -> int:
        """The line of row k after the header."""
        return self.of_row(k + self._skipped)

    def of_row(self, row: int) -> int:
        """The line of row `row` of the parser, counting a header."""
        if self._data is None:
            return row + 1
        if self._lines is None:
            self._lines = [line for line, text in enumerate(self._data.split(_NEWLINE), start=1) if text.strip()]
        return self._lines[row]

    def __call__(self, k: int) -> str:
        return f"line {self.number(k)}"

    def of_parsed(self, row: int) -> str:
        """Where row `row` of the parser is, counting a header."""
        return f"line {self.of_row(row)}"


def _file_table(
    data: bytes, marks: TextMarks, delimiter: str | None, header: bool | None, columns: Sequence[str] | None
) -> Table:
    line, first = _first_line(data)
    said = _SEPARATOR_LINE.fullmatch(first)
    if said is not None:
        if delimiter is not None and delimiter != said.group(1):
            raise refused(
                f"line {line}: the file says its delimiter is {said.group(1)!r} (sep=), but ",
                option("delimiter", delimiter),
                " is given; leave it out",
            )
        delimiter = said.group(1)
        start = data.find(first.encode())
        data = data[:start] + data[start + len(first.encode()) :]
        line, first = _first_line(data)
    separator = delimiter if delimiter is not None else "," if "," in first else "\t" if "\t" in first else " "
    names = _split(first, separator)
    found = _columns(names, columns, f"line {line}") if header is not False else None
    has_header = found is not None if header is None else header
    named = [name for name in names if any(pattern.fullmatch(name) for pattern in ROLES.values())]
    if header is None and found is None and len(named) > 1:
        raise refused(
            f"line {line}: {named[0]!r} and {named[1]!r} read like names of columns, but no sire "
            f"and dam columns are named; pass ",
            option("header", True),
            " and ",
            COLUMNS,
            ", or ",
            option("header", False),
            " if the line is an animal's",
        )
    if has_header and found is None and len(names) > 3:
        raise _unnamed(f"line {line}: the header", names)
    positions, sex = found if has_header and found is not None else ([0, 1, 2], None)
    if len(names) < 3:
        raise _too_few(line, first, len(names), "the header names" if has_header else None, separator)
    if has_header:
        repeat = first_repeat(np.asarray(names, dtype=object))
        if repeat is not None:
            raise PedigreeError(f"line {line}: two columns are named {names[repeat[1]]!r}; name them apart")
    # The line of sep= is emptied; blank lines are empty in the text given.
    lines = _Lines(data, 1 if has_header else 0, marks.empty_line >= 0 or said is not None)
    ascii = marks.beyond_ascii < 0
    body = [
        array.slice(1) if has_header else array
        for array in _parsed(data, separator, len(names), max(positions) + 1, lines, has_header, marks)
    ]
    if len(body[0]) == 0:
        raise PedigreeError("the file holds no animals, only a header")
    if has_header:
        again = pc.index(body[positions[0]], names[positions[0]]).as_py()
        if again >= 0 and body[positions[1]][again].as_py() == names[positions[1]]:
            raise PedigreeError(f"{lines(again)}: the header line comes again; remove it")
    animal, sire, dam = (body[p] for p in positions)
    if not ascii:
        _check_unicode([animal, sire, dam], lines)
    if b"+" in marks.held:
        _check_exponents([animal, sire, dam], lines)
    guess = header is None and not has_header
    if (
        guess
        and len(animal) > 1
        and all(WORD.python.fullmatch(name) for name in names[:3])
        and not pc.any(pc.match_substring_regex(animal.slice(1), WORD.arrow)).as_py()
    ):
        raise header_advice(names, "all its fields are words, while the other records' animals are not")
    others = [k for k in range(len(names)) if k not in positions]
    return Table(
        animal,
        sire,
        dam,
        lines,
        # The typed columns are this frame's alone: kept as they are, not copied into blocks.
        (lambda: pd.DataFrame({names[k]: _typed(body[k]) for k in others}, copy=False))
        if has_header
        else no_attributes,
        None if sex is None else body[sex],
        first_line=names if guess else None,
        columns=names if has_header else (),
    )


def _typed(column: typing.Any) -> typing.Any:
    """A column of the file as integers where every value is a whole number
    written plainly (Int64 where some are empty; 0012 and -0 are codes), else
    as text."""
    # The pass stops at the first value that is no such number: at once in
    # most columns of text.
    values, empty, stray = _native.whole_numbers([short_offsets_and_bytes(chunk) for chunk in chunks(column)])
    if stray < 0 and not empty.all():
        return pd.arrays.IntegerArray(values, empty) if empty.any() else values
    # Copied whole: some of pyarrow's kernels misread the offset of a slice.
    return np.asarray(pa.concat_arrays(chunks(column)).to_numpy(zero_copy_only=False), dtype=object)


def _check_unicode(fields: list[typing.Any], lines: _Lines) -> None:
    """Refuses a Unicode space inside an identifier and identifiers that
    differ only in Unicode normalisation, which read alike and are not."""
    everything = pa.concat_arrays([chunk for field in fields for chunk in chunks(field)])
    n = len(fields[0])
    wide = pc.match_substring_regex(everything, WIDE_SPACE.pattern)
    k = pc.index(wide, True).as_py()
    if k >= 0:
        name = everything[k].as_py()
        space = WIDE_SPACE.search(name)
        assert space is not None
        raise PedigreeError(
            f"{lines(k % n)}: identifier {name!r} holds a space U+{ord(space.group()):04X} inside; "
            f"write a plain space, or none"
        )
    foreign = pc.unique(pc.filter(everything, pc.invert(pc.string_is_ascii(everything))))
    # The compatibility forms (NFKC) join full-width letters and digits,
    # ligatures and the like to the plain ones, and accents encoded two ways.
    alike = pc.utf8_normalize(foreign, form="NFKC")
    same = pd.Series(alike.to_numpy(zero_copy_only=False)).duplicated(keep=False).to_numpy()
    if np.any(same):
        first = alike[int(np.argmax(same))]
        one, other = (
            foreign[int(k)].as_py() for k in np.flatnonzero(pc.equal(alike, first).to_numpy(zero_copy_only=False))[:2]
        )
    else:
        # One of plain text (ASCII) that another's form is.
        forms = pc.filter(alike, pc.not_equal(alike, foreign))
        k = pc.index(pc.is_in(everything, value_set=forms), True).as_py() if len(forms) else -1
        if k < 0:
            return
        one = everything[k].as_py()
        other = foreign[pc.index(pc.and_(pc.equal(alike, one), pc.not_equal(foreign, one)), True).as_py()].as_py()
    (at, one), (again, other) = sorted((pc.index(everything, name).as_py() % n, name) for name in (one, other))
    how = (
        "how their accents are encoded"
        if unicodedata.normalize("NFC", one) == unicodedata.normalize("NFC", other)
        else "the forms of their characters, such as full-width or ligatures"
    )
    raise PedigreeError(
        f"{lines(at)}: identifiers {ascii(one)} and {ascii(other)} (on {lines(again)}) "
        f"differ only in {how} (Unicode normalisation); write them alike"
    )


def _check_exponents(fields: list[typing.Any], lines: _Lines) -> None:
    """Refuses identifiers such as 1.23457E+11, a spreadsheet's form of a long
    number in which animals that differ in the last digits become one."""
    for field in fields:
        k = pc.index(pc.match_substring_regex(field, _EXPONENT_ARROW), True).as_py()
        if k >= 0:
            raise PedigreeError(
                f"{lines(k)}: identifier {field[k].as_py()!r} is a number in the exponent form of "
                f"a spreadsheet, where long numbers lose their last digits; export the column "
                f"as text"
            )


def _check_cut_quotes(fields: list[typing.Any], lines: _Lines) -> None:
    """Refuses, in a file separated by blanks, where a quote holds no blank,
    a field with a quote at one end only (a quoted name that the blanks
    inside it cut into fields of the next columns), and one in quotes with
    a quote inside that is not written twice."""
    for field in fields:
        opened, closed = pc.starts_with(field, '"'), pc.ends_with(field, '"')
        k = pc.index(pc.not_equal(opened, closed), True).as_py()
        if k >= 0:
            raise PedigreeError(
                f"{lines.of_parsed(k)}: the field {field[k].as_py()!r} has a quote at one end only: in a file "
                f"whose columns are separated by blanks, a quote does not hold the blanks of a "
                f"name; separate the columns by commas or tabs, or write names without blanks"
            )
        whole = pc.match_substring_regex(field, _QUOTED_WHOLE)
        k = pc.index(pc.and_(opened, pc.invert(whole)), True).as_py()
        if k >= 0:
            raise PedigreeError(
                f"{lines.of_parsed(k)}: the field {field[k].as_py()!r} holds a quote inside its quotes; write "
                'it twice ("a""b"), or write the name without quotes'
            )


def _too_few(line: int, text: str, fields: int, what: str | None, separator: str) -> PedigreeError:
    said = f"{what} {fields} column" if what else f"expected animal, sire and dam, got {fields} column"
    return refused(f"line {line}: {said}{'s' if fields != 1 else ''}", *_other_delimiter(text, separator))


def _other_delimiter(text: str, separator: str) -> tuple[str | Option, ...]:
    """Advice on a line of too few fields: the delimiter that its text holds."""
    other = next((mark for mark in "\t;|:" if mark in text and mark != separator), None)
    if other == "\t":
        # The command writes a tab \t, which its option reads as one.
        tab = Option("delimiter='\\t'", "--delimiter='\\t'")
        return "; the line holds tabs: pass ", tab, " if they separate the columns"
    if other is not None:
        return f"; the line holds {other!r}: pass ", option("delimiter", other), " if it separates the columns"
    if separator != " " and len(text.split()) >= 3:
        return (
            "; the line holds blanks between its fields: pass ",
            option("delimiter", " "),
            " if runs of spaces or tabs separate the columns",
        )
    return ()


def _first_line(data: bytes) -> tuple[int, str]:
    """The number and text of the first line that is not blank."""
    visible = re.search(rb"[^ \t\n]", data)
    if visible is None:
        raise PedigreeError("the file holds no animals")
    return _line_from(data, data.rfind(_NEWLINE, 0, visible.start()) + 1)


def _line_from(data: bytes, start: int) -> tuple[int, str]:
    """The number and text of the line that begins at byte `start`."""
    end = data.find(_NEWLINE, start)
    return line_at(data, start), data[start : len(data) if end < 0 else end].decode()


def _parsed(
    data: bytes, separator: str, width: int, needed: int, lines: _Lines, header: bool, marks: TextMarks
) -> list[typing.Any]:
    """The `width` columns of the file (those that the `header` names, else
    those of the first line) as pyarrow string arrays, spaces around fields
    dropped; a row with fewer than `needed` fields refused, and one with
    other than `width`. `marks` are the file's, asked about `_READER_ASKS`."""
    spaces = separator == " "
    # Identifiers never span lines, and a stray quote would swallow the lines after it.
    if not spaces and marks.unclosed_quote >= 0:
        raise PedigreeError(
            f"line {line_at(data, marks.unclosed_quote)}: a quote opens and is not closed on this "
            f"line; quote whole fields, doubling a quote inside one (no field spans lines)"
        )
    blanks = b" " in marks.held or b"\t" in marks.held
    # Blanks are one space each in most files that use them: a plain separator then.
    single = (
        spaces
        and b"\t" not in marks.held
        and b"  " not in data
        and b" \n" not in data
        and b"\n " not in data
        and data[:1] != b" "
        and data[-1:] != b" "
    )
    quoted = b'"' in marks.held
    # pyarrow's parser takes a quote after a blank as text; pandas' skips the spaces first.
    after_blank = not spaces and quoted and blanks and (b' "' in data or b'\t"' in data)
    arrow = (single or not spaces) and not after_blank
    if width > _WIDE:
        # The parser makes a column for each field of the first line before it meets a shorter line.
        _check_widths(data, separator, needed, width, lines, header)
    arrays = _arrow_columns(data, separator, width, marks.longest_line) if arrow else None
    if arrays is None:
        _check_widths(data, separator, needed, width, lines, header)
        frame = _pandas_frame(data, separator, width)
        arrays = [string_array(frame.iloc[:, k].to_numpy(dtype=object)) for k in range(width)]
    if quoted and not spaces and (blanks or marks.beyond_ascii >= 0):
        arrays = [_opened_after_spaces(array, lines) for array in arrays]
    if marks.beyond_ascii >= 0:
        arrays = [pc.utf8_trim(array, characters=SPACES) for array in arrays]
    elif not spaces and blanks:
        arrays = [pc.ascii_trim_whitespace(array) for array in arrays]
    if quoted and spaces:
        _check_cut_quotes(arrays, lines)
        # Fields quoted whole, as R's write.table writes them: read as a quoted field is, else
        # "A" and A are two animals.
        arrays = [_unquoted(array, _QUOTED_WHOLE) for array in arrays]
    return arrays


def _opened_after_spaces(column: typing.Any, lines: _Lines) -> typing.Any:
    """A field that a quote opens after spaces that the parser keeps (a tab,
    a Unicode space): read as a quoted field when it is one whole, refused
    where the parser cut it at a delimiter inside the quotes."""
    begun = pc.match_substring_regex(column, f'^[{SPACES}]+"')
    if not pc.any(begun).as_py():
        return column
    pattern = f"^[{SPACES}]+{_QUOTED}[{SPACES}]*$"
    k = pc.index(pc.and_(begun, pc.invert(pc.match_substring_regex(column, pattern))), True).as_py()
    if k >= 0:
        raise PedigreeError(
            f"{lines.of_parsed(k)}: the field {column[k].as_py()!r} has a quote after a tab or a space that "
            "the parser does not skip, which opens no field; write the quote right after the delimiter"
        )
    return _unquoted(column, pattern)


def _unquoted(column: typing.Any, pattern: str) -> typing.Any:
    """The fields of `column` that match `pattern` as the text of its group,
    a doubled quote made one; the others as they are."""
    whole = pc.match_substring_regex(column, pattern)
    if not pc.any(whole).as_py():
        return column
    inner = pc.replace_substring(pc.replace_substring_regex(column, pattern, r"\1"), '""', '"')
    return pc.if_else(whole, inner, column)


@follows_threads
def _arrow_columns(data: bytes, separator: str, width: int, longest: int) -> list[typing.Any] | None:
    """The columns of a file whose rows all have `width` fields, as pyarrow
    string arrays (fields separated by spaces keep their quotes, for
    `_parsed` to read); None for a file that the parser cannot split so.
    `longest` is `TextMarks.longest_line`: the parser takes the text in
    blocks, and a line longer than its block would be a parse given up."""
    names = [str(k) for k in range(width)]
    # pyarrow's threads may hold pieces of the text after the parse returns,
    # until its pools end at exit, when letting go of a Python object aborts
    # the process (its destructor takes the interpreter's lock, which ends the
    # thread then). So the parser is given the text's memory as a buffer of no
    # Python object; it copies every field out of it.
    text = pa.foreign_buffer(np.frombuffer(data, dtype=np.uint8).ctypes.data, len(data))
    try:
        read = pa_csv.ReadOptions(
            column_names=names,
            use_threads=pa.cpu_count() > 1 and _parse_room(data),
            block_size=max(_ARROW_BLOCK, 2 * longest),
        )
        table = pa_csv.read_csv(
            pa.BufferReader(text),
            read_options=read,
            parse_options=pa_csv.ParseOptions(
                delimiter=separator,
                quote_char=separator != " " and '"',
                double_quote=True,
                newlines_in_values=False,
                ignore_empty_lines=True,
            ),
            convert_options=pa_csv.ConvertOptions(
                column_types=dict.fromkeys(names, pa.string()),
                strings_can_be_null=False,
                quoted_strings_can_be_null=False,
            ),
        )
        return [table.column(k) for k in range(width)]
    except pa.ArrowMemoryError:
        raise
    except pa.ArrowException:
        _given_up[:] = [data]
        return None


def _parse_room(data: bytes) -> bool:
    """Whether pyarrow's parser may run on several threads (True) or on one.

    Where an allocation fails, the parser aborts the process at any room
    below what it takes (arrow's PresizedDataWriter::Finish, a thread that
    its pool cannot start): on several threads some 1.2 GiB of address space
    and 70 MiB a thread (its allocator's arenas, the threads' stacks), on one
    about twice the text. So it runs on several where there is room for
    them, on one where there is room for that, and not at all below."""
    text = 3 * len(data)
    if has_room((1280 + 96 * pa.cpu_count()) * 2**20 + text):
        return True
    require_room(128 * 2**20 + text, f"parsing {len(data):,} bytes of text")
    return False


def _pandas_frame(data: bytes, separator: str, width: int) -> pd.DataFrame:
    """The first `width` columns of every row, "" for a field a row lacks."""
    spaces = separator == " "
    # csv.QUOTE_NONE for runs of blanks, where a quote holds no blank (_parsed reads the quotes), else
    # csv.QUOTE_MINIMAL.
    quoting: typing.Literal[0, 3] = 3 if spaces else 0
    try:
        return pd.read_csv(
            io.BytesIO(data),
            sep=r"\s+" if spaces else separator,
            quoting=quoting,
            skipinitialspace=not spaces,
            engine="c",
            header=None,
            usecols=range(width),
            dtype=object,
            na_filter=False,
            skip_blank_lines=True,
            encoding="utf-8",
        )
    except (pd.errors.ParserError, ValueError) as error:
        # pandas' tokenizer says so in its message alone.
        if "out of memory" in str(error):
            raise MemoryError(str(error)) from None
        raise PedigreeError(f"the file cannot be read as columns separated by {separator!r}: {error}") from None


def _split(line: str, separator: str) -> list[str]:
    """The stripped fields of one line, those quoted whole as `_parsed` reads them."""
    if separator == " ":
        return [field if (text := quoted_text(field)) is None else text for field in line.split()]
    # Spaces before a quote dropped, so that it opens its field as in `_parsed`.
    opened = re.sub(f'(^|{re.escape(separator)})[{SPACES}]+(?=")', r"\1", line)
    try:
        return [field.strip() for field in next(csv.reader([opened], delimiter=separator))]
    except csv.Error:
        return [field.strip() for field in line.split(separator)]


def quoted_text(field: str) -> str | None:
    """The text of a field quoted whole, as the writer quotes it; None for a
    field that is not.

    Examples
    --------
    >>> quoted_text('"Hof ""Linde"" #2"'), quoted_text('a"b')
    ('Hof "Linde" #2', None)
    """
    quoted = _QUOTED_FIELD.fullmatch(field)
    return None if quoted is None else quoted.group(1).replace('""', '"')


def _check_widths(data: bytes, separator: str, needed: int, width: int, lines: _Lines, header: bool) -> None:
    """Refuses a row with fewer than `needed` fields, and one with other than
    `width`: as many as the header names, or without a header, as the first
    line holds, so that no field of a record (the half of an identifier cut
    by a blank) is left out unseen. The parser takes only rows of `width`
    fields; other files come here, and each of their lines is counted."""
    start, fields = _native.first_other_width(np.frombuffer(data, dtype=np.uint8), separator, width)
    if start < 0:
        return
    line, text = _line_from(data, start)
    if header:
        advice = _other_delimiter(text, separator) if fields < width else ()
        raise refused(
            f"line {line}: {fields} fields where the header names {width}",
            *(advice or ("; every record needs a field for each column",)),
        )
    if fields < needed:
        raise _too_few(line, text, fields, None, separator)
    cut = " (a blank inside an identifier cuts it in two)" if separator == " " else ""
    raise PedigreeError(
        f"line {line}: {fields} fields where line {lines.of_row(0)} has {width}; every line needs as many "
        f"fields as the first{cut}"
    )
