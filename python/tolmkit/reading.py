"""Pedigree files, data frames and records read into a `Pedigree`.

A file is accepted only when every line and every field is accounted for:
each line is blank, a comment, the header or a record; in a record, the
animal is an identifier, and each parent an animal, a code of an unknown
parent, a code of a group of unknown parents, or a founder that the file
does not list, which must not read like any of the others. Whatever fits
none of these, or more than one, is refused naming the line and what to pass.
"""

from __future__ import annotations

import bz2
import codecs
import csv
import gzip
import io
import lzma
import os
import re
import typing
import zlib
from collections.abc import Callable, Iterable, Sequence
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass

import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.compute as pc
import pyarrow.csv as pa_csv
from numpy.typing import NDArray

from . import _native
from ._advice import Option, option, refused
from ._arguments import integer
from ._arrow import offsets_and_bytes
from .pedigree import UNKNOWN_PARENTS, Pedigree, PedigreeError, parents_first, select

__all__ = ["MAX_OFFSPRING", "pedigree_from_columns", "pedigree_from_records", "read_pedigree", "sexes"]

#: The most offspring of a dam that the file does not list as an animal:
#: more than a cow, ewe or sow ever has, far fewer than a group of unknown
#: dams in a herd book.
MAX_OFFSPRING = 200

Source = typing.Union[str, "os.PathLike[str]", typing.IO[str], pd.DataFrame]
Groups = typing.Union[Iterable[str], Callable[[str], bool], None]
Strings = NDArray[np.object_]
Where = Callable[[int], str]

_SUFFIX = r"(?:[ _.-]?(?:id|code|no|nr|number|name|reg|registration))?"
_ROLES = {role: re.compile(rf"(?:{names}){_SUFFIX}", re.IGNORECASE) for role, names in {
    "animal": "animal|id|ind|individual|calf", "sire": "sire|father|male", "dam": "dam|mother|female",
    "sex": "sex|gender"}.items()}
# How exports write a missing parent: such a parent that is not listed as an
# animal is far more likely a code than a founder.
_LOOKS_UNKNOWN = re.compile(r"|[-?*.#]+|0+(?:\.0*)?|-\d+(?:\.\d*)?|nan|null|none|nil|n/?a|unknown|missing",
                            re.IGNORECASE)
# The same, in the syntax of pyarrow's regular expressions.
_LOOKS_UNKNOWN_ARROW = r"(?i)^(?:[-?*.#]*|0+(?:\.0*)?|-\d+(?:\.\d*)?|nan|null|none|nil|n/?a|unknown|missing)$"
# A word of a header, such as sire_reg or parent1; identifiers hold digits or are names.
_WORD = re.compile(r"[^\W\d_]+(?:[ _.-]?[^\W\d_]+)*\d?")
_WORD_ARROW = r"^\pL+(?:[ _.-]?\pL+)*\d?$"
# A number as spreadsheets write it, where two animals may become one.
_NUMBER = re.compile(r"0*(\d+)(?:\.0*)?")
# The first line by which spreadsheets name the delimiter, sep=; (with empty fields after it).
_SEPARATOR_LINE = re.compile(r'(?i)sep=([^"\n])\1*[ \t]*')
# A negative number: a code of an unknown parent, or of a group by year or country.
_NEGATIVE = re.compile(r"-\d+")
_EXPONENT_ARROW = r"^[-+]?\d(?:\.\d+)?[Ee][-+]?\d+$"
# A column of whole numbers as a program writes them; 0012 and -0 are codes.
_WHOLE = re.compile(r"0|-?[1-9][0-9]{0,17}")
_MALE = ["m", "male", "1"]
_FEMALE = ["f", "female", "2"]
_NEWLINE = b"\n"
# Encodings in which a file of ASCII bytes reads as those bytes.
_ASCII_ALIKE = {"utf-8", "utf-8-sig", "ascii", "iso8859-1", "iso8859-15", "cp1252"}
# In UTF-8: the C1 controls (U+0080 to U+009F, with the next line U+0085),
# the line and paragraph separators, and a byte-order mark past the start.
_UNICODE_CONTROL = re.compile(rb"\xc2[\x80-\x9f]|\xe2\x80[\xa8\xa9]|\xef\xbb\xbf")
# Spaces trimmed around every field, whatever the file: the Unicode spaces
# and the invisible ones that editors leave.
SPACES = " \t\u00a0\u1680\u180e\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009\u200a\u200b" \
         "\u202f\u205f\u2060\u3000"
WIDE_SPACE = re.compile(f"[{SPACES[2:]}]")
# What may come before the '#' of a comment, in UTF-8: a line end or a blank.
_BEFORE_COMMENT = (_NEWLINE, *(space.encode() for space in SPACES))
# A line of blanks alone, after its line end.
_BLANK_LINE = re.compile(b"\n(?:" + b"|".join(re.escape(space.encode()) for space in SPACES) + b")+(?=\n|\\Z)")
_COMPRESSED: dict[bytes, tuple[str, Callable[[bytes], bytes] | None]] = {
    b"\x1f\x8b": ("gzip", gzip.decompress), b"BZh": ("bzip2", bz2.decompress),
    b"\xfd7zXZ\x00": ("xz", lzma.decompress), b"PK\x03\x04": ("zip", None), b"\x28\xb5\x2f\xfd": ("zstd", None)}


_COLUMNS = Option("columns=(animal, sire, dam)", "--columns=ANIMAL,SIRE,DAM")


@dataclass(frozen=True)
class _Rules:
    """What a field may be, beside an animal: the codes of an unknown parent,
    whether they were given (else an animal reading like one is refused),
    the groups, and what else the caller allows."""
    codes: frozenset[str]
    codes_given: bool
    selfing: bool
    group_codes: frozenset[str]
    group_prefixes: tuple[str, ...]
    group_test: Callable[[str], object] | None
    max_offspring: int | None
    case_distinct: bool

    def groups(self, names: typing.Any) -> NDArray[np.bool_]:
        """Which of `names` (a pyarrow string array) fit the groups."""
        if self.group_test is not None:
            test = self.group_test
            answers = np.empty(len(names), dtype=bool)
            for k, name in enumerate(names.to_pylist()):
                try:
                    answers[k] = bool(test(name))
                except Exception as error:  # the caller's own function: whatever it raises is named
                    raise PedigreeError(f"the function given as groups= fails on {name!r} "
                                        f"({type(error).__name__}: {error}); it must answer for every animal and "
                                        f"parent") from None
            return answers
        found = pc.is_in(names, value_set=pa.array(sorted(self.group_codes), pa.string()))
        for prefix in self.group_prefixes:
            found = pc.or_(found, pc.starts_with(names, pattern=prefix))
        fits: NDArray[np.bool_] = found.to_numpy(zero_copy_only=False)
        return fits

    @property
    def grouped(self) -> bool:
        """Whether groups were given."""
        return bool(self.group_codes or self.group_prefixes or self.group_test is not None)

    def described(self) -> Option:
        """The groups as the caller gave them."""
        if self.group_test is not None:
            return Option("the function given as groups=", "--groups")
        return option("groups", sorted(self.group_codes) + [f"{prefix}*" for prefix in self.group_prefixes])


def _rules(unknown: str | Iterable[str], selfing: bool, groups: Groups = None,
           max_offspring: int | None = MAX_OFFSPRING, extra: Iterable[str] = (), case_distinct: bool = False) -> _Rules:
    codes = {unknown} if isinstance(unknown, str) else set(unknown)
    strange = [code for code in codes if not isinstance(code, str)]
    if strange:
        raise TypeError(f"unknown must be a string or strings, got {strange[0]!r}")
    limit = None if max_offspring is None else integer(max_offspring)
    if max_offspring is not None and (limit is None or limit < 0):
        raise ValueError(f"max_offspring must be a non-negative integer or None, got {max_offspring!r}")
    exact: set[str] = set()
    prefixes: list[str] = []
    test = None
    if callable(groups):
        test = groups
    elif groups is not None:
        entries = [groups] if isinstance(groups, str) else list(groups)
        for entry in entries:
            if not isinstance(entry, str) or entry in ("", "*"):
                raise TypeError(f"groups must be codes (strings, a final '*' for a prefix) or a callable, "
                                f"got {entry!r}")
            if entry.endswith("*"):
                prefixes.append(entry[:-1])
            else:
                exact.add(entry)
        both = sorted(exact & codes)
        if both:
            raise ValueError(f"{both[0]!r} is given both as a code of an unknown parent and as a group")
    return _Rules(frozenset(codes | set(extra)), unknown is not UNKNOWN_PARENTS, selfing, frozenset(exact),
                  tuple(prefixes), test, None if selfing or not limit else limit,
                  bool(case_distinct))


