"""The rule of pedigree records, and the numbering of the animals that they
give, parents first.

Each record gives an animal, its sire and its dam. The animal is an
identifier, listed once; each parent is an animal, a code of an unknown
parent, a code of a group of unknown parents, or a founder that the records
do not list, which must not read like any of the others. Whatever fits none
of these, or more than one, is refused naming the record (its line or row)
and what to pass. `Pedigree.from_records` and the reader of files and data
frames both number their records here.
"""

from __future__ import annotations

import functools
import operator
import re
import string
import typing
from collections.abc import Callable, Iterable, Sequence
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass

import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.compute as pc
from numpy.typing import ArrayLike, NDArray

from . import _native
from ._advice import Option, PedigreeError, argument, option, refused
from ._arguments import integer, switch
from ._arrow import chunks, short_offsets_and_bytes, string_array, take_across
from ._patterns import LOOKS_UNKNOWN, NUMBER, ROLES, SPACES, THOUSANDS
from .threads import get_threads

__all__ = [
    "COLUMNS",
    "MAX_OFFSPRING",
    "UNKNOWN_PARENTS",
    "Numbering",
    "Rules",
    "Table",
    "header_advice",
    "identifiers",
    "no_attributes",
    "number_records",
    "parents_first",
    "records_table",
    "sex_codes",
    "sex_text",
]

#: The parent entries that mean "unknown" unless the caller gives others.
UNKNOWN_PARENTS = frozenset({"", "0", "NA", "."})

# The first bytes of no text that LOOKS_UNKNOWN matches but letters then
# zeros, which end in 0: the ASCII letters and digits but those that begin
# its zeros and words.
_PLAIN_FIRST = np.zeros(256, dtype=bool)
_PLAIN_FIRST[np.frombuffer(string.ascii_letters.encode() + string.digits.encode(), np.uint8)] = True
_PLAIN_FIRST[np.frombuffer(b"0nNuUmMbBeE", np.uint8)] = False

#: The most offspring of a dam that the file does not list as an animal:
#: more than a cow, ewe or sow ever has, far fewer than a group of unknown
#: dams in a herd book.
MAX_OFFSPRING = 200

#: The header's columns, as advice names them.
COLUMNS = Option("columns=(animal, sire, dam)", "--columns=ANIMAL,SIRE,DAM")

Groups = typing.Union[Iterable[str], Callable[[str], bool], None]
Strings = NDArray[np.object_]
Where = Callable[[int], str]
_T = typing.TypeVar("_T")

# A negative number: a code of an unknown parent, or of a group by year or country.
_NEGATIVE = re.compile(r"-\d+")
_MALE = ["m", "male", "1"]
_FEMALE = ["f", "female", "2"]


@dataclass(frozen=True)
class Rules:
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

    @classmethod
    def given(
        cls,
        unknown: str | Iterable[str],
        selfing: bool,
        groups: Groups = None,
        max_offspring: int | None = MAX_OFFSPRING,
        extra: Iterable[str] = (),
        case_distinct: bool = False,
    ) -> Rules:
        """The rules of the arguments of `read_pedigree` (and of
        `Pedigree.from_records`), checked; `extra` are codes of an unknown
        parent beside those given, such as the empty field of a frame."""
        selfing, case_distinct = switch(selfing, "selfing"), switch(case_distinct, "case_distinct")
        codes = set(unknown) if isinstance(unknown, Iterable) and not isinstance(unknown, str) else {unknown}
        strange = [code for code in codes if not isinstance(code, str)]
        if strange:
            raise TypeError(f"unknown must be a string or strings, got {strange[0]!r}")
        limit = None if max_offspring is None else integer(max_offspring)
        if max_offspring is not None and (limit is None or limit < 0):
            raise refused(argument("max_offspring"), f" must be a non-negative integer or None, got {max_offspring!r}")
        exact: set[str] = set()
        prefixes: list[str] = []
        test = None
        if callable(groups):
            test = groups
        elif groups is not None:
            entries = list(groups) if isinstance(groups, Iterable) and not isinstance(groups, str) else [groups]
            for entry in entries:
                if not isinstance(entry, str):
                    raise TypeError(
                        f"groups must be codes (strings, a final '*' for a prefix) or a callable, got {entry!r}"
                    )
                if entry in ("", "*"):
                    raise refused("a code of ", argument("groups"), f" must hold more than '*', got {entry!r}")
                if entry.endswith("*"):
                    prefixes.append(entry[:-1])
                else:
                    exact.add(entry)
            both = sorted(exact & codes)
            if both:
                raise ValueError(f"{both[0]!r} is given both as a code of an unknown parent and as a group")
        return cls(
            frozenset(codes | set(extra)),
            unknown is not UNKNOWN_PARENTS,
            selfing,
            frozenset(exact),
            tuple(prefixes),
            test,
            None if selfing or not limit else limit,
            bool(case_distinct),
        )

    def groups(self, names: typing.Any) -> NDArray[np.bool_]:
        """Which of `names` (a pyarrow string array) fit the groups."""
        if self.group_test is not None:
            test = self.group_test
            answers = np.empty(len(names), dtype=bool)
            for k, name in enumerate(names.to_pylist()):
                try:
                    answers[k] = bool(test(name))
                except Exception as error:  # the caller's own function: whatever it raises is named
                    raise PedigreeError(
                        f"the function given as groups= fails on {name!r} "
                        f"({type(error).__name__}: {error}); it must answer for every animal and "
                        f"parent"
                    ) from None
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


