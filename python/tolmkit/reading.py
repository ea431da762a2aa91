"""Pedigree files, data frames and records read into a `Pedigree`: ordinary
files read right, doubtful ones refused with the line and what to do."""

from __future__ import annotations

import codecs
import csv
import io
import os
import re
import typing
from collections.abc import Callable, Iterable, Sequence
from dataclasses import dataclass

import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.compute as pc
import pyarrow.csv as pa_csv
from numpy.typing import NDArray

from .pedigree import UNKNOWN_PARENTS, Pedigree, PedigreeError, parents_first, select

__all__ = ["pedigree_from_columns", "pedigree_from_records", "read_pedigree", "sexes"]

Source = typing.Union[str, "os.PathLike[str]", typing.IO[str], pd.DataFrame]
Strings = NDArray[np.object_]
Where = Callable[[int], str]

_SUFFIX = r"(?:[ _.-]?(?:id|code|no|nr|number|name))?"
_ROLES = {role: re.compile(rf"(?:{names}){_SUFFIX}", re.IGNORECASE) for role, names in {
    "animal": "animal|id|ind|individual|calf", "sire": "sire|father|male", "dam": "dam|mother|female",
    "sex": "sex|gender"}.items()}
# How exports write a missing parent: such a parent that is not listed as an
# animal is far more likely a code than a founder.
_LOOKS_UNKNOWN = re.compile(r"|[-?*.]+|0+(?:\.0*)?|-\d+(?:\.\d*)?|nan|null|none|nil|n/?a|unknown|missing",
                            re.IGNORECASE)
_MALE = ["m", "male", "1"]
_FEMALE = ["f", "female", "2"]
_NEWLINE = b"\n"
# Encodings in which a file of ASCII bytes reads as those bytes.
_ASCII_ALIKE = {"utf-8", "utf-8-sig", "ascii", "iso8859-1", "iso8859-15", "cp1252"}
# Deleting these from a file leaves its control characters, blanks, quotes and '#'.
_COMMON = bytes(sorted(set(range(256)) - set(range(32)) - set(b'\x7f\t #"'))) + _NEWLINE
_CONTROL = re.compile(rb"[\x00-\x08\x0b-\x1f\x7f]")


@dataclass
class _Table:
    """Animal, sire and dam of each record, as pyarrow string arrays."""
    animal: typing.Any
    sire: typing.Any
    dam: typing.Any
    where: Where
    attributes: pd.DataFrame | None = None
    sex: Strings | None = None


def _arrow(values: Strings) -> typing.Any:
    return pa.array(values, type=pa.string(), from_pandas=False)


def read_pedigree(source: Source, *, delimiter: str | None = None, header: bool | None = None,
                  columns: Sequence[str] | None = None, unknown: str | Iterable[str] = UNKNOWN_PARENTS,
                  encoding: str = "utf-8-sig", selfing: bool = False) -> Pedigree:
    """Reads the animal, sire and dam of every animal from a text file or a data frame.

    Parameters
    ----------
    source : path, open text file or pandas.DataFrame
        A file: lines that are blank or start with '#' are skipped. A frame:
        its columns are taken by name as those of a header, else the first
        three; None, NaN, pd.NA and "" are unknown parents, and a whole float
        such as 101.0 is the identifier "101".
    delimiter : str, optional
        One character between columns; by default a comma (CSV, with quoted
        fields) when the first line has one, else a tab when it has one,
        else runs of spaces and tabs.
    header : bool, optional
        Whether the first line names the columns; by default it does when it
        names a sire and a dam column (sire, father or male; dam, mother or
        female; in any case, with suffixes such as "_id").
    columns : three str, optional
        The header's names of the animal, sire and dam columns.
    unknown : str or iterable of str
        The code (or codes) of an unknown parent.
    encoding : str
        The file's encoding.
    selfing : bool
        Allow an animal to be both a sire and a dam (plants, hermaphrodites).

    Returns
    -------
    Pedigree
        Parents first; the other columns of a file with a header in
        `attributes`, as text.

    Raises
    ------
    PedigreeError
        A file or frame that cannot be read right, naming the line (or row),
        the identifier and what to do.
    TypeError
        A frame holding identifiers that are neither strings nor numbers.

    Examples
    --------
    >>> pedigree = read_pedigree(io.StringIO("id,sire_id,dam_id,born\\nB,A,-,2001\\nA,-,-,1998\\n"), unknown="-")
    >>> pedigree.ids.tolist(), pedigree.attributes["born"].tolist()
    (['A', 'B'], ['1998', '2001'])
    """
    if delimiter is not None and (not isinstance(delimiter, str) or len(delimiter) != 1 or delimiter in "\"\r\n"):
        raise ValueError(f"delimiter must be one character other than a quote or a line end, got {delimiter!r}")
    if columns is not None and (isinstance(columns, str) or len(columns) != 3 or len(set(columns)) != 3):
        raise ValueError(f"columns must name three different columns: animal, sire and dam; got {columns!r}")
    if columns is not None and header is False:
        raise ValueError("columns= names columns of the header: pass header=True or leave it out")
    codes = _unknown_codes(unknown)
    if isinstance(source, pd.DataFrame):
        table = _frame_table(source, columns)
        codes |= {""}
    else:
        table = _file_table(_utf8(source, encoding), delimiter, header, columns)
    return _numbered(table, codes, selfing)