def _no_attributes() -> pd.DataFrame | None:
    return None


@dataclass
class _Table:
    """Animal, sire and dam of each record, as pyarrow string arrays;
    `attributes` makes the other columns, typed while the identifiers are
    matched; `first_line` is set when the first record may be a header that
    the names did not show, and holds its fields."""
    animal: typing.Any
    sire: typing.Any
    dam: typing.Any
    where: Where
    attributes: Callable[[], pd.DataFrame | None] = _no_attributes
    sex: typing.Any = None
    first_line: list[str] | None = None


def _arrow(values: Strings) -> typing.Any:
    return pa.array(values, type=pa.string(), from_pandas=False)


def read_pedigree(source: Source, *, delimiter: str | None = None, header: bool | None = None,
                  columns: Sequence[str] | None = None, unknown: str | Iterable[str] = UNKNOWN_PARENTS,
                  encoding: str = "utf-8-sig", selfing: bool = False, groups: Groups = None,
                  max_offspring: int | None = MAX_OFFSPRING, case_distinct: bool = False) -> Pedigree:
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
        animal's number written otherwise, a parent that is both a code and
        a group, or a dam not listed with more than `max_offspring`
        offspring; identifiers that differ only in case, naming both lines
        (unless `case_distinct`); a ``sep=`` line that another `delimiter`
        contradicts; control characters, a byte-order mark
        past the start, a Unicode space inside an identifier, identifiers
        that differ only in Unicode normalisation; and the checks of
        `pedigree_from_columns`. The exception's `command_line` gives the
        advice as options of the ``tolmkit`` command.
    TypeError
        A frame holding identifiers that are neither strings nor numbers.

    Examples
    --------
    >>> pedigree = read_pedigree(io.StringIO("id,sire_id,dam_id,born\\nB,A,-,2001\\nA,-,-,1998\\n"), unknown="-")
    >>> pedigree.ids.tolist(), pedigree.attributes["born"].tolist()
    (['A', 'B'], [1998, 2001])
    """
    if delimiter is not None and (not isinstance(delimiter, str) or len(delimiter) != 1 or delimiter in "\"\r\n"):
        raise ValueError(f"delimiter must be one character other than a quote or a line end, got {delimiter!r}")
    if columns is not None and (isinstance(columns, str) or len(columns) != 3 or len(set(columns)) != 3):
        raise ValueError(f"columns must name three different columns: animal, sire and dam; got {columns!r}")
    if columns is not None and header is False:
        raise ValueError("columns= names columns of the header: pass header=True or leave it out")
    if isinstance(source, pd.DataFrame):
        rules = _rules(unknown, selfing, groups, max_offspring, extra=[""], case_distinct=case_distinct)
        return _numbered(_frame_table(source, columns), rules)
    rules = _rules(unknown, selfing, groups, max_offspring, case_distinct=case_distinct)
    return _numbered(_file_table(utf8_text(source, encoding), delimiter, header, columns), rules)


def pedigree_from_records(records: Iterable[Sequence[object]], *, unknown: str | Iterable[str] = UNKNOWN_PARENTS,
                          selfing: bool = False, lines: Sequence[int] | None = None,
                          case_distinct: bool = False) -> Pedigree:
    """A pedigree from (animal, sire, dam) records; see `Pedigree.from_records`.

    Parameters
    ----------
    records : iterable of sequences
    unknown : str or iterable of str
    selfing : bool
    lines : sequence of int, optional
    case_distinct : bool

    Returns
    -------
    Pedigree

    Raises
    ------
    PedigreeError
        A record that cannot be used.
    TypeError
        An identifier that is neither a string nor a number.

    Examples
    --------
    >>> pedigree_from_records([("b", "a", None)]).ids.tolist()
    ['a', 'b']
    """
    rows = list(records)
    line_of = list(range(1, len(rows) + 1)) if lines is None else list(lines)
    if len(line_of) != len(rows):
        raise ValueError(f"lines has {len(line_of)} entries for {len(rows)} records")

    def where(k: int) -> str:
        return f"line {line_of[k]}"

    fields = []
    for role in range(3):
        try:
            column = np.fromiter((row[role] for row in rows), dtype=object, count=len(rows))
        except IndexError:
            k = next(k for k, row in enumerate(rows) if len(row) <= role)
            raise PedigreeError(f"{where(k)}: expected animal, sire and dam, got {len(rows[k])} fields") from None
        fields.append(_identifiers(column, where))
    animal, sire, dam = map(_arrow, fields)
    rules = _rules(unknown, selfing, extra=[""], case_distinct=case_distinct)
    return _numbered(_Table(animal, sire, dam, where), rules)


def pedigree_from_columns(animal: Strings, sire: Strings, dam: Strings, *,
                          unknown: str | Iterable[str] = UNKNOWN_PARENTS, selfing: bool = False,
                          where: Where | None = None, attributes: pd.DataFrame | None = None,
                          sex: Strings | None = None, groups: Groups = None,
                          max_offspring: int | None = MAX_OFFSPRING, case_distinct: bool = False) -> Pedigree:
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
    animal, sire, dam = (_arrow(_identifiers(np.asarray(values, dtype=object), at)) for values in (animal, sire, dam))
    table = _Table(animal, sire, dam, at, lambda: attributes,
                   None if sex is None else _arrow(np.asarray(sex, dtype=object)))
    return _numbered(table, _rules(unknown, selfing, groups, max_offspring, case_distinct=case_distinct))


def _numbered(table: _Table, rules: _Rules) -> Pedigree:
    at = table.where
    n = len(table.animal)
    if n == 0:
        raise PedigreeError("there are no animals to read")
    listed = sorted(rules.codes | rules.group_codes)
    everything = pa.concat_arrays(_chunks(table.animal) + _chunks(table.sire) + _chunks(table.dam) +
                                  [pa.array(listed, pa.string())])
    offsets, data = offsets_and_bytes(everything)
    # The matching is native and lets go of the interpreter's lock: the other
    # columns are typed and the sexes read meanwhile, on the other core.
    with ThreadPoolExecutor(max_workers=1) as pool:
        matching = pool.submit(_matched, offsets, data, n)
        attributes = table.attributes()
        recorded = None if table.sex is None else _sex_codes(table.sex)
        found, outside_number, first = matching.result()
    _check_animals(table.animal, found[:n], dict(zip(listed, found[3 * n:])), rules, at,
                   _may_look_unknown(offsets, data, n))
    numbers = [found[n:2 * n], found[2 * n:3 * n]]
    # The parents that are no animals, record by record and sire before dam,
    # and the number of their names, in the order they first appear.
    entry = np.concatenate([2 * np.flatnonzero(numbers[0] < 0), 2 * np.flatnonzero(numbers[1] < 0) + 1])
    entry.sort()
    rows, role = entry // 2, entry % 2
    name_number = outside_number[n + role * n + rows]
    outside_text = pc.take(everything, first)
    outside = np.asarray(outside_text.to_numpy(zero_copy_only=False), dtype=object)
    if table.first_line is not None and n > 1:
        _check_first_line(table.first_line, numbers, name_number, entry, rules)
    coded = pd.Series(outside, dtype=object).isin(rules.codes).to_numpy()
    fits = rules.groups(outside_text) if rules.grouped else np.zeros(len(outside), dtype=bool)
    if np.any(coded & fits):
        both = int(np.argmax(coded & fits))
        row, parent = _first_use(both, name_number, entry)
        raise refused(f"{at(row)}: the {parent} of {table.animal[row].as_py()!r}, {outside[both]!r}, is both a code "
                      f"of an unknown parent and a group by ", rules.described(), "; give codes and groups apart")
    grouped = ~coded & fits
    added = np.flatnonzero(~coded & ~grouped)
    _check_added(outside, added, name_number, entry, table)
    _check_offspring(outside, added, name_number, entry, table, rules)
    founders = len(added)
    renumber = np.full(len(outside), -1, dtype=np.int64)
    renumber[added] = np.arange(founders)
    group_of = np.full(len(outside), -1, dtype=np.int64)
    group_of[grouped] = np.arange(np.count_nonzero(grouped))
    parents, groups = [], []
    for which, number in enumerate(numbers):
        # A parent found nowhere is −1 already; the founders come first.
        if founders:
            number = np.concatenate([np.full(founders, -1, dtype=np.int64),
                                     np.where(number >= 0, number + founders, -1)])
        number[founders + rows[role == which]] = renumber[name_number[role == which]]
        parents.append(number)
        if np.any(grouped):
            group = np.full(n + founders, -1, dtype=np.int64)
            group[founders + rows[role == which]] = group_of[name_number[role == which]]
            groups.append(group)
    sire, dam = parents
    ids = pa.concat_arrays([pa.array(outside[added], pa.string())] + _chunks(table.animal))
    if not rules.case_distinct:
        _check_case(ids, added, name_number, entry, table, rules, bool(data.max(initial=0) < 0x80))
    _check_parents(_Names(ids), sire, dam, founders, rules.selfing, table.sex, recorded, at)
    total = len(ids)
    order = np.arange(total)
    if np.any(sire >= order) or np.any(dam >= order):
        order, generation = parents_first(sire, dam)
        if len(order) < total:
            raise _loop(_Names(ids), sire, dam, generation, founders, at)
    full = None if attributes is None or attributes.shape[1] == 0 else _with_founders(attributes, founders)
    group_ids, sire_group, dam_group = (outside[grouped], groups[0], groups[1]) if groups else (None, None, None)
    return select(ids, sire, dam, order, attributes=full, added=np.arange(total) < founders, group_ids=group_ids,
                  sire_group=sire_group, dam_group=dam_group)[0]


class _Names:
    """The identifiers of pyarrow text by number, as messages name animals."""

    def __init__(self, text: pa.Array) -> None:
        self._text = text

    def __len__(self) -> int:
        return len(self._text)

    def __getitem__(self, k: int | np.integer[typing.Any]) -> str:
        name: str = self._text[int(k)].as_py()
        return name


def _chunks(column: typing.Any) -> list[typing.Any]:
    return list(column.chunks) if isinstance(column, pa.ChunkedArray) else [column]


def sexes(pedigree: Pedigree) -> NDArray[np.int8]:
    """The sex of every animal: 1 male, 2 female, 0 unknown.

    As the reader reads a sex column (sex or gender, in any case and with
    suffixes such as "_code"; M/F, male/female or 1/2, in any case), where
    the pedigree's attributes hold one and it gives the animal's; else male
    for a sire and female for a dam (unknown for one that is both).

    Parameters
    ----------
    pedigree : Pedigree

    Returns
    -------
    numpy.ndarray of int8
        In the order of `pedigree.ids`.

    Examples
    --------
    >>> sexes(Pedigree.from_records([("calf", "bull", "cow")])).tolist()
    [1, 2, 0]
    """
    n = len(pedigree)
    sire = np.zeros(n, dtype=bool)
    sire[pedigree.sire[pedigree.sire >= 0]] = True
    dam = np.zeros(n, dtype=bool)
    dam[pedigree.dam[pedigree.dam >= 0]] = True
    sex = np.where(sire & ~dam, 1, np.where(dam & ~sire, 2, 0)).astype(np.int8)
    attributes = pedigree.attributes
    column = next((name for name in attributes.columns if _ROLES["sex"].fullmatch(str(name).strip())), None)
    if column is not None:
        given = attributes[column].astype(object).where(attributes[column].notna(), "")
        recorded = _sex_codes(_arrow(given.astype(str).to_numpy(dtype=object)))
        sex = np.where(recorded > 0, recorded, sex)
    return sex


def _sex_codes(sex: typing.Any) -> NDArray[np.int8]:
    """1 for each male, 2 for each female, 0 for the rest of a pyarrow array
    of sexes as written (M/F, male/female, 1/2, in any case)."""
    # The spellings are few: each is read once, and looked up by its index.
    encoded = pc.dictionary_encode(pa.concat_arrays(_chunks(sex)))
    spelled = pc.utf8_lower(pc.utf8_trim(encoded.dictionary, characters=SPACES))
    code_of = np.zeros(len(spelled) + 1, dtype=np.int8)  # the last for a missing sex
    for code, words in ((1, _MALE), (2, _FEMALE)):
        code_of[:-1][pc.is_in(spelled, value_set=pa.array(words)).to_numpy(zero_copy_only=False)] = code
    codes: NDArray[np.int8] = code_of[pc.fill_null(encoded.indices, len(spelled)).to_numpy()]
    return codes


def _matched(offsets: NDArray[np.int64], data: NDArray[np.uint8],
             n: int) -> tuple[NDArray[np.int64], NDArray[np.int64], NDArray[np.int64]]:
    """For animals, sires, dams and then codes in one string array: where each
    first appears among the n animals (−1 nowhere); for the parents that no
    animal names, the number of their name in the order that the records
    name them (sire before dam), and the string that first names each."""
    count = len(offsets) - 1
    found, outside, first = (np.empty(count, dtype=np.int64) for _ in range(3))
    names = _native.match_identifiers(offsets, data, n, found, outside, first)
    return found, outside, first[:names]


def _may_look_unknown(offsets: NDArray[np.int64], data: NDArray[np.uint8], n: int) -> NDArray[np.bool_]:
    """The animals whose first byte is one that a code of an unknown parent
    begins with, so that the pattern is tried on those alone."""
    initial = data[np.minimum(offsets[:n], len(data) - 1)]
    suspect: NDArray[np.bool_] = (offsets[1:n + 1] == offsets[:n]) | np.isin(initial, np.frombuffer(b"-?*.#0nNuUmM",
                                                                                                   np.uint8))
    return suspect


def _with_founders(attributes: pd.DataFrame, founders: int) -> pd.DataFrame:
    """The attributes with missing values in front for the parents added as
    founders; integer columns become nullable to hold them."""
    if not founders:
        return attributes
    frame = attributes.reset_index(drop=True)
    frame = frame.astype({name: "Int64" for name, dtype in frame.dtypes.items() if dtype == np.int64})
    return frame.reindex(np.arange(-founders, len(frame)))


def _check_animals(animal: typing.Any, found: NDArray[np.int64], codes: dict[str, int], rules: _Rules,
                   at: Where, suspect: NDArray[np.bool_]) -> None:
    """Refuses an animal listed again, without identifier or with the code of
    an unknown parent or a group; `found` holds the first record of each
    animal, `codes` that of each code, −1 for none, `suspect` the animals
    that may read like a code."""
    # Before the repeats: two records without an identifier are not one animal listed twice.
    empty = pc.index(animal, "").as_py()
    if empty >= 0:
        raise PedigreeError(f"{at(empty)}: the animal has no identifier")
    repeated = found != np.arange(len(found))
    if np.any(repeated):
        k = int(np.argmax(repeated))
        raise PedigreeError(f"{at(k)}: animal {animal[k].as_py()!r} is listed again (first on {at(int(found[k]))})")
    coded = [(int(k), code) for code, k in codes.items() if k >= 0 and code not in rules.group_codes]
    if coded:
        k, code = min(coded)
        raise PedigreeError(f"{at(k)}: animal {code!r} has the code of an unknown parent")
    if rules.grouped:
        fits = rules.groups(animal)
        if np.any(fits):
            k = int(np.argmax(fits))
            raise refused(f"{at(k)}: animal {animal[k].as_py()!r} has the code of a group (", rules.described(),
                          "), which stands for unknown parents; give the groups codes that no animal has")
    if not rules.codes_given and np.any(suspect):
        rows = np.flatnonzero(suspect)
        looks = pc.match_substring_regex(pc.take(animal, rows), _LOOKS_UNKNOWN_ARROW).to_numpy(zero_copy_only=False)
        if np.any(looks):
            k = int(rows[np.argmax(looks)])
            raise refused(f"{at(k)}: animal {animal[k].as_py()!r} reads like a code of an unknown parent, listed "
                           f"as an animal; remove the record, or pass ", option("unknown", "0"),
                           " (the codes of your file) if it is an animal")


def _check_parents(ids: _Names, sire: NDArray[np.int64], dam: NDArray[np.int64], first: int, selfing: bool,
                   sex: typing.Any, recorded: NDArray[np.int8] | None, at: Where) -> None:
    """Refuses an animal that is its own parent, one used as sire and as dam
    unless `selfing`, and a parent of the other sex than its role: `sex` as
    written and `recorded` its codes (`_sex_codes`), by record."""
    numbers = np.arange(len(ids))
    for role, parents in (("sire", sire), ("dam", dam)):
        own = np.flatnonzero(parents == numbers)
        if len(own):
            k = int(own[0])
            raise PedigreeError(f"{at(k - first)}: animal {ids[k]!r} is its own {role}")
    if not selfing:
        selfed = np.flatnonzero((sire == dam) & (sire >= 0))
        if len(selfed):
            k = int(selfed[0])
            raise PedigreeError(f"{at(k - first)}: animal {ids[k]!r} has {ids[sire[k]]!r} as both sire and dam; "
                                f"pass selfing=True for plants and other hermaphrodites")
        is_sire = np.zeros(len(ids), dtype=bool)
        is_sire[sire[sire >= 0]] = True
        both = np.flatnonzero((dam >= 0) & is_sire[np.maximum(dam, 0)])
        if len(both):
            offspring = int(both[0])
            parent = int(dam[offspring])
            other = int(np.argmax(sire == parent))
            raise PedigreeError(f"{at(other - first)}: animal {ids[parent]!r} is the sire of {ids[other]!r} here "
                                f"and the dam of {ids[offspring]!r} on {at(offspring - first)}; correct the "
                                f"record, or pass selfing=True for plants and other hermaphrodites")
    if recorded is None:
        return
    animal_sex = np.concatenate([np.zeros(first, dtype=np.int8), recorded])
    for role, parents, wrong, word in (("sire", sire, 2, "female"), ("dam", dam, 1, "male")):
        bad = np.flatnonzero((parents >= 0) & (animal_sex[np.maximum(parents, 0)] == wrong))
        if len(bad):
            offspring = int(bad[0])
            parent = int(parents[offspring])
            raise PedigreeError(f"{at(parent - first)}: animal {ids[parent]!r} is recorded {word} "
                                f"({sex[parent - first].as_py()!r}) but is the {role} of {ids[offspring]!r} on "
                                f"{at(offspring - first)}; correct the sex or the parent")


def _loop(ids: _Names, sire: NDArray[np.int64], dam: NDArray[np.int64], generation: NDArray[np.int64],
          first: int, at: Where) -> PedigreeError:
    """The error for the first animal left out of the parents-first order:
    from it, parents left out lead into a loop."""
    path: list[int] = []
    seen: dict[int, int] = {}
    animal = int(np.argmax(generation < 0))
    while animal not in seen:
        seen[animal] = len(path)
        path.append(animal)
        animal = int(sire[animal]) if sire[animal] >= 0 and generation[sire[animal]] < 0 else int(dam[animal])
    loop = path[seen[animal]:][::-1]
    start = loop.index(min(loop))
    loop = loop[start:] + loop[:start + 1]
    names = " → ".join(repr(ids[k]) for k in loop)
    return PedigreeError(f"{at(loop[0] - first)}: animal {ids[loop[0]]!r} is its own ancestor "
                         f"({names}, each a parent of the next)")


def _identifiers(values: NDArray[typing.Any], at: Where) -> Strings:
    """Identifiers as stripped strings, "" for a missing one; a whole float is
    the integer it holds."""
    if values.dtype.kind in "iu":
        return values.astype(str).astype(object)
    if values.dtype.kind == "f":
        fractional = np.flatnonzero(~np.isnan(values) & ((values != np.round(values)) | np.isinf(values)))
        if len(fractional):
            k = int(fractional[0])
            raise PedigreeError(f"{at(k)}: identifier {values[k]!r} is not a whole number; give identifiers as text")
        _check_exact(values, at)
        found = np.full(len(values), "", dtype=object)
        known = ~np.isnan(values)
        found[known] = values[known].astype(np.int64).astype(str)
        return found
    values = values.astype(object)
    if pd.api.types.infer_dtype(values, skipna=False) == "string":
        return np.asarray(pd.Series(values, dtype=object).str.strip(), dtype=object)
    found = np.empty(len(values), dtype=object)
    found[:] = [_identifier(value, at, k) for k, value in enumerate(values)]
    return found


def _check_exact(values: NDArray[np.floating[typing.Any]], at: Where) -> None:
    """Refuses whole floats beyond those the type holds one by one (2**53 for
    float64), where neighbouring identifiers have become one number."""
    limit = 2.0 ** (np.finfo(values.dtype).nmant + 1)
    beyond = np.flatnonzero(np.abs(values) > limit)
    if len(beyond):
        k = int(beyond[0])
        raise PedigreeError(f"{at(k)}: identifier {float(values[k])!r} is beyond {limit:.0f}, where a {values.dtype} no "
                            f"longer holds every whole number (pandas makes integer columns with gaps float): read "
                            f"the column as text (dtype=str) or as pandas' Int64")


def _identifier(value: object, at: Where, k: int) -> str:
    if isinstance(value, str):
        return value.strip()
    if value is None or value is pd.NA:
        return ""
    whole = integer(value)
    if whole is not None:
        return str(whole)
    if isinstance(value, (float, np.floating)):
        if np.isnan(value):
            return ""
        if not float(value).is_integer():
            raise PedigreeError(f"{at(k)}: identifier {value!r} is not a whole number; give identifiers as text")
        _check_exact(np.array([value]), lambda _: at(k))
        return str(int(value))
    raise TypeError(f"{at(k)}: identifier {value!r} is a {type(value).__name__}; identifiers are strings or "
                    f"whole numbers")


def _header_advice(fields: list[str], why: str) -> PedigreeError:
    shown = ", ".join(map(repr, fields[:3]))
    return refused(f"line 1: ({shown}) reads like a header ({why}); pass ", option("header", True),
                    " (with ", _COLUMNS, " if the names do not say) if it is one, or ", option("header", False),
                    " if it is an animal's line")


def _check_first_line(fields: list[str], numbers: list[NDArray[np.int64]], name_number: NDArray[np.int64],
                      entry: NDArray[np.intp], rules: _Rules) -> None:
    """Refuses a first record that reads like a header whose names the reader
    does not know: its parents are listed nowhere as animals and are parents
    of no other record, and its animal is nobody's parent."""
    if numbers[0][0] >= 0 or numbers[1][0] >= 0 or fields[1] in rules.codes or fields[2] in rules.codes:
        return
    # The first record's parents are the first two names outside the animals.
    if len(entry) < 2 or entry[1] != 1 or np.count_nonzero(name_number <= 1) != 2 or name_number[1] != 1:
        return
    if np.any(numbers[0] == 0) or np.any(numbers[1] == 0):
        return
    raise _header_advice(fields, f"{fields[1]!r} and {fields[2]!r} are listed nowhere else, as animals or "
                                 f"parents, and {fields[0]!r} is nobody's parent")