def no_attributes() -> pd.DataFrame | None:
    """No columns beside the animal, sire and dam."""
    return None


@dataclass
class Table:
    """Animal, sire and dam of each record, as pyarrow string arrays;
    `attributes` makes the other columns, typed while the identifiers are
    matched; `first_line` is set when the first record may be a header that
    the names did not show, and holds its fields; `columns` are the names of
    a header's columns."""

    animal: typing.Any
    sire: typing.Any
    dam: typing.Any
    where: Where
    attributes: Callable[[], pd.DataFrame | None] = no_attributes
    sex: typing.Any = None
    first_line: list[str] | None = None
    columns: Sequence[str] = ()


def records_table(records: Iterable[Sequence[object]], lines: Sequence[int] | None = None) -> Table:
    """The table of (animal, sire, dam) records given from Python.

    Parameters
    ----------
    records : iterable of sequences
        As `Pedigree.from_records` takes them.
    lines : sequence of int, optional
        The line of each record, for the messages; by default its position,
        counted from 1.

    Returns
    -------
    Table

    Raises
    ------
    PedigreeError
        A record of fewer than three fields, or an identifier that is not a
        whole number.
    TypeError
        An identifier that is neither a string nor a number.
    """
    try:
        rows = list(records)
    except TypeError:
        raise TypeError(f"records must be (animal, sire, dam) sequences, got {type(records).__name__}") from None
    if any(isinstance(row, (set, frozenset, dict)) for row in rows):
        raise TypeError("records must be (animal, sire, dam) sequences, in that order: a set or dict keeps none")
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
        fields.append(identifiers(column, where))
    animal, sire, dam = map(string_array, fields)
    return Table(animal, sire, dam, where)


@dataclass(frozen=True)
class Numbering:
    """The animals of a table of records numbered: identifiers (pyarrow
    text, the parents added as founders first, then the animals) and the
    parents' numbers (−1 unknown) by record, with `order` the animals
    parents first; the other columns, `added`, and the groups of unknown
    parents, as `Pedigree` holds them."""

    ids: pa.Array
    sire: NDArray[np.int32]
    dam: NDArray[np.int32]
    order: NDArray[np.int64]
    attributes: pd.DataFrame | None
    added: NDArray[np.bool_]
    group_ids: NDArray[np.object_] | None
    sire_group: NDArray[np.int64] | None
    dam_group: NDArray[np.int64] | None


