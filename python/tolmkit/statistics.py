"""What a breeder reports from a pedigree: how complete it is, how fast
inbreeding rises, the effective population size, and how many founders and
ancestors really contribute to a population."""

from __future__ import annotations

import dataclasses
import math
import typing
from collections.abc import Iterable

import numpy as np
import pandas as pd
from numpy.typing import ArrayLike, NDArray

from . import _native
from ._advice import PedigreeError
from ._arguments import checked_seed, integer, real
from .among import relationships_among
from .births import birth_column, cohorts, parent_ages, whole_cohorts
from .completeness import ancestors_known, check_generations
from .pedigree import Pedigree, checked_pedigree, reference_ancestry, reference_numbers, roles, sexes

__all__ = [
    "COMPUTED_COLUMNS",
    "EffectiveSize",
    "FounderStatistics",
    "effective_population_size",
    "founder_statistics",
    "generation_intervals",
    "inbreeding_classes",
    "intervals_by_cohort",
    "pedigree_statistics",
    "summary_by",
    "summary_by_year",
]

#: The marginal contributions at which the search for ancestors stops.
EXPLAINED = 0.999

#: Upper bounds of the inbreeding classes of `summary_by`: F = 0, then
#: (0, 0.0625], (0.0625, 0.125], (0.125, 0.25] and (0.25, 1].
INBREEDING_CLASSES = (0.0, 0.0625, 0.125, 0.25, 1.0)
# How far F computed may stray beyond 0 and 1 by rounding alone.
_ROUNDING = 1e-12

#: Reference animals up to which Ne by coancestry takes every pair; above,
#: the pairs among a sample of them.
ALL_PAIRS_UP_TO = 2000

#: The paths of `generation_intervals`: the parent's role and the
#: offspring's sex (1 male, 2 female, 0 unknown, as `sexes` gives them), None
#: for any.
PATHS: dict[str, tuple[str | None, int | None]] = {
    "sire-son": ("sire", 1),
    "sire-daughter": ("sire", 2),
    "dam-son": ("dam", 1),
    "dam-daughter": ("dam", 2),
    "unknown sex": (None, 0),
    "all": (None, None),
}

#: The routes to Ne of `effective_population_size`.
METHODS = ("individual", "coancestry", "regression", "sex-ratio", "family-size")

_Floats = NDArray[np.float64]
_Ints = NDArray[np.int64]


@dataclasses.dataclass(frozen=True)
class EffectiveSize:
    """Effective population size by one of the routes of
    `effective_population_size`.

    Attributes
    ----------
    ne : float
        1 / (2 · mean ΔF_i), or 1 / (2 · mean ΔC_jk); infinite when the
        mean is 0.
    se : float
        By individual increase, its standard error by the delta method,
        2 · Ne² · sd(ΔF_i) / √n (NaN for a single animal or an infinite
        Ne); by regression, e^b · se(b) / (2 ΔF²) from the standard error
        of the slope b; NaN by the other routes (by coancestry, pairs that
        share animals are not independent).
    n : int
        Reference animals with more than one equivalent generation known
        (individual), with equivalent generations above 0 (regression), of
        a known parent (sex ratio), pairs of reference animals whose mean
        equivalent generations are above 0 (coancestry), or parents of the
        reference animals (family size).
    mean_delta_inbreeding : float
        Mean ΔF_i over those animals, mean ΔC_jk over those pairs (the
        increase in inbreeding of their offspring), 1 − e^b by regression,
        and 1 / (2 Ne) by sex ratio and family size.
    fully_inbred : int
        By individual increase and regression, reference animals left out
        because their F is 1, which leaves no rate of inbreeding to compute;
        by coancestry, pairs left out because their coancestry is 1.
    method : {"individual", "coancestry", "regression", "sex-ratio", "family-size"}
    sampled : bool
        By coancestry, whether the pairs were those among a sample of the
        reference animals (more than 2,000 of them) rather than all.
    sires, dams : int
        By sex ratio and family size, the distinct sires and dams of the
        reference animals (N_m and N_f, M and F); else 0.
    interval : float
        By family size, the generation interval L in years; else NaN.
    """

    ne: float
    se: float
    n: int
    mean_delta_inbreeding: float
    fully_inbred: int = 0
    method: typing.Literal["individual", "coancestry", "regression", "sex-ratio", "family-size"] = "individual"
    sampled: bool = False
    sires: int = 0
    dams: int = 0
    interval: float = float("nan")

    def figure(self) -> str:
        """Ne as the command and the charts write it.

        Returns
        -------
        str
            One decimal, ± the standard error where there is one; ∞ where
            the rate is 0 or below (no drift seen), not "inf".

        Examples
        --------
        >>> EffectiveSize(ne=float("inf"), se=float("nan"), n=2, mean_delta_inbreeding=0.0).figure()
        '∞'
        """
        ne = "∞" if math.isinf(self.ne) else f"{self.ne:.1f}"
        return ne if math.isnan(self.se) else f"{ne} ± {self.se:.1f}"