def _check_added(outside: Strings, added: NDArray[np.intp], name_number: NDArray[np.int64], entry: NDArray[np.intp],
                 table: _Table) -> None:
    """Refuses a parent not listed as an animal that is a header's column name,
    reads like a code of an unknown parent, or is a listed animal's number
    written otherwise (leading zeros, a decimal point)."""
    def first(number: int) -> tuple[int, str]:
        return _first_use(number, name_number, entry)

    for number in added:
        name = outside[number]
        if not (_LOOKS_UNKNOWN.fullmatch(name) or _ROLES["sire"].fullmatch(name) or _ROLES["dam"].fullmatch(name)):
            continue
        k, role = first(number)
        animal, sire, dam = (column[k].as_py() for column in (table.animal, table.sire, table.dam))
        at = table.where(k)
        if _ROLES["sire"].fullmatch(sire) and _ROLES["dam"].fullmatch(dam):
            raise PedigreeError(f"{at}: a header line ({animal}, {sire}, {dam}) among the records; remove it")
        if _LOOKS_UNKNOWN.fullmatch(name):
            # National files code groups of unknown parents by negative numbers too.
            groups = ("; or ", option("groups", [name, "..."]), " if the negative numbers code groups of unknown "
                      "parents") if _NEGATIVE.fullmatch(name) else ()
            raise refused(f"{at}: the {role} of {animal!r}, {name!r}, is not listed as an animal and reads "
                           f"like a code of an unknown parent; pass ", option("unknown", name),
                           f" if {name!r} means an unknown parent (several codes: ",
                           option("unknown", [name, "..."]), ")", *groups)
    numeric = [int(number) for number in added if _NUMBER.fullmatch(outside[number])]
    if not numeric:
        return
    plain = {_NUMBER.fullmatch(outside[number]).group(1): number for number in numeric}  # type: ignore[union-attr]
    candidates = pc.match_substring_regex(table.animal, r"^\d+(?:\.0*)?$")
    for k in np.flatnonzero(candidates.to_numpy(zero_copy_only=False)):
        animal = table.animal[int(k)].as_py()
        match = _NUMBER.fullmatch(animal)
        number = plain.get(match.group(1)) if match is not None else None
        if number is not None and outside[number] != animal:
            row, role = first(number)
            raise PedigreeError(f"{table.where(row)}: the {role} of {table.animal[row].as_py()!r}, "
                                f"{outside[number]!r}, is not listed as an animal, but {animal!r} is "
                                f"({table.where(int(k))}): the same "
                                f"number written two ways (spreadsheets drop leading zeros and add '.0'); write "
                                f"them alike")