def number_records(table: Table, rules: Rules) -> Numbering:
    """The animals of a table of records numbered parents first.

    Parameters
    ----------
    table : Table
    rules : Rules

    Returns
    -------
    Numbering

    Raises
    ------
    PedigreeError
        A record that breaks the rules (see `read_pedigree`), naming it.
    """
    at = table.where
    n = len(table.animal)
    if n == 0:
        raise PedigreeError("there are no animals to read")
    listed = sorted(rules.codes | rules.group_codes)
    # The parser's chunks as they are: joined, they would be as many fresh
    # pages as the text.
    pieces = [
        piece.cast(pa.string())
        for piece in chunks(table.animal) + chunks(table.sire) + chunks(table.dam) + [pa.array(listed, pa.string())]
    ]
    laid_out = [short_offsets_and_bytes(piece) for piece in pieces]
    # For animals, sires, dams and then codes: where each first appears among
    # the n animals (−1 nowhere); the parents that no animal names, record by
    # record and sire before dam (entry: 2 · record, + 1 for a dam), with the
    # number of their name in the order that the records first name them,
    # and the string that first names each. The matching is native and lets
    # go of the interpreter's lock: the other columns are typed and the sexes
    # read meanwhile on another thread, the matching on this one, where
    # Ctrl-C reaches it, and on as many more as the setting of threads allows
    # for the parents.
    with ThreadPoolExecutor(max_workers=1) as pool:
        typed = _meanwhile(pool, lambda: (table.attributes(), None if table.sex is None else sex_codes(table.sex)))
        found, entry, name_number, first = _native.match_identifiers(laid_out, n, get_threads())
        attributes, recorded = typed()
    _check_animals(
        table.animal, found[:n], dict(zip(listed, found[3 * n :])), rules, at, _may_look_unknown(laid_out, n)
    )
    numbers = [found[n : 2 * n], found[2 * n : 3 * n]]
    rows, role = entry // 2, entry % 2
    outside_text = take_across(pieces, first)
    outside = np.asarray(outside_text.to_numpy(zero_copy_only=False), dtype=object)
    if table.first_line is not None and n > 1:
        _check_first_line(table.first_line, numbers, name_number, entry, rules)
    coded = pd.Series(outside, dtype=object).isin(rules.codes).to_numpy()
    fits = rules.groups(outside_text) if rules.grouped else np.zeros(len(outside), dtype=bool)
    if np.any(coded & fits):
        both = int(np.argmax(coded & fits))
        row, parent = _first_use(both, name_number, entry)
        raise refused(
            f"{at(row)}: the {parent} of {table.animal[row].as_py()!r}, {outside[both]!r}, is both a code "
            f"of an unknown parent and a group by ",
            rules.described(),
            "; give codes and groups apart",
        )
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
            number = np.concatenate(
                [np.full(founders, -1, dtype=np.int32), np.where(number >= 0, number + founders, -1)]
            )
        number[founders + rows[role == which]] = renumber[name_number[role == which]]
        parents.append(number)
        if np.any(grouped):
            group = np.full(n + founders, -1, dtype=np.int64)
            group[founders + rows[role == which]] = group_of[name_number[role == which]]
            groups.append(group)
    sire, dam = parents
    founder_ids = pa.array(outside[added], pa.string())
    ids = pa.concat_arrays([founder_ids] + chunks(table.animal))
    if not rules.case_distinct:
        # The identifiers' own text: a parent that is an animal is written as the animal is.
        text = laid_out[: len(chunks(table.animal))] + [short_offsets_and_bytes(founder_ids)]
        cases = functools.reduce(
            operator.or_, (_native.letter_cases(data[offsets[0] : offsets[-1]]) for offsets, data in text)
        )
        _check_case(ids, added, name_number, entry, table, rules, cases)
    _check_parents(_Names(ids), sire, dam, founders, rules.selfing, table.sex, recorded, at)
    total = len(ids)
    order = np.arange(total)
    if np.any(sire >= order) or np.any(dam >= order):
        order, generation = parents_first(sire, dam)
        if len(order) < total:
            raise _loop(_Names(ids), sire, dam, generation, founders, at)
    full = None if attributes is None or attributes.shape[1] == 0 else _with_founders(attributes, founders)
    group_ids, sire_group, dam_group = (outside[grouped], groups[0], groups[1]) if groups else (None, None, None)
    is_founder = np.zeros(total, dtype=bool)
    is_founder[:founders] = True
    return Numbering(ids, sire, dam, order, full, is_founder, group_ids, sire_group, dam_group)


