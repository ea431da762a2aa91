"""Pedigrees with identifiers, numbered parents first; selections of them."""

from __future__ import annotations

import typing
from collections.abc import Iterable, Sequence

import numpy as np
import pandas as pd
from numpy.typing import ArrayLike, NDArray

from . import _native

__all__ = ["MISSING_PARENT", "UNKNOWN_PARENTS", "Pedigree", "PedigreeError", "ancestry", "parents_first", "prune",
           "select"]

#: The parent entries that mean "unknown" unless the caller gives others.
UNKNOWN_PARENTS = frozenset({"", "0", "NA", "."})

#: The code of an unknown parent in TOLM.cald and TOLM.dijp.
MISSING_PARENT = -999

#: How many of the parents added as founders `Pedigree.summary` names.
MOST_OFFSPRING_SHOWN = 3

Numbers = NDArray[np.integer[typing.Any]]


class PedigreeError(ValueError):
    """A pedigree that cannot be used as it stands; the message names the line.

    The message gives its advice as Python arguments (``unknown='-999'``);
    `command_line` holds the same message with the options of the
    ``tolmkit`` command instead (``--unknown=-999``).
    """

    def __init__(self, message: str, command_line: str | None = None) -> None:
        super().__init__(message)
        self.command_line = message if command_line is None else command_line