def pedigree_from_records(records: Iterable[Sequence[object]], *, unknown: str | Iterable[str] = UNKNOWN_PARENTS,
                          selfing: bool = False, lines: Sequence[int] | None = None) -> Pedigree:
    """A pedigree from (animal, sire, dam) records; see `Pedigree.from_records`.

    Parameters
    ----------
    records : iterable of sequences
    unknown : str or iterable of str
    selfing : bool
    lines : sequence of int, optional

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
    return _numbered(_Table(animal, sire, dam, where), _unknown_codes(unknown) | {""}, selfing)


def pedigree_from_columns(animal: Strings, sire: Strings, dam: Strings, *,
                          unknown: str | Iterable[str] = UNKNOWN_PARENTS, selfing: bool = False,
                          where: Where | None = None, attributes: pd.DataFrame | None = None,
                          sex: Strings | None = None) -> Pedigree:
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

    Returns
    -------
    Pedigree
        Parents that are not listed as animals added as founders, numbered
        first; then the animals, in the order of the records where parents
        already come first there, else generation by generation.

    Raises
    ------
    PedigreeError
        Naming the record: an animal listed twice, coded as unknown or its
        own parent or ancestor; a parent that is no animal but reads like a
        code of an unknown parent; a header line met again; an animal used
        as sire and as dam without `selfing`; a sire recorded female or a
        dam recorded male.

    Examples
    --------
    >>> ids = lambda *names: np.array(names, dtype=object)
    >>> pedigree_from_columns(ids("b", "a"), ids("a", "0"), ids("0", "0")).ids.tolist()
    ['a', 'b']
    """
    at = where if where is not None else (lambda k: f"line {k + 1}")
    animal, sire, dam = (_arrow(_identifiers(np.asarray(values, dtype=object), at)) for values in (animal, sire, dam))
    table = _Table(animal, sire, dam, at, attributes, sex)
    return _numbered(table, _unknown_codes(unknown), selfing)