class _Names:
    """The identifiers of pyarrow text by number, as messages name animals."""

    def __init__(self, text: pa.Array) -> None:
        self._text = text

    def __len__(self) -> int:
        return len(self._text)

    def __getitem__(self, k: int | np.integer[typing.Any]) -> str:
        name: str = self._text[int(k)].as_py()
        return name


def sex_codes(sex: typing.Any) -> NDArray[np.int8]:
    """The sexes of a pyarrow string array as written, coded.

    Parameters
    ----------
    sex : pyarrow.Array or pyarrow.ChunkedArray of str
        M/F, male/female or 1/2, in any case, spaces around them left out.

    Returns
    -------
    numpy.ndarray of int8
        1 for each male, 2 for each female, 0 for the rest.

    Examples
    --------
    >>> sex_codes(pa.array([" Male", "f", "x", None])).tolist()
    [1, 2, 0, 0]
    """
    # The spellings are few: each is read once, and looked up by its index.
    encoded = pc.dictionary_encode(pa.concat_arrays(chunks(sex)))
    spelled = pc.utf8_lower(pc.utf8_trim(encoded.dictionary, characters=SPACES))
    code_of = np.zeros(len(spelled) + 1, dtype=np.int8)  # the last for a missing sex
    for code, words in ((1, _MALE), (2, _FEMALE)):
        code_of[:-1][pc.is_in(spelled, value_set=pa.array(words)).to_numpy(zero_copy_only=False)] = code
    codes: NDArray[np.int8] = code_of[pc.fill_null(encoded.indices, len(spelled)).to_numpy()]
    return codes


def sex_text(values: ArrayLike) -> typing.Any:
    """A sex column of a data frame as the text that `sex_codes` reads.

    Parameters
    ----------
    values : array_like
        Strings, integers or floats: pandas reads a column of 1 and 2 with
        a gap as floats, 1.0 and 2.0, each written here as the integer it
        holds.

    Returns
    -------
    pyarrow.StringArray
        A missing value null.

    Examples
    --------
    >>> sex_text(np.array([1.0, np.nan, 2.0])).to_pylist()
    ['1', None, '2']
    """
    column = pd.Series(np.asarray(values))
    missing = column.isna().to_numpy()
    if column.dtype.kind == "f":
        numbers = column.to_numpy()
        whole = ~missing & np.isfinite(numbers) & (numbers == np.round(numbers))
        column = column.astype(object)
        column[whole] = numbers[whole].astype(np.int64)
    text = column.astype(str).to_numpy(dtype=object)
    text[missing] = None
    return string_array(text)


def _meanwhile(pool: ThreadPoolExecutor, task: Callable[[], _T]) -> Callable[[], _T]:
    """task() started on the pool's thread, and a function that waits for its
    result; where no thread can be started (out of memory), one that runs
    it then."""
    try:
        return pool.submit(task).result
    except RuntimeError:  # "can't start new thread"
        return task


def _may_look_unknown(laid_out: list[tuple[NDArray[np.int32], NDArray[np.uint8]]], n: int) -> NDArray[np.bool_]:
    """The first n strings (the animals) whose first byte is one that a code
    of an unknown parent may begin with (any but `_PLAIN_FIRST`), or whose
    last is 0, so that the pattern is tried on those alone; `laid_out` holds
    the offsets and bytes of each piece."""
    parts = []
    for offsets, data in laid_out:
        if n <= 0:
            break
        count = min(n, len(offsets) - 1)
        starts, ends = offsets[:count], offsets[1 : count + 1]
        if len(data):
            initial, last = data[np.minimum(starts, len(data) - 1)], data[np.maximum(ends - 1, 0)]
        else:
            initial = last = np.zeros(count, dtype=np.uint8)
        parts.append((ends == starts) | ~_PLAIN_FIRST[initial] | (last == ord("0")))
        n -= count
    suspect: NDArray[np.bool_] = np.concatenate(parts) if parts else np.zeros(0, dtype=bool)
    return suspect