@dataclasses.dataclass(frozen=True, eq=False)
class FounderStatistics:
    """Founders and ancestors of a reference population.

    Attributes
    ----------
    founders_effective : float
        f_e = 1 / Σ p_f², p_f the expected contribution of founder f.
    ancestors_effective : float
        f_a = 1 / Σ q_k², q_k the marginal contribution of ancestor k.
    founder_genome_equivalents : float
        f_g = 1 / (2 · the mean coancestry of the reference animals, each
        with itself included) = 1 / Σ_i d_i c_i², c_i the expected
        contribution of animal i and d_i its Mendelian-sampling variance.
    founders : int
        Founders that contribute (an animal with one unknown parent counts).
    ancestors : int
        Ancestors taken for f_a.
    explained : float
        Σ q_k over the ancestors taken.
    stopped_by : {"explained", "max_ancestors"}
        Whether the search stopped because Σ q_k reached 0.999 or because it
        took `max_ancestors` ancestors. Then f_a is an upper bound: the
        smaller of 1 / Σ q_k² over the ancestors taken and f_e, which f_a
        never exceeds.
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
    founder_genome_equivalents: float
    founders: int
    ancestors: int
    explained: float
    stopped_by: typing.Literal["explained", "max_ancestors"]
    contributions: pd.DataFrame


#: The columns that `pedigree_statistics` computes, before the file's own.
COMPUTED_COLUMNS = (
    "sire",
    "dam",
    "generation",
    "complete_generations",
    "equivalent_generations",
    "completeness",
    "inbreeding",
    "delta_inbreeding",
    "sampling_var",
)


def pedigree_statistics(pedigree: Pedigree, *, completeness_generations: int = 5) -> pd.DataFrame:
    """Completeness, inbreeding and its rate for every animal.

    Parameters
    ----------
    pedigree : Pedigree
    completeness_generations : int, default 5
        The generations over which `completeness` is taken.

    Returns
    -------
    pandas.DataFrame
        Indexed by identifier in the order of `pedigree.ids`, with columns
        `sire`, `dam` (identifiers, "" for unknown), `generation` (maximum
        generations: 0 for a founder, else 1 + the larger over known
        parents), `complete_generations` (0 with a parent unknown, else 1 +
        the smaller over the parents), `equivalent_generations` (g_e, the
        sum over known parents of (1 + g_e of the parent) / 2),
        `completeness` (MacCluer's index over d = `completeness_generations`:
        2 · C_s · C_d / (C_s + C_d), C_s the mean over generations 1 … d
        of the share of the ancestors on the sire's side that are known,
        the sire itself the first generation, C_d likewise; 0 with a parent
        unknown), `inbreeding` (F), `delta_inbreeding` (ΔF = 1 − (1 −
        F)^(1 / (g_e − 1)) where g_e > 1, else NaN), `sampling_var`, and then the columns
        of `pedigree.attributes` (a name already taken gets "_file" added).

    Raises
    ------
    ValueError
        `completeness_generations` is not an integer from 1 to
        `MOST_GENERATIONS`.
    PedigreeError
        The attributes hold a name of the figures and that name with
        "_file", which the first would take.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b")])
    >>> pedigree_statistics(pedigree)["equivalent_generations"].tolist()
    [0.0, 0.0, 1.0]
    """
    checked_pedigree(pedigree)
    check_generations(completeness_generations, "completeness_generations")
    equivalent, f = pedigree.equivalent_generations, pedigree.inbreeding
    names = np.append(pedigree.ids, "")  # an unknown parent, −1, takes the last: ""
    table = pd.DataFrame(
        {
            "sire": names[pedigree.sire],
            "dam": names[pedigree.dam],
            "generation": pedigree.generation,
            "complete_generations": pedigree.complete_generations,
            "equivalent_generations": equivalent,
            "completeness": _maccluer(pedigree, completeness_generations),
            "inbreeding": f,
            "delta_inbreeding": _delta_inbreeding(f, equivalent),
            "sampling_var": pedigree.sampling_var,
        },
        index=pd.Index(pedigree.ids, name="id"),
    )
    attributes: pd.DataFrame = pedigree.attributes
    if len(attributes.columns):
        for name in attributes.columns:
            if name in table.columns and f"{name}_file" in attributes.columns:
                raise PedigreeError(
                    f"the file has columns {name!r} and '{name}_file', while the first is a name of the figures, "
                    f"which name it '{name}_file': rename one of them"
                )
        kept = attributes.rename(columns=lambda name: f"{name}_file" if name in table.columns else name)
        table = pd.concat([table, kept.set_axis(table.index, axis="index")], axis="columns")
    return table


def effective_population_size(
    pedigree: Pedigree,
    reference: Iterable[str],
    *,
    method: typing.Literal["individual", "coancestry", "regression", "sex-ratio", "family-size"] = "individual",
    pairs: int = 10**6,
    seed: int = 0,
    interval: float | None = None,
) -> EffectiveSize:
    """Ne of the reference animals by one of five routes.

    By individual increase in inbreeding (Gutiérrez et al. 2008), ΔF_i = 1 −
    (1 − F_i)^(1 / (t_i − 1)), t_i the equivalent generations of animal i;
    Ne = 1 / (2 · mean ΔF_i).

    By regression, b = Σ t_i ln(1 − F_i) / Σ t_i², the slope of ln(1 − F_i)
    on t_i through the origin over the reference animals with t_i > 0 and
    F_i < 1; ΔF = 1 − e^b and Ne = 1 / (2ΔF).

    By sex ratio (Wright 1931), Ne = 4 N_m N_f / (N_m + N_f), N_m and N_f
    the distinct sires and dams of the reference animals.

    By family size (Hill 1979), over the M sires and F dams of the reference
    animals, each parent's family counted as its offspring that became
    parents: mm and mf a sire's sons that are sires and daughters that are
    dams, ff and fm a dam's daughters that are dams and sons that are sires
    (an offspring that is both counts as neither);
    1/Ne = [2 + σ²_mm + 2(M/F) cov(mm, mf) + (M/F)² σ²_mf] / (16 M L) +
    [2 + σ²_ff + 2(F/M) cov(ff, fm) + (F/M)² σ²_fm] / (16 F L), the
    variances and covariances over the parents of each sex, divided by
    their number, and L the generation interval. The families must be
    complete: take reference animals whose parents' offspring have bred.

    By coancestry (Cervantes et al. 2011), ΔC_jk = 1 − (1 − C_jk)^(1 / ((t_j
    + t_k) / 2)) for the pairs j < k of reference animals, C_jk their
    coancestry (half their relationship) and t their equivalent generations,
    pairs whose mean t is 0 left out; Ne = 1 / (2 · mean ΔC_jk).

    Parameters
    ----------
    pedigree : Pedigree
    reference : iterable of str
        Identifiers of the reference animals; by individual increase, only
        those with more than one equivalent generation known count, and
        those with F = 1 (after many generations of selfing or full-sib
        mating) are left out, counted in `fully_inbred`.
    method : {"individual", "coancestry", "regression", "sex-ratio", "family-size"}, default "individual"
    pairs : int, default 10**6
        By coancestry with more than 2,000 reference animals, the pairs
        taken instead of all: those among m animals drawn at random, m the
        fewest with m (m − 1) / 2 ≥ `pairs` (1,415 for 10^6). Every pair is
        as likely to be taken as by a draw of pairs, and the coancestries
        of a few animals' pairs come from their ancestry alone, where those
        of pairs drawn one by one would each need their own; the memory
        is some times 8 bytes a pair.
    seed : int, default 0
        The seed of that draw, so that the figure can be had again.
    interval : float, optional
        By family size, L in years (1 for discrete generations); by default
        the mean interval of `generation_intervals` over all paths, from the
        column of births that `birth_column` finds.

    Returns
    -------
    EffectiveSize
        Ne, its standard error where the route gives one, the animals or
        pairs used, and the route in `method`.

    Raises
    ------
    PedigreeError
        An identifier that is not in the pedigree.
    ValueError
        No reference animal, none with more than one equivalent generation
        and F below 1 (individual), fewer than two or no pair with
        generations known (coancestry); an unknown `method`, `pairs` not a
        positive integer, `seed` not a non-negative integer; by regression,
        no reference animal with generations known and F below 1; by sex
        ratio or family size, no sire or no dam; by family size, an
        `interval` that is not a positive number, or none given without
        births to compute it.

    Examples
    --------
    >>> rows = [("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b"), ("d", "a", "b"), ("e", "c", "d")]
    >>> effective_population_size(Pedigree.from_records(rows), ["e"]).ne
    2.0
    """
    checked_pedigree(pedigree)
    if method not in METHODS:
        raise ValueError(f"method must be one of {', '.join(map(repr, METHODS))}, got {method!r}")
    _check_positive(pairs, "pairs")
    checked_seed(seed)
    given = None if interval is None else real(interval)
    if interval is not None and (given is None or not 0.0 < given < math.inf):
        raise ValueError(f"interval must be a positive number of years, got {interval!r}")
    animals = reference_numbers(pedigree, reference)
    if method == "coancestry":
        return _coancestry_size(pedigree, animals, pedigree.equivalent_generations, pairs, seed)
    if method == "regression":
        return _regression_size(pedigree.inbreeding[animals], pedigree.equivalent_generations[animals])
    if method == "sex-ratio":
        return _sex_ratio_size(pedigree, animals)
    if method == "family-size":
        return _family_size(pedigree, animals, given)
    f = pedigree.inbreeding[animals]
    # F = 1 leaves no rate of inbreeding: ΔF would be 1 whatever the generations.
    inbred = f >= 1.0
    delta = _delta_inbreeding(f[~inbred], pedigree.equivalent_generations[animals][~inbred])
    usable = delta[~np.isnan(delta)]
    if len(usable) == 0:
        left_out = f" ({np.count_nonzero(inbred)} of them fully inbred, F = 1)" if np.any(inbred) else ""
        raise ValueError(
            f"none of the {len(animals)} reference animals{left_out} has more than one equivalent "
            "generation of known ancestors and F below 1, which the rate of inbreeding needs"
        )
    mean = float(usable.mean())
    ne = _ne(mean)
    spread = float(usable.std(ddof=1)) if len(usable) > 1 else float("nan")
    se = 2.0 * ne * ne * spread / np.sqrt(len(usable)) if np.isfinite(ne) else float("nan")
    return EffectiveSize(
        ne=ne, se=float(se), n=len(usable), mean_delta_inbreeding=mean, fully_inbred=int(np.count_nonzero(inbred))
    )


def founder_statistics(pedigree: Pedigree, reference: Iterable[str], *, max_ancestors: int = 1000) -> FounderStatistics:
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
    >>> result.founders_effective, result.ancestors_effective, result.founder_genome_equivalents
    (2.0, 2.0, 1.3333333333333333)
    """
    checked_pedigree(pedigree)
    _check_positive(max_ancestors, "max_ancestors")
    pedigree, animals = reference_ancestry(pedigree, reference)
    weight = np.zeros(len(pedigree))
    weight[animals] = 1.0 / len(animals)
    lineage = (pedigree.sire, pedigree.dam, pedigree.generation)
    contribution = _native.contributions(*lineage, weight)
    unknown_parents = (pedigree.sire < 0).astype(np.int64) + (pedigree.dam < 0)
    founder = contribution * unknown_parents / 2.0
    # A reference animal is an ancestor of the population only through its
    # descendants there, or for the genes of its unknown parents.
    eligible = (contribution > weight) | ((weight > 0) & (unknown_parents > 0))
    taken, chosen, explained = _native.marginal_ancestors(
        *lineage, weight, contribution, eligible.view(np.uint8), int(max_ancestors), EXPLAINED
    )
    order = taken.astype(np.int64)
    marginal = np.full(len(pedigree), np.nan)
    marginal[order] = chosen
    founders_effective = float(1.0 / np.sum(founder * founder))
    ancestors_effective = float(1.0 / np.sum(chosen * chosen))
    if explained < EXPLAINED:
        ancestors_effective = min(ancestors_effective, founders_effective)
    return FounderStatistics(
        founders_effective=founders_effective,
        ancestors_effective=ancestors_effective,
        founder_genome_equivalents=float(1.0 / np.sum(pedigree.sampling_var * contribution * contribution)),
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
        computed there such as "generation"), taken as `cohorts`: animals
        with no value are left out, a column of numbers written as text, as
        the file gives them, is grouped by number (codes such as 0123 and
        123 stay text), and one of dates by year.

    Returns
    -------
    pandas.DataFrame
        One row per value, in ascending order, with columns `animals`,
        `both_parents_known` (share), `equivalent_generations` (mean),
        `inbreeding` (mean F), `inbred` (share with F > 0),
        `delta_inbreeding` (mean ΔF over the animals with g_e > 1),
        `delta_animals` (those animals), the shares of animals in the
        inbreeding classes `F=0`, `F<=0.0625`, `F<=0.125`, `F<=0.25` and
        `F<=1` (each above the bound before) and `ne` (1 / (2 · the mean
        ΔF); NaN without animals of g_e > 1, infinite when none is inbred).

    Raises
    ------
    KeyError
        `column` is not a column of the table.
    PedigreeError
        A value that is no date in a column of dates, as `cohorts` refuses it.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b")])
    >>> summary_by(pedigree, "generation")["animals"].tolist()
    [2, 1]
    """
    checked_pedigree(pedigree)
    table = pedigree_statistics(pedigree)
    if column not in table.columns:
        raise KeyError(f"no column {column!r}; the columns are {', '.join(map(repr, table.columns))}")
    figures = pd.DataFrame(
        {
            "animals": 1,
            "both_parents_known": ((table["sire"] != "") & (table["dam"] != "")).astype(float),
            "equivalent_generations": table["equivalent_generations"],
            "inbreeding": table["inbreeding"],
            "inbred": (table["inbreeding"] > 0).astype(float),
            "delta_inbreeding": table["delta_inbreeding"],
            "delta_animals": table["delta_inbreeding"].notna().astype(float),
        }
    )
    figures = figures.join(inbreeding_classes(table["inbreeding"]))
    # Grouped by the cohorts beside the figures, not among them: a column
    # named as a figure (inbreeding) stays the cohort of the rows.
    grouped = figures.groupby(cohorts(table[column]).rename(column), sort=True)
    summary = grouped.mean()
    summary.index = whole_cohorts(summary.index)
    summary.index.name = column
    summary["animals"] = grouped["animals"].sum()
    summary["delta_animals"] = grouped["delta_animals"].sum().astype(np.int64)
    mean_delta = summary["delta_inbreeding"].to_numpy(dtype=np.float64)
    summary["ne"] = [_ne(float(m)) if np.isfinite(m) else np.nan for m in mean_delta]
    return summary


def inbreeding_classes(inbreeding: pd.Series[float] | ArrayLike) -> pd.DataFrame:
    """The inbreeding class of every animal, as a column per class.

    Parameters
    ----------
    inbreeding : pandas.Series or array_like of float
        F of the animals.

    Returns
    -------
    pandas.DataFrame
        Indexed like `inbreeding` (0 … n − 1 for an array), with columns
        `F=0`, `F<=0.0625`, `F<=0.125`, `F<=0.25` and `F<=1` (each above the
        bound before), 1.0 in the animal's class and 0.0 elsewhere, so that a
        mean is a share.

    Raises
    ------
    TypeError
        `inbreeding` that is not one dimension of numbers.
    ValueError
        A value that is no coefficient of inbreeding, from 0 to 1 (NaN
        among them), naming the first.

    Examples
    --------
    >>> inbreeding_classes(pd.Series([0.0, 0.25, 0.3])).mean().tolist()
    [0.3333333333333333, 0.0, 0.0, 0.3333333333333333, 0.3333333333333333]
    """
    names = ["F=0"] + [f"F<={bound:g}" for bound in INBREEDING_CLASSES[1:]]
    if isinstance(inbreeding, pd.Series):
        numbers: pd.Series[typing.Any] | None = inbreeding
    else:
        numbers = pd.Series(np.asarray(inbreeding)) if np.ndim(inbreeding) == 1 else None
    if numbers is None or not pd.api.types.is_numeric_dtype(numbers) or pd.api.types.is_bool_dtype(numbers):
        raise TypeError(f"inbreeding must be numbers, one an animal, got {inbreeding!r:.60}")
    values = numbers.to_numpy(dtype=np.float64, na_value=np.nan)
    # F of an animal not inbred may come out of the sums a rounding below 0.
    outside = ~((values >= -_ROUNDING) & (values <= 1.0 + _ROUNDING))
    if outside.any():
        k = int(np.argmax(outside))
        raise ValueError(
            f"inbreeding of {numbers.index[k]!r} is {float(values[k])!r}, where a coefficient of inbreeding is "
            "from 0 to 1"
        )
    found = np.searchsorted(INBREEDING_CLASSES, np.clip(values, 0.0, 1.0))
    index = numbers.index if isinstance(inbreeding, pd.Series) else None
    return pd.DataFrame({name: (found == k).astype(float) for k, name in enumerate(names)}, index=index)


def summary_by_year(summary: pd.DataFrame) -> pd.DataFrame:
    """A table of the figures of `summary_by` by birth dates regrouped by
    calendar year (`summary_by` itself groups dates by year).

    Parameters
    ----------
    summary : pandas.DataFrame
        A table with the columns of `summary_by`. When its cohorts are dates
        (datetime values or ISO 8601 text such as 2019-03-15), every figure
        is taken again for the animals of each year, the year that `cohorts`
        gives: means weighted by the animals, ΔF by those with g_e > 1;
        other cohorts stay as they are.

    Returns
    -------
    pandas.DataFrame
        Indexed by year, or `summary` itself.

    Raises
    ------
    KeyError
        A table by dates without the columns `animals` and `delta_animals`,
        or with `ne` but without `delta_inbreeding`.
    TypeError
        `summary` not a pandas DataFrame.

    Examples
    --------
    >>> by_day = pd.DataFrame({"animals": [1, 2], "delta_animals": [0, 1]}, index=["2019-03-01", "2019-05-02"])
    >>> summary_by_year(by_day)["animals"].tolist()
    [3]
    """
    if not isinstance(summary, pd.DataFrame):
        raise TypeError(f"summary must be a table of summary_by (a pandas DataFrame), got {type(summary).__name__}")
    index = pd.Series(summary.index, dtype=summary.index.dtype)
    years = cohorts(index)
    # Text of numbers is read as numbers too: dates are what reads as years alone.
    dated = pd.api.types.is_datetime64_any_dtype(index) or (
        not pd.api.types.is_numeric_dtype(index)
        and pd.api.types.is_numeric_dtype(years)
        and pd.to_numeric(index, errors="coerce").notna().sum() < years.notna().sum()
    )
    if not dated:
        return summary
    needed = (
        ("animals", "delta_animals", "delta_inbreeding") if "ne" in summary.columns else ("animals", "delta_animals")
    )
    missing = [name for name in needed if name not in summary.columns]
    if missing:
        raise KeyError(f"a table by dates needs the columns {', '.join(map(repr, missing))} of summary_by")
    year = pd.Index(years.to_numpy(), name=summary.index.name)
    weights = {"animals": None, "delta_animals": None, "ne": None, "delta_inbreeding": "delta_animals"}
    grouped = {}
    for name in summary.columns:
        weight = weights.get(name, "animals")
        values = summary[name].to_numpy(dtype=np.float64)
        if weight is None:
            grouped[name] = pd.Series(values, index=year).groupby(level=0).sum()
        else:
            w = summary[weight].to_numpy(dtype=np.float64)
            total = pd.Series(np.where(w > 0, values * w, 0.0), index=year).groupby(level=0).sum()
            grouped[name] = total / pd.Series(w, index=year).groupby(level=0).sum()
    result = pd.DataFrame(grouped)[list(summary.columns)]
    result.index = whole_cohorts(result.index)
    for name in ("animals", "delta_animals"):
        result[name] = result[name].astype(np.int64)
    if "ne" in result.columns:
        result["ne"] = [_ne(float(m)) if np.isfinite(m) else np.nan for m in result["delta_inbreeding"]]
    return result


def generation_intervals(
    pedigree: Pedigree, column: str | None = None, *, offspring: typing.Literal["parents", "all"] = "parents"
) -> pd.DataFrame:
    """The ages of the parents at the births of their offspring, by path.

    Parameters
    ----------
    pedigree : Pedigree
    column : str, optional
        The column of births, years or dates, as `parent_ages` reads it; by
        default the one that `birth_column` finds by its name.
    offspring : {"parents", "all"}, default "parents"
        The offspring counted. "parents": those that are parents themselves,
        the usual convention for the intervals at which generations turn
        over; a son is an offspring that is a sire, a daughter one that is a
        dam, whatever a sex column says, and one that is both (selfing) is
        of unknown sex. "all": every offspring, of the sex that `sexes`
        gives (the file's sex column, else its roles as a parent: unknown
        for an offspring that is no parent).

    Returns
    -------
    pandas.DataFrame
        Indexed by path `sire-son`, `sire-daughter`, `dam-son`,
        `dam-daughter`, `unknown sex` (either parent, offspring of unknown
        sex) and `all`, with columns `mean` and `sd` of the age in years
        (NaN without two pairs), `n`, the parent-offspring pairs taken, both
        births known, and `left_out`, the pairs of the path left out because
        the parent is born after its offspring (`birth_order` lists them).

    Raises
    ------
    PedigreeError, KeyError
        No column of births, or births that are neither years nor dates,
        as `parent_ages` raises them.
    ValueError
        An unknown `offspring`.

    Examples
    --------
    >>> pedigree = read_pedigree(io.StringIO("id,sire,dam,born\\na,0,0,2015\\nb,0,0,2016\\nc,a,b,2019\\n"))
    >>> generation_intervals(pedigree, "born", offspring="all").loc["all", "mean"]  # doctest: +SKIP
    3.5
    """
    checked_pedigree(pedigree)
    age, role, sex, _ = _path_ages(pedigree, column, offspring)
    rows = []
    for parent_role, offspring_sex in PATHS.values():
        path = ((role == parent_role) | (parent_role is None)) & ((sex == offspring_sex) | (offspring_sex is None))
        taken = age[path & (age >= 0)]
        rows.append(
            (
                float(taken.mean()) if len(taken) else np.nan,
                float(taken.std(ddof=1)) if len(taken) > 1 else np.nan,
                len(taken),
                int(np.count_nonzero(path & (age < 0))),
            )
        )
    return pd.DataFrame(rows, columns=["mean", "sd", "n", "left_out"], index=pd.Index(list(PATHS), name="path"))


def intervals_by_cohort(
    pedigree: Pedigree, column: str | None = None, *, offspring: typing.Literal["parents", "all"] = "parents"
) -> pd.DataFrame:
    """The generation intervals of each cohort of offspring, by path.

    The pairs of parent and offspring of `generation_intervals`, grouped by
    the offspring's birth, as `cohorts` reads it (dates by year); pairs of
    a parent born after its offspring left out.

    Parameters
    ----------
    pedigree : Pedigree
    column : str, optional
        The column of births; by default the one that `birth_column` finds.
    offspring : {"parents", "all"}, default "parents"
        As for `generation_intervals`.

    Returns
    -------
    pandas.DataFrame
        One row per cohort in ascending order, columns `sire-son`,
        `sire-daughter`, `dam-son`, `dam-daughter` and `all`, the mean age
        of the parents in years (NaN without a pair), and `n`, the pairs of
        `all`.

    Raises
    ------
    PedigreeError, KeyError, ValueError
        As `generation_intervals`.

    Examples
    --------
    >>> pedigree = read_pedigree(io.StringIO("id,sire,dam,born\\na,0,0,2015\\nb,0,0,2016\\nc,a,b,2019\\n"))
    >>> intervals_by_cohort(pedigree, "born", offspring="all").loc[2019, "all"]  # doctest: +SKIP
    3.5
    """
    checked_pedigree(pedigree)
    age, role, sex, child = _path_ages(pedigree, column, offspring)
    kept = age >= 0
    born = cohorts(pedigree.attributes[column or _birth_of(pedigree)].iloc[child]).to_numpy()
    frame = pd.DataFrame({"cohort": born[kept], "age": age[kept]})
    table = {}
    for name in ("sire-son", "sire-daughter", "dam-son", "dam-daughter", "all"):
        parent_role, offspring_sex = PATHS[name]
        path = ((role == parent_role) | (parent_role is None)) & ((sex == offspring_sex) | (offspring_sex is None))
        table[name] = frame[path[kept]].groupby("cohort")["age"].mean()
    result = pd.DataFrame(table)
    result["n"] = frame.groupby("cohort").size().reindex(result.index).fillna(0).astype(np.int64)
    result.index = whole_cohorts(result.index.rename(column or _birth_of(pedigree)))
    return result


def _birth_of(pedigree: Pedigree) -> str:
    column = birth_column(pedigree)
    assert column is not None  # parent_ages has refused a pedigree without one
    return column


def _path_ages(
    pedigree: Pedigree, column: str | None, offspring: str
) -> tuple[_Floats, NDArray[np.object_], NDArray[np.integer[typing.Any]], _Ints]:
    """The age of the parent of every pair, its role, the offspring's sex as
    `generation_intervals` counts it, and the offspring."""
    if offspring not in ("parents", "all"):
        raise ValueError(f"offspring must be 'parents' or 'all', got {offspring!r}")
    ages = parent_ages(pedigree, column)
    child = ages["offspring"].to_numpy()
    if offspring == "all":
        sex = sexes(pedigree)[child]
    else:
        sire, dam = roles(pedigree)
        parent = sire[child] | dam[child]
        ages, child = ages[parent], child[parent]
        sex = np.where(sire[child] & ~dam[child], 1, np.where(dam[child] & ~sire[child], 2, 0))
    return ages["age"].to_numpy(), ages["role"].to_numpy(), sex, child


def _check_positive(value: object, name: str) -> None:
    number = integer(value)
    if number is None or number < 1:
        raise ValueError(f"{name} must be a positive integer, got {value!r}")


def _maccluer(pedigree: Pedigree, generations: int) -> _Floats:
    """MacCluer's completeness index of every animal over `generations`."""
    sire, dam = pedigree.sire, pedigree.dam
    s, d = np.maximum(sire, 0), np.maximum(dam, 0)
    # Added in the order of the generations, the parent itself first.
    known = ancestors_known(pedigree, max(generations - 1, 1))
    side = np.ones(len(pedigree))
    for g in range(generations - 1):
        side += known[:, g]
    side /= generations
    paternal = np.where(sire >= 0, side[s], 0.0)
    maternal = np.where(dam >= 0, side[d], 0.0)
    total = paternal + maternal
    return np.where(total > 0, 2.0 * paternal * maternal / np.where(total > 0, total, 1.0), 0.0)


