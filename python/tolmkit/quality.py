"""Quality control of genotypes before G: call rates, minor allele
frequencies, monomorphic markers, Mendelian conflicts between genotyped
parents and offspring, and likely duplicates; each removal reported with
its figure and the threshold it failed."""

from __future__ import annotations

import dataclasses
import typing

import numpy as np
import pandas as pd
from numpy.typing import NDArray

from ._advice import argument, refused
from ._matrices import check_genotype_values, genotype_array, genotyped_names, minor_allele_frequencies, threshold
from .pedigree import Pedigree, checked_pedigree

__all__ = [
    "CONFLICT_REMOVALS",
    "MAX_AGREEMENT",
    "MAX_CONFLICTS",
    "MIN_CALL_RATE",
    "MIN_MAF",
    "THRESHOLDS",
    "GenotypeQuality",
    "genotype_quality",
]

#: The share of genotypes called below which a marker, or an animal, is removed.
MIN_CALL_RATE = 0.90
#: The minor allele frequency below which a marker is removed, here and in G.
MIN_MAF = 0.05
#: The share of markers with opposing homozygotes above which a parent and
#: its offspring conflict, and the share of such pairs above which a marker
#: is removed.
MAX_CONFLICTS = 0.01
#: The share of markers called in both on which two animals agree above which
#: they are taken for one animal genotyped twice.
MAX_AGREEMENT = 0.99
#: The thresholds of `genotype_quality`, by argument, with their defaults.
THRESHOLDS = {
    "min_marker_call_rate": MIN_CALL_RATE,
    "min_animal_call_rate": MIN_CALL_RATE,
    "min_maf": MIN_MAF,
    "max_pair_conflicts": MAX_CONFLICTS,
    "max_marker_conflicts": MAX_CONFLICTS,
    "max_agreement": MAX_AGREEMENT,
}
#: What a conflict between a parent and its offspring removes: the
#: offspring's genotypes, or the link to the parent in the pedigree.
CONFLICT_REMOVALS = ("genotype", "parent")

# The columns of the table of removals, and a row of it.
_COLUMNS = ("kind", "marker", "animal", "other", "figure", "threshold")
_Row = tuple[str, typing.Any, typing.Any, typing.Any, float, float]
_NA = pd.NA
# Markers whose indicators are held at once when counting agreements: the
# counts stay exact in float32 while below 2**24.
_MARKERS_AT_ONCE = 1024
# Rows of the counts of agreements compared at once.
_ROWS_AT_ONCE = 1024
# Parent–offspring pairs compared at once.
_PAIRS_AT_ONCE = 256


@dataclasses.dataclass(frozen=True)
class GenotypeQuality:
    """What `genotype_quality` kept, and what it removed and why.

    Attributes
    ----------
    genotypes : numpy.ndarray
        The animals and markers kept, in their order, as given.
    ids : numpy.ndarray of object
        The identifiers of the animals kept.
    animals, markers : numpy.ndarray of int
        The rows and the columns of the genotypes given that were kept.
    removed : pandas.DataFrame
        A row per removal, in the order of the steps: ``kind`` (``marker
        call rate``, ``animal call rate``, ``monomorphic``, ``minor allele
        frequency``, ``parent-offspring conflict``, ``marker conflicts``,
        ``duplicate``), ``marker`` (the column of the genotypes given, for
        markers), ``animal``, ``other`` (the parent, or the animal it
        duplicates), ``figure`` (the call rate, genotype, frequency or
        share) and ``threshold``.
    pedigree : Pedigree or None
        The pedigree given, without the links to conflicting parents when
        those were removed.
    """

    genotypes: NDArray[np.integer[typing.Any]]
    ids: NDArray[np.object_]
    animals: NDArray[np.intp]
    markers: NDArray[np.intp]
    removed: pd.DataFrame
    pedigree: Pedigree | None

    def summary(self) -> str:
        """The removals counted by kind, as ``tolmkit hinv`` prints them.

        Returns
        -------
        str
        """
        counts = self.removed["kind"].value_counts(sort=False)
        lines = [f"quality control: kept {len(self.animals):,} animals and {len(self.markers):,} markers"]
        lines += [f"  removed for {kind}: {count:,}" for kind, count in counts.items()]
        return "\n".join(lines)


