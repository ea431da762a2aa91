"""What a breeder reports from a pedigree: how complete it is, how fast
inbreeding rises, the effective population size, and how many founders and
ancestors really contribute to a population."""

from __future__ import annotations

import dataclasses
import typing
from collections.abc import Iterable

import numpy as np
import pandas as pd
from numpy.typing import NDArray

from .layers import Layers
from .pedigree import Pedigree, ancestry

__all__ = ["EffectiveSize", "FounderStatistics", "cohorts", "effective_population_size", "founder_statistics",
           "pedigree_statistics", "summary_by"]

#: The marginal contributions at which the search for ancestors stops.
EXPLAINED = 0.999

_Floats = NDArray[np.float64]
_Ints = NDArray[np.int64]


@dataclasses.dataclass(frozen=True)
class EffectiveSize:
    """Effective population size from the individual increase in inbreeding.

    Attributes
    ----------
    ne : float
        1 / (2 · mean ΔF_i); infinite when no animal is inbred.
    se : float
        Its standard error by the delta method, 2 · Ne² · sd(ΔF_i) / √n
        (NaN for a single animal or an infinite Ne).
    n : int
        Reference animals with more than one equivalent generation known.
    mean_delta_inbreeding : float
        Mean ΔF_i over those animals.
    fully_inbred : int
        Reference animals left out because their F is 1, which leaves no
        rate of inbreeding to compute.
    """

    ne: float
    se: float
    n: int
    mean_delta_inbreeding: float
    fully_inbred: int = 0


@dataclasses.dataclass(frozen=True, eq=False)
class FounderStatistics:
    """Founders and ancestors of a reference population.

    Attributes
    ----------
    founders_effective : float
        f_e = 1 / Σ p_f², p_f the expected contribution of founder f.
    ancestors_effective : float
        f_a = 1 / Σ q_k², q_k the marginal contribution of ancestor k.
    founders : int
        Founders that contribute (an animal with one unknown parent counts).
    ancestors : int
        Ancestors taken for f_a.
    explained : float
        Σ q_k over the ancestors taken.
    stopped_by : {"explained", "max_ancestors"}
        Whether the search stopped because Σ q_k reached 0.999 or because it
        took `max_ancestors` ancestors (then f_a is an upper bound).
    contributions : pandas.DataFrame
        One row per animal that contributes, indexed by identifier: the
        ancestors taken first, in the order taken, then the others by
        decreasing contribution. Columns `contribution` (expected share of
        the population's genes, a reference animal counting its own),
        `founder_contribution` (p_f, 0 for animals
        with both parents known) and `marginal_contribution` (q_k, NaN for
        ancestors not taken).
    """

    founders_effective: float
    ancestors_effective: float
    founders: int
    ancestors: int
    explained: float
    stopped_by: typing.Literal["explained", "max_ancestors"]
    contributions: pd.DataFrame


def pedigree_statistics(pedigree: Pedigree) -> pd.DataFrame:
    """Completeness, inbreeding and its rate for every animal.

    Parameters
    ----------
    pedigree : Pedigree

    Returns
    -------
    pandas.DataFrame
        Indexed by identifier in the order of `pedigree.ids`, with columns
        `sire`, `dam` (identifiers, "" for unknown), `generation` (maximum
        generations: 0 for a founder, else 1 + the larger over known
        parents), `complete_generations` (0 with a parent unknown, else 1 +
        the smaller over the parents), `equivalent_generations` (g_e, the
        sum over known parents of (1 + g_e of the parent) / 2),
        `inbreeding` (F), `delta_inbreeding` (ΔF = 1 − (1 − F)^(1 / (g_e −
        1)) where g_e > 1, else NaN), `sampling_var`, and then the columns
        of `pedigree.attributes` (a name already taken gets "_file" added).

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b")])
    >>> pedigree_statistics(pedigree)["equivalent_generations"].tolist()
    [0.0, 0.0, 1.0]
    """
    equivalent, f = pedigree.equivalent_generations, pedigree.inbreeding
    names = np.append(pedigree.ids, "")  # an unknown parent, −1, takes the last: ""
    table = pd.DataFrame({
        "sire": names[pedigree.sire],
        "dam": names[pedigree.dam],
        "generation": pedigree.generation,
        "complete_generations": pedigree.complete_generations,
        "equivalent_generations": equivalent,
        "inbreeding": f,
        "delta_inbreeding": _delta_inbreeding(f, equivalent),
        "sampling_var": pedigree.sampling_var,
    }, index=pd.Index(pedigree.ids, name="id"))
    attributes: pd.DataFrame = pedigree.attributes
    if len(attributes.columns):
        kept = attributes.rename(columns=lambda name: f"{name}_file" if name in table.columns else name)
        table = pd.concat([table, kept.set_axis(table.index, axis="index")], axis="columns")
    return table