def _coancestry_size(pedigree: Pedigree, animals: _Ints, equivalent: _Floats, pairs: int, seed: int) -> EffectiveSize:
    """Ne from the increase in coancestry of the pairs of `animals`: all of
    them up to ALL_PAIRS_UP_TO, else those among a sample of them that
    holds `pairs` pairs, drawn with `seed`."""
    m = len(animals)
    if m < 2:
        raise ValueError("Ne by coancestry needs at least two reference animals, got one")
    sample = math.ceil((1.0 + math.sqrt(1.0 + 8.0 * pairs)) / 2.0)
    sampled = m > ALL_PAIRS_UP_TO and sample < m
    if sampled:
        animals = np.sort(np.random.default_rng(seed).choice(animals, sample, replace=False))
    j, k = np.triu_indices(len(animals), 1)
    coancestry = relationships_among(pedigree, pedigree.ids[animals], kinship=True)[j, k]
    t = (equivalent[animals[j]] + equivalent[animals[k]]) / 2.0
    # A coancestry of 1 (in the last bits, above) leaves no rate, as F = 1 does.
    related = coancestry >= 1.0
    usable = (t > 0) & ~related
    if not np.any(usable):
        left_out = f" ({np.count_nonzero(related)} of the pairs fully related, coancestry 1)" if np.any(related) else ""
        raise ValueError(
            f"no pair of the {m} reference animals{left_out} has equivalent generations of known "
            "ancestors and a coancestry below 1, which the rate of coancestry needs"
        )
    delta = 1.0 - (1.0 - coancestry[usable]) ** (1.0 / t[usable])
    mean = float(delta.mean())
    return EffectiveSize(
        ne=_ne(mean),
        se=float("nan"),
        n=int(np.count_nonzero(usable)),
        mean_delta_inbreeding=mean,
        fully_inbred=int(np.count_nonzero(related)),
        method="coancestry",
        sampled=sampled,
    )


