"""Pedigrees with identifiers, numbered parents first; what they hold, counted;
selections of them; and the sexes of their animals."""

from __future__ import annotations

import dataclasses
import os
import typing
from collections.abc import Iterable, Sequence

import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.compute as pc
from numpy.typing import ArrayLike, NDArray

from . import _native
from ._advice import PedigreeError
from ._arguments import integer, ordered
from ._patterns import ROLES
from .layers import Layers, frozen
from .records import UNKNOWN_PARENTS, Rules, Table, number_records, parents_first, records_table, sex_codes, sex_text
from .threads import resolve

__all__ = [
    "MISSING_PARENT",
    "Pedigree",
    "PedigreeCounts",
    "ancestry",
    "checked_pedigree",
    "from_table",
    "prune",
    "reference_ancestry",
    "reference_numbers",
    "roles",
    "select",
    "sexes",
]

#: The code of an unknown parent in TOLM.cald and TOLM.dijp, as the kernels define it.
MISSING_PARENT: int = _native.MISSING_PARENT

#: How many of the parents added as founders `Pedigree.summary` names.
MOST_OFFSPRING_SHOWN = 3

Numbers = NDArray[np.integer[typing.Any]]


@dataclasses.dataclass(frozen=True)
class PedigreeCounts:
    """What a pedigree holds, counted (`Pedigree.counts`).

    Attributes
    ----------
    animals : int
    founders : int
        Animals with both parents unknown.
    parents_added : int
        Parents that the file does not list as animals, added as founders.
    unknown_sires, unknown_dams : int
        Animals whose sire, or dam, is unknown (of a group or not).
    groups : int
        Groups of unknown parents.
    sires, dams : int
        Animals that are the sire, or the dam, of at least one animal.
    generations : int
        The most generations behind any animal.
    """

    animals: int
    founders: int
    parents_added: int
    unknown_sires: int
    unknown_dams: int
    groups: int
    sires: int
    dams: int
    generations: int

    def labelled(self) -> list[tuple[str, str]]:
        """(attribute, label) of each count as a summary shows it, in order;
        groups only when there are some."""
        return [
            (name, _LABELS.get(name, name.replace("_", " ")))
            for name in (field.name for field in dataclasses.fields(self))
            if name != "groups" or self.groups
        ]