def _with_founders(attributes: pd.DataFrame, founders: int) -> pd.DataFrame:
    """The attributes with missing values in front for the parents added as
    founders; integer columns become nullable to hold them."""
    if not founders:
        return attributes
    frame = attributes.reset_index(drop=True)
    frame = frame.astype({name: "Int64" for name, dtype in frame.dtypes.items() if dtype == np.int64})
    return frame.reindex(np.arange(-founders, len(frame)))


def _check_animals(
    animal: typing.Any,
    found: NDArray[np.int32],
    codes: dict[str, int],
    rules: Rules,
    at: Where,
    suspect: NDArray[np.bool_],
) -> None:
    """Refuses an animal listed again, without identifier or with the code of
    an unknown parent or a group; `found` holds the first record of each
    animal, `codes` that of each code, −1 for none, `suspect` the animals
    that may read like a code."""
    # Before the repeats: two records without an identifier are not one animal listed twice.
    empty = pc.index(animal, "").as_py()
    if empty >= 0:
        raise PedigreeError(f"{at(empty)}: the animal has no identifier")
    repeated = found != np.arange(len(found), dtype=found.dtype)
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
            raise refused(
                f"{at(k)}: animal {animal[k].as_py()!r} has the code of a group (",
                rules.described(),
                "), which stands for unknown parents; give the groups codes that no animal has",
            )
    if not rules.codes_given and np.any(suspect):
        rows = np.flatnonzero(suspect)
        looks = pc.match_substring_regex(pc.take(animal, rows), LOOKS_UNKNOWN.arrow).to_numpy(zero_copy_only=False)
        if np.any(looks):
            k = int(rows[np.argmax(looks)])
            raise refused(
                f"{at(k)}: animal {animal[k].as_py()!r} reads like a code of an unknown parent, listed "
                f"as an animal; remove the record, or pass ",
                option("unknown", "0"),
                " (the codes of your file) if it is an animal",
            )


def _check_parents(
    ids: _Names,
    sire: NDArray[np.int32],
    dam: NDArray[np.int32],
    first: int,
    selfing: bool,
    sex: typing.Any,
    recorded: NDArray[np.int8] | None,
    at: Where,
) -> None:
    """Refuses an animal that is its own parent, one used as sire and as dam
    unless `selfing`, and a parent of the other sex than its role: `sex` as
    written and `recorded` its codes (`sex_codes`), by record."""
    animal_sex = None if recorded is None else np.concatenate([np.zeros(first, dtype=np.int8), recorded])
    fault, k = _native.parent_fault(
        sire.astype(np.int32, copy=False), dam.astype(np.int32, copy=False), animal_sex, selfing
    )
    if fault in ("own_sire", "own_dam"):
        raise PedigreeError(f"{at(k - first)}: animal {ids[k]!r} is its own {fault[4:]}")
    if fault == "selfed":
        raise refused(
            f"{at(k - first)}: animal {ids[k]!r} has {ids[sire[k]]!r} as both sire and dam; pass ",
            option("selfing", True),
            " for plants and other hermaphrodites",
        )
    if fault == "sire_and_dam":
        parent = int(dam[k])
        other = int(np.argmax(sire == parent))
        raise refused(
            f"{at(other - first)}: animal {ids[parent]!r} is the sire of {ids[other]!r} here "
            f"and the dam of {ids[k]!r} on {at(k - first)}; correct the record, or pass ",
            option("selfing", True),
            " for plants and other hermaphrodites",
        )
    if fault in ("female_sire", "male_dam"):
        role, parent = ("sire", int(sire[k])) if fault == "female_sire" else ("dam", int(dam[k]))
        raise PedigreeError(
            f"{at(parent - first)}: animal {ids[parent]!r} is recorded {fault.split('_')[0]} "
            f"({sex[parent - first].as_py()!r}) but is the {role} of {ids[k]!r} on "
            f"{at(k - first)}; correct the sex or the parent"
        )