def _first_use(number: int, name_number: NDArray[np.int64], entry: NDArray[np.intp]) -> tuple[int, str]:
    """The first record that names the parent `number` (of those that are no
    animals), and as which parent."""
    at = int(entry[np.argmax(name_number == number)])
    return at // 2, ("sire", "dam")[at % 2]


def _check_case(ids: typing.Any, added: NDArray[np.intp], name_number: NDArray[np.int64], entry: NDArray[np.intp],
                table: _Table, rules: _Rules, ascii: bool) -> None:
    """Refuses an animal, listed or added as a founder (`ids`, the founders
    first), whose identifier differs only in case from another's, or from a
    code given for unknown parents or groups: the same animal or code typed
    two ways far more often than two. `ascii` says that every identifier is
    ASCII, whose case pyarrow changes many times faster."""
    given = sorted(code for code in rules.codes | rules.group_codes if code.lower() != code.upper())
    prefixes = [prefix for prefix in rules.group_prefixes if prefix.lower() != prefix.upper()]
    names = pa.concat_arrays([ids, pa.array(given + prefixes, pa.string())])
    ascii = ascii and all(prefix.isascii() for prefix in prefixes)
    lower = (pc.ascii_lower if ascii else pc.utf8_lower)(names)
    # Without a capital, or without a small letter, no two can differ in case alone.
    if pc.all(pc.equal(lower, names)).as_py() or \
            pc.all(pc.equal((pc.ascii_upper if ascii else pc.utf8_upper)(names), names)).as_py():
        return
    founders = len(added)

    def named(k: int) -> tuple[int, str]:
        """The record of `ids[k]`, and how a message names it there."""
        if k >= founders:
            return k - founders, f"animal {ids[k].as_py()!r}"
        row, role = _first_use(int(added[k]), name_number, entry)
        return row, f"the {role} of {table.animal[row].as_py()!r}, {ids[k].as_py()!r},"

    advice = ("; write them alike, or pass ", option("case_distinct", True), " if case tells them apart")
    n = len(ids)
    like_code = pc.index_in(lower.slice(0, n), value_set=lower.slice(n, len(given)))
    k = pc.index(pc.is_valid(like_code), True).as_py()
    if k >= 0:
        row, said = named(k)
        code = given[like_code[k].as_py()]
        kind = ("a group", "groups") if code in rules.group_codes else ("an unknown parent", "unknown")
        raise refused(f"{table.where(row)}: {said} differs only in case from {code!r}, the code of {kind[0]} (",
                      option(kind[1], [code]), ")", *advice)
    for prefix in prefixes:
        k = pc.index(pc.starts_with(lower.slice(0, founders), pattern=prefix.lower()), True).as_py()
        if k >= 0:
            row, said = named(k)
            raise refused(f"{table.where(row)}: {said} is not listed as an animal and begins as the groups "
                          f"{prefix + '*'!r} do but for case (", rules.described(), ")", *advice)
    if pc.count_distinct(lower.slice(0, n)).as_py() == n:
        return
    folded = lower.slice(0, n).to_numpy(zero_copy_only=False)
    one, other = np.flatnonzero(folded == folded[np.argmax(pd.Series(folded).duplicated().to_numpy())])[:2].tolist()
    (row, said), (again, also) = named(one), named(other)  # the founders come first in `ids`
    if one >= founders:
        raise refused(f"{table.where(row)}: {said} and {also} ({table.where(again)}) differ only in case", *advice)
    if other >= founders:
        raise refused(f"{table.where(row)}: {said} is not listed as an animal, but {ids[other].as_py()!r} is "
                      f"({table.where(again)}), and the two differ only in case", *advice)
    raise refused(f"{table.where(row)}: {said} and {also.rstrip(',')} ({table.where(again)}), are not listed as "
                  f"animals and differ only in case", *advice)