class Pedigree:
    """Animals numbered 0 … n − 1 so that every parent comes before its offspring.

    `ids` holds the identifiers in that numbering; `sire` and `dam` hold the
    parents' numbers, −1 for an unknown parent. `attributes` holds the other
    columns of a file with a header, one row per animal, indexed by `ids`;
    `added` marks the parents that were not listed as animals and were added
    as founders. Build one with `read_pedigree`, `Pedigree.from_records` or
    `Pedigree.from_numbers`.

    Unknown parents may belong to groups (by birth year, country, path):
    `group_ids` holds the groups' codes, in the order in which the file first
    names them (record by record, sire before dam), and `sire_group` and
    `dam_group` the number of the group of each unknown parent in that list,
    −1 for a known parent or one of no group. The parent itself stays −1, so
    that inbreeding, relationships and statistics take a grouped parent as
    an unknown one.
    """

    def __init__(self, ids: Sequence[str] | NDArray[np.object_], sire: ArrayLike, dam: ArrayLike, *,
                 attributes: pd.DataFrame | None = None, added: ArrayLike | None = None,
                 group_ids: Sequence[str] | NDArray[np.object_] | None = None, sire_group: ArrayLike | None = None,
                 dam_group: ArrayLike | None = None) -> None:
        self._fill(np.asarray(ids, dtype=object), sire, dam, attributes, added)
        if not self._index.is_unique:
            raise PedigreeError("the identifiers are not unique")
        self._set_groups(group_ids, sire_group, dam_group)

    def _set_groups(self, group_ids: Sequence[str] | NDArray[np.object_] | None, sire_group: ArrayLike | None,
                    dam_group: ArrayLike | None) -> None:
        self.group_ids = np.asarray([] if group_ids is None else group_ids, dtype=object).reshape(-1)
        if len(set(self.group_ids.tolist())) != len(self.group_ids):
            raise PedigreeError("the group identifiers are not unique")
        self.sire_group = self._group_numbers(sire_group, self.sire, "sire")
        self.dam_group = self._group_numbers(dam_group, self.dam, "dam")

    def _group_numbers(self, groups: ArrayLike | None, parents: NDArray[np.int32], role: str) -> NDArray[np.int32]:
        if groups is None:
            return np.full(len(self), -1, dtype=np.int32)
        numbers = _integers(groups, f"{role}_group")
        if numbers.shape != (len(self),):
            raise PedigreeError(f"{role}_group needs one entry per animal")
        wrong = np.flatnonzero((numbers < -1) | (numbers >= len(self.group_ids)) | ((numbers >= 0) & (parents >= 0)))
        if len(wrong):
            k = int(wrong[0])
            raise PedigreeError(f"{role}_group of animal {self.ids[k]!r} is {numbers[k]}: a group number "
                                f"(0 to {len(self.group_ids) - 1}) is given only for an unknown {role}, else -1")
        return numbers.astype(np.int32)

    def _fill(self, ids: NDArray[np.object_], sire: ArrayLike, dam: ArrayLike, attributes: pd.DataFrame | None,
              added: ArrayLike | None) -> None:
        self.ids = ids
        n = len(ids)
        self.sire = _parent_numbers(sire, n, "sire")
        self.dam = _parent_numbers(dam, n, "dam")
        # Hashed only when first used, for a check or a look-up.
        self._index = pd.Index(ids, dtype=object, copy=False)
        numbers = np.arange(n)
        for parents in (self.sire, self.dam):
            if np.any((parents < -1) | (parents >= numbers)):
                raise PedigreeError("every known parent must be numbered below its offspring")
        if attributes is None:
            attributes = pd.DataFrame(index=range(n))
        if len(attributes) != n:
            raise PedigreeError(f"attributes need one row per animal, got {len(attributes)} for {n}")
        self.attributes = attributes.set_axis(self._index, axis=0)
        self.added = np.zeros(n, dtype=bool) if added is None else np.asarray(added, dtype=bool)
        if self.added.shape != (n,):
            raise PedigreeError("added needs one entry per animal")

    def __len__(self) -> int:
        return len(self.ids)

    def __repr__(self) -> str:
        counts = ", ".join(f"{key}={value}" for key, _, value in self._counts())
        return f"Pedigree({counts})"

    def summary(self) -> str:
        """What the pedigree holds, a line for each count.

        Returns
        -------
        str
            Animals, founders (both parents unknown), parents added as
            founders, unknown sires and dams, groups of unknown parents
            (when there are some), animals used as sires and as dams, and
            the most generations behind any animal; then the parents added
            as founders with the most offspring, where a group code read as
            an animal would show.

        Examples
        --------
        >>> print(Pedigree.from_records([("calf", "bull", "cow")]).summary())
        animals                    3
        founders                   2
        parents added as founders  2
        unknown sires              2
        unknown dams               2
        sires                      1
        dams                       1
        generations                1
        most offspring among parents added as founders: bull (1), cow (1)
        """
        counts = self._counts()
        width = max(len(label) for _, label, _ in counts) + 2
        digits = len(f"{len(self):,}")
        lines = [f"{label:<{width}}{value:>{digits},}" for _, label, value in counts]
        if np.any(self.added):
            # A group of unknown parents read as an animal stands out by its offspring.
            offspring = np.bincount(self.sire[self.sire >= 0], minlength=len(self)) + \
                np.bincount(self.dam[self.dam >= 0], minlength=len(self))
            added = np.flatnonzero(self.added)
            most = added[np.argsort(-offspring[added], kind="stable")[:MOST_OFFSPRING_SHOWN]]
            lines.append("most offspring among parents added as founders: " +
                         ", ".join(f"{self.ids[k]} ({offspring[k]:,})" for k in most))
        return "\n".join(lines)

    def _counts(self) -> list[tuple[str, str, int]]:
        """(key for the repr, label for the summary, count) of what the pedigree holds."""
        generation = parents_first(self.sire, self.dam)[1]
        return [("animals", "animals", len(self)),
                ("founders", "founders", int(np.count_nonzero((self.sire < 0) & (self.dam < 0)))),
                ("parents_added", "parents added as founders", int(np.count_nonzero(self.added))),
                ("unknown_sires", "unknown sires", int(np.count_nonzero(self.sire < 0))),
                ("unknown_dams", "unknown dams", int(np.count_nonzero(self.dam < 0))),
                *([("groups", "groups of unknown parents", len(self.group_ids))] if len(self.group_ids) else []),
                ("sires", "sires", len(np.unique(self.sire[self.sire >= 0]))),
                ("dams", "dams", len(np.unique(self.dam[self.dam >= 0]))),
                ("generations", "generations", int(generation.max(initial=0)))]

    @classmethod
    def from_records(cls, records: Iterable[Sequence[object]], *, unknown: str | Iterable[str] = UNKNOWN_PARENTS,
                     selfing: bool = False, lines: Sequence[int] | None = None) -> "Pedigree":
        """A pedigree from (animal, sire, dam) records, in any order.

        Parameters
        ----------
        records : iterable of sequences
            Animal, sire and dam of each animal; fields after the third are
            ignored. Identifiers are strings or numbers: a whole float such as
            101.0 is the identifier "101", as pandas makes integer columns with
            gaps float. None, NaN, pd.NA and "" are unknown parents.
        unknown : str or iterable of str
            The code (or codes) of an unknown parent, beside those above.
        selfing : bool
            Allow an animal to be both a sire and a dam (hermaphrodites).
        lines : sequence of int, optional
            The line of each record, for the messages; by default its
            position, counted from 1.

        Returns
        -------
        Pedigree
            Parents not listed as animals added as founders and numbered
            first, then every animal after its parents, in the order of the
            records where that allows.

        Raises
        ------
        PedigreeError
            A record that cannot be used, naming its line and what to do.
        TypeError
            An identifier that is neither a string nor a number.

        Examples
        --------
        >>> Pedigree.from_records([(3, 1, 2), (1, None, None)]).ids.tolist()
        ['2', '1', '3']
        """
        from .reading import pedigree_from_records

        return pedigree_from_records(records, unknown=unknown, selfing=selfing, lines=lines)

    @classmethod
    def from_numbers(cls, sire: ArrayLike, dam: ArrayLike, *, unknown: int,
                     ids: Sequence[str] | None = None) -> "Pedigree":
        """A pedigree already numbered parents first, such as `simulate_pedigree` gives.

        Parameters
        ----------
        sire, dam : array_like of int
            The parents of animals 0 … n − 1: each `unknown` or the number of
            an animal before its offspring.
        unknown : int
            The code of an unknown parent.
        ids : sequence of str, optional
            Identifiers, by default the numbers as strings.

        Returns
        -------
        Pedigree

        Raises
        ------
        TypeError
            Codes that are not integers.
        PedigreeError
            A code that is neither `unknown` nor a number below its offspring.

        Examples
        --------
        >>> Pedigree.from_numbers([-1, -1, 0], [-1, -1, 1], unknown=-1).sire.tolist()
        [-1, -1, 0]
        """
        if isinstance(unknown, bool) or not isinstance(unknown, (int, np.integer)):
            raise TypeError(f"unknown must be an integer code, got {unknown!r}")
        columns = {}
        for role, codes in (("sire", sire), ("dam", dam)):
            values = _integers(codes, role)
            known = values != unknown
            bad = np.flatnonzero(known & ((values < 0) | (values >= np.arange(len(values)))))
            if len(bad):
                k = int(bad[0])
                raise PedigreeError(f"the {role} of animal {k} is {values[k]}: a parent must be {unknown} "
                                    f"(unknown) or an animal numbered 0 to {k - 1}, before its offspring")
            columns[role] = np.where(known, values, -1)
        n = len(columns["sire"])
        names = np.arange(n).astype(str).astype(object) if ids is None else ids
        return cls(names, columns["sire"], columns["dam"])

    def numbers(self, ids: Iterable[str]) -> NDArray[np.int32]:
        """The animal numbers of identifiers, as int32.

        Parameters
        ----------
        ids : iterable of str

        Returns
        -------
        numpy.ndarray of int32

        Raises
        ------
        PedigreeError
            An identifier that is not in the pedigree.

        Examples
        --------
        >>> Pedigree.from_records([("a", "0", "0"), ("b", "a", "0")]).numbers(["b"]).tolist()
        [1]
        """
        wanted = np.asarray([ids] if isinstance(ids, str) else list(ids), dtype=object)
        found: NDArray[np.intp] = self._index.get_indexer(wanted)  # type: ignore[no-untyped-call]
        if np.any(found < 0):
            raise PedigreeError(f"animal {wanted[np.argmax(found < 0)]!r} is not in the pedigree")
        return found.astype(np.int32)

    def codes(self, unknown: int) -> tuple[NDArray[np.int32], NDArray[np.int32]]:
        """Sires and dams as contiguous int32 arrays, an unknown parent coded
        `unknown`: len(self) for TOLM.fcoeff, MISSING_PARENT for cald and dijp."""
        code = np.int32(unknown)
        return (np.where(self.sire < 0, code, self.sire).astype(np.int32),
                np.where(self.dam < 0, code, self.dam).astype(np.int32))


