"""Breeding values of a single-trait animal model by preconditioned conjugate
gradients on Henderson's mixed-model equations, with A⁻¹ or H⁻¹ given as a
matrix or as a product."""

from __future__ import annotations

import dataclasses
import math
import typing
from collections.abc import Iterable

import numpy as np
import pandas as pd
import scipy.sparse as sp
from numpy.typing import NDArray

from ._advice import argument, refused
from ._arguments import integer, real
from .genomic import HybridInverse
from .inverse import inverse_relationship_matrix
from .pedigree import Pedigree, checked_pedigree

__all__ = ["AnimalModelSolution", "solve_animal_model"]

# The fewest iterations that conjugate gradients are given by default.
_LEAST_ITERATIONS = 1000

_Floats = NDArray[np.float64]


@dataclasses.dataclass(frozen=True)
class AnimalModelSolution:
    """What `solve_animal_model` gives.

    Attributes
    ----------
    breeding_values : pandas.Series
        float64 by identifier, every animal of the relationship matrix.
    fixed : pandas.Series
        float64 by (effect, level); ("mean", "") without fixed effects.
    iterations : int
        Conjugate-gradient iterations taken.
    residual : float
        ‖r‖ / ‖b‖ at the end, below `tol`.
    """

    breeding_values: pd.Series  # type: ignore[type-arg]
    fixed: pd.Series  # type: ignore[type-arg]
    iterations: int
    residual: float