def _check_offspring(outside: Strings, added: NDArray[np.intp], name_number: NDArray[np.int64],
                     entry: NDArray[np.intp], table: _Table, rules: _Rules) -> None:
    """Refuses a dam not listed as an animal with more offspring than a dam
    has: a group of unknown dams read as one animal."""
    if rules.max_offspring is None or len(added) == 0:
        return
    offspring = np.bincount(name_number[entry % 2 == 1], minlength=len(outside))[added]
    most = int(np.argmax(offspring))
    if offspring[most] <= rules.max_offspring:
        return
    name = outside[added[most]]
    k = int(entry[np.argmax((name_number == added[most]) & (entry % 2 == 1))]) // 2
    raise refused(f"{table.where(k)}: the dam {name!r} is not listed as an animal and has {offspring[most]:,} "
                   f"offspring, more than the {rules.max_offspring:,} that a dam not listed may have (",
                   option("max_offspring", rules.max_offspring), "): if it codes a group of unknown parents, "
                   "pass ", option("groups", [name]), " (or every group's code), else raise ",
                   Option("max_offspring=", "--max-offspring="), " or lift the limit with ",
                   Option("max_offspring=None", "--max-offspring=0"))


def _columns(names: list[str], columns: Sequence[str] | None, at: str) -> tuple[list[int], int | None] | None:
    """Positions of the animal, sire and dam columns, and of a sex column,
    by their names; None when the names do not say."""
    roles = [next((role for role, pattern in _ROLES.items() if pattern.fullmatch(name.strip())), None)
             for name in names]
    if columns is not None:
        positions = []
        for wanted in columns:
            same = [k for k, name in enumerate(names) if name.strip() == wanted]
            alike = [k for k, name in enumerate(names) if name.strip().lower() == str(wanted).lower()]
            if not same + alike:
                raise PedigreeError(f"{at}: no column is named {wanted!r}; the columns are "
                                    f"{', '.join(map(repr, names))}")
            positions.append((same + alike)[0])
        sexes = [k for k, role in enumerate(roles) if role == "sex" and k not in positions]
        return positions, sexes[0] if len(sexes) == 1 else None
    for role in _ROLES:
        twice = [names[k] for k, named in enumerate(roles) if named == role]
        if len(twice) > 1:
            raise refused(f"{at}: columns {twice[0]!r} and {twice[1]!r} both read as the {role}; pass ",
                           _COLUMNS, " to say which columns to use")
    if "sire" in roles and "dam" in roles:
        sire, dam = roles.index("sire"), roles.index("dam")
        others = [k for k in range(len(names)) if k not in (sire, dam)]
        if not others:
            raise PedigreeError(f"{at}: the header names a sire and a dam column but no animal column")
        positions = [roles.index("animal") if "animal" in roles else others[0], sire, dam]
    else:
        return None
    sex = roles.index("sex") if "sex" in roles and roles.index("sex") not in positions else None
    return positions, sex