def genotype_quality(
    genotypes: typing.Any,
    ids: typing.Any = None,
    *,
    pedigree: Pedigree | None = None,
    min_marker_call_rate: float = MIN_CALL_RATE,
    min_animal_call_rate: float = MIN_CALL_RATE,
    min_maf: float = MIN_MAF,
    max_pair_conflicts: float = MAX_CONFLICTS,
    max_marker_conflicts: float = MAX_CONFLICTS,
    on_conflict: str = "genotype",
    max_agreement: float = MAX_AGREEMENT,
) -> GenotypeQuality:
    """Removes the markers and animals whose genotypes are not to be
    trusted, before `genomic_relationship_matrix`, in these steps, each on
    what the ones before kept:

    1. markers called in fewer than `min_marker_call_rate` of the animals
       (and markers without a genotype);
    2. animals called at fewer than `min_animal_call_rate` of the markers;
    3. monomorphic markers (a single genotype called), then those whose
       minor allele frequency, min(p, 1 − p) with p from the genotypes,
       is below `min_maf`;
    4. with `pedigree`, Mendelian conflicts: for each animal and each of its
       parents, both genotyped, the share of the markers called in both at
       which one is 0 and the other 2. A pair above `max_pair_conflicts`
       loses the offspring's genotypes or the link to the parent
       (`on_conflict`); then the markers at which the remaining pairs
       conflict in more than `max_marker_conflicts` of those called at the
       marker are removed;
    5. likely duplicates: pairs of animals whose genotypes agree at more than
       `max_agreement` of the markers called in both. The animal of fewer
       calls (the later row at a tie) is removed. The agreements are counted
       by products of indicator matrices, Σ_v I_v I_vᵀ over the genotypes
       v = 0, 1, 2 against C Cᵀ for the calls, not pair by pair.

    Parameters
    ----------
    genotypes : array_like of int
        Animals × markers, 0, 1, 2, or −1 for missing, as
        `genomic_relationship_matrix` reads them.
    ids : array_like of str, optional
        The identifier of each animal; needed with `pedigree`. By default
        the animals are named by their row.
    pedigree : Pedigree, optional
        The parents of the genotyped animals, for the Mendelian conflicts.
    min_marker_call_rate, min_animal_call_rate : float, default MIN_CALL_RATE (0.90)
    min_maf : float, default MIN_MAF (0.05)
        From 0 to 0.5.
    max_pair_conflicts, max_marker_conflicts : float, default MAX_CONFLICTS (0.01)
    on_conflict : {"genotype", "parent"}
        What a conflicting pair loses: the offspring's genotypes, or the link
        to the parent (in the `pedigree` returned).
    max_agreement : float, default MAX_AGREEMENT (0.99)

    Returns
    -------
    GenotypeQuality
        The genotypes kept and the table of removals.

    Raises
    ------
    PedigreeError
        A threshold outside 0 … 1 (naming it), an `on_conflict` of another
        value, a `pedigree` without `ids`, no marker or no animal left.
    ValueError, TypeError
        Genotypes refused as `genomic_relationship_matrix` refuses them, or
        `ids` not one per animal.

    Examples
    --------
    >>> genotypes = np.array([[0, 1, 2, 0], [2, 1, 0, 1], [2, 1, 0, 1], [1, 0, -1, 2]], dtype=np.int8)
    >>> kept = genotype_quality(genotypes, ["a", "b", "c", "d"], min_maf=0.0)
    >>> kept.ids.tolist(), kept.markers.tolist()
    (['a', 'b', 'd'], [0, 1, 3])
    >>> kept.removed[["kind", "marker", "animal", "other", "figure"]]
                   kind  marker animal other  figure
    0  marker call rate       2   <NA>  <NA>    0.75
    1         duplicate    <NA>      c     b    1.00
    """
    if pedigree is not None:
        checked_pedigree(pedigree)
    array = genotype_array(genotypes)
    check_genotype_values(array, array.min(axis=0), array.max(axis=0))
    n, m = array.shape
    names = _ids(ids, n)
    given = (
        min_marker_call_rate,
        min_animal_call_rate,
        min_maf,
        max_pair_conflicts,
        max_marker_conflicts,
        max_agreement,
    )
    limits = {name: threshold(name, value, 0.5 if name == "min_maf" else 1.0) for name, value in zip(THRESHOLDS, given)}
    if on_conflict not in CONFLICT_REMOVALS:
        raise refused(argument("on_conflict"), f" must be 'genotype' or 'parent', got {on_conflict!r}")
    if pedigree is not None and ids is None:
        raise refused("the Mendelian conflicts need the identifier of each animal: pass ", argument("ids"))
    removals: list[_Row] = []
    markers = np.arange(m)
    animals = np.arange(n)

    called = np.count_nonzero(array >= 0, axis=0) / n
    low = (called < limits["min_marker_call_rate"]) | (called == 0)
    removals += [
        ("marker call rate", j, _NA, _NA, called[j], limits["min_marker_call_rate"]) for j in np.flatnonzero(low)
    ]
    markers = markers[~low]
    _left(markers, "marker", "min_marker_call_rate")

    rates = np.count_nonzero(array[:, markers] >= 0, axis=1) / len(markers)
    low = rates < limits["min_animal_call_rate"]
    removals += [
        ("animal call rate", _NA, names[i], _NA, rates[i], limits["min_animal_call_rate"]) for i in np.flatnonzero(low)
    ]
    animals = animals[~low]
    _left(animals, "animal", "min_animal_call_rate")

    rows, dropped = _frequencies(array[np.ix_(animals, markers)], markers, limits["min_maf"])
    removals += rows
    markers = markers[~dropped]
    if len(markers) == 0 and all(row[0] == "monomorphic" for row in rows):
        # No threshold would keep a marker: lowering min_maf is no advice.
        raise ValueError(
            f"no marker is left after quality control: each shows a single genotype among the {len(animals):,} "
            "animals kept; genotype more animals"
        )
    _left(markers, "marker", "min_maf")

    if pedigree is not None:
        conflicts, animals, markers, pedigree = _mendelian(
            array, names, animals, markers, pedigree, limits, on_conflict
        )
        removals += conflicts
        _left(markers, "marker", "max_marker_conflicts")

    duplicates, lost = _duplicates(array[np.ix_(animals, markers)], names[animals], limits["max_agreement"])
    removals += duplicates
    animals = np.delete(animals, lost)
    removed = pd.DataFrame(removals, columns=list(_COLUMNS)).astype(
        {"kind": object, "marker": "Int64", "animal": object, "other": object, "figure": float, "threshold": float}
    )
    return GenotypeQuality(array[np.ix_(animals, markers)], names[animals], animals, markers, removed, pedigree)