def _integers(values: ArrayLike, role: str) -> NDArray[np.int64]:
    array = np.asarray(values)
    if array.shape == (0,):  # [] reads as float64, and holds no code to check
        return np.zeros(0, dtype=np.int64)
    if array.dtype.kind not in "iu" or array.ndim != 1:
        raise TypeError(f"{role} must be a one-dimensional array of integers, got {array.dtype} "
                        f"of shape {array.shape}")
    if array.dtype.kind == "u" and array.dtype.itemsize == 8 and np.any(array > np.iinfo(np.int64).max):
        raise PedigreeError(f"{role} holds codes beyond 64 bits")
    return array.astype(np.int64)


def _parent_numbers(values: ArrayLike, n: int, role: str) -> NDArray[np.int32]:
    numbers = _integers(values, role)
    if numbers.shape != (n,):
        raise PedigreeError("sire and dam need one entry per animal")
    if np.any((numbers < -1) | (numbers > np.iinfo(np.int32).max)):
        raise PedigreeError("every known parent must be numbered below its offspring")
    return numbers.astype(np.int32)


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
    if dam_numbers.shape != (n,) or np.any(sire_numbers < -1) or np.any(sire_numbers >= n) \
            or np.any(dam_numbers < -1) or np.any(dam_numbers >= n):
        raise ValueError("sire and dam must hold one number below their length, or -1, per animal")
    generation = np.empty(n, dtype=np.int64)
    order = np.empty(n, dtype=np.int64)
    placed = _native.generations(sire_numbers, dam_numbers, generation, order, np.empty(n + 1, dtype=np.int64))
    return order[:placed], generation


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
    """The pedigree of the animals numbered `animals` and their ancestors.

    Relationships among the animals kept depend on nothing else when all
    generations are kept, and keep every bit.

    Parameters
    ----------
    pedigree : Pedigree
    animals : array_like of int
        Numbers of the animals to keep.
    generations : int, optional
        Keep ancestors up to this many generations back; by default all.

    Returns
    -------
    pedigree : Pedigree
        In the order of `pedigree`, with the attributes of the animals kept.
    renumber : numpy.ndarray of int32
        The new number of each old animal, −1 for those left out.

    Raises
    ------
    ValueError
        A negative `generations`.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "a", "0"), ("c", "0", "0")])
    >>> ancestry(pedigree, [1])[1].tolist()
    [0, 1, -1]
    """
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
    return select(pedigree.ids, pedigree.sire, pedigree.dam, np.flatnonzero(keep),
                  attributes=pedigree.attributes, added=pedigree.added,
                  groups=(pedigree.group_ids, pedigree.sire_group, pedigree.dam_group))