def _frame_table(frame: pd.DataFrame, columns: Sequence[str] | None) -> _Table:
    names = [str(name) for name in frame.columns]
    if frame.shape[1] < 3:
        raise PedigreeError(f"the frame has {frame.shape[1]} columns; it needs animal, sire and dam")
    found = _columns(names, columns, "the frame")
    positions, sex = found if found is not None else ([0, 1, 2], None)
    for p in positions:
        dtype = frame.dtypes.iloc[p]
        if not (pd.api.types.is_object_dtype(dtype) or pd.api.types.is_string_dtype(dtype)
                or pd.api.types.is_integer_dtype(dtype) or pd.api.types.is_float_dtype(dtype)):
            raise TypeError(f"column {names[p]!r} holds {dtype} values; identifiers are text or whole numbers")
    labels = frame.index

    def where(k: int) -> str:
        return f"row {labels[k]}"

    animal, sire, dam = (_identifiers(frame.iloc[:, p].to_numpy(), where) for p in positions)
    others = [k for k in range(frame.shape[1]) if k not in positions]
    return _Table(_arrow(animal), _arrow(sire), _arrow(dam), where,
                  lambda: frame.iloc[:, others].reset_index(drop=True),
                  None if sex is None else _arrow(frame.iloc[:, sex].astype(str).to_numpy(dtype=object)))


def utf8_text(source: str | os.PathLike[str] | typing.IO[str], encoding: str) -> bytes:
    """The text of a file as UTF-8 bytes, as every text file of tolmkit is read.

    Parameters
    ----------
    source : path or open text file
        Compressed by gzip, bzip2 or xz, or not.
    encoding : str
        The file's encoding.

    Returns
    -------
    bytes
        UTF-8 without byte-order mark, lines ending in "\\n", comments
        cut and blank lines emptied: lines keep their numbers.

    Raises
    ------
    PedigreeError
        Bytes that are not of the encoding, control characters, a
        byte-order mark past the start, naming the line and the encoding to
        pass; the message names no file, which the caller names.
    TypeError
        A source that is neither a path nor an open text file.
    """
    if isinstance(source, (str, os.PathLike)):
        with open(source, "rb") as file:
            return _decoded(_uncompressed(file.read()), encoding)
    if not hasattr(source, "read"):
        raise TypeError(f"source must be a path, an open text file or a pandas DataFrame, "
                        f"got {type(source).__name__}")
    try:
        text = source.read()
    except UnicodeDecodeError as error:
        binary = getattr(source, "buffer", None)
        line = ""
        if binary is not None and binary.seekable():
            binary.seek(0)
            raw = binary.read()
            line = f"line {_line_at(raw, _first_undecodable(raw, error.encoding))}: "
        raise refused(f"{line}bytes that are not {error.encoding} ({error.reason}); open the file with "
                       f"encoding='latin-1' or the encoding it was written in") from None
    if not isinstance(text, str):
        raise TypeError("the file is open in binary mode: open it as text, or pass its path")
    return _encoded(text.removeprefix("\ufeff"))


def _uncompressed(raw: bytes) -> bytes:
    for magic, (name, decompress) in _COMPRESSED.items():
        if raw.startswith(magic):
            if decompress is None:
                raise PedigreeError(f"the file is compressed with {name}; uncompress it first")
            try:
                return decompress(raw)
            except (OSError, EOFError, ValueError, zlib.error, lzma.LZMAError) as error:
                raise PedigreeError(f"the file is compressed with {name} but cannot be uncompressed "
                                    f"({error}); it may be cut short") from None
    return raw


def _decoded(raw: bytes, encoding: str) -> bytes:
    try:
        name = codecs.lookup(encoding).name
    except LookupError:
        raise ValueError(f"unknown encoding {encoding!r}") from None
    if raw.isascii() and name in _ASCII_ALIKE:
        return _encoded(raw)
    try:
        text = raw.decode(encoding)
    except UnicodeDecodeError as error:
        line = _line_at(raw, error.start)
        guess = "utf-16" if raw[:2] in (codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE) else "latin-1"
        raise refused(f"line {line}: bytes that are not {encoding} ({error.reason}); pass ",
                       option("encoding", guess), " or the encoding the file was written in") from None
    return _encoded(text.removeprefix("\ufeff"))


def _line_at(data: bytes, offset: int) -> int:
    """The number of the line that holds byte `offset` of the file's text."""
    return data.count(_NEWLINE, 0, offset) + 1


def _first_undecodable(raw: bytes, encoding: str) -> int:
    try:
        raw.decode(encoding)
    except UnicodeDecodeError as error:
        return error.start
    return len(raw)


def _encoded(text: str | bytes) -> bytes:
    """The text as UTF-8 with lines ending in "\\n", refusing control
    characters and a byte-order mark past the start; comments cut and blank
    lines emptied."""
    try:
        data = text.encode("utf-8") if isinstance(text, str) else text
    except UnicodeEncodeError as error:
        raise PedigreeError(f"line {error.object.count(chr(10), 0, error.start) + 1}: a character that is no "
                            f"text ({error.object[error.start]!r}); open the file with its encoding") from None
    if b"\r" in data:
        data = data.replace(b"\r\n", b"\n").replace(b"\r", b"\n")
    # The end-of-file mark of DOS files (Ctrl-Z), which ends the text as a line end would.
    data = data.removesuffix(b"\x1a")
    control = _native.first_control(np.frombuffer(data, dtype=np.uint8))
    if control >= 0:
        line = _line_at(data, control)
        character = data[control:control + 1].decode()
        raise refused(f"line {line}: control character {character!r} in the data; remove it "
                       f"(a file full of them may be UTF-16: pass ", option("encoding", "utf-16"), ")")
    ascii = data.isascii()
    if not ascii:
        unicode = _UNICODE_CONTROL.search(data)
        if unicode is not None:
            line = _line_at(data, unicode.start())
            if unicode.group() == codecs.BOM_UTF8:
                raise PedigreeError(f"line {line}: a byte-order mark inside the file, where files were pasted "
                                    f"together; remove it")
            raise refused(f"line {line}: control character {unicode.group().decode()!r} in the data; remove it "
                           f"(read as latin-1, a Windows file may need ", option("encoding", "cp1252"), ")")
    if b"#" in data:
        data = _without_comments(data)
    # A blank is looked for first: finding one byte is many times faster than two.
    indented = (b" " in data or b"\t" in data) and (b"\n " in data or b"\n\t" in data or data[:1] in (b" ", b"\t"))
    if indented or not ascii:
        # From a line end that comes first, so that the pattern has a byte to look for.
        data = _BLANK_LINE.sub(_NEWLINE, _NEWLINE + data)[1:]
    return data


