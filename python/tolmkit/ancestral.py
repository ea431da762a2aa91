"""Where inbreeding comes from: how much of it is ancestral (alleles that
were already identical by descent in an ancestor), and which founders'
alleles make it."""

from __future__ import annotations

import dataclasses
import math
import typing
from collections.abc import Iterable, Iterator

import numpy as np
import pandas as pd
import scipy.sparse as sp
from numpy.typing import NDArray

from ._arguments import checked_seed, integer
from .layers import Layers
from .pedigree import Pedigree, checked_pedigree, reference_ancestry

__all__ = [
    "DROPS",
    "EXACT_DEPTH",
    "EXACT_UP_TO",
    "MOST_INBREEDING",
    "AncestralInbreeding",
    "PartialInbreeding",
    "ancestral_inbreeding",
    "kalinowski_inbreeding",
    "partial_inbreeding",
]

#: Gene drops by default.
DROPS = 10_000

#: Animals in the reference's ancestry up to which partial inbreeding is exact.
EXACT_UP_TO = 20_000
#: Generations of the reference's ancestry up to which partial inbreeding is
#: exact: its passes take time in the square of the generations (a selfed line
#: of 200 generations half a minute), gene drops in their number.
EXACT_DEPTH = 60

#: Founders whose partial inbreeding is given one by one.
MOST_INBREEDING = 10

# Allele copies held at once by a batch of drops (12 bytes each): some 100 MB.
_COPIES_AT_ONCE = 1 << 23
# The most gene drops: their time grows with drops × ancestry, some minutes
# for these on the smallest pedigree, while the Monte Carlo error, at most
# ½/√drops, is 1.1e-5 there already.
_MOST_DROPS = 1 << 31
# Animals whose rows of T are held at once by the exact partial inbreeding.
_ROWS_AT_ONCE = 2048

_Floats = NDArray[np.float64]
_Ints = NDArray[np.int64]


@dataclasses.dataclass(frozen=True, eq=False)
class AncestralInbreeding:
    """Kalinowski, Hedrick and Miller's split of the reference animals' F.

    Attributes
    ----------
    animals : pandas.DataFrame
        Indexed by identifier, with columns `inbreeding` (F, exact),
        `identical` (the share of the drops in which the animal's two
        alleles were identical by descent, F's estimate), `ancestral`
        (F_ANC), `new` (F_NEW = identical − ancestral) and `ancestral_se`
        (the Monte Carlo error of F_ANC, √(p(1 − p)/drops)).
    ancestral, new : float
        The means of F_ANC and F_NEW over the reference animals.
    ancestral_se : float
        The Monte Carlo error of the mean F_ANC, from the spread of the
        drops' means.
    drops : int
    seed : int
    """

    animals: pd.DataFrame
    ancestral: float
    new: float
    ancestral_se: float
    drops: int
    seed: int


@dataclasses.dataclass(frozen=True, eq=False)
class PartialInbreeding:
    """The reference animals' F split by the founders whose alleles are
    identical by descent (`partial_inbreeding`).

    Attributes
    ----------
    founders : pandas.DataFrame
        The founders contributing most to the mean F, most first, indexed by
        identifier, and a last row "other founders": columns `inbreeding`
        (their part of the mean F; the rows sum to it), `share` (of the mean
        F) and `se` (the Monte Carlo error by gene dropping, 0 when exact).
    animals : pandas.DataFrame
        One row per reference animal, one column per founder of `founders`
        (F_i(j)), then `other founders` and `inbreeding` (F_i, their sum).
    mean_inbreeding : float
        The reference animals' mean F.
    exact : bool
        Whether by the exact decomposition (the ancestry within
        `max_animals` and `EXACT_DEPTH`) or by gene dropping.
    ancestry : int
        Animals in the reference animals' ancestry.
    drops : int
        Gene drops (0 when exact).
    """

    founders: pd.DataFrame
    animals: pd.DataFrame
    mean_inbreeding: float
    exact: bool
    ancestry: int
    drops: int