def solve_animal_model(
    pedigree: Pedigree,
    records: pd.DataFrame,
    trait: str,
    fixed: Iterable[str] = (),
    *,
    ratio: float,
    relationship: typing.Any = None,
    tol: float = 1e-12,
    max_iterations: int | None = None,
) -> AnimalModelSolution:
    """Solves y = X b + Z u + e, var(u) = K⁻¹ σ²_u, by preconditioned
    conjugate gradients on the mixed-model equations

        [XᵀX  XᵀZ; ZᵀX  ZᵀZ + λ K] [b; u] = [Xᵀy; Zᵀy],   λ = σ²_e / σ²_u,

    where K is A⁻¹ or H⁻¹, applied as a product: the equations are never
    formed. The preconditioner is their diagonal: diag(XᵀX) for the fixed
    effects, diag(ZᵀZ) + λ diag(K) for the animals. Starting from 0, it
    stops when ‖r‖ / ‖b‖ < `tol`, r the residual that the iterations carry.

    X has a column for each level of the first fixed effect, and for each
    level but the first (in sorted order, its solution 0) of the others, so
    that it has full rank where the effects are crossed; without fixed
    effects, a column of ones, the mean.

    Parameters
    ----------
    pedigree : Pedigree
    records : pandas.DataFrame
        One record per row: an ``animal`` column of identifiers, the
        `trait` column of numbers and the `fixed` columns of levels.
    trait : str
        The column of the trait.
    fixed : iterable of str, default ()
        The columns of categorical fixed effects.
    ratio : float
        λ = σ²_e / σ²_u, above 0.
    relationship : optional
        K: by default A⁻¹ of `pedigree`; a `HybridInverse` (its `matrix`,
        its `ids`), or a symmetric sparse matrix or LinearOperator with
        ``diagonal()`` in the pedigree's numbering.
    tol : float, default 1e-12
    max_iterations : int, optional
        By default the number of equations, and 1000 at least.

    Returns
    -------
    AnimalModelSolution

    Raises
    ------
    ValueError
        A column missing from `records`, or named twice among the trait
        and the fixed effects; a missing trait value or level (naming the
        row), an animal not in the relationship's animals (naming it), a bad
        `ratio`, `tol` or relationship, no convergence within
        `max_iterations`, or a solution that is not finite.
    TypeError
        `records` not a DataFrame, a trait of other than numbers, `trait`
        not the name of a column.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b")])
    >>> records = pd.DataFrame({"animal": ["a", "c"], "y": [10.0, 14.0]})
    >>> solution = solve_animal_model(pedigree, records, "y", ratio=1.0)
    >>> solution.breeding_values.round(4).tolist(), solution.fixed.round(4).tolist()
    ([-0.6667, 0.6667, 0.6667], [12.0])
    """
    checked_pedigree(pedigree)
    effects = [fixed] if isinstance(fixed, str) else list(fixed)
    lam = real(ratio)
    if lam is None or not (np.isfinite(lam) and lam > 0.0):
        raise refused(argument("ratio"), f" must be a number above 0, σ²_e / σ²_u, got {ratio!r}")
    limit = real(tol)
    if limit is None or not 0.0 < limit < math.inf:
        raise refused(argument("tol"), f" must be a finite number above 0, got {tol!r}")
    if not isinstance(trait, str):
        raise TypeError(f"trait must be the name of a column, got {trait!r}")
    twice = next((name for k, name in enumerate(effects) if name in effects[:k] or name == trait), None)
    if twice is not None:
        raise ValueError(f"the column {twice!r} is named twice among the trait and the fixed effects; name it once")
    ids, relation = _relationship(pedigree, relationship)
    y, x, levels, animals = _design(records, trait, effects, ids, pedigree)
    if len(y) == 0:
        raise ValueError("the records hold no record: there is nothing to estimate the effects from")
    m, f, n = len(y), x.shape[1], len(ids)
    z = sp.csr_matrix((np.ones(m), animals, np.arange(m + 1)), shape=(m, n))
    w = sp.hstack([x, z], format="csr")
    wt = w.T.tocsr()
    diagonal = np.asarray(w.multiply(w).sum(axis=0)).ravel()
    diagonal[f:] += lam * np.asarray(relation.diagonal(), dtype=np.float64)
    # An animal without records whose K holds nothing on the diagonal leaves the equations singular.
    if np.any(diagonal[f:] <= 0.0):
        k = int(np.argmax(diagonal[f:] <= 0.0))
        raise ValueError(
            f"the equations have no positive diagonal at animal {ids[k]!r}: K, an inverse of relationships "
            f"(A⁻¹, H⁻¹), must be positive on its diagonal"
        )

    def product(v: _Floats) -> _Floats:
        result: _Floats = wt @ (w @ v)
        result[f:] += lam * np.asarray(relation @ v[f:]).ravel()
        return result

    # In exact arithmetic conjugate gradients end within as many iterations as
    # equations; rounding may take a few more, which matters for small systems.
    most = max(f + n, _LEAST_ITERATIONS) if max_iterations is None else integer(max_iterations)
    if most is None or most < 1:
        raise refused(argument("max_iterations"), f" must be a positive integer, got {max_iterations!r}")
    solution, iterations, residual = _conjugate_gradients(product, wt @ y, diagonal, limit, most)
    if not np.all(np.isfinite(solution)):
        raise ValueError("the solution is not finite: the relationship matrix or the records hold values out of range")
    return AnimalModelSolution(
        pd.Series(solution[f:], index=pd.Index(ids, dtype=object), name="breeding_value"),
        pd.Series(solution[:f], index=levels, name="solution"),
        iterations,
        residual,
    )


def _relationship(pedigree: Pedigree, relationship: typing.Any) -> tuple[NDArray[np.object_], typing.Any]:
    """The animals of the equations and K."""
    if relationship is None:
        return pedigree.ids, inverse_relationship_matrix(pedigree)
    if isinstance(relationship, HybridInverse):
        return relationship.ids, relationship.matrix
    n = len(pedigree)
    if getattr(relationship, "shape", None) != (n, n) or not hasattr(relationship, "diagonal"):
        raise ValueError(
            f"relationship must be {n:,} × {n:,}, the pedigree's animals, with a diagonal(): a sparse matrix, "
            f"a LinearOperator or a HybridInverse, got {type(relationship).__name__} of shape "
            f"{getattr(relationship, 'shape', None)}"
        )
    return pedigree.ids, relationship


