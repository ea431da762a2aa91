"""Pedigrees with identifiers: reading, checking, and numbering parents first."""

from __future__ import annotations

import csv
import itertools
import os
import typing
from collections.abc import Iterable, Iterator, Sequence

import numpy as np
from numpy.typing import ArrayLike, NDArray

__all__ = ["MISSING_PARENT", "UNKNOWN_PARENTS", "Pedigree", "PedigreeError", "ancestry", "prune", "read_pedigree"]

#: The parent entries that mean "unknown" unless the caller gives others.
UNKNOWN_PARENTS = frozenset({"", "0", "NA", "."})

#: The code of an unknown parent in TOLM.cald and TOLM.dijp.
MISSING_PARENT = -999

Source = typing.Union[str, "os.PathLike[str]", typing.IO[str]]


class PedigreeError(ValueError):
    """A pedigree that cannot be used as it stands; the message names the line."""


class Pedigree:
    """Animals numbered 0 … n − 1 so that every parent comes before its offspring.

    `ids` holds the identifiers in that numbering; `sire` and `dam` hold the
    parents' numbers, −1 for an unknown parent. Build one with
    `read_pedigree`, `Pedigree.from_records` or `Pedigree.from_numbers`.
    """

    def __init__(self, ids: Sequence[str] | NDArray[np.object_], sire: ArrayLike, dam: ArrayLike) -> None:
        self.ids = np.asarray(ids, dtype=object)
        self.sire = np.asarray(sire, dtype=np.int32)
        self.dam = np.asarray(dam, dtype=np.int32)
        self._number = {name: k for k, name in enumerate(self.ids)}
        if len(self._number) != len(self.ids):
            raise PedigreeError("the identifiers are not unique")
        n = len(self.ids)
        if self.sire.shape != (n,) or self.dam.shape != (n,):
            raise PedigreeError("sire and dam need one entry per animal")
        numbers = np.arange(n)
        for parents in (self.sire, self.dam):
            if np.any((parents < -1) | (parents >= numbers)):
                raise PedigreeError("every known parent must be numbered below its offspring")

    def __len__(self) -> int:
        return len(self.ids)

    def __repr__(self) -> str:
        founders = int(np.count_nonzero((self.sire < 0) & (self.dam < 0)))
        return f"Pedigree({len(self)} animals, {founders} founders)"

    @classmethod
    def from_records(cls, records: Iterable[Sequence[object]], *,
                     unknown: Iterable[str] = UNKNOWN_PARENTS,
                     lines: Sequence[int] | None = None) -> "Pedigree":
        """A pedigree from (animal, sire, dam) identifiers, in any order; each
        is taken as a string (so a number 0 is the unknown parent "0"), and
        fields after the third are ignored.

        Parents that are not listed as animals become founders, numbered
        first; then every animal comes after its parents, in the order of the
        records where that allows. `lines` gives the line of each record for
        the messages (by default its position, counted from 1).
        """
        return _number_parents_first(list(records), frozenset(unknown), lines)

    @classmethod
    def from_numbers(cls, sire: ArrayLike, dam: ArrayLike, *,
                     unknown: int, ids: Sequence[str] | None = None) -> "Pedigree":
        """A pedigree already numbered parents first, such as `simulate_pedigree`
        gives; `unknown` is the code of an unknown parent. Identifiers default
        to the numbers as strings."""
        sire_codes = np.asarray(sire, dtype=np.int64)
        dam_codes = np.asarray(dam, dtype=np.int64)
        names = [str(k) for k in range(len(sire_codes))] if ids is None else list(ids)
        return cls(names, np.where(sire_codes == unknown, -1, sire_codes),
                   np.where(dam_codes == unknown, -1, dam_codes))

    def numbers(self, ids: Iterable[str]) -> NDArray[np.int32]:
        """The animal numbers of identifiers, as int32."""
        found = []
        for name in ids:
            try:
                found.append(self._number[name])
            except KeyError:
                raise PedigreeError(f"animal {name!r} is not in the pedigree") from None
        return np.array(found, dtype=np.int32)

    def codes(self, unknown: int) -> tuple[NDArray[np.int32], NDArray[np.int32]]:
        """Sires and dams as contiguous int32 arrays, an unknown parent coded
        `unknown`: len(self) for TOLM.fcoeff, MISSING_PARENT for cald and dijp."""
        code = np.int32(unknown)
        return (np.where(self.sire < 0, code, self.sire).astype(np.int32),
                np.where(self.dam < 0, code, self.dam).astype(np.int32))