def _loop(
    ids: _Names, sire: NDArray[np.int32], dam: NDArray[np.int32], generation: NDArray[np.int64], first: int, at: Where
) -> PedigreeError:
    """The error for the first animal left out of the parents-first order:
    from it, parents left out lead into a loop."""
    path: list[int] = []
    seen: dict[int, int] = {}
    animal = int(np.argmax(generation < 0))
    while animal not in seen:
        seen[animal] = len(path)
        path.append(animal)
        animal = int(sire[animal]) if sire[animal] >= 0 and generation[sire[animal]] < 0 else int(dam[animal])
    loop = path[seen[animal] :][::-1]
    start = loop.index(min(loop))
    loop = loop[start:] + loop[: start + 1]
    names = " → ".join(repr(ids[k]) for k in loop)
    return PedigreeError(
        f"{at(loop[0] - first)}: animal {ids[loop[0]]!r} is its own ancestor ({names}, each a parent of the next)"
    )


def identifiers(values: NDArray[typing.Any], at: Where) -> Strings:
    """Identifiers as stripped strings, "" for a missing one; a whole float is
    the integer it holds.

    Parameters
    ----------
    values : numpy.ndarray
        A column of records given from Python or of a data frame: strings,
        integers, whole floats, None, NaN or pd.NA.
    at : callable
        Names record k in messages.

    Returns
    -------
    numpy.ndarray of object

    Raises
    ------
    PedigreeError
        A float that is not whole, or beyond those that its type holds one
        by one.
    TypeError
        A value that is neither a string nor a number.

    Examples
    --------
    >>> identifiers(np.array([101.0, np.nan]), lambda k: f"row {k}").tolist()
    ['101', '']
    """
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
        raise PedigreeError(
            f"{at(k)}: identifier {float(values[k])!r} is beyond {limit:.0f}, where a {values.dtype} no "
            f"longer holds every whole number (pandas makes integer columns with gaps float): read "
            f"the column as text (dtype=str) or as pandas' Int64"
        )


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
    raise TypeError(
        f"{at(k)}: identifier {value!r} is a {type(value).__name__}; identifiers are strings or whole numbers"
    )


def _number_readings(name: str) -> list[str]:
    """The numbers that `name` may be written for, without leading zeros: as
    a number with decimals of zeros, and as one of thousands in groups."""
    readings = []
    plain = NUMBER.python.fullmatch(name)
    if plain is not None:
        readings.append(plain.group(1))
    if THOUSANDS.fullmatch(name):
        readings.append(re.sub(r"\D", "", name).lstrip("0") or "0")
    return readings


def header_advice(fields: list[str], why: str) -> PedigreeError:
    """The refusal of a first line whose `fields` read like a header, for
    the reason `why`, that was not said to be one."""
    shown = ", ".join(map(repr, fields[:3]))
    return refused(
        f"line 1: ({shown}) reads like a header ({why}); pass ",
        option("header", True),
        " (with ",
        COLUMNS,
        " if the names do not say) if it is one, or ",
        option("header", False),
        " if it is an animal's line",
    )


def _check_first_line(
    fields: list[str],
    numbers: list[NDArray[np.int32]],
    name_number: NDArray[np.int32],
    entry: NDArray[np.intp],
    rules: Rules,
) -> None:
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
    raise header_advice(
        fields,
        f"{fields[1]!r} and {fields[2]!r} are listed nowhere else, as animals or "
        f"parents, and {fields[0]!r} is nobody's parent",
    )