# Labels that say more than the attribute's name.
_LABELS = {"parents_added": "parents added as founders", "groups": "groups of unknown parents"}


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

    A pedigree does not change once made: its arrays are read-only and
    `attributes` is handed out as a copy. What several functions need of it
    (`inbreeding`, `sampling_var`, `generation`, `layers` and the generations
    known) is computed when first asked and kept, so that F is computed once
    however many functions use it. The arrays handed out are read-only views,
    which numpy refuses to make writeable: a caller that writes through the
    memory they view, behind numpy's back, changes what every later answer
    reads.
    """

    def __init__(
        self,
        ids: Sequence[str] | NDArray[np.object_],
        sire: ArrayLike,
        dam: ArrayLike,
        *,
        attributes: pd.DataFrame | None = None,
        added: ArrayLike | None = None,
        group_ids: Sequence[str] | NDArray[np.object_] | None = None,
        sire_group: ArrayLike | None = None,
        dam_group: ArrayLike | None = None,
    ) -> None:
        names = np.array(ids, dtype=object)
        if names.ndim != 1:
            raise TypeError(f"ids must be a sequence of identifiers, one per animal, got {type(ids).__name__}")
        if attributes is not None and not isinstance(attributes, pd.DataFrame):
            raise TypeError(f"attributes must be a pandas DataFrame, got {type(attributes).__name__}")
        missing = np.flatnonzero(pd.isna(names))
        if len(missing):
            raise PedigreeError(f"animal {missing[0]} has no identifier ({names[missing[0]]!r})")
        own = None if attributes is None else _by_animal(attributes, names)
        self._fill(names, sire, dam, own, added, group_ids, sire_group, dam_group)
        if not self._id_index().is_unique:
            raise PedigreeError("the identifiers are not unique")

    def _fill(
        self,
        ids: NDArray[np.object_] | pa.Array,
        sire: ArrayLike,
        dam: ArrayLike,
        attributes: pd.DataFrame | None,
        added: ArrayLike | None,
        group_ids: Sequence[str] | NDArray[np.object_] | None = None,
        sire_group: ArrayLike | None = None,
        dam_group: ArrayLike | None = None,
    ) -> None:
        n = len(ids)
        self._sire = frozen(_parent_numbers(sire, n, "sire"))
        self._dam = frozen(_parent_numbers(dam, n, "dam"))
        # Identifiers read from a file stay pyarrow text until first asked for:
        # millions of Python strings cost more time and memory than the reading.
        self._text_ids: pa.Array | None = ids if isinstance(ids, pa.Array) else None
        self._ids: NDArray[np.object_] | None = None if isinstance(ids, pa.Array) else frozen(ids)
        # Hashed only when first used, for a check or a look-up.
        self._index: pd.Index[typing.Any] | None = None
        numbers = np.arange(n, dtype=np.int32)  # as the parents are
        for parents in (self._sire, self._dam):  # below −1 refused by _parent_numbers
            if np.any(parents >= numbers):
                raise PedigreeError("every known parent must be numbered below its offspring")
        if attributes is None:
            attributes = pd.DataFrame(index=range(n))
        if len(attributes) != n:
            raise PedigreeError(f"attributes need one row per animal, got {len(attributes)} for {n}")
        # By position: indexed by the identifiers when handed out. The frame
        # is the pedigree's own (its callers copy a frame of someone else's),
        # so a shallow copy holds its columns without copying millions of rows.
        self._attributes = attributes.copy(deep=False)
        self._attributes.index = pd.RangeIndex(n)
        flags = np.zeros(n, dtype=bool) if added is None else np.array(added)
        if flags.dtype != bool:
            raise TypeError(f"added must be True or False for each animal, got {added!r:.60}")
        if flags.shape != (n,):
            raise PedigreeError("added needs one entry per animal")
        self._added = frozen(flags)
        groups = np.zeros(0, dtype=object) if group_ids is None else np.array(group_ids, dtype=object)
        if groups.ndim != 1 or not pd.Index(groups).is_unique:
            raise PedigreeError("group_ids must list each group once")
        self._group_ids = frozen(groups)
        # Without groups both are −1 throughout: one read-only array serves
        # both, made when first asked for, which most functions never do.
        self._parent_groups: tuple[NDArray[np.int32], NDArray[np.int32]] | None = (
            None
            if sire_group is None and dam_group is None
            else (
                frozen(_group_numbers(sire_group, self._sire, len(groups), "sire", self)),
                frozen(_group_numbers(dam_group, self._dam, len(groups), "dam", self)),
            )
        )
        self._inbreeding: tuple[NDArray[np.float64], NDArray[np.float64]] | None = None
        self._generation: NDArray[np.int64] | None = None
        self._layers: Layers | None = None
        self._known: tuple[NDArray[np.int64], NDArray[np.float64]] | None = None

    @property
    def ids(self) -> NDArray[np.object_]:
        """The identifiers, in the numbering of the animals (read-only)."""
        ids = self._ids
        if ids is None:
            assert self._text_ids is not None
            # A copy of its own: the array pyarrow makes could be made writeable
            # again. The text stays, so that threads asking at once each find it.
            ids = self._ids = frozen(np.array(self._text_ids.to_numpy(zero_copy_only=False), dtype=object))
        return ids

    def _id_values(self) -> NDArray[np.object_] | pa.Array:
        """The identifiers as they are held: pyarrow text until first asked for."""
        return self._text_ids if self._text_ids is not None else self.ids

    def _id_index(self) -> pd.Index[typing.Any]:
        if self._index is None:
            self._index = pd.Index(self.ids, dtype=object, copy=False)
        return self._index

    @property
    def sire(self) -> NDArray[np.int32]:
        """The sire's number of each animal, −1 unknown (read-only)."""
        return self._sire

    @property
    def dam(self) -> NDArray[np.int32]:
        """The dam's number of each animal, −1 unknown (read-only)."""
        return self._dam

    @property
    def added(self) -> NDArray[np.bool_]:
        """The parents that were not listed as animals and were added as founders (read-only)."""
        return self._added

    @property
    def group_ids(self) -> NDArray[np.object_]:
        """The codes of the groups of unknown parents, in the order of their numbers (read-only)."""
        return self._group_ids

    @property
    def sire_group(self) -> NDArray[np.int32]:
        """The group number of each unknown sire, −1 for none or a known sire (read-only)."""
        return self._groups_of_parents()[0]

    @property
    def dam_group(self) -> NDArray[np.int32]:
        """The group number of each unknown dam, −1 for none or a known dam (read-only)."""
        return self._groups_of_parents()[1]

    def _groups_of_parents(self) -> tuple[NDArray[np.int32], NDArray[np.int32]]:
        groups = self._parent_groups
        if groups is None:
            none = frozen(np.full(len(self), -1, dtype=np.int32))
            groups = self._parent_groups = (none, none)
        return groups

    @property
    def attributes(self) -> pd.DataFrame:
        """The file's other columns, one row per animal indexed by `ids`: a copy."""
        return self._attributes.set_axis(self._id_index(), axis=0)

    @property
    def inbreeding(self) -> NDArray[np.float64]:
        """F of every animal, bit for bit that of TOLM.fcoeff (read-only); see `tolmkit.inbreeding`."""
        return self.coefficients()[0]

    @property
    def sampling_var(self) -> NDArray[np.float64]:
        """0.5 − (F_sire + F_dam) / 4 of every animal, an unknown parent counting F = −1 (read-only)."""
        return self.coefficients()[1]

    @property
    def generation(self) -> NDArray[np.int64]:
        """The most generations between each animal and a founder, 0 for founders (read-only)."""
        if self._generation is None:
            self._generation = frozen(parents_first(self._sire, self._dam)[1])
        return self._generation

    @property
    def layers(self) -> Layers:
        """The animals in layers of `generation`, with the passes between them."""
        if self._layers is None:
            self._layers = Layers(self._sire, self._dam, self.generation)
        return self._layers

    @property
    def complete_generations(self) -> NDArray[np.int64]:
        """0 for an animal with a parent unknown, else 1 + the smaller over its parents (read-only)."""
        return self._generations_known()[0]

    @property
    def equivalent_generations(self) -> NDArray[np.float64]:
        """The sum over known parents of (1 + that of the parent) / 2 (read-only)."""
        return self._generations_known()[1]

    def coefficients(self, *, threads: int | None = None) -> tuple[NDArray[np.float64], NDArray[np.float64]]:
        """F and the Mendelian-sampling variances (`inbreeding`, `sampling_var`),
        computed when first asked, on `threads` threads, and kept.

        The ancestor passes of TOLM.fcoeff, in the companion: a layer of
        `layers` at a time, its animals in batches that the threads take in
        turn, each animal's sum in the same order on any thread, so that the
        bits are those of TOLM.fcoeff whatever the threads.

        Parameters
        ----------
        threads : int, optional
            By default `tolmkit.get_threads()`.

        Returns
        -------
        inbreeding, sampling_var : numpy.ndarray of float64
            Read-only.
        """
        count = resolve(threads)
        if self._inbreeding is None:
            layers = self.layers
            sire, dam = self.codes(unknown=len(self))
            coefficients, sampling_var = _native.inbreeding(sire, dam, layers.order, layers.bounds, count)
            self._inbreeding = frozen(coefficients)[: len(self)], frozen(sampling_var)
        return self._inbreeding

    def _generations_known(self) -> tuple[NDArray[np.int64], NDArray[np.float64]]:
        if self._known is None:
            complete = np.zeros(len(self), dtype=np.int64)
            equivalent = np.zeros(len(self))
            layers = self.layers
            for depth in range(1, len(layers)):
                rows = layers.rows(depth)
                sire, dam = self._sire[rows], self._dam[rows]
                s, d = np.maximum(sire, 0), np.maximum(dam, 0)
                equivalent[rows] = np.where(sire >= 0, (1.0 + equivalent[s]) / 2.0, 0.0) + np.where(
                    dam >= 0, (1.0 + equivalent[d]) / 2.0, 0.0
                )
                complete[rows] = np.where((sire >= 0) & (dam >= 0), 1 + np.minimum(complete[s], complete[d]), 0)
            self._known = frozen(complete), frozen(equivalent)
        return self._known

    def __len__(self) -> int:
        return len(self._sire)

    def __repr__(self) -> str:
        counts = self.counts()
        shown = ", ".join(f"{name}={getattr(counts, name)}" for name, _ in counts.labelled())
        return f"Pedigree({shown})"

    def counts(self) -> PedigreeCounts:
        """What the pedigree holds, counted.

        Returns
        -------
        PedigreeCounts

        Examples
        --------
        >>> Pedigree.from_records([("calf", "bull", "cow")]).counts().parents_added
        2
        """
        sire, dam = self.sire, self.dam
        return PedigreeCounts(
            animals=len(self),
            founders=int(np.count_nonzero((sire < 0) & (dam < 0))),
            parents_added=int(np.count_nonzero(self.added)),
            unknown_sires=int(np.count_nonzero(sire < 0)),
            unknown_dams=int(np.count_nonzero(dam < 0)),
            groups=len(self.group_ids),
            sires=len(np.unique(sire[sire >= 0])),
            dams=len(np.unique(dam[dam >= 0])),
            generations=int(self.generation.max(initial=0)),
        )

    def summary(self) -> str:
        """What the pedigree holds, a line for each count.

        Returns
        -------
        str
            The counts of `counts`, groups of unknown parents only when there
            are some; then the parents added as founders with the most
            offspring, where a group code read as an animal would show.

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
        counts = self.counts()
        labels = [(label, getattr(counts, name)) for name, label in counts.labelled()]
        width = max(len(label) for label, _ in labels) + 2
        digits = len(f"{len(self):,}")
        lines = [f"{label:<{width}}{value:>{digits},}" for label, value in labels]
        if np.any(self.added):
            # A group of unknown parents read as an animal stands out by its offspring.
            offspring = np.bincount(self.sire[self.sire >= 0], minlength=len(self)) + np.bincount(
                self.dam[self.dam >= 0], minlength=len(self)
            )
            added = np.flatnonzero(self.added)
            most = added[np.argsort(-offspring[added], kind="stable")[:MOST_OFFSPRING_SHOWN]]
            lines.append(
                "most offspring among parents added as founders: "
                + ", ".join(f"{self.ids[k]} ({offspring[k]:,})" for k in most)
            )
        return "\n".join(lines)

    @classmethod
    def from_records(
        cls,
        records: Iterable[Sequence[object]],
        *,
        unknown: str | Iterable[str] = UNKNOWN_PARENTS,
        selfing: bool = False,
        lines: Sequence[int] | None = None,
        case_distinct: bool = False,
    ) -> Pedigree:
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
        case_distinct : bool
            Take identifiers that differ only in case (NL1, nl1) for
            different animals; by default they are refused.

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
        # Iterating a DataFrame gives its column labels. (As an object: narrowing the
        # records' own type would make a type that the stubs' check takes for an export.)
        if isinstance(typing.cast(object, records), pd.DataFrame):
            raise TypeError(
                "records must be (animal, sire, dam) sequences, got a DataFrame: read it with read_pedigree"
            )
        table = records_table(records, lines)
        return from_table(table, Rules.given(unknown, selfing, extra=[""], case_distinct=case_distinct))

    @classmethod
    def from_numbers(
        cls, sire: ArrayLike, dam: ArrayLike, *, unknown: int, ids: Sequence[str] | None = None
    ) -> Pedigree:
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
        if integer(unknown) is None:
            raise TypeError(f"unknown must be an integer code, got {unknown!r}")
        columns = {}
        for role, codes in (("sire", sire), ("dam", dam)):
            values = _integers(codes, role)
            known = values != unknown
            bad = np.flatnonzero(known & ((values < 0) | (values >= np.arange(len(values)))))
            if len(bad):
                k = int(bad[0])
                raise PedigreeError(
                    f"the {role} of animal {k} is {values[k]}: a parent must be {unknown} "
                    f"(unknown) or an animal numbered 0 to {k - 1}, before its offspring"
                )
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
        TypeError
            A number asked for among identifiers that are text; a set, whose
            order changes from one run to the next.

        Examples
        --------
        >>> Pedigree.from_records([("a", "0", "0"), ("b", "a", "0")]).numbers(["b"]).tolist()
        [1]
        """
        if isinstance(ids, np.ndarray) and ids.ndim == 0:
            ids = [ids.item()]
        wanted = np.asarray(
            list(ordered(ids, "the identifiers"))
            if isinstance(ids, Iterable) and not isinstance(ids, (str, bytes))
            else [ids],
            dtype=object,
        )
        found = self._text_numbers(wanted)
        if found is None:
            try:
                found = self._id_index().get_indexer(wanted)  # type: ignore[no-untyped-call]
            except UnicodeEncodeError:  # pandas' pyarrow strings take no lone surrogate, nor does any identifier
                encodable = np.array([_encodes(name) for name in wanted], dtype=bool)
                found = np.full(len(wanted), -1, dtype=np.intp)
                found[encodable] = self._id_index().get_indexer(wanted[encodable])  # type: ignore[no-untyped-call]
        if np.any(found < 0):
            raise self._not_found(wanted[np.argmax(found < 0)])
        return found.astype(np.int32)

    def _text_numbers(self, wanted: NDArray[np.object_]) -> NDArray[np.intp] | None:
        """The numbers of identifiers by one pass over the pyarrow text with a
        hash table of those asked for (pyarrow.compute.index_in), −1 for one
        not found; None where the text is not held or one asked for is not a
        str. Hashing millions of Python strings for pandas' index would take
        seconds, far more than such a pass."""
        if self._text_ids is None or not all(isinstance(name, str) for name in wanted):
            return None
        try:
            keys = pa.array(wanted, pa.string())
        except UnicodeEncodeError:  # a lone surrogate, which no identifier of the text holds
            return None
        distinct = pc.unique(keys)
        at = pc.index_in(self._text_ids, value_set=distinct)
        rows = pc.indices_nonzero(pc.is_valid(at))
        numbers = np.full(len(distinct), -1, dtype=np.intp)
        numbers[pc.take(at, rows).to_numpy()] = rows.to_numpy()
        found: NDArray[np.intp] = numbers[pc.index_in(keys, value_set=distinct).to_numpy()]
        return found

    def _not_found(self, name: object) -> Exception:
        """The refusal of an identifier asked for that is not in the pedigree,
        saying how it may have been meant."""
        text = None
        whole = integer(name)
        if isinstance(name, bytes):
            text = name.decode(errors="replace")
        elif whole is not None:
            text = str(whole)
        elif isinstance(name, (float, np.floating)) and np.isfinite(name):
            text = str(int(name)) if float(name).is_integer() else str(name)
        if text is not None and len(self) > 0 and isinstance(self.ids[0], str):
            there = "" if text in self._id_index() else ", which is not in the pedigree either"
            return TypeError(
                f"animal {name} is given as {type(name).__name__}, but the pedigree's identifiers are "
                f"text: pass {text!r}{there}"
            )
        if isinstance(name, str) and len(self) > 0 and integer(self.ids[0]) is not None:
            number = int(name) if name.strip().isdecimal() and name.isascii() else None
            if number is not None and number in self._id_index():
                return TypeError(
                    f"animal {name!r} is given as text, but the pedigree's identifiers are numbers: pass {number}"
                )
        if isinstance(name, str):
            folded = np.char.lower(self.ids.astype(str)) == name.lower()
            if np.any(folded):
                return PedigreeError(
                    f"animal {name!r} is not in the pedigree, but {self.ids[np.argmax(folded)]!r} "
                    f"is: identifiers that differ in case name different animals"
                )
        return PedigreeError(f"animal {name!r} is not in the pedigree")

    def codes(self, unknown: int) -> tuple[NDArray[np.int32], NDArray[np.int32]]:
        """Sires and dams as contiguous int32 arrays, an unknown parent coded
        `unknown`: len(self) for TOLM.fcoeff, MISSING_PARENT for cald and dijp."""
        code = np.int32(unknown)
        return (
            np.where(self.sire < 0, code, self.sire).astype(np.int32),
            np.where(self.dam < 0, code, self.dam).astype(np.int32),
        )