def ancestral_inbreeding(pedigree: Pedigree) -> pd.Series[float]:
    """Ballou's (1997) ancestral inbreeding of every animal: the chance that
    an allele of the animal has been identical by descent in at least one
    ancestor.

    F_a,i = ½ [F_a,s + (1 − F_a,s) F_s + F_a,d + (1 − F_a,d) F_d], s and d
    the parents (the terms of an unknown parent 0), so that F_a is 0 for
    founders and their offspring. Exact: a pass down the layers of the
    pedigree.

    Parameters
    ----------
    pedigree : Pedigree

    Returns
    -------
    pandas.Series of float
        Indexed by identifier, in the order of `pedigree.ids`.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("b", "a", "a"), ("c", "b", "b")], selfing=True)
    >>> ancestral_inbreeding(pedigree).tolist()
    [0.0, 0.0, 0.5]
    """
    checked_pedigree(pedigree)
    f = pedigree.inbreeding
    ballou = np.zeros(len(pedigree))
    layers = pedigree.layers
    for depth in range(1, len(layers)):
        rows = layers.rows(depth)
        halves = []
        for parents in (pedigree.sire[rows], pedigree.dam[rows]):
            p = np.maximum(parents, 0)
            halves.append(np.where(parents >= 0, ballou[p] + (1.0 - ballou[p]) * f[p], 0.0))
        ballou[rows] = 0.5 * (halves[0] + halves[1])
    return pd.Series(ballou, index=pd.Index(pedigree.ids, name="id"), name="ancestral_inbreeding")


def kalinowski_inbreeding(
    pedigree: Pedigree, reference: Iterable[str], *, drops: int = DROPS, seed: int = 0
) -> AncestralInbreeding:
    """Kalinowski, Hedrick and Miller's (2000) split F = F_ANC + F_NEW of the
    reference animals, by gene dropping.

    Every unknown parent brings an allele of its own; each drop passes one
    of each parent's two alleles, at random, to the offspring, founders
    first. An allele copy is marked once it has been identical by descent
    in an animal (both of the animal's copies marked), and carries the mark
    down. F_ANC is the chance that the animal's two alleles are identical by
    descent and that the allele has been so before; as Doekes et al. (2020)
    corrected it, the two copies are one allele, so that a mark on either
    counts. F_NEW is the rest of F: the alleles first identical in the
    animal itself.

    Parameters
    ----------
    pedigree : Pedigree
    reference : iterable of str
        Identifiers of the reference animals.
    drops : int, default 10,000
    seed : int, default 0
        The seed of the drops, so that the figures can be had again.

    Returns
    -------
    AncestralInbreeding

    Raises
    ------
    PedigreeError
        An identifier that is not in the pedigree.
    ValueError
        No reference animal; `drops` not a positive integer up to 2^31,
        `seed` not a non-negative integer.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("b", "a", "a"), ("c", "b", "b")], selfing=True)
    >>> float(kalinowski_inbreeding(pedigree, ["c"], drops=4000).animals.loc["c", "ancestral"])  # about 0.5
    0.512
    """
    checked_pedigree(pedigree)
    kept, animals = reference_ancestry(pedigree, reference)
    check_drops(drops, seed)
    identical = np.zeros(len(animals))
    ancestral = np.zeros(len(animals))
    # The spread of the drops' means is gathered batch by batch, so that memory
    # does not grow with the drops: each batch's mean and sum of squared
    # deviations, joined by Chan, Golub and LeVeque's (1979) update. A single
    # batch gives numpy's std to the bit.
    done, centre, squares = 0, 0.0, 0.0
    for ibd, marked, _ in _gene_drops(kept, animals, drops, seed):
        identical += ibd.sum(axis=1)
        ancestral += (ibd & marked).sum(axis=1)
        means = (ibd & marked).mean(axis=0)
        size = len(means)
        mean = float(means.sum()) / size
        deviations = means - mean
        step = mean - centre
        done += size
        centre += step * (size / done)
        squares += float((deviations * deviations).sum()) + step * step * ((done - size) * size / done)
    identical /= drops
    ancestral /= drops
    table = pd.DataFrame(
        {
            "inbreeding": kept.inbreeding[animals],
            "identical": identical,
            "ancestral": ancestral,
            "new": identical - ancestral,
            "ancestral_se": np.sqrt(ancestral * (1.0 - ancestral) / drops),
        },
        index=pd.Index(kept.ids[animals], name="id"),
    )
    return AncestralInbreeding(
        animals=table,
        ancestral=float(ancestral.mean()),
        new=float((identical - ancestral).mean()),
        ancestral_se=math.sqrt(squares / (drops - 1)) / math.sqrt(drops) if drops > 1 else math.nan,
        drops=drops,
        seed=seed,
    )