def _numbered(table: _Table, codes: set[str], selfing: bool) -> Pedigree:
    at = table.where
    n = len(table.animal)
    if n == 0:
        raise PedigreeError("there are no animals to read")
    animal = np.asarray(table.animal.to_numpy(zero_copy_only=False), dtype=object)
    # Where each animal, parent and code of an unknown parent first appears
    # among the animals, −1 where it does not.
    listed = sorted(codes)
    found = pc.index_in(pa.chunked_array([table.animal, table.sire, table.dam, pa.array(listed, pa.string())]),
                        value_set=table.animal)
    found = pc.fill_null(found, -1).to_numpy()
    _check_animals(animal, found[:n], dict(zip(listed, found[3 * n:])), at)
    numbers = [found[n:2 * n].astype(np.int64), found[2 * n:3 * n].astype(np.int64)]
    # The parents that are no animals, in the order they first appear, record
    # by record and sire before dam.
    entry = np.concatenate([2 * np.flatnonzero(numbers[0] < 0), 2 * np.flatnonzero(numbers[1] < 0) + 1])
    entry.sort()
    rows, role = entry // 2, entry % 2
    names = np.empty(len(entry), dtype=object)
    for which, column in enumerate((table.sire, table.dam)):
        names[role == which] = pc.take(column, rows[role == which]).to_numpy(zero_copy_only=False)
    name_number, outside = pd.factorize(names)
    outside = np.asarray(outside, dtype=object)
    added = np.flatnonzero(~pd.Series(outside, dtype=object).isin(codes).to_numpy())
    _check_added(outside, added, name_number, entry, animal, table)
    founders = len(added)
    renumber = np.full(len(outside), -1, dtype=np.int64)
    renumber[added] = np.arange(founders)
    parents = []
    for which, number in enumerate(numbers):
        number = np.where(number >= 0, number + founders, -1)
        number[rows[role == which]] = renumber[name_number[role == which]]
        parents.append(np.concatenate([np.full(founders, -1, dtype=np.int64), number]))
    sire, dam = parents
    ids = np.concatenate([outside[added], animal])
    _check_parents(ids, sire, dam, founders, selfing, table.sex, at)
    total = len(ids)
    order = np.arange(total)
    if np.any(sire >= order) or np.any(dam >= order):
        order, generation = parents_first(sire, dam)
        if len(order) < total:
            raise _loop(ids, sire, dam, generation, founders, at)
    attributes = table.attributes
    full = None if attributes is None or attributes.shape[1] == 0 else \
        attributes.reset_index(drop=True).reindex(np.arange(-founders, n))
    return select(ids, sire, dam, order, attributes=full, added=np.arange(total) < founders)[0]


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
    column = next((name for name in pedigree.attributes.columns if _ROLES["sex"].fullmatch(str(name).strip())), None)
    if column is not None:
        given = pedigree.attributes[column].astype(object).where(pedigree.attributes[column].notna(), "")
        spelled = given.astype(str).str.strip().str.lower().to_numpy(dtype=object)
        sex[np.isin(spelled, _MALE)] = 1
        sex[np.isin(spelled, _FEMALE)] = 2
    return sex


def _unknown_codes(unknown: str | Iterable[str]) -> set[str]:
    codes = {unknown} if isinstance(unknown, str) else set(unknown)
    strange = [code for code in codes if not isinstance(code, str)]
    if strange:
        raise TypeError(f"unknown must be a string or strings, got {strange[0]!r}")
    return codes


def _check_animals(animal: Strings, found: NDArray[np.integer[typing.Any]], codes: dict[str, int],
                   at: Where) -> None:
    """Refuses an animal listed again or with the code of an unknown parent;
    `found` holds the first record of each animal, `codes` that of each code,
    −1 for none."""
    repeated = found != np.arange(len(found))
    if np.any(repeated):
        k = int(np.argmax(repeated))
        raise PedigreeError(f"{at(k)}: animal {animal[k]!r} is listed again (first on {at(int(found[k]))})")
    coded = [int(k) for k in codes.values() if k >= 0]
    if coded:
        k = min(coded)
        if animal[k] == "":
            raise PedigreeError(f"{at(k)}: the animal has no identifier")
        raise PedigreeError(f"{at(k)}: animal {animal[k]!r} has the code of an unknown parent")


def _check_added(outside: Strings, added: NDArray[np.intp], name_number: NDArray[np.intp], entry: NDArray[np.intp],
                 animal: Strings, table: _Table) -> None:
    """Refuses a parent not listed as an animal that is a header's column name
    or reads like a code of an unknown parent."""
    for number in added:
        name = outside[number]
        if not (_LOOKS_UNKNOWN.fullmatch(name) or _ROLES["sire"].fullmatch(name) or _ROLES["dam"].fullmatch(name)):
            continue
        first = int(entry[np.argmax(name_number == number)])
        k, role = first // 2, ("sire", "dam")[first % 2]
        sire, dam, at = table.sire[k].as_py(), table.dam[k].as_py(), table.where(k)
        if _ROLES["sire"].fullmatch(sire) and _ROLES["dam"].fullmatch(dam):
            raise PedigreeError(f"{at}: a header line ({animal[k]}, {sire}, {dam}) among the records; remove it")
        if _LOOKS_UNKNOWN.fullmatch(name):
            raise PedigreeError(f"{at}: the {role} of {animal[k]!r}, {name!r}, is not listed as an animal and reads "
                                f"like a code of an unknown parent; pass unknown={name!r} if {name!r} means an "
                                f"unknown parent (unknown=[...] for several codes)")