def _by_animal(attributes: pd.DataFrame, ids: NDArray[np.object_]) -> pd.DataFrame:
    """A copy of `attributes` a row per animal in the order of `ids`: by
    position under pandas' default index (0, 1, …), else by the identifiers that
    index it, which are every animal's once."""
    index = attributes.index
    if np.array_equal(np.asarray(index), np.arange(len(index))):
        return attributes.copy()
    if not index.is_unique or len(index) != len(ids) or not index.isin(ids).all():
        raise PedigreeError(
            f"attributes are indexed by {index[:3].tolist()!r}…, which are not the identifiers each once; index "
            "them by the identifiers, or by position (reset_index(drop=True)) in the order of ids"
        )
    return attributes.reindex(pd.Index(ids, dtype=object))


def _group_numbers(
    values: ArrayLike | None, parents: NDArray[np.int32], groups: int, role: str, pedigree: Pedigree
) -> NDArray[np.int32]:
    if values is None:
        return np.full(len(parents), -1, dtype=np.int32)
    numbers = _integers(values, f"{role}_group")
    if numbers.shape != parents.shape:
        raise PedigreeError(f"{role}_group needs one entry per animal")
    bad = np.flatnonzero((numbers < -1) | (numbers >= groups) | ((numbers >= 0) & (parents >= 0)))
    if len(bad):
        k = int(bad[0])
        raise PedigreeError(
            f"{role}_group of animal {pedigree.ids[k]!r} is {numbers[k]}: a group number "
            f"(0 to {groups - 1}) is given only for an unknown {role}, else -1"
        )
    return numbers.astype(np.int32)