def read_pedigree(source: Source, *, delimiter: str | None = None, header: bool | None = None,
                  unknown: Iterable[str] = UNKNOWN_PARENTS) -> Pedigree:
    """Reads animal, sire and dam identifiers from the first three columns of
    a text file (a path or an open file).

    Columns are separated by `delimiter`; by default by commas (CSV, with
    quoting) when the first line of data has one, else by tabs when it has
    one, else by any run of spaces. Lines that are empty or start with
    '#' are skipped, as are columns after the third. The first line is a
    header when `header` is True, or, by default, when its second and third
    columns read sire and dam (or father and mother). A parent in `unknown`
    (by default 0, NA, '.' or nothing) is unknown.
    """
    if isinstance(source, (str, os.PathLike)):
        with open(source, newline="", encoding="utf-8") as text:
            return read_pedigree(text, delimiter=delimiter, header=header, unknown=unknown)
    rows = _rows(source, delimiter)
    first = next(rows, None)
    if first is not None and not (header if header is not None else _is_header(first[1])):
        rows = itertools.chain([first], rows)
    records, lines = [], []
    for line, fields in rows:
        if len(fields) < 3:
            raise PedigreeError(f"line {line}: expected animal, sire and dam, "
                                f"got {len(fields)} column{'s' if len(fields) != 1 else ''}")
        records.append(fields[:3])
        lines.append(line)
    return Pedigree.from_records(records, unknown=unknown, lines=lines)


def _rows(text: typing.IO[str], delimiter: str | None) -> Iterator[tuple[int, list[str]]]:
    """(line number, stripped fields) of every line of data."""
    data = ((line, content) for line, content in enumerate(text, start=1)
            if content.strip() and not content.lstrip().startswith("#"))
    first = next(data, None)
    if first is None:
        return
    lines = itertools.chain([first], data)
    delimiter = delimiter if delimiter is not None else _guess_delimiter(first[1])
    # A tab separates exactly two columns, so that an empty column is one;
    # spaces are taken in runs.
    if delimiter.isspace() and delimiter != "\t":
        for line, content in lines:
            yield line, content.split()
        return
    current = [0]

    def contents() -> Iterator[str]:
        for line, content in lines:
            current[0] = line
            yield content

    for fields in csv.reader(contents(), delimiter=delimiter):
        yield current[0], list(map(str.strip, fields))


def _is_header(fields: list[str]) -> bool:
    return [f.lower() for f in fields[1:3]] in (["sire", "dam"], ["father", "mother"])


def _guess_delimiter(line: str) -> str:
    return "," if "," in line else "\t" if "\t" in line else " "


def _number_parents_first(rows: list[Sequence[object]], unknown: frozenset[str],
                          lines: Sequence[int] | None) -> Pedigree:
    line_of = list(lines) if lines is not None else list(range(1, len(rows) + 1))
    records = []
    for k, row in enumerate(rows):
        if len(row) < 3:
            raise PedigreeError(f"line {line_of[k]}: expected animal, sire and dam, got {len(row)} fields")
        records.append((str(row[0]).strip(), str(row[1]).strip(), str(row[2]).strip()))
    index: dict[str, int] = {}
    for k, (animal, sire_id, dam_id) in enumerate(records):
        if animal in unknown:
            raise PedigreeError(f"line {line_of[k]}: animal {animal!r} has the code of an unknown parent")
        if animal in index:
            raise PedigreeError(f"line {line_of[k]}: animal {animal!r} is listed again "
                                f"(first on line {line_of[index[animal]]})")
        for role, parent in (("sire", sire_id), ("dam", dam_id)):
            if parent == animal:
                raise PedigreeError(f"line {line_of[k]}: animal {animal!r} is its own {role}")
        index[animal] = k
    # Parents never listed as animals are founders, numbered first.
    founders: dict[str, int] = {}
    for _, sire_id, dam_id in records:
        for parent in (sire_id, dam_id):
            if parent not in unknown and parent not in index and parent not in founders:
                founders[parent] = len(founders)
    ids = list(founders) + [animal for animal, _, _ in records]
    number = {**founders, **{name: len(founders) + k for name, k in index.items()}}

    def parent_number(parent: str) -> int:
        return -1 if parent in unknown else number[parent]

    sire = np.array([-1] * len(founders) + [parent_number(s) for _, s, _ in records], dtype=np.int64)
    dam = np.array([-1] * len(founders) + [parent_number(d) for _, _, d in records], dtype=np.int64)
    order = _parents_first(sire, dam, line_of, ids, len(founders))
    return _select(np.asarray(ids, dtype=object), sire, dam, order)[0]