def _ids(ids: typing.Any, n: int) -> NDArray[np.object_]:
    names = genotyped_names(ids, n)
    return np.array([f"row {i}" for i in range(n)], dtype=object) if names is None else names


def _left(kept: NDArray[np.intp], what: str, name: str) -> None:
    """Refuses a step that left nothing, naming its threshold."""
    if len(kept) == 0:
        raise refused(f"no {what} is left after quality control: lower ", argument(name))


def _frequencies(
    genotypes: NDArray[np.integer[typing.Any]], markers: NDArray[np.intp], min_maf: float
) -> tuple[list[_Row], NDArray[np.bool_]]:
    """The monomorphic markers (with their one genotype) and those of a minor
    allele frequency below `min_maf` (with it): their rows of the table, and
    where they are among `markers`."""
    called = genotypes >= 0
    calls = np.count_nonzero(called, axis=0)
    lowest = np.where(called, genotypes, 3).min(axis=0)
    highest = genotypes.max(axis=0)
    minor = minor_allele_frequencies(np.where(called, genotypes, 0).sum(axis=0), calls)
    single = lowest == highest
    rare = ~single & (minor < min_maf)
    rows = [("monomorphic", int(markers[k]), _NA, _NA, float(lowest[k]), float("nan")) for k in np.flatnonzero(single)]
    rows += [
        ("minor allele frequency", int(markers[k]), _NA, _NA, float(minor[k]), min_maf) for k in np.flatnonzero(rare)
    ]
    return rows, single | rare


def _mendelian(
    array: NDArray[np.integer[typing.Any]],
    names: NDArray[np.object_],
    animals: NDArray[np.intp],
    markers: NDArray[np.intp],
    pedigree: Pedigree,
    limits: dict[str, float],
    on_conflict: str,
) -> tuple[list[_Row], NDArray[np.intp], NDArray[np.intp], Pedigree]:
    """The pairs of genotyped parent and offspring that conflict, what they
    lose, and the markers that conflict in the pairs left."""
    numbers: NDArray[np.intp] = pd.Index(pedigree.ids, dtype=object).get_indexer(names[animals])  # type: ignore[no-untyped-call]
    row = np.full(len(pedigree), -1)
    row[numbers[numbers >= 0]] = animals[numbers >= 0]
    offspring, parents, roles = [], [], []
    known = numbers[numbers >= 0]
    for side, links in enumerate((pedigree.sire, pedigree.dam)):
        parent = links[known]
        genotyped = (parent >= 0) & (row[np.maximum(parent, 0)] >= 0)
        offspring.append(known[genotyped])
        parents.append(parent[genotyped])
        roles.append(np.full(np.count_nonzero(genotyped), side == 0))
    child, parent, by_sire = (np.concatenate(part) for part in (offspring, parents, roles))
    shares = _pair_conflicts(array, row[child], row[parent], markers)[0]
    bad = shares > limits["max_pair_conflicts"]
    rows: list[_Row] = [
        ("parent-offspring conflict", _NA, pedigree.ids[c], pedigree.ids[p], float(s), limits["max_pair_conflicts"])
        for c, p, s in zip(child[bad], parent[bad], shares[bad])
    ]
    good = ~bad
    if on_conflict == "genotype":
        lost = row[child[bad]]
        animals = animals[~np.isin(animals, lost)]
        good &= ~np.isin(row[child], lost) & ~np.isin(row[parent], lost)
    else:
        sire, dam = pedigree.sire.copy(), pedigree.dam.copy()
        sire[child[bad & by_sire]] = -1
        dam[child[bad & ~by_sire]] = -1
        pedigree = Pedigree(
            pedigree.ids,
            sire,
            dam,
            attributes=pedigree.attributes,
            added=pedigree.added,
            group_ids=pedigree.group_ids,
            sire_group=pedigree.sire_group,
            dam_group=pedigree.dam_group,
        )
    conflicting, compared = _pair_conflicts(array, row[child[good]], row[parent[good]], markers)[1:]
    with np.errstate(invalid="ignore", divide="ignore"):
        share = conflicting / compared
    dropped = np.flatnonzero((compared > 0) & (share > limits["max_marker_conflicts"]))
    rows += [
        ("marker conflicts", int(markers[k]), _NA, _NA, float(share[k]), limits["max_marker_conflicts"])
        for k in dropped
    ]
    return rows, animals, np.delete(markers, dropped), pedigree