def _integers(values: ArrayLike, role: str) -> NDArray[np.int64]:
    array = np.asarray(values)
    if array.shape == (0,):  # [] reads as float64, and holds no code to check
        return np.zeros(0, dtype=np.int64)
    if array.dtype.kind not in "iu" or array.ndim != 1:
        raise TypeError(f"{role} must be a one-dimensional array of integers, got {array.dtype} of shape {array.shape}")
    if array.dtype.kind == "u" and array.dtype.itemsize == 8 and np.any(array > np.iinfo(np.int64).max):
        raise PedigreeError(f"{role} holds codes beyond 64 bits")
    return array.astype(np.int64, copy=False)  # read, never written: the caller's own array will do


def _parent_numbers(values: ArrayLike, n: int, role: str) -> NDArray[np.int32]:
    given = np.asarray(values)
    # Numbers in 32 bits, as the reader makes them, are checked as they are.
    numbers = given if given.dtype == np.int32 and given.ndim == 1 else _integers(values, role)
    if numbers.shape != (n,):
        raise PedigreeError("sire and dam need one entry per animal")
    if np.any((numbers < -1) | (numbers > np.iinfo(np.int32).max)):
        raise PedigreeError("every known parent must be numbered below its offspring")
    return numbers.astype(np.int32)