def partial_inbreeding(
    pedigree: Pedigree,
    reference: Iterable[str],
    *,
    max_animals: int = EXACT_UP_TO,
    founders: int = MOST_INBREEDING,
    drops: int = DROPS,
    seed: int = 0,
) -> PartialInbreeding:
    """Lacy, Alaks and Walsh's (1996) partial inbreeding F_i(j): the part of
    F_i from alleles of founder j identical by descent, Σ_j F_i(j) = F_i.

    Every unknown parent's allele counts as an allele of its offspring, so
    that a founder brings two, an animal with one unknown parent (a
    half-founder) one. Exact where the reference animals' ancestry holds up
    to `max_animals` in up to `EXACT_DEPTH` generations, by the decomposition of the tabular method's partial
    kinships, A(j) = T D(j) Tᵀ: F_x(j) = ½ Σ_k T_sk T_dk D_k(j), with
    D_k(j) = p_k(j) − ¼ [p_s(j) + F_s(j)] − ¼ [p_d(j) + F_d(j)], p_k(j) the
    share of k's genes from j, s and d the parents. The founders are ranked
    by their part of the mean F in a single pass by the adjoint of that
    recursion (the weights of each D_k in the mean, passed up the layers);
    F_i(j) of the `founders` first is then had forward. Beyond, by gene
    dropping, with its Monte Carlo error.

    Parameters
    ----------
    pedigree : Pedigree
    reference : iterable of str
        Identifiers of the reference animals.
    max_animals : int, default 20,000
        The largest ancestry of the reference taken exactly.
    founders : int, default 10
        The founders given one by one, those of the largest part of the
        reference's mean F.
    drops : int, default 10,000
        Gene drops, beyond `max_animals`.
    seed : int, default 0
        Their seed.

    Returns
    -------
    PartialInbreeding

    Raises
    ------
    PedigreeError
        An identifier that is not in the pedigree.
    ValueError
        No reference animal; `max_animals`, `founders` or `drops` not a
        positive integer (`drops` up to 2^31), `seed` not a non-negative
        integer.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("c", "a", "b"), ("d", "a", "b"), ("e", "c", "d")])
    >>> partial_inbreeding(pedigree, ["e"]).founders["inbreeding"].tolist()
    [0.125, 0.125, 0.0]
    """
    checked_pedigree(pedigree)
    for value, name in ((max_animals, "max_animals"), (founders, "founders")):
        number = integer(value)
        if number is None or number < 1:
            raise ValueError(f"{name} must be a positive integer, got {value!r}")
    check_drops(drops, seed)
    kept, animals = reference_ancestry(pedigree, reference)
    exact = len(kept) <= max_animals and len(kept.layers) <= EXACT_DEPTH
    if exact:
        parts, by_founder, se = _exact_parts(kept, animals, founders), None, None
        used = 0
    else:
        parts, by_founder, se = _dropped_parts(kept, animals, founders, drops, seed)
        used = drops
    return _partial_result(kept, animals, parts, by_founder, se, exact, used)


class _Parts(typing.NamedTuple):
    """Founders ranked by their part of the mean F, and the reference
    animals' F_i(j) of the first of them."""

    mean: _Floats  # by founder: its part of the mean F
    founders: _Ints  # the founders, numbers in the ancestry
    top: _Ints  # positions in `founders` of those given one by one
    animals: _Floats  # reference animals × top