def _check_parents(ids: Strings, sire: NDArray[np.int64], dam: NDArray[np.int64], first: int, selfing: bool,
                 sex: Strings | None, at: Where) -> None:
    """Refuses an animal that is its own parent, one used as sire and as dam
    unless `selfing`, and a parent of the other sex than its role."""
    record = np.arange(len(ids)) - first
    for role, parents in (("sire", sire), ("dam", dam)):
        own = np.flatnonzero(parents == np.arange(len(ids)))
        if len(own):
            k = int(own[0])
            raise PedigreeError(f"{at(k - first)}: animal {ids[k]!r} is its own {role}")
    if not selfing:
        selfed = np.flatnonzero((sire == dam) & (sire >= 0))
        if len(selfed):
            k = int(selfed[0])
            raise PedigreeError(f"{at(record[k])}: animal {ids[k]!r} has {ids[sire[k]]!r} as both sire and dam; "
                                f"pass selfing=True for plants and other hermaphrodites")
        is_sire = np.zeros(len(ids), dtype=bool)
        is_sire[sire[sire >= 0]] = True
        both = np.flatnonzero((dam >= 0) & is_sire[np.maximum(dam, 0)])
        if len(both):
            offspring = int(both[0])
            parent = int(dam[offspring])
            other = int(np.argmax(sire == parent))
            raise PedigreeError(f"{at(record[other])}: animal {ids[parent]!r} is the sire of {ids[other]!r} here "
                                f"and the dam of {ids[offspring]!r} on {at(record[offspring])}; correct the "
                                f"record, or pass selfing=True for plants and other hermaphrodites")
    if sex is None:
        return
    spelled = pd.Series(sex, dtype=object).str.strip().str.lower()
    for role, parents, wrong, word in (("sire", sire, _FEMALE, "female"), ("dam", dam, _MALE, "male")):
        of_wrong_sex = np.concatenate([np.zeros(first, dtype=bool), spelled.isin(wrong).to_numpy()])
        bad = np.flatnonzero((parents >= 0) & of_wrong_sex[np.maximum(parents, 0)])
        if len(bad):
            offspring = int(bad[0])
            parent = int(parents[offspring])
            raise PedigreeError(f"{at(record[parent])}: animal {ids[parent]!r} is recorded {word} "
                                f"({sex[record[parent]]!r}) but is the {role} of {ids[offspring]!r} on "
                                f"{at(record[offspring])}; correct the sex or the parent")