def _pair_conflicts(
    array: NDArray[np.integer[typing.Any]], first: NDArray[np.intp], second: NDArray[np.intp], markers: NDArray[np.intp]
) -> tuple[NDArray[np.float64], NDArray[np.int64], NDArray[np.int64]]:
    """For each pair of rows, the share of the markers called in both at
    which they are opposing homozygotes (0 where none is called in both);
    for each marker, the pairs at which they are, and those called in both."""
    shares = np.zeros(len(first))
    opposing = np.zeros(len(markers), dtype=np.int64)
    compared = np.zeros(len(markers), dtype=np.int64)
    for start in range(0, len(first), _PAIRS_AT_ONCE):
        stop = start + _PAIRS_AT_ONCE
        x = array[np.ix_(first[start:stop], markers)]
        y = array[np.ix_(second[start:stop], markers)]
        both = (x >= 0) & (y >= 0)
        # Opposing homozygotes: 0 and 2 in either order, the one pattern that no parent passes on.
        conflict = ((x == 0) & (y == 2)) | ((x == 2) & (y == 0))
        calls = np.count_nonzero(both, axis=1)
        np.divide(np.count_nonzero(conflict, axis=1), calls, out=shares[start:stop], where=calls > 0)
        opposing += np.count_nonzero(conflict, axis=0)
        compared += np.count_nonzero(both, axis=0)
    return shares, opposing, compared


def _duplicates(
    genotypes: NDArray[np.integer[typing.Any]], names: NDArray[np.object_], max_agreement: float
) -> tuple[list[_Row], list[int]]:
    """The animals removed as duplicates of another (their rows of the table,
    and their rows of `genotypes`), from the counts of agreements and of
    markers called in both by products of indicators."""
    n, m = genotypes.shape
    # float32 counts are exact integers below 2**24 markers, and its products twice as fast.
    kind: type[np.floating[typing.Any]] = np.float32 if m < 2**24 else np.float64
    agree: NDArray[np.floating[typing.Any]] = np.zeros((n, n), dtype=kind)
    both: NDArray[np.floating[typing.Any]] = np.zeros((n, n), dtype=kind)
    for start in range(0, m, _MARKERS_AT_ONCE):
        chunk = genotypes[:, start : start + _MARKERS_AT_ONCE]
        indicators: NDArray[np.floating[typing.Any]] = np.concatenate([chunk == v for v in (0, 1, 2)], axis=1).astype(
            kind
        )
        agree += indicators @ indicators.T
        called: NDArray[np.floating[typing.Any]] = (chunk >= 0).astype(kind)
        both += called @ called.T
    # Compared in float64 as agree > t · both, a band of rows at a time: the
    # quotient rounded to float32 could pass t at a tie.
    pairs = [np.zeros((0, 2), dtype=np.intp)]
    for start in range(0, n, _ROWS_AT_ONCE):
        stop = start + _ROWS_AT_ONCE
        band = agree[start:stop] > max_agreement * both[start:stop].astype(np.float64)
        found = np.argwhere(band)
        found[:, 0] += start
        pairs.append(found[found[:, 0] < found[:, 1]])
    first, second = np.concatenate(pairs).T
    calls = np.diag(both)
    removed: list[int] = []
    rows: list[_Row] = []
    for i, j in zip(first, second):
        if i in removed or j in removed:
            continue
        lost, kept = (i, j) if calls[i] < calls[j] else (j, i)
        removed.append(int(lost))
        rows.append(("duplicate", _NA, names[lost], names[kept], float(agree[i, j]) / float(both[i, j]), max_agreement))
    return rows, removed