def _exact_parts(pedigree: Pedigree, animals: _Ints, most: int) -> _Parts:
    layers = pedigree.layers
    n = len(pedigree)
    sire, dam = pedigree.sire, pedigree.dam
    unknown = (sire < 0).astype(np.int64) + (dam < 0)
    founder = np.flatnonzero(unknown > 0)
    # The adjoint: the weight c̃_x of each F_x in the mean F, and G̃_k = Σ_x
    # c̃_x ½ T_sk T_dk, from the deepest layer up, every G̃_k complete once
    # all of k's descendants are passed.
    weight = np.zeros(n)
    weight[animals] = 1.0 / len(animals)
    gathered = np.zeros(n)
    for depth in range(len(layers) - 1, 0, -1):
        rows = layers.rows(depth)
        for chunk, products in _pair_products(pedigree, layers, rows):
            gathered += products.T @ (0.5 * weight[chunk])
        # G̃ of the layer is complete: its parents' F weigh in D of the layer.
        for parents in (sire[rows], dam[rows]):
            known = parents >= 0
            np.add.at(weight, parents[known], -0.25 * gathered[rows[known]])
    # h_y = G̃_y − ¼ Σ over y's offspring of their G̃; the mean F's part of
    # founder j is u_j / 2 · (Tᵀ h)_j.
    h = gathered.copy()
    for parents in (sire, dam):
        known = parents >= 0
        np.add.at(h, parents[known], -0.25 * gathered[known])
    up = np.append(h[layers.order], 0.0)
    layers.up(up)
    mean = up[layers.rank][founder] * unknown[founder] / 2.0
    top = np.argsort(-mean, kind="stable")[:most]
    return _Parts(mean, founder, top, _forward(pedigree, layers, founder[top], unknown)[animals])


def _forward(pedigree: Pedigree, layers: Layers, chosen: _Ints, unknown: _Ints) -> _Floats:
    """F_x(j) of every animal x for the founders `chosen`, founders first."""
    n = len(pedigree)
    sire, dam = pedigree.sire, pedigree.dam
    # p(j) by a pass down: the founder's own unknown parents' share, then
    # half of each parent's.
    shares = np.zeros((n + 1, len(chosen)))
    shares[layers.rank[chosen], np.arange(len(chosen))] = unknown[chosen] / 2.0
    layers.down(shares)
    p = shares[layers.rank]
    f = np.zeros((n, len(chosen)))
    d = np.zeros((n, len(chosen)))
    for depth in range(len(layers)):
        rows = layers.rows(depth)
        if depth > 0:
            for chunk, products in _pair_products(pedigree, layers, rows):
                f[chunk] = 0.5 * (products @ d)
        terms = p[rows].copy()
        for parents in (sire[rows], dam[rows]):
            q = np.maximum(parents, 0)
            terms -= np.where((parents >= 0)[:, np.newaxis], 0.25 * (p[q] + f[q]), 0.0)
        d[rows] = terms
    return f


def _pair_products(pedigree: Pedigree, layers: Layers, rows: _Ints) -> Iterator[tuple[_Ints, sp.csr_matrix]]:
    """For chunks of `rows`, those with both parents known and the products
    T_sk T_dk of their parents' rows of T, one row an animal."""
    both = rows[(pedigree.sire[rows] >= 0) & (pedigree.dam[rows] >= 0)]
    for first in range(0, len(both), _ROWS_AT_ONCE):
        chunk = both[first : first + _ROWS_AT_ONCE]
        t = layers.contributions(np.concatenate([pedigree.sire[chunk], pedigree.dam[chunk]]))
        yield chunk, sp.csr_matrix(t[: len(chunk)].multiply(t[len(chunk) :]))


def _dropped_parts(
    pedigree: Pedigree, animals: _Ints, most: int, drops: int, seed: int
) -> tuple[_Parts, _Floats, _Floats]:
    n, m = len(pedigree), len(animals)
    counts = sp.csr_matrix((m, n))
    for ibd, _, origin in _gene_drops(pedigree, animals, drops, seed):
        reference, drop = np.nonzero(ibd)
        counts = counts + sp.csr_matrix((np.ones(len(reference)), (reference, origin[reference, drop])), shape=(m, n))
    per_animal = counts.toarray() / drops if m * n <= _COPIES_AT_ONCE else None
    mean = np.asarray(counts.sum(axis=0)).ravel() / (drops * m)
    founder = np.flatnonzero((pedigree.sire < 0) | (pedigree.dam < 0))
    mean = mean[founder]
    top = np.argsort(-mean, kind="stable")[:most]
    columns = founder[top]
    chosen = per_animal[:, columns] if per_animal is not None else counts[:, columns].toarray() / drops
    # A founder's part of the mean F is a mean over the drops of a share of
    # the reference: its error from the binomial spread of the drops.
    se = np.sqrt(mean * (1.0 - mean) / (drops * m))
    return _Parts(mean, founder, top, chosen), mean, se