def checked_pedigree(pedigree: object) -> None:
    """Refuses anything but a `Pedigree` where a function takes one.

    A data frame has columns named sire and dam too: read as the numbers of
    animals, they would give numbers silently wrong.

    Parameters
    ----------
    pedigree : object

    Raises
    ------
    TypeError
        Naming what was given and how a Pedigree is made of it.

    Examples
    --------
    >>> checked_pedigree(pd.DataFrame({"id": ["a"], "sire": ["0"], "dam": ["0"]}))
    Traceback (most recent call last):
    ...
    TypeError: pedigree must be a tolmkit.Pedigree, got a DataFrame: make one with tolmkit.read_pedigree(frame)
    """
    if isinstance(pedigree, Pedigree):
        return
    if isinstance(pedigree, pd.DataFrame):
        advice = "make one with tolmkit.read_pedigree(frame)"
    elif isinstance(pedigree, (str, os.PathLike)):
        advice = "read the file with tolmkit.read_pedigree(path)"
    else:
        advice = "make one with tolmkit.read_pedigree, Pedigree.from_records or Pedigree.from_numbers"
    raise TypeError(f"pedigree must be a tolmkit.Pedigree, got a {type(pedigree).__name__}: {advice}")


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
    checked_pedigree(pedigree)
    return ancestry(pedigree, pedigree.numbers(ids), generations=generations)[0]