def _regression_size(f: _Floats, t: _Floats) -> EffectiveSize:
    """Ne from the slope of ln(1 − F) on the equivalent generations, through the origin."""
    inbred = f >= 1.0
    usable = ~inbred & (t > 0)
    if not np.any(usable):
        raise ValueError(
            f"none of the {len(f)} reference animals has equivalent generations of known ancestors "
            "and F below 1, which the regression of ln(1 − F) needs"
        )
    x, y = t[usable], np.log1p(-f[usable])
    slope = float(np.dot(x, y) / np.dot(x, x))
    delta = -math.expm1(slope)
    ne = _ne(delta)
    residual = y - slope * x
    spread = (
        math.sqrt(float(np.dot(residual, residual)) / (len(x) - 1) / float(np.dot(x, x))) if len(x) > 1 else math.nan
    )
    se = math.exp(slope) * spread / (2.0 * delta * delta) if np.isfinite(ne) else math.nan
    return EffectiveSize(
        ne=ne,
        se=se,
        n=len(x),
        mean_delta_inbreeding=delta,
        fully_inbred=int(np.count_nonzero(inbred)),
        method="regression",
    )


def _parents_of(pedigree: Pedigree, animals: _Ints) -> tuple[_Ints, _Ints]:
    """The distinct sires and dams of `animals`; refused without both."""
    sires, dams = (
        np.unique(parents[parents >= 0]).astype(np.int64) for parents in (pedigree.sire[animals], pedigree.dam[animals])
    )
    if len(sires) == 0 or len(dams) == 0:
        raise ValueError(
            f"the {len(animals)} reference animals have {len(sires)} known sires and {len(dams)} known dams: "
            "Ne by sex ratio or family size needs both"
        )
    # A plant that is sire and dam (selfed, or a parent both ways) would count as a male and as a female.
    both = np.intersect1d(sires, dams)
    if len(both):
        raise ValueError(
            f"{pedigree.ids[both[0]]!r} is a sire and a dam of the reference animals ({len(both)} parents are both): "
            "Ne by sex ratio or family size counts two sexes, which such a parent has not; Ne by the individual "
            "increase in inbreeding or by regression holds"
        )
    return sires, dams