def _without_comments(data: bytes) -> bytes:
    """The data with its comments cut, with the blanks before them: a '#' at
    the start of a line or after a blank, outside quotes, to the end of the
    line. Lines keep their numbers."""
    everything = np.frombuffer(data, dtype=np.uint8)
    marks = np.flatnonzero(everything == ord("#"))
    before = everything[np.maximum(marks - 1, 0)]
    # Narrowed by the byte before: a line end, a blank, or the last byte of a Unicode space.
    maybe = marks[(marks == 0) | np.isin(before, np.frombuffer(b"\n \t", np.uint8)) | (before >= 0x80)]
    kept, start = [], 0
    for mark in maybe.tolist():
        if mark < start or not (mark == 0 or data.endswith(_BEFORE_COMMENT, 0, mark)):
            continue
        line = data.rfind(_NEWLINE, 0, mark) + 1
        if data.count(b'"', line, mark) % 2:  # inside a quoted field
            continue
        kept.append(data[start:mark].rstrip(b" \t"))
        end = data.find(_NEWLINE, mark)
        start = len(data) if end < 0 else end
    kept.append(data[start:])
    return b"".join(kept)


class _Lines:
    """The line of each row of data, found when a message needs it."""

    def __init__(self, data: bytes, skipped: int) -> None:
        self._data = data
        self._skipped = skipped
        self._lines: list[int] | None = None

    def number(self, k: int) -> int:
        """The line of row k after the header."""
        return self.of_row(k + self._skipped)

    def of_row(self, row: int) -> int:
        """The line of row `row` of the parser, counting a header."""
        if self._lines is None:
            self._lines = [line for line, text in enumerate(self._data.split(_NEWLINE), start=1) if text.strip()]
        return self._lines[row]

    def __call__(self, k: int) -> str:
        return f"line {self.number(k)}"


def _file_table(data: bytes, delimiter: str | None, header: bool | None, columns: Sequence[str] | None) -> _Table:
    line, first = _first_line(data)
    said = _SEPARATOR_LINE.fullmatch(first)
    if said is not None:
        if delimiter is not None and delimiter != said.group(1):
            raise refused(f"line {line}: the file says its delimiter is {said.group(1)!r} (sep=), but ",
                          option("delimiter", delimiter), " is given; leave it out")
        delimiter = said.group(1)
        start = data.find(first.encode())
        data = data[:start] + data[start + len(first.encode()):]
        line, first = _first_line(data)
    separator = delimiter if delimiter is not None else "," if "," in first else "\t" if "\t" in first else " "
    names = _split(first, separator)
    found = _columns(names, columns, f"line {line}") if header is not False else None
    has_header = found is not None if header is None else header
    named = [name for name in names if any(pattern.fullmatch(name) for pattern in _ROLES.values())]
    if header is None and found is None and len(named) > 1:
        raise refused(f"line {line}: {named[0]!r} and {named[1]!r} read like names of columns, but no sire "
                       f"and dam columns are named; pass ", option("header", True), " and ", _COLUMNS, ", or ",
                       option("header", False), " if the line is an animal's")
    positions, sex = found if has_header and found is not None else ([0, 1, 2], None)
    if len(names) < 3:
        raise _too_few(line, first, len(names), "the header names" if has_header else None, separator)
    if has_header:
        twice = next((name for k, name in enumerate(names) if name in names[:k]), None)
        if twice is not None:
            raise PedigreeError(f"line {line}: two columns are named {twice!r}; name them apart")
    lines = _Lines(data, 1 if has_header else 0)
    ascii = data.isascii()
    body = [array.slice(1) if has_header else array
            for array in _parsed(data, separator, len(names), max(positions) + 1, lines, has_header, ascii)]
    if len(body[0]) == 0:
        raise PedigreeError("the file holds no animals, only a header")
    if has_header:
        again = pc.index(body[positions[0]], names[positions[0]]).as_py()
        if again >= 0 and body[positions[1]][again].as_py() == names[positions[1]]:
            raise PedigreeError(f"{lines(again)}: the header line comes again; remove it")
    animal, sire, dam = (body[p] for p in positions)
    if not ascii:
        _check_unicode([animal, sire, dam], lines)
    if b"+" in data:
        _check_exponents([animal, sire, dam], lines)
    if separator == " " and b'"' in data:
        _check_cut_quotes([animal, sire, dam], lines)
    guess = header is None and not has_header
    if guess and len(animal) > 1 and all(_WORD.fullmatch(name) for name in names[:3]) and \
            not pc.any(pc.match_substring_regex(animal.slice(1), _WORD_ARROW)).as_py():
        raise _header_advice(names, "all its fields are words, while the other records' animals are not")
    others = [k for k in range(len(names)) if k not in positions]
    return _Table(animal, sire, dam, lines,
                  (lambda: pd.DataFrame({names[k]: _typed(body[k]) for k in others})) if has_header else _no_attributes,
                  None if sex is None else body[sex],
                  first_line=names if guess else None)


def _typed(column: typing.Any) -> typing.Any:
    """A column of the file as integers where every value is a whole number
    written plainly (Int64 where some are empty), else as text."""
    # Copied whole: some of pyarrow's kernels misread the offset of a slice.
    column = pa.concat_arrays(_chunks(column))
    numbers = _whole_numbers(column)
    if numbers is None:
        return np.asarray(column.to_numpy(zero_copy_only=False), dtype=object)
    if numbers.null_count:
        return pd.array(numbers.to_pandas(types_mapper={pa.int64(): pd.Int64Dtype()}.get), dtype="Int64")
    return numbers.to_numpy()


def _whole_numbers(column: typing.Any) -> typing.Any:
    """The column as int64, null where empty, when each value that is not
    empty matches _WHOLE and one at least is; else None."""
    first = column[0].as_py() if len(column) else ""
    if first and not _WHOLE.fullmatch(first):  # a column of text stops here
        return None
    empty = pc.equal(column, "")
    try:
        numbers = pc.cast(pc.if_else(empty, pa.scalar(None, pa.string()), column), pa.int64())
    except pa.ArrowInvalid:  # not a number, or beyond 64 bits
        return None
    # What _WHOLE matches, without a pattern tried on each value: numbers
    # below 10^18 in size that read back as they are written (no plus sign,
    # space or leading zero).
    extremes = pc.min_max(numbers)
    least, most = extremes["min"].as_py(), extremes["max"].as_py()
    if least is None or least <= -10**18 or most >= 10**18 or \
            not pc.all(pc.equal(pc.cast(numbers, pa.string()), column)).as_py():
        return None
    return numbers


def _check_unicode(fields: list[typing.Any], lines: _Lines) -> None:
    """Refuses a Unicode space inside an identifier and identifiers that
    differ only in Unicode normalisation, which read alike and are not."""
    everything = pa.concat_arrays([chunk for field in fields for chunk in _chunks(field)])
    n = len(fields[0])
    wide = pc.match_substring_regex(everything, WIDE_SPACE.pattern)
    k = pc.index(wide, True).as_py()
    if k >= 0:
        name = everything[k].as_py()
        space = WIDE_SPACE.search(name)
        assert space is not None
        raise PedigreeError(f"{lines(k % n)}: identifier {name!r} holds a space U+{ord(space.group()):04X} inside; "
                            f"write a plain space, or none")
    foreign = pc.unique(pc.filter(everything, pc.invert(pc.string_is_ascii(everything))))
    if len(foreign) < 2:
        return
    composed = pc.utf8_normalize(foreign, form="NFC").to_numpy(zero_copy_only=False)
    same = pd.Series(composed).duplicated(keep=False).to_numpy()
    if not np.any(same):
        return
    first = composed[np.argmax(same)]
    one, other = (foreign[int(k)].as_py() for k in np.flatnonzero(composed == first)[:2])
    where = sorted(pc.index(everything, name).as_py() % n for name in (one, other))
    raise PedigreeError(f"{lines(where[0])}: identifiers {ascii(one)} and {ascii(other)} (on {lines(where[1])}) "
                        f"differ only in how their accents are encoded (Unicode normalisation); write them alike")