def ancestry(
    pedigree: Pedigree, animals: ArrayLike, *, generations: int | None = None
) -> tuple[Pedigree, NDArray[np.int32]]:
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
        A negative `generations`; `animals` that are not numbers of animals
        of `pedigree` (0 to its size − 1).

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "a", "0"), ("c", "0", "0")])
    >>> ancestry(pedigree, [1])[1].tolist()
    [0, 1, -1]
    """
    checked_pedigree(pedigree)
    most = None if generations is None else integer(generations)
    if generations is not None and (most is None or most < 0):
        raise ValueError(f"generations must be a non-negative integer or None, got {generations!r}")
    given = np.asarray(animals).ravel()
    wrong = given if given.dtype.kind not in "iu" else given[(given < 0) | (given >= len(pedigree))]
    if len(wrong):
        shown = wrong[0].item() if isinstance(wrong[0], np.generic) else wrong[0]
        raise ValueError(
            f"animals must be numbers of animals, 0 to {len(pedigree) - 1}, got {shown!r}; "
            f"Pedigree.numbers gives those of identifiers"
        )
    chosen = given.astype(np.int64)
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
    kept, renumber = select(
        pedigree._id_values(),
        pedigree.sire,
        pedigree.dam,
        np.flatnonzero(keep),
        attributes=pedigree._attributes,
        added=pedigree.added,
        group_ids=pedigree.group_ids,
        sire_group=pedigree.sire_group,
        dam_group=pedigree.dam_group,
    )
    if generations is None:
        # F and the generations of an animal depend on its ancestors alone,
        # all kept: those of the whole pedigree hold, to the bit.
        if pedigree._inbreeding is not None:
            f, sampling_var = pedigree._inbreeding
            kept._inbreeding = frozen(f[keep]), frozen(sampling_var[keep])
        if pedigree._generation is not None:
            kept._generation = frozen(pedigree._generation[keep])
    return kept, renumber


def _encodes(name: object) -> bool:
    """Whether `name` is not text that UTF-8 cannot hold (a lone surrogate)."""
    try:
        if isinstance(name, str):
            name.encode()
    except UnicodeEncodeError:
        return False
    return True


def reference_numbers(pedigree: Pedigree, reference: str | Iterable[str]) -> NDArray[np.int64]:
    """The numbers of a reference population's animals, each once, in order.

    Parameters
    ----------
    pedigree : Pedigree
    reference : str or iterable of str
        Identifiers of the reference animals; a single identifier alone.

    Returns
    -------
    numpy.ndarray of int64

    Raises
    ------
    ValueError
        No reference animal.
    PedigreeError
        An identifier that is not in the pedigree (see `Pedigree.numbers`).

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "a", "0")])
    >>> reference_numbers(pedigree, ["b", "a", "b"]).tolist()
    [0, 1]
    """
    # In any order: the numbers come back sorted, each once.
    listed = [reference] if isinstance(reference, str) else list(reference)
    animals = np.unique(pedigree.numbers(listed)).astype(np.int64)
    if len(animals) == 0:
        raise ValueError("the reference population has no animal")
    return animals


def reference_ancestry(pedigree: Pedigree, reference: str | Iterable[str]) -> tuple[Pedigree, NDArray[np.int64]]:
    """The pedigree of a reference population and its ancestors, all that
    its figures depend on, and the reference's numbers there.

    Parameters
    ----------
    pedigree : Pedigree
    reference : str or iterable of str
        Identifiers of the reference animals.

    Returns
    -------
    pedigree : Pedigree
    animals : numpy.ndarray of int64

    Raises
    ------
    ValueError
        No reference animal.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "a", "0"), ("c", "0", "0")])
    >>> kept, animals = reference_ancestry(pedigree, ["b"])
    >>> len(kept), animals.tolist()
    (2, [1])
    """
    animals = reference_numbers(pedigree, reference)
    kept, renumber = ancestry(pedigree, animals)
    return kept, renumber[animals].astype(np.int64)


def select(
    ids: NDArray[np.object_] | pa.Array,
    sire: Numbers,
    dam: Numbers,
    order: Numbers,
    *,
    attributes: pd.DataFrame | None = None,
    added: NDArray[np.bool_] | None = None,
    group_ids: NDArray[np.object_] | None = None,
    sire_group: Numbers | None = None,
    dam_group: Numbers | None = None,
) -> tuple[Pedigree, NDArray[np.int32]]:
    """The pedigree of the animals `order` names, numbered in that order.

    Parameters
    ----------
    ids, sire, dam : numpy.ndarray
        Identifiers, unique (or a pyarrow array of them), and parents'
        numbers (−1 unknown) of all animals.
    order : numpy.ndarray of int
        The animals kept, parents before offspring.
    attributes : pandas.DataFrame, optional
        One row per animal of `ids`, in that order.
    added : numpy.ndarray of bool, optional
        The animals that were added as founders.
    group_ids, sire_group, dam_group : numpy.ndarray, optional
        The groups of unknown parents, and the group of each animal's
        unknown sire and dam (−1 for none), as `Pedigree` holds them.

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
    return _select(ids, sire, dam, order, attributes, added, group_ids, sire_group, dam_group, owned=False)