def _partial_result(
    pedigree: Pedigree,
    animals: _Ints,
    parts: _Parts,
    by_founder: _Floats | None,
    se: _Floats | None,
    exact: bool,
    drops: int,
) -> PartialInbreeding:
    f = pedigree.inbreeding[animals]
    mean_f = float(f.mean())
    names = [str(name) for name in pedigree.ids[parts.founders[parts.top]]]
    per_animal = pd.DataFrame(parts.animals, columns=names, index=pd.Index(pedigree.ids[animals], name="id"))
    per_animal["other founders"] = f - parts.animals.sum(axis=1)
    per_animal["inbreeding"] = f
    given = parts.mean[parts.top]
    other = mean_f - float(given.sum())
    errors = np.zeros(len(given) + 1)
    if se is not None:
        errors[:-1] = se[parts.top]
        # The other founders' part is the exact mean F less the founders' estimates: theirs is its error.
        errors[-1] = math.sqrt(float(np.sum(errors[:-1] ** 2)))
    values = np.append(given, other)
    table = pd.DataFrame(
        {
            "inbreeding": values,
            "share": values / mean_f if mean_f > 0 else np.full(len(values), np.nan),
            "se": errors,
        },
        index=pd.Index(names + ["other founders"], name="founder"),
    )
    return PartialInbreeding(
        founders=table, animals=per_animal, mean_inbreeding=mean_f, exact=exact, ancestry=len(pedigree), drops=drops
    )


def _gene_drops(
    pedigree: Pedigree, animals: _Ints, drops: int, seed: int
) -> Iterator[tuple[NDArray[np.bool_], NDArray[np.bool_], NDArray[np.int32]]]:
    """Batches of gene drops: for `animals` × drops of the batch, whether
    the two alleles are identical by descent, whether either copy has been
    so in an ancestor, and the animal whose unknown parent brought the
    allele of the first copy."""
    n = len(pedigree)
    layers = pedigree.layers
    rng = np.random.default_rng(seed)
    batch = max(1, min(drops, _COPIES_AT_ONCE // max(2 * n, 1)))
    done = 0
    while done < drops:
        size = min(batch, drops - done)
        columns = np.arange(size)
        # An allele is named 2k or 2k + 1 by the animal k whose unknown sire
        # or dam brought it.
        allele = np.empty((n, 2, size), dtype=np.int32)
        marked = np.zeros((n, 2, size), dtype=bool)
        # Whether either copy came marked, before the animal's own mark.
        earlier = np.zeros((n, size), dtype=bool)
        for depth in range(len(layers)):
            rows = layers.rows(depth)
            for copy, parents in enumerate((pedigree.sire[rows], pedigree.dam[rows])):
                known = parents >= 0
                allele[rows[~known], copy] = 2 * rows[~known, np.newaxis] + copy
                giver = parents[known]
                which = rng.integers(0, 2, size=(len(giver), size))
                allele[rows[known], copy] = allele[giver[:, np.newaxis], which, columns]
                marked[rows[known], copy] = marked[giver[:, np.newaxis], which, columns]
            ibd = allele[rows, 0] == allele[rows, 1]
            earlier[rows] = marked[rows, 0] | marked[rows, 1]
            marked[rows] |= ibd[:, np.newaxis, :]
        yield allele[animals, 0] == allele[animals, 1], earlier[animals], allele[animals, 0] // 2
        done += size


def check_drops(drops: object, seed: object) -> None:
    """Refuses arguments of gene drops that cannot be run.

    Parameters
    ----------
    drops : int
        A positive integer up to 2^31.
    seed : int
        A non-negative integer.

    Raises
    ------
    ValueError
        Naming the argument that is not so.

    Examples
    --------
    >>> check_drops(200, 0)
    """
    number = integer(drops)
    if number is None or number < 1:
        raise ValueError(f"drops must be a positive integer, got {drops!r}")
    if number > _MOST_DROPS:
        raise ValueError(
            f"drops must be at most 2^31 ({_MOST_DROPS:,}), got {drops!r}: more would run for hours or days, "
            "and at 2^31 the Monte Carlo error is 1.1e-5 at most"
        )
    checked_seed(seed)