def select(ids: NDArray[np.object_], sire: Numbers, dam: Numbers, order: Numbers, *,
           attributes: pd.DataFrame | None = None, added: NDArray[np.bool_] | None = None,
           groups: tuple[NDArray[np.object_], Numbers, Numbers] | None = None) -> tuple[Pedigree, NDArray[np.int32]]:
    """The pedigree of the animals `order` names, numbered in that order.

    Parameters
    ----------
    ids, sire, dam : numpy.ndarray
        Identifiers, unique, and parents' numbers (−1 unknown) of all animals.
    order : numpy.ndarray of int
        The animals kept, parents before offspring.
    attributes : pandas.DataFrame, optional
        One row per animal of `ids`, in that order.
    added : numpy.ndarray of bool, optional
        The animals that were added as founders.
    groups : (group_ids, sire_group, dam_group), optional
        The groups of unknown parents, numbered as in `Pedigree.group_ids`,
        of all animals; all groups are kept, used or not.

    Returns
    -------
    pedigree : Pedigree
        A parent left out becomes unknown, of no group.
    renumber : numpy.ndarray of int32
        The new number of every old one, −1 for those left out.

    Raises
    ------
    PedigreeError
        An order in which an offspring comes before its parent.

    Examples
    --------
    >>> ids = np.array(["calf", "bull"], dtype=object)
    >>> select(ids, np.array([1, -1]), np.array([-1, -1]), np.array([1, 0]))[0].sire.tolist()
    [-1, 0]
    """
    renumber = np.full(len(ids), -1, dtype=np.int32)
    renumber[order] = np.arange(len(order), dtype=np.int32)

    def renumbered(parents: Numbers) -> NDArray[np.int32]:
        return np.where(parents < 0, -1, renumber[np.maximum(parents, 0)])

    # A selection of unique identifiers is unique: no need to hash them again.
    pedigree = Pedigree.__new__(Pedigree)
    pedigree._fill(ids[order], renumbered(sire[order]), renumbered(dam[order]),
                   None if attributes is None else attributes.iloc[order], None if added is None else added[order])
    if groups is None:
        pedigree._set_groups(None, None, None)
    else:
        pedigree._set_groups(groups[0], groups[1][order], groups[2][order])
    return pedigree, renumber