def _check_added(
    outside: Strings, added: NDArray[np.intp], name_number: NDArray[np.int32], entry: NDArray[np.intp], table: Table
) -> None:
    """Refuses a parent not listed as an animal that is a header's column name,
    reads like a code of an unknown parent, or is a listed animal's number
    written otherwise (leading zeros, a decimal point)."""

    def first(number: int) -> tuple[int, str]:
        return _first_use(number, name_number, entry)

    columns = {name.casefold() for name in table.columns}

    def column_like(name: str) -> bool:
        return bool(ROLES["sire"].fullmatch(name) or ROLES["dam"].fullmatch(name)) or name.casefold() in columns

    for number in added:
        name = outside[number]
        if not (LOOKS_UNKNOWN.python.fullmatch(name) or column_like(name)):
            continue
        k, role = first(number)
        animal, sire, dam = (column[k].as_py() for column in (table.animal, table.sire, table.dam))
        at = table.where(k)
        if column_like(sire) and column_like(dam):
            raise PedigreeError(f"{at}: a header line ({animal}, {sire}, {dam}) among the records; remove it")
        if not LOOKS_UNKNOWN.python.fullmatch(name):
            raise refused(
                f"{at}: the {role} of {animal!r}, {name!r}, is not listed as an animal and reads like the "
                "name of a column (a header cut or pasted in?); list it as an animal if it is one, or pass ",
                option("unknown", name),
                " if it means an unknown parent",
            )
        # National files code groups of unknown parents by negative numbers too.
        groups = (
            ("; or ", option("groups", [name, "..."]), " if the negative numbers code groups of unknown parents")
            if _NEGATIVE.fullmatch(name)
            else ()
        )
        raise refused(
            f"{at}: the {role} of {animal!r}, {name!r}, is not listed as an animal and reads "
            f"like a code of an unknown parent; pass ",
            option("unknown", name),
            f" if {name!r} means an unknown parent (several codes: ",
            option("unknown", [name, "..."]),
            ")",
            *groups,
        )
    numeric = [(int(number), key) for number in added for key in _number_readings(outside[number])]
    if not numeric:
        return
    advice = (
        "the same number written two ways (spreadsheets drop leading zeros, add '.0' or ',0' and group the "
        "thousands); write them alike"
    )
    plain: dict[str, int] = {}
    for number, key in numeric:
        other = plain.setdefault(key, number)
        if other != number:
            ((row, role), one), ((again, role_again), two) = sorted((first(k), k) for k in (other, number))
            raise PedigreeError(
                f"{table.where(row)}: the {role} of {table.animal[row].as_py()!r}, {outside[one]!r}, and the "
                f"{role_again} of {table.animal[again].as_py()!r}, {outside[two]!r} ({table.where(again)}), "
                f"are not listed as animals: {advice}"
            )
    candidates = pc.match_substring_regex(table.animal, NUMBER.arrow)
    for k in np.flatnonzero(candidates.to_numpy(zero_copy_only=False)):
        animal = table.animal[int(k)].as_py()
        match = NUMBER.python.fullmatch(animal)
        number = plain.get(match.group(1)) if match is not None else None
        if number is not None and outside[number] != animal:
            row, role = first(number)
            raise PedigreeError(
                f"{table.where(row)}: the {role} of {table.animal[row].as_py()!r}, "
                f"{outside[number]!r}, is not listed as an animal, but {animal!r} is "
                f"({table.where(int(k))}): {advice}"
            )


def _first_use(number: int, name_number: NDArray[np.int32], entry: NDArray[np.intp]) -> tuple[int, str]:
    """The first record that names the parent `number` (of those that are no
    animals), and as which parent."""
    at = int(entry[np.argmax(name_number == number)])
    return at // 2, ("sire", "dam")[at % 2]