def _check_exponents(fields: list[typing.Any], lines: _Lines) -> None:
    """Refuses identifiers such as 1.23457E+11, a spreadsheet's form of a long
    number in which animals that differ in the last digits become one."""
    for field in fields:
        k = pc.index(pc.match_substring_regex(field, _EXPONENT_ARROW), True).as_py()
        if k >= 0:
            raise PedigreeError(f"{lines(k)}: identifier {field[k].as_py()!r} is a number in the exponent form of "
                                f"a spreadsheet, where long numbers lose their last digits; export the column "
                                f"as text")


def _check_cut_quotes(fields: list[typing.Any], lines: _Lines) -> None:
    """Refuses, in a file separated by blanks, where quotes are part of the
    fields, a field with a quote at one end only: a quoted name that the
    blanks inside it cut into fields of the next columns."""
    for field in fields:
        opened, closed = pc.starts_with(field, '"'), pc.ends_with(field, '"')
        k = pc.index(pc.not_equal(opened, closed), True).as_py()
        if k >= 0:
            raise PedigreeError(f"{lines(k)}: the field {field[k].as_py()!r} has a quote at one end only: in a file "
                                f"whose columns are separated by blanks, a quote does not hold the blanks of a "
                                f"name; separate the columns by commas or tabs, or write names without blanks")


def _too_few(line: int, text: str, fields: int, what: str | None, separator: str) -> PedigreeError:
    said = f"{what} {fields} column" if what else f"expected animal, sire and dam, got {fields} column"
    return refused(f"line {line}: {said}{'s' if fields != 1 else ''}", *_other_delimiter(text, separator))


def _other_delimiter(text: str, separator: str) -> tuple[str | Option, ...]:
    """Advice on a line of too few fields: the delimiter that its text holds."""
    other = next((mark for mark in ";|:" if mark in text and mark != separator), None)
    if other is not None:
        return f"; the line holds {other!r}: pass ", option("delimiter", other), " if it separates the columns"
    if separator != " " and len(text.split()) >= 3:
        return "; the line holds blanks between its fields: pass ", option("delimiter", " "), \
            " if runs of spaces or tabs separate the columns"
    return ()


def _first_line(data: bytes) -> tuple[int, str]:
    """The number and text of the first line that is not blank."""
    visible = re.search(rb"[^ \t\n]", data)
    if visible is None:
        raise PedigreeError("the file holds no animals")
    start = data.rfind(_NEWLINE, 0, visible.start()) + 1
    end = data.find(_NEWLINE, start)
    return _line_at(data, start), data[start:len(data) if end < 0 else end].decode()


def _parsed(data: bytes, separator: str, width: int, needed: int, lines: _Lines, exact: bool,
            ascii: bool) -> list[typing.Any]:
    """The first `width` columns of the file as pyarrow string arrays, spaces
    around fields dropped; a row with fewer than `needed` fields refused, and
    with `exact`, one with other than `width` fields."""
    spaces = separator == " "
    if not spaces and b'"' in data:
        _check_quotes(data)
    # Blanks are one space each in most files that use them: a plain separator then.
    single = spaces and b"\t" not in data and b"  " not in data and b" \n" not in data and b"\n " not in data \
        and data[:1] != b" " and data[-1:] != b" "
    arrays = _arrow_columns(data, separator, width) if single or not spaces else None
    if arrays is None:
        frame = _pandas_frame(data, separator, width)
        _check_widths(data, frame, separator, needed, lines, width if exact else None)
        arrays = [_arrow(frame.iloc[:, k].to_numpy(dtype=object)) for k in range(width)]
    if not ascii:
        arrays = [pc.utf8_trim(array, characters=SPACES) for array in arrays]
    elif not spaces and (b" " in data or b"\t" in data):
        arrays = [pc.ascii_trim_whitespace(array) for array in arrays]
    return arrays


def _arrow_columns(data: bytes, separator: str, width: int) -> list[typing.Any] | None:
    """The columns of a file whose rows all have `width` fields, as pyarrow
    string arrays (quotes are part of fields separated by spaces); None for
    a file that the parser cannot split so."""
    names = [str(k) for k in range(width)]
    try:
        table = pa_csv.read_csv(
            pa.BufferReader(data), read_options=pa_csv.ReadOptions(column_names=names),
            parse_options=pa_csv.ParseOptions(delimiter=separator, quote_char=separator != " " and '"',
                                              double_quote=True, newlines_in_values=False, ignore_empty_lines=True),
            convert_options=pa_csv.ConvertOptions(column_types=dict.fromkeys(names, pa.string()),
                                                  strings_can_be_null=False, quoted_strings_can_be_null=False))
        return [table.column(k) for k in range(width)]
    except pa.ArrowException:
        return None


def _pandas_frame(data: bytes, separator: str, width: int) -> pd.DataFrame:
    """The first `width` columns of every row, "" for a field a row lacks."""
    spaces = separator == " "
    # csv.QUOTE_NONE for runs of blanks, where quotes are part of identifiers, else csv.QUOTE_MINIMAL.
    quoting: typing.Literal[0, 3] = 3 if spaces else 0
    try:
        return pd.read_csv(io.BytesIO(data), sep=r"\s+" if spaces else separator, quoting=quoting, engine="c",
                           header=None, usecols=range(width), dtype=object, na_filter=False, skip_blank_lines=True,
                           encoding="utf-8")
    except (pd.errors.ParserError, ValueError) as error:
        raise PedigreeError(f"the file cannot be read as columns separated by {separator!r}: {error}") from None


def _split(line: str, separator: str) -> list[str]:
    """The stripped fields of one line."""
    if separator == " ":
        return line.split()
    try:
        return [field.strip() for field in next(csv.reader([line], delimiter=separator))]
    except csv.Error:
        return [field.strip() for field in line.split(separator)]


def _check_quotes(data: bytes) -> None:
    """Refuses a line with a quote that it does not close: identifiers never
    span lines, and a stray quote would swallow the lines after it."""
    quote = _native.unclosed_quote(np.frombuffer(data, dtype=np.uint8))
    if quote >= 0:
        raise PedigreeError(f"line {_line_at(data, quote)}: a quote opens and is not closed on this "
                            f"line; quote whole fields, doubling a quote inside one (no field spans lines)")


def _check_widths(data: bytes, frame: pd.DataFrame, separator: str, needed: int, lines: _Lines,
                  exact: int | None) -> None:
    """Refuses a row with fewer than `needed` fields, which the parser fills
    with "", and one with other than `exact` fields. Fields separated by
    blanks are never empty, so an empty one is missing; other files come here
    only when pyarrow refused them, and each of their lines is looked at."""
    if exact is not None:
        texts = (text for text in data.split(_NEWLINE) if text.strip())
        row = next((k for k, text in enumerate(texts) if _fields(text, separator) != exact), None)
        if row is not None:
            text = data.split(_NEWLINE)[lines.of_row(row) - 1]
            fields = _fields(text, separator)
            advice = _other_delimiter(text.decode(), separator) if fields < exact else ()
            raise refused(f"line {lines.of_row(row)}: {fields} fields where the header names {exact}",
                          *(advice or ("; every record needs a field for each column",)))
    if separator == " ":
        short = np.flatnonzero(frame.iloc[:, needed - 1].to_numpy() == "")
        row = int(short[0]) if len(short) else None
    else:
        texts = (text for text in data.split(_NEWLINE) if text.strip())
        row = next((k for k, text in enumerate(texts) if _fields(text, separator) < needed), None)
    if row is not None:
        text = data.split(_NEWLINE)[lines.of_row(row) - 1]
        raise _too_few(lines.of_row(row), text.decode(), _fields(text, separator), None, separator)


def _fields(text: bytes, separator: str) -> int:
    """The fields of a line, separators inside quotes not counted."""
    if separator == " ":
        return len(text.split())
    return sum(part.count(separator.encode()) for part in text.split(b'"')[::2]) + 1