def prune(pedigree: Pedigree, ids: Iterable[str], *, generations: int | None = None) -> Pedigree:
    """The pedigree of the animals `ids` and their ancestors.

    Parameters
    ----------
    pedigree : Pedigree
    ids : iterable of str
        Identifiers of the animals to keep.
    generations : int, optional
        Keep ancestors up to this many generations back (0 keeps the animals
        alone); by default all of them. Parents beyond become unknown.

    Returns
    -------
    Pedigree
        Numbered parents first, in the order of `pedigree`, identifiers kept.

    Raises
    ------
    PedigreeError
        An identifier that is not in the pedigree.
    ValueError
        A negative `generations`.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b"), ("d", "0", "0")])
    >>> prune(pedigree, ["c"]).ids.tolist()
    ['a', 'b', 'c']
    """
    return ancestry(pedigree, pedigree.numbers(ids), generations=generations)[0]


def ancestry(pedigree: Pedigree, animals: ArrayLike, *,
             generations: int | None = None) -> tuple[Pedigree, NDArray[np.int32]]:
    """The pedigree of the animals numbered `animals` and their ancestors (up
    to `generations` back), in the same order, and the new number of each old
    one (−1 for those left out). Relationships among the animals kept depend
    on nothing else when all generations are kept, and keep every bit."""
    if generations is not None and (isinstance(generations, bool) or not isinstance(generations, (int, np.integer))
                                    or generations < 0):
        raise ValueError(f"generations must be a non-negative integer or None, got {generations!r}")
    chosen = np.asarray(animals, dtype=np.int64).ravel()
    keep = np.zeros(len(pedigree), dtype=bool)
    keep[chosen] = True
    frontier = np.unique(chosen)
    depth = 0
    while len(frontier) and (generations is None or depth < generations):
        parents = np.concatenate([pedigree.sire[frontier], pedigree.dam[frontier]])
        parents = np.unique(parents[parents >= 0])
        frontier = parents[~keep[parents]]
        keep[frontier] = True
        depth += 1
    return _select(pedigree.ids, pedigree.sire, pedigree.dam, np.flatnonzero(keep))


def _select(ids: NDArray[np.object_], sire: NDArray[np.integer[typing.Any]], dam: NDArray[np.integer[typing.Any]],
            order: NDArray[np.integer[typing.Any]]) -> tuple[Pedigree, NDArray[np.int32]]:
    """The pedigree of the animals `order` names, numbered in that order (so
    parents must come before offspring there), and the new number of every
    old one, −1 for those left out; a parent left out becomes unknown."""
    renumber = np.full(len(ids), -1, dtype=np.int32)
    renumber[order] = np.arange(len(order), dtype=np.int32)

    def renumbered(parents: NDArray[np.integer[typing.Any]]) -> NDArray[np.int32]:
        return np.where(parents < 0, -1, renumber[np.maximum(parents, 0)])

    return Pedigree(ids[order], renumbered(sire[order]), renumbered(dam[order])), renumber


def _parents_first(sire: NDArray[np.int64], dam: NDArray[np.int64], line_of: Sequence[int], ids: Sequence[str],
                   first_record: int) -> NDArray[np.int64]:
    """An order of the animals in which parents come first: the given order
    where it already is one, else a depth-first order over the parents."""
    n = len(ids)
    numbers = np.arange(n)
    if np.all(sire < numbers) and np.all(dam < numbers):
        return numbers
    parents = [(int(s), int(d)) for s, d in zip(sire, dam)]
    state = bytearray(n)  # 0 not reached, 1 its parents being placed, 2 placed
    child = [-1] * n
    order = []
    for start in range(n):
        stack = [start]
        while stack:
            animal = stack[-1]
            if state[animal] == 0:
                state[animal] = 1
                for parent in reversed(parents[animal]):
                    if parent < 0:
                        continue
                    if state[parent] == 1:
                        raise _loop(parent, animal, child, line_of, ids, first_record)
                    if state[parent] == 0:
                        child[parent] = animal
                        stack.append(parent)
                continue
            stack.pop()
            if state[animal] == 1:
                state[animal] = 2
                order.append(animal)
    return np.array(order, dtype=np.int64)


def _loop(ancestor: int, animal: int, child: list[int], line_of: Sequence[int], ids: Sequence[str],
          first_record: int) -> PedigreeError:
    """The error for `ancestor`, a parent of `animal` and reached from it
    through the `child` links of the search."""
    path = [ancestor, animal]
    while path[-1] != ancestor:
        path.append(child[path[-1]])
    names = " → ".join(repr(ids[k]) for k in path)
    return PedigreeError(f"line {line_of[ancestor - first_record]}: animal {ids[ancestor]!r} is its own "
                         f"ancestor ({names}, each a parent of the next)")