def _select(
    ids: NDArray[np.object_] | pa.Array,
    sire: Numbers,
    dam: Numbers,
    order: Numbers,
    attributes: pd.DataFrame | None,
    added: NDArray[np.bool_] | None,
    group_ids: NDArray[np.object_] | None,
    sire_group: Numbers | None,
    dam_group: Numbers | None,
    *,
    owned: bool,
) -> tuple[Pedigree, NDArray[np.int32]]:
    """`select`; with `owned`, `attributes` is a frame that nothing else
    holds, which the pedigree takes as its own where it keeps every row."""
    positions = np.arange(len(order), dtype=np.int32)
    renumber = np.full(len(ids), -1, dtype=np.int32)
    renumber[order] = positions
    # Files exported oldest first keep their order: no gathers then.
    kept_all = len(order) == len(ids) and bool(np.array_equal(order, positions))

    def taken(values: typing.Any) -> typing.Any:
        if values is None or (kept_all and isinstance(values, pa.Array)):
            return values
        if isinstance(values, pa.Array):
            return values.take(pa.array(order))
        return values.copy() if kept_all else values[order]

    def renumbered(parents: Numbers) -> Numbers:
        if kept_all:  # copied by the pedigree, and here only where a code below −1 is
            return parents if len(parents) == 0 or parents.min() >= -1 else np.maximum(parents, -1)
        chosen = parents[order]
        return np.where(chosen < 0, -1, renumber[np.maximum(chosen, 0)])

    # A selection of unique identifiers is unique: no need to hash them again.
    pedigree = Pedigree.__new__(Pedigree)
    pedigree._fill(
        taken(ids),
        renumbered(sire),
        renumbered(dam),
        None if attributes is None else _kept(attributes, order, kept_all, owned),
        taken(added),
        group_ids,
        taken(sire_group),
        taken(dam_group),
    )
    return pedigree, renumber