def _sex_ratio_size(pedigree: Pedigree, animals: _Ints) -> EffectiveSize:
    sires, dams = _parents_of(pedigree, animals)
    males, females = float(len(sires)), float(len(dams))
    ne = 4.0 * males * females / (males + females)
    known = (pedigree.sire[animals] >= 0) | (pedigree.dam[animals] >= 0)
    return EffectiveSize(
        ne=ne,
        se=math.nan,
        n=int(np.count_nonzero(known)),
        mean_delta_inbreeding=1.0 / (2.0 * ne),
        method="sex-ratio",
        sires=len(sires),
        dams=len(dams),
    )


def _family_size(pedigree: Pedigree, animals: _Ints, interval: float | None) -> EffectiveSize:
    """Hill's (1979) Ne from the variances of the numbers of breeding sons and daughters."""
    sires, dams = _parents_of(pedigree, animals)
    if interval is None:
        column = birth_column(pedigree)
        if column is None:
            raise ValueError("Ne by family size needs the generation interval: give interval= (in years)")
        interval = float(generation_intervals(pedigree, column)["mean"]["all"])
        if not interval > 0.0:
            raise ValueError(f"the births of {column} give no generation interval above 0: give interval= (in years)")
    is_sire, is_dam = roles(pedigree)
    son, daughter = is_sire & ~is_dam, is_dam & ~is_sire
    n = len(pedigree)
    # Breeding sons and daughters of every animal as a sire and as a dam.
    breeding = {}
    for role, parents in (("sire", pedigree.sire), ("dam", pedigree.dam)):
        known = parents >= 0
        breeding[role] = tuple(
            np.bincount(parents[known & kind], minlength=n).astype(np.float64) for kind in (son, daughter)
        )
    males, females = float(len(sires)), float(len(dams))
    mm, mf = (counts[sires] for counts in breeding["sire"])
    fm, ff = (counts[dams] for counts in breeding["dam"])
    ratio = males / females
    paternal = (2.0 + mm.var() + 2.0 * ratio * _covariance(mm, mf) + ratio * ratio * mf.var()) / (
        16.0 * males * interval
    )
    maternal = (2.0 + ff.var() + 2.0 / ratio * _covariance(ff, fm) + fm.var() / (ratio * ratio)) / (
        16.0 * females * interval
    )
    ne = 1.0 / float(paternal + maternal)
    return EffectiveSize(
        ne=ne,
        se=math.nan,
        n=len(sires) + len(dams),
        mean_delta_inbreeding=1.0 / (2.0 * ne),
        method="family-size",
        sires=len(sires),
        dams=len(dams),
        interval=interval,
    )


def _covariance(x: _Floats, y: _Floats) -> float:
    """The covariance divided by the number of pairs, as numpy's var divides."""
    return float(np.mean((x - x.mean()) * (y - y.mean())))


def _ne(mean_delta: float) -> float:
    return 1.0 / (2.0 * mean_delta) if mean_delta > 0.0 else float("inf")


def _delta_inbreeding(f: _Floats, equivalent: _Floats) -> _Floats:
    usable = equivalent > 1.0
    exponent = 1.0 / np.where(usable, equivalent - 1.0, 1.0)
    return np.where(usable, 1.0 - (1.0 - f) ** exponent, np.nan)


def _contribution_table(
    pedigree: Pedigree, contribution: _Floats, founder: _Floats, marginal: _Floats, order: _Ints
) -> pd.DataFrame:
    others = np.flatnonzero(contribution > 0.0)
    others = others[np.isnan(marginal[others])]
    others = others[np.argsort(-contribution[others], kind="stable")]
    rows = np.concatenate([order, others])
    return pd.DataFrame(
        {
            "contribution": contribution[rows],
            "founder_contribution": founder[rows],
            "marginal_contribution": marginal[rows],
        },
        index=pd.Index(pedigree.ids[rows], name="id"),
    )