def _check_case(
    ids: typing.Any,
    added: NDArray[np.intp],
    name_number: NDArray[np.int32],
    entry: NDArray[np.intp],
    table: Table,
    rules: Rules,
    cases: int,
) -> None:
    """Refuses an animal, listed or added as a founder (`ids`, the founders
    first), whose identifier differs only in case from another's, or from a
    code given for unknown parents or groups: the same animal or code typed
    two ways far more often than two. `cases` is `_native.letter_cases` of
    the identifiers' text."""
    given = sorted(code for code in rules.codes | rules.group_codes if code.lower() != code.upper())
    prefixes = [prefix for prefix in rules.group_prefixes if prefix.lower() != prefix.upper()]
    extra = "".join(given + prefixes)
    ascii = not cases & _native.BEYOND_ASCII and extra.isascii()
    # Without a capital, or without a small letter, no two can differ in case
    # alone: told from the bytes where all are ASCII.
    small = cases & _native.SMALL_LETTER or extra != extra.upper()
    capital = cases & _native.CAPITAL_LETTER or extra != extra.lower()
    if ascii and not (small and capital):
        return
    names = pa.concat_arrays([ids, pa.array(given + prefixes, pa.string())])
    lower = (pc.ascii_lower if ascii else pc.utf8_lower)(names)
    if (
        pc.all(pc.equal(lower, names)).as_py()
        or pc.all(pc.equal((pc.ascii_upper if ascii else pc.utf8_upper)(names), names)).as_py()
    ):
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
        raise refused(
            f"{table.where(row)}: {said} differs only in case from {code!r}, the code of {kind[0]} (",
            option(kind[1], [code]),
            ")",
            *advice,
        )
    for prefix in prefixes:
        k = pc.index(pc.starts_with(lower.slice(0, founders), pattern=prefix.lower()), True).as_py()
        if k >= 0:
            row, said = named(k)
            raise refused(
                f"{table.where(row)}: {said} is not listed as an animal and begins as the groups "
                f"{prefix + '*'!r} do but for case (",
                rules.described(),
                ")",
                *advice,
            )
    if pc.count_distinct(lower.slice(0, n)).as_py() == n:
        return
    folded = lower.slice(0, n).to_numpy(zero_copy_only=False)
    one, other = np.flatnonzero(folded == folded[np.argmax(pd.Series(folded).duplicated().to_numpy())])[:2].tolist()
    (row, said), (again, also) = named(one), named(other)  # the founders come first in `ids`
    if one >= founders:
        raise refused(f"{table.where(row)}: {said} and {also} ({table.where(again)}) differ only in case", *advice)
    if other >= founders:
        raise refused(
            f"{table.where(row)}: {said} is not listed as an animal, but {ids[other].as_py()!r} is "
            f"({table.where(again)}), and the two differ only in case",
            *advice,
        )
    raise refused(
        f"{table.where(row)}: {said} and {also.rstrip(',')} ({table.where(again)}), are not listed as "
        f"animals and differ only in case",
        *advice,
    )


def _check_offspring(
    outside: Strings,
    added: NDArray[np.intp],
    name_number: NDArray[np.int32],
    entry: NDArray[np.intp],
    table: Table,
    rules: Rules,
) -> None:
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
    raise refused(
        f"{table.where(k)}: the dam {name!r} is not listed as an animal and has {offspring[most]:,} "
        f"offspring, more than the {rules.max_offspring:,} that a dam not listed may have (",
        option("max_offspring", rules.max_offspring),
        "): if it codes a group of unknown parents, pass ",
        option("groups", [name]),
        " (or every group's code), else raise ",
        Option("max_offspring=", "--max-offspring="),
        " or lift the limit with ",
        Option("max_offspring=None", "--max-offspring=0"),
    )


def parents_first(sire: ArrayLike, dam: ArrayLike) -> tuple[NDArray[np.int64], NDArray[np.int64]]:
    """The animals in an order where parents come first, and the generation of each.

    Animals are placed generation by generation (founders first, then each
    animal after the later of its parents), each generation in the order of
    the numbers: the generations come from one search up the parents, in
    `tolmkit._native`, whatever the depth of the pedigree.

    Parameters
    ----------
    sire, dam : array_like of int
        The parents' numbers, −1 for an unknown parent, in any order.

    Returns
    -------
    order : numpy.ndarray of int64
        The animals placed; those on or below a loop (their own ancestors, or
        descendants of such) are left out.
    generation : numpy.ndarray of int64
        The most generations between each animal and a founder (0 for
        founders); −1 for the animals left out.

    Examples
    --------
    >>> order, generation = parents_first([2, -1, -1], [1, -1, -1])
    >>> order.tolist(), generation.tolist()
    ([1, 2, 0], [1, 0, 0])
    """
    sire_numbers = np.ascontiguousarray(sire, dtype=np.int64)
    dam_numbers = np.ascontiguousarray(dam, dtype=np.int64)
    n = len(sire_numbers)
    if (
        dam_numbers.shape != (n,)
        or np.any(sire_numbers < -1)
        or np.any(sire_numbers >= n)
        or np.any(dam_numbers < -1)
        or np.any(dam_numbers >= n)
    ):
        raise ValueError("sire and dam must hold one number below their length, or -1, per animal")
    return _native.generations(sire_numbers, dam_numbers)