def _design(
    records: pd.DataFrame, trait: str, effects: list[str], ids: NDArray[np.object_], pedigree: Pedigree
) -> tuple[_Floats, sp.csr_matrix, pd.MultiIndex, NDArray[np.intp]]:
    """y, X, the (effect, level) of each column of X, and the animal of each
    record among `ids`."""
    if not isinstance(records, pd.DataFrame):
        raise TypeError(f"records must be a pandas DataFrame, got {type(records).__name__}")
    wanted = ["animal", trait, *effects]
    absent = [column for column in wanted if column not in records.columns]
    if absent:
        raise ValueError(
            f"records have no column {absent[0]!r} (they have {', '.join(map(repr, records.columns))}); "
            "an animal model reads 'animal', the trait and the fixed effects"
        )
    twice = [column for column in wanted if np.count_nonzero(records.columns == column) > 1]
    if twice:
        raise ValueError(f"records have two columns named {twice[0]!r}; name them apart")
    for column in wanted:
        blank = np.flatnonzero(records[column].isna().to_numpy())
        if len(blank):
            raise ValueError(
                f"records row {blank[0]} (animal {records['animal'].iloc[blank[0]]!r}) has no {column}; "
                "leave out the records without one"
            )
    observed = records[trait]
    # Text and True/False would be read as numbers by the cast.
    if not pd.api.types.is_numeric_dtype(observed) or pd.api.types.is_bool_dtype(observed):
        raise TypeError(f"records' {trait!r} must hold numbers, got {observed.dtype}")
    y = observed.to_numpy(dtype=np.float64, na_value=np.nan)
    infinite = np.flatnonzero(~np.isfinite(y))
    if len(infinite):
        raise ValueError(f"records row {infinite[0]}: {trait} is {float(y[infinite[0]])!r}, not a finite number")
    found: NDArray[np.intp] = pd.Index(ids, dtype=object).get_indexer(records["animal"].astype(object))  # type: ignore[no-untyped-call]
    outside = np.flatnonzero(found < 0)
    if len(outside):
        name = records["animal"].iloc[outside[0]]
        try:
            pedigree.numbers([name])  # says how a name not in the pedigree may have been meant (3 for '3')
        except (ValueError, TypeError) as error:
            raise type(error)(f"records row {outside[0]}: {error}") from None
        raise ValueError(f"records row {outside[0]}: animal {name!r} is not among the animals of the relationship")
    m = len(y)
    columns: list[sp.csr_matrix] = []
    labels: list[tuple[str, typing.Any]] = []
    for k, effect in enumerate(effects):
        codes, uniques = pd.factorize(records[effect], sort=True)
        first = 0 if k == 0 else 1
        kept = codes >= first
        columns.append(
            sp.csr_matrix(
                (np.ones(int(kept.sum())), codes[kept] - first, np.concatenate([[0], np.cumsum(kept)])),
                shape=(m, len(uniques) - first),
            )
        )
        labels += [(effect, level) for level in uniques[first:]]
    if not effects:
        columns.append(sp.csr_matrix(np.ones((m, 1))))
        labels.append(("mean", ""))
    return y, sp.hstack(columns, format="csr"), pd.MultiIndex.from_tuples(labels, names=["effect", "level"]), found


def _conjugate_gradients(
    product: typing.Callable[[_Floats], _Floats], b: _Floats, diagonal: _Floats, tol: float, most: int
) -> tuple[_Floats, int, float]:
    """Preconditioned conjugate gradients (Hestenes and Stiefel 1952) from 0
    with the preconditioner diag(`diagonal`)⁻¹: the solution, the
    iterations and ‖r‖ / ‖b‖."""
    x = np.zeros_like(b)
    size = float(np.linalg.norm(b))
    if size == 0.0:
        return x, 0, 0.0
    r = b.copy()
    z = r / diagonal
    p = z.copy()
    rz = float(np.dot(r, z))
    for iteration in range(1, most + 1):
        q = product(p)
        alpha = rz / float(np.dot(p, q))
        x += alpha * p
        r -= alpha * q
        residual = float(np.linalg.norm(r)) / size
        # NaN ends it too, for the caller to refuse the solution.
        if not residual >= tol:
            return x, iteration, residual
        z = r / diagonal
        following = float(np.dot(r, z))
        p = z + (following / rz) * p
        rz = following
    raise refused(
        f"conjugate gradients did not converge in {most:,} iterations (‖r‖ / ‖b‖ = {residual:.3g}); raise ",
        argument("max_iterations"),
        " or ",
        argument("tol"),
    )