def effective_population_size(pedigree: Pedigree, reference: Iterable[str]) -> EffectiveSize:
    """Ne of the reference animals from their individual increase in inbreeding.

    Parameters
    ----------
    pedigree : Pedigree
    reference : iterable of str
        Identifiers of the reference animals; only those with more than one
        equivalent generation known count, and those with F = 1 (after many
        generations of selfing or full-sib mating) are left out, counted in
        `fully_inbred`.

    Returns
    -------
    EffectiveSize
        Ne = 1 / (2 · mean ΔF_i), its standard error and the animals used.

    Raises
    ------
    PedigreeError
        An identifier that is not in the pedigree.
    ValueError
        No reference animal, or none with more than one equivalent generation
        and F below 1.

    Examples
    --------
    >>> rows = [("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b"), ("d", "a", "b"), ("e", "c", "d")]
    >>> effective_population_size(Pedigree.from_records(rows), ["e"]).ne
    2.0
    """
    animals = _numbers(pedigree, reference)
    f = pedigree.inbreeding[animals]
    # F = 1 leaves no rate of inbreeding: ΔF would be 1 whatever the generations.
    inbred = f >= 1.0
    delta = _delta_inbreeding(f[~inbred], pedigree.equivalent_generations[animals][~inbred])
    usable = delta[~np.isnan(delta)]
    if len(usable) == 0:
        left_out = f" ({np.count_nonzero(inbred)} of them fully inbred, F = 1)" if np.any(inbred) else ""
        raise ValueError(f"none of the {len(animals)} reference animals{left_out} has more than one equivalent "
                         "generation of known ancestors and F below 1, which the rate of inbreeding needs")
    mean = float(usable.mean())
    ne = _ne(mean)
    spread = float(usable.std(ddof=1)) if len(usable) > 1 else float("nan")
    se = 2.0 * ne * ne * spread / np.sqrt(len(usable)) if np.isfinite(ne) else float("nan")
    return EffectiveSize(ne=ne, se=float(se), n=len(usable), mean_delta_inbreeding=mean,
                         fully_inbred=int(np.count_nonzero(inbred)))