def _kept(attributes: pd.DataFrame, order: Numbers, kept_all: bool, owned: bool) -> pd.DataFrame:
    """The rows `order` of a frame, in a frame of the pedigree's own."""
    if not kept_all:
        return attributes.iloc[order]
    return attributes if owned else attributes.copy()


def from_table(table: Table, rules: Rules) -> Pedigree:
    """The pedigree of a table of records, numbered and checked by `rules`
    (`tolmkit.records.number_records`).

    Parameters
    ----------
    table : tolmkit.records.Table
    rules : tolmkit.records.Rules

    Returns
    -------
    Pedigree

    Raises
    ------
    PedigreeError
        A record that breaks the rules, naming it.

    Examples
    --------
    >>> from tolmkit.records import records_table
    >>> from_table(records_table([("b", "a", "0")]), Rules.given(UNKNOWN_PARENTS, False)).ids.tolist()
    ['a', 'b']
    """
    numbering = number_records(table, rules)
    return _select(
        numbering.ids,
        numbering.sire,
        numbering.dam,
        numbering.order,
        numbering.attributes,
        numbering.added,
        numbering.group_ids,
        numbering.sire_group,
        numbering.dam_group,
        owned=True,
    )[0]


def roles(pedigree: Pedigree) -> tuple[NDArray[np.bool_], NDArray[np.bool_]]:
    """Whether each animal is a sire, and whether it is a dam.

    Parameters
    ----------
    pedigree : Pedigree

    Returns
    -------
    sire, dam : numpy.ndarray of bool

    Examples
    --------
    >>> [role.tolist() for role in roles(Pedigree.from_records([("calf", "bull", "cow")]))]
    [[True, False, False], [False, True, False]]
    """
    sire, dam = np.zeros(len(pedigree), dtype=bool), np.zeros(len(pedigree), dtype=bool)
    sire[pedigree.sire[pedigree.sire >= 0]] = True
    dam[pedigree.dam[pedigree.dam >= 0]] = True
    return sire, dam


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
    checked_pedigree(pedigree)
    sire, dam = roles(pedigree)
    sex = np.where(sire & ~dam, 1, np.where(dam & ~sire, 2, 0)).astype(np.int8)
    attributes = pedigree.attributes
    column = next((name for name in attributes.columns if ROLES["sex"].fullmatch(str(name).strip())), None)
    if column is not None:
        recorded = sex_codes(sex_text(attributes[column].to_numpy()))
        sex = np.where(recorded > 0, recorded, sex)
    return sex