def _loop(ids: Strings, sire: NDArray[np.int64], dam: NDArray[np.int64], generation: NDArray[np.int64],
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
        fractional = np.flatnonzero(~np.isnan(values) & ((values != np.round(values)) | (np.abs(values) >= 2.0**63)))
        if len(fractional):
            k = int(fractional[0])
            raise PedigreeError(f"{at(k)}: identifier {values[k]!r} is not a whole number; give identifiers as text")
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


def _identifier(value: object, at: Where, k: int) -> str:
    if isinstance(value, str):
        return value.strip()
    if value is None or value is pd.NA:
        return ""
    if isinstance(value, (int, np.integer)) and not isinstance(value, (bool, np.bool_)):
        return str(int(value))
    if isinstance(value, (float, np.floating)):
        if np.isnan(value):
            return ""
        if not float(value).is_integer():
            raise PedigreeError(f"{at(k)}: identifier {value!r} is not a whole number; give identifiers as text")
        return str(int(value))
    raise TypeError(f"{at(k)}: identifier {value!r} is a {type(value).__name__}; identifiers are strings or "
                    f"whole numbers")


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
    elif "sire" in roles and "dam" in roles:
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
    labels = frame.index

    def where(k: int) -> str:
        return f"row {labels[k]}"

    animal, sire, dam = (_identifiers(frame.iloc[:, p].to_numpy(), where) for p in positions)
    others = [k for k in range(frame.shape[1]) if k not in positions]
    return _Table(_arrow(animal), _arrow(sire), _arrow(dam), where, frame.iloc[:, others].reset_index(drop=True),
                  None if sex is None else frame.iloc[:, sex].astype(str).to_numpy(dtype=object))


def _utf8(source: str | os.PathLike[str] | typing.IO[str], encoding: str) -> bytes:
    """The text of a file as UTF-8 bytes, without byte-order mark, lines ending in "\\n"."""
    if isinstance(source, (str, os.PathLike)):
        with open(source, "rb") as file:
            return _decoded(file.read(), encoding)
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
            line = f"line {raw.count(_NEWLINE, 0, _first_undecodable(raw, error.encoding)) + 1}: "
        raise PedigreeError(f"{line}bytes that are not {error.encoding} ({error.reason}); open the file with "
                            f"encoding='latin-1' or the encoding it was written in") from None
    if not isinstance(text, str):
        raise TypeError("the file is open in binary mode: open it as text, or pass its path")
    return _encoded(text.removeprefix("\ufeff"))


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
        line = raw.count(_NEWLINE, 0, error.start) + 1
        guess = "utf-16" if raw[:2] in (codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE) else "latin-1"
        raise PedigreeError(f"line {line}: bytes that are not {encoding} ({error.reason}); pass "
                            f"encoding='{guess}' or the encoding the file was written in") from None
    return _encoded(text.removeprefix("\ufeff"))


def _first_undecodable(raw: bytes, encoding: str) -> int:
    try:
        raw.decode(encoding)
    except UnicodeDecodeError as error:
        return error.start
    return len(raw)


def _encoded(text: str | bytes) -> bytes:
    """The text as UTF-8 with lines ending in "\\n", refusing control
    characters; lines of comments emptied."""
    try:
        data = text.encode("utf-8") if isinstance(text, str) else text
    except UnicodeEncodeError as error:
        raise PedigreeError(f"line {error.object.count(chr(10), 0, error.start) + 1}: a character that is no "
                            f"text ({error.object[error.start]!r}); open the file with its encoding") from None
    if b"\r" in data:
        data = data.replace(b"\r\n", b"\n").replace(b"\r", b"\n")
    rare = data.translate(None, _COMMON)
    if rare.translate(None, b'\t #"'):
        found = _CONTROL.search(data)
        assert found is not None
        line = data.count(b"\n", 0, found.start()) + 1
        raise PedigreeError(f"line {line}: control character {found.group().decode()!r} in the data; remove it "
                            f"(a file full of them may be UTF-16: pass encoding='utf-16')")
    indented = (b" " in rare or b"\t" in rare) and (b"\n " in data or b"\n\t" in data or data[:1] in (b" ", b"\t"))
    return _without_comments(data) if b"#" in rare or indented else data


def _without_comments(data: bytes) -> bytes:
    """The data with blank lines and lines that start with '#' emptied; lines keep their numbers."""
    return _NEWLINE.join(b"" if not line.strip() or line.lstrip().startswith(b"#") else line
                         for line in data.split(_NEWLINE))


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
    separator = delimiter if delimiter is not None else "," if "," in first else "\t" if "\t" in first else " "
    names = _split(first, separator)
    found = _columns(names, columns, f"line {line}") if header is not False else None
    has_header = found is not None if header is None else header
    named = [name for name in names if any(pattern.fullmatch(name) for pattern in _ROLES.values())]
    if header is None and found is None and len(named) > 1:
        raise PedigreeError(f"line {line}: {named[0]!r} and {named[1]!r} read like names of columns, but no sire "
                            f"and dam columns are named; pass header=True and columns=(animal, sire, dam), or "
                            f"header=False if the line is an animal's")
    positions, sex = found if has_header and found is not None else ([0, 1, 2], None)
    if len(names) < 3:
        what = "the header names" if has_header else "expected animal, sire and dam, got"
        raise PedigreeError(f"line {line}: {what} {len(names)} column{'s' if len(names) != 1 else ''}")
    lines = _Lines(data, 1 if has_header else 0)
    body = [array.slice(1) if has_header else array
            for array in _parsed(data, separator, len(names), max(positions) + 1, lines)]
    if len(body[0]) == 0:
        raise PedigreeError("the file holds no animals, only a header")
    if has_header:
        again = pc.index(body[positions[0]], names[positions[0]]).as_py()
        if again >= 0 and body[positions[1]][again].as_py() == names[positions[1]]:
            raise PedigreeError(f"{lines(again)}: the header line comes again; remove it")

    def strings(position: int) -> Strings:
        return np.asarray(body[position].to_numpy(zero_copy_only=False), dtype=object)

    others = [k for k in range(len(names)) if k not in positions]
    attributes = pd.DataFrame({k: strings(k) for k in others}).set_axis([names[k] for k in others], axis=1)
    return _Table(body[positions[0]], body[positions[1]], body[positions[2]], lines,
                  attributes if has_header else None, None if sex is None else strings(sex))


def _first_line(data: bytes) -> tuple[int, str]:
    """The number and text of the first line that is not blank."""
    visible = re.search(rb"[^ \t\n]", data)
    if visible is None:
        raise PedigreeError("the file holds no animals")
    start = data.rfind(_NEWLINE, 0, visible.start()) + 1
    end = data.find(_NEWLINE, start)
    return data.count(_NEWLINE, 0, start) + 1, data[start:len(data) if end < 0 else end].decode()


def _parsed(data: bytes, separator: str, width: int, needed: int, lines: _Lines) -> list[typing.Any]:
    """The first `width` columns of the file as pyarrow string arrays, blanks
    around fields dropped; a row with fewer than `needed` fields refused."""
    spaces = separator == " "
    if not spaces and b'"' in data:
        _check_quotes(data)
    # Blanks are one space each in most files that use them: a plain separator then.
    single = spaces and b"\t" not in data and b"  " not in data and b" \n" not in data and b"\n " not in data \
        and data[:1] != b" " and data[-1:] != b" "
    arrays = _arrow_columns(data, separator, width) if single or not spaces else None
    if arrays is None:
        frame = _pandas_frame(data, separator, width)
        _check_widths(data, frame, separator, needed, lines)
        arrays = [_arrow(frame.iloc[:, k].to_numpy(dtype=object)) for k in range(width)]
    if not spaces and (b" " in data or b"\t" in data):
        arrays = [pc.utf8_trim_whitespace(array) for array in arrays]
    return arrays


def _arrow_columns(data: bytes, separator: str, width: int) -> list[typing.Any] | None:
    """The columns of a file whose rows all have `width` fields, as pyarrow
    string arrays (quotes are part of fields separated by spaces); None for
    a file that the parser cannot split so."""
    names = [str(k) for k in range(width)]
    try:
        table = pa_csv.read_csv(
            io.BytesIO(data), read_options=pa_csv.ReadOptions(column_names=names),
            parse_options=pa_csv.ParseOptions(delimiter=separator, quote_char=separator != " " and '"',
                                              double_quote=True, newlines_in_values=False, ignore_empty_lines=True),
            convert_options=pa_csv.ConvertOptions(column_types=dict.fromkeys(names, pa.string()),
                                                  strings_can_be_null=False, quoted_strings_can_be_null=False))
        return [table.column(k).combine_chunks() for k in range(width)]
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
    text = np.frombuffer(data, dtype=np.uint8)
    line_of_quote = np.searchsorted(np.flatnonzero(text == ord("\n")), np.flatnonzero(text == ord('"')))
    odd = np.flatnonzero(np.bincount(line_of_quote) % 2)
    if len(odd):
        raise PedigreeError(f"line {odd[0] + 1}: a quote opens and is not closed on this line; quote whole "
                            f"fields, doubling a quote inside one (no field spans lines)")


def _check_widths(data: bytes, frame: pd.DataFrame, separator: str, needed: int, lines: _Lines) -> None:
    """Refuses a row with fewer than `needed` fields, which the parser fills
    with "". Fields separated by blanks are never empty, so an empty one is
    missing; other files come here only when pyarrow refused them, and each
    of their lines is looked at."""
    if separator == " ":
        short = np.flatnonzero(frame.iloc[:, needed - 1].to_numpy() == "")
        row = int(short[0]) if len(short) else None
    else:
        texts = (text for text in data.split(_NEWLINE) if text.strip())
        row = next((k for k, text in enumerate(texts) if _fields(text, separator) < needed), None)
    if row is not None:
        fields = _fields(data.split(_NEWLINE)[lines.of_row(row) - 1], separator)
        raise PedigreeError(f"line {lines.of_row(row)}: expected animal, sire and dam, got {fields} "
                            f"column{'s' if fields != 1 else ''}")


def _fields(text: bytes, separator: str) -> int:
    """The fields of a line, separators inside quotes not counted."""
    if separator == " ":
        return len(text.split())
    return sum(part.count(separator.encode()) for part in text.split(b'"')[::2]) + 1