def founder_statistics(pedigree: Pedigree, reference: Iterable[str], *,
                       max_ancestors: int = 1000) -> FounderStatistics:
    """Effective numbers of founders and of ancestors of the reference animals.

    The expected contribution of an animal is the mean of the reference
    animals' rows of T in A = T B Tᵀ; a founder brings its whole
    contribution, an animal with one unknown parent half of it. Ancestors
    are taken by their marginal contributions (Boichard, Maignel and Verrier
    1997): at each step the one with the largest q_k = c_k (1 − a_k), c_k
    its contribution in the pedigree where the ancestors already taken have
    their parents unknown, a_k the share of its genes from those ancestors.

    Parameters
    ----------
    pedigree : Pedigree
    reference : iterable of str
        Identifiers of the reference animals.
    max_ancestors : int, default 1000
        Stop after this many ancestors even if Σ q_k is below 0.999.

    Returns
    -------
    FounderStatistics

    Raises
    ------
    PedigreeError
        An identifier that is not in the pedigree.
    ValueError
        No reference animal, or `max_ancestors` below 1.

    Examples
    --------
    >>> rows = [("c", "a", "b"), ("d", "a", "b")]
    >>> result = founder_statistics(Pedigree.from_records(rows), ["c", "d"])
    >>> result.founders_effective, result.ancestors_effective
    (2.0, 2.0)
    """
    if isinstance(max_ancestors, bool) or not isinstance(max_ancestors, (int, np.integer)) or max_ancestors < 1:
        raise ValueError(f"max_ancestors must be a positive integer, got {max_ancestors!r}")
    pedigree, animals = _reference(pedigree, reference)
    layers = pedigree.layers
    weight = np.zeros(len(pedigree))
    weight[animals] = 1.0 / len(animals)
    taken = np.zeros(len(pedigree), dtype=bool)
    contribution = _contributions(layers, weight, taken)
    unknown_parents = (pedigree.sire < 0).astype(np.int64) + (pedigree.dam < 0)
    founder = contribution * unknown_parents / 2.0
    # A reference animal is an ancestor of the population only through its
    # descendants there, or for the genes of its unknown parents.
    eligible = (contribution > weight) | ((weight > 0) & (unknown_parents > 0))
    marginal = np.full(len(pedigree), np.nan)
    order: list[int] = []
    explained = 0.0
    candidate = np.where(eligible, contribution, 0.0)
    while len(order) < max_ancestors and explained < EXPLAINED:
        k = int(np.argmax(candidate))
        if candidate[k] <= 0.0:
            break
        marginal[k] = candidate[k]
        explained += float(candidate[k])
        order.append(k)
        taken[k] = True
        remaining = _contributions(layers, weight, taken) * (1.0 - _shares_from(layers, taken))
        candidate = np.where(eligible, remaining, 0.0)
    chosen = marginal[order]
    return FounderStatistics(
        founders_effective=float(1.0 / np.sum(founder * founder)),
        ancestors_effective=float(1.0 / np.sum(chosen * chosen)),
        founders=int(np.count_nonzero(founder)),
        ancestors=len(order),
        explained=explained,
        stopped_by="explained" if explained >= EXPLAINED else "max_ancestors",
        contributions=_contribution_table(pedigree, contribution, founder, marginal, order),
    )


def summary_by(pedigree: Pedigree, column: str) -> pd.DataFrame:
    """Figures of each group of animals sharing a value of `column` (a birth
    year, say).

    Parameters
    ----------
    pedigree : Pedigree
    column : str
        A column of `pedigree_statistics` (those kept from the file, or one
        computed there such as "generation"). Animals with no value (or an
        empty one) are left out; a column of numbers written as text, as the
        file gives them, is grouped by number.

    Returns
    -------
    pandas.DataFrame
        One row per value, in ascending order, with columns `animals`,
        `both_parents_known` (share), `equivalent_generations` (mean),
        `inbreeding` (mean F), `inbred` (share with F > 0),
        `delta_inbreeding` (mean ΔF over the animals with g_e > 1) and `ne`
        (1 / (2 · that mean); NaN without such animals, infinite when none
        is inbred).

    Raises
    ------
    KeyError
        `column` is not a column of the table.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b")])
    >>> summary_by(pedigree, "generation")["animals"].tolist()
    [2, 1]
    """
    table = pedigree_statistics(pedigree)
    if column not in table.columns:
        raise KeyError(f"no column {column!r}; the columns are {', '.join(map(repr, table.columns))}")
    figures = pd.DataFrame({
        column: cohorts(table[column]),
        "animals": 1,
        "both_parents_known": ((table["sire"] != "") & (table["dam"] != "")).astype(float),
        "equivalent_generations": table["equivalent_generations"],
        "inbreeding": table["inbreeding"],
        "inbred": (table["inbreeding"] > 0).astype(float),
        "delta_inbreeding": table["delta_inbreeding"],
    })
    grouped = figures.groupby(column, sort=True)
    summary = grouped.mean()
    # Animals without a value turn a column of whole numbers into floats.
    if pd.api.types.is_float_dtype(summary.index) and np.all(np.mod(summary.index, 1) == 0):
        summary.index = summary.index.astype(np.int64)
    summary["animals"] = grouped["animals"].sum()
    mean_delta = summary["delta_inbreeding"].to_numpy(dtype=np.float64)
    summary["ne"] = [_ne(float(m)) if np.isfinite(m) else np.nan for m in mean_delta]
    return summary


def cohorts(values: pd.Series[typing.Any]) -> pd.Series[typing.Any]:
    """A column as the cohorts it names: empty text is no value, and text
    that is all numbers becomes numbers, so that years sort as years.

    Parameters
    ----------
    values : pandas.Series

    Returns
    -------
    pandas.Series
        The same index; missing values NaN.

    Examples
    --------
    >>> cohorts(pd.Series(["2019", "", "2020"])).tolist()
    [2019.0, nan, 2020.0]
    """
    if not (pd.api.types.is_object_dtype(values) or pd.api.types.is_string_dtype(values)):
        return values
    given = values.where(values.astype(str).str.strip() != "")
    numbers = pd.to_numeric(given, errors="coerce")
    return numbers if numbers.notna().sum() == given.notna().sum() else given


def _ne(mean_delta: float) -> float:
    return 1.0 / (2.0 * mean_delta) if mean_delta > 0.0 else float("inf")


def _numbers(pedigree: Pedigree, reference: Iterable[str]) -> _Ints:
    """The numbers of the reference animals, each once."""
    if isinstance(reference, str):
        reference = [reference]
    animals = np.unique(pedigree.numbers(reference)).astype(np.int64)
    if len(animals) == 0:
        raise ValueError("the reference population has no animal")
    return animals


def _reference(pedigree: Pedigree, reference: Iterable[str]) -> tuple[Pedigree, _Ints]:
    """The pedigree of the reference animals and their ancestors, all that
    their figures depend on, and their numbers there."""
    animals = _numbers(pedigree, reference)
    kept, renumber = ancestry(pedigree, animals)
    return kept, renumber[animals].astype(np.int64)


def _delta_inbreeding(f: _Floats, equivalent: _Floats) -> _Floats:
    usable = equivalent > 1.0
    exponent = 1.0 / np.where(usable, equivalent - 1.0, 1.0)
    return np.where(usable, 1.0 - (1.0 - f) ** exponent, np.nan)


def _contributions(layers: Layers, weight: _Floats, taken: NDArray[np.bool_]) -> _Floats:
    """The expected share of the weighted animals' genes from every animal,
    passed from offspring to parents; nothing passes beyond an animal `taken`."""
    share = np.append(weight[layers.order], 0.0)
    layers.up(share, stop=taken[layers.order])
    return share[layers.rank]


def _shares_from(layers: Layers, taken: NDArray[np.bool_]) -> _Floats:
    """The share of every animal's genes that comes from the animals `taken`
    (1 for those themselves)."""
    fixed = taken[layers.order]
    share = np.append(fixed.astype(np.float64), 0.0)
    layers.down(share, fixed=fixed)
    return share[layers.rank]


def _contribution_table(pedigree: Pedigree, contribution: _Floats, founder: _Floats, marginal: _Floats,
                        order: list[int]) -> pd.DataFrame:
    others = np.flatnonzero(contribution > 0.0)
    others = others[np.isnan(marginal[others])]
    others = others[np.argsort(-contribution[others], kind="stable")]
    rows = np.concatenate([np.array(order, dtype=np.int64), others])
    return pd.DataFrame({
        "contribution": contribution[rows],
        "founder_contribution": founder[rows],
        "marginal_contribution": marginal[rows],
    }, index=pd.Index(pedigree.ids[rows], name="id"))
