"""The inverse of a genomic relationship matrix by the algorithm for proven and
young (APY; Misztal, Legarra and Aguilar 2014), from a core of the genotyped
animals, without forming the whole matrix; and the size of a core from the
eigenvalues of G (Pocrnic et al. 2016)."""

from __future__ import annotations

import dataclasses
import typing
from collections.abc import Callable, Iterator

import numpy as np
import scipy.linalg.lapack as lapack
from numpy.typing import NDArray

from ._advice import argument, refused
from ._arguments import integer, listed, real
from ._symmetric import mirror, singular

__all__ = ["ApyInverse", "Centring", "apy_inverse", "core_positions", "core_size", "genomic_sums"]

# Genotyped animals whose centred genotypes are held at once, for the sums
# over every animal and for the eigenvalues of ZᵀZ.
_ROWS_AT_ONCE = 4096

_Floats = NDArray[np.float64]
_Positions = NDArray[np.intp]
#: Gw's block from G's and A22's, elementwise: tuning and blending.
Weigh = Callable[[_Floats, _Floats], _Floats]


@dataclasses.dataclass(frozen=True)
class Centring:
    """The genotypes of the genotyped animals as G sees them: `rows(k)`
    gives Z of the animals at positions `k`, one chunk of markers after
    another, each with where its genotypes are called; G = Z Zᵀ / scale."""

    rows: Callable[[_Positions], Iterator[tuple[_Floats, NDArray[np.bool_]]]]
    scale: float
    markers: int


def core_positions(ids: NDArray[np.object_], core: typing.Any, seed: typing.Any) -> _Positions:
    """The positions among the genotyped animals `ids` of the core: listed by
    identifier, or a number of them drawn with `seed`; ascending."""
    m = len(ids)
    count = integer(core) if not isinstance(core, (str, bool)) else None
    if count is not None:
        if not 1 <= count <= m:
            raise refused(
                f"a core of {count:,} animals among {m:,} genotyped ones: ",
                argument("core"),
                " must be from 1 to the number of genotyped animals",
            )
        return np.sort(np.random.default_rng(seed).choice(m, count, replace=False))
    try:
        given = np.asarray(listed(core), dtype=object)
    except TypeError:
        raise TypeError(f"core must be a number of animals or their identifiers, got {type(core).__name__}") from None
    if len(given) > m:
        raise refused(f"a core of {len(given):,} animals among {m:,} genotyped ones: ", argument("core"), " is larger")
    position = {animal: k for k, animal in enumerate(ids)}
    found = np.array([position.get(animal, -1) for animal in given], dtype=np.intp)
    if len(found) == 0:
        raise refused(argument("core"), " lists no animal")
    outside = np.flatnonzero(found < 0)
    if len(outside):
        raise refused(f"core animal {given[outside[0]]!r} is not genotyped: the core is chosen among the genotyped")
    unique, first = np.unique(found, return_index=True)
    if len(unique) < len(found):
        again = int(np.setdiff1d(np.arange(len(found)), first)[0])
        raise refused(f"core animal {given[again]!r} is listed twice in ", argument("core"))
    return unique


def genomic_sums(centring: Centring, ids: NDArray[np.object_]) -> tuple[_Floats, float]:
    """G's diagonal and the sum of all its elements, 1ᵀ G 1 = ‖Zᵀ 1‖² / scale,
    from the column sums of Z, by blocks of animals; an animal without a
    genotype at the markers kept is refused."""
    m = len(ids)
    diagonal = np.zeros(m)
    column_sums: list[_Floats] = []
    for start in range(0, m, _ROWS_AT_ONCE):
        rows = np.arange(start, min(m, start + _ROWS_AT_ONCE))
        calls = np.zeros(len(rows), dtype=np.int64)
        for k, (z, called) in enumerate(centring.rows(rows)):
            diagonal[rows] += np.einsum("ij,ij->i", z, z)
            calls += np.count_nonzero(called, axis=1)
            if k == len(column_sums):
                column_sums.append(np.zeros(z.shape[1]))
            column_sums[k] += z.sum(axis=0)
        if np.any(calls == 0):
            animal = ids[rows[int(np.argmax(calls == 0))]]
            raise ValueError(
                f"animal {animal!r} has no genotype at the {centring.markers:,} markers kept; leave it out of the "
                "genotypes"
            )
    total = sum(float(np.dot(s, s)) for s in column_sums)
    return diagonal / centring.scale, total / centring.scale


def comparison_figures(
    g_diagonal: _Floats, g_total: float, a_diagonal: _Floats, a_total: float
) -> tuple[int, float, float, float, float, float]:
    """The figures of G against A22 from their diagonals and the sums of all
    their elements: animals, the mean diagonals, the mean off-diagonal
    elements, and the correlation of the diagonals."""
    m = len(g_diagonal)
    pairs = m * (m - 1)
    means = []
    for diagonal, total in ((g_diagonal, g_total), (a_diagonal, a_total)):
        trace = float(np.sum(diagonal))
        means.append((trace / m, (total - trace) / pairs if pairs else float("nan")))
    first, second = g_diagonal - means[0][0], a_diagonal - means[1][0]
    spread = float(np.sqrt(np.dot(first, first) * np.dot(second, second)))
    correlation = float(np.dot(first, second)) / spread if spread > 0.0 else float("nan")
    return m, means[0][0], means[1][0], means[0][1], means[1][1], correlation


class ApyInverse:
    """Gw⁻¹ by APY, in the order of the genotyped animals: with c the core
    and n the others,

        Gw⁻¹ = [Gcc⁻¹ 0; 0 0] + [−P; I] M⁻¹ [−Pᵀ I],   P = Gcc⁻¹ Gcn,

    M diagonal, m_ii = g_ii − g_ciᵀ Gcc⁻¹ g_ci (the noncore animals
    conditionally independent given the core).

    Attributes
    ----------
    ids : numpy.ndarray of object
        The genotyped animals, in the order of products.
    core, noncore : numpy.ndarray of intp
        Their positions among `ids`, ascending.
    core_inverse : numpy.ndarray of float64
        Gcc⁻¹, c × c, exactly symmetric.
    core_noncore : numpy.ndarray of float64
        Gcn, c × n.
    noncore_diagonal : numpy.ndarray of float64
        M⁻¹'s diagonal, n.
    """

    def __init__(
        self,
        ids: NDArray[np.object_],
        core: _Positions,
        core_inverse: _Floats,
        core_noncore: _Floats,
        noncore_diagonal: _Floats,
        diagonal: _Floats,
    ) -> None:
        self.ids = ids
        self.core = core
        self.noncore = np.setdiff1d(np.arange(len(ids)), core)
        self.core_inverse = core_inverse
        self.core_noncore = core_noncore
        self.noncore_diagonal = noncore_diagonal
        self._diagonal = diagonal

    def dot(self, x: _Floats) -> _Floats:
        """Gw⁻¹ x for a vector or a block of columns, by products with the
        parts alone: y_n = M⁻¹ (x_n − Gcnᵀ Gcc⁻¹ x_c), y_c = Gcc⁻¹ (x_c − Gcn y_n).

        Parameters
        ----------
        x : numpy.ndarray of float64
            m or m × k.

        Returns
        -------
        numpy.ndarray of float64
            The shape of `x`.
        """
        x = np.asarray(x, dtype=np.float64)
        weights = self.noncore_diagonal if x.ndim == 1 else self.noncore_diagonal[:, np.newaxis]
        y = np.empty_like(x)
        noncore = weights * (x[self.noncore] - self.core_noncore.T @ (self.core_inverse @ x[self.core]))
        y[self.noncore] = noncore
        y[self.core] = self.core_inverse @ (x[self.core] - self.core_noncore @ noncore)
        return y

    def diagonal(self) -> _Floats:
        """The diagonal of Gw⁻¹."""
        return self._diagonal.copy()

    def toarray(self) -> _Floats:
        """Gw⁻¹ dense, m × m, exactly symmetric: for small sets of animals."""
        lifted = -(self.core_inverse @ self.core_noncore)
        outer = np.vstack([lifted, np.eye(len(self.noncore))])
        weighted = outer * self.noncore_diagonal
        dense = weighted @ outer.T
        c = len(self.core)
        dense[:c, :c] += self.core_inverse
        order = np.concatenate([self.core, self.noncore])
        result = np.empty_like(dense)
        result[np.ix_(order, order)] = dense
        return mirror(result)


def apy_inverse(
    centring: Centring,
    ids: NDArray[np.object_],
    core: _Positions,
    g_diagonal: _Floats,
    weigh: Weigh,
    a22_core: _Floats,
    a22_diagonal: _Floats,
) -> ApyInverse:
    """Gw⁻¹ by APY from the core block Gcc, the core–noncore block Gcn and
    the noncore diagonal of G alone, each weighed with A22's block.

    Parameters
    ----------
    centring : Centring
    ids : numpy.ndarray of object
        The genotyped animals.
    core : numpy.ndarray of intp
        The positions of the core among them, ascending.
    g_diagonal : numpy.ndarray of float64
        G's diagonal.
    weigh : callable
        weigh(g, a22) gives Gw's elements from G's and A22's, elementwise.
    a22_core : numpy.ndarray of float64
        A22's columns of the core, m × c, or a 0-d zero where `weigh` does
        not read A22.
    a22_diagonal : numpy.ndarray of float64
        A22's diagonal.

    Returns
    -------
    ApyInverse

    Raises
    ------
    ValueError
        Gw of the core not positive definite, or a noncore animal left with
        no variance of its own, naming the animal; a result that is not finite.
    """
    noncore = np.setdiff1d(np.arange(len(ids)), core)
    c = len(core)
    g_core = np.zeros((c, c))
    g_across = np.zeros((c, len(noncore)))
    for (z_core, _), (z_noncore, _) in zip(centring.rows(core), centring.rows(noncore)):
        g_core += z_core @ z_core.T
        g_across += z_core @ z_noncore.T
    g_core /= centring.scale
    g_across /= centring.scale
    block = a22_core if a22_core.ndim == 0 else a22_core[core]
    core_block = mirror(weigh(g_core, block))
    del g_core
    across = weigh(g_across, block if a22_core.ndim == 0 else np.ascontiguousarray(a22_core[noncore].T))
    del g_across
    kept = weigh(g_diagonal[noncore], a22_diagonal[noncore])
    factor, info = lapack.dpotrf(core_block, lower=True, clean=True)
    flat = singular(np.diagonal(factor) ** 2, np.diagonal(core_block), len(ids)) if info == 0 else np.array([], int)
    if info > 0 or len(flat):
        why = (
            f"singular: core animal {ids[core[int(flat[0])]]!r} holds nothing that the core animals before it do "
            "not, to the last bits"
            if len(flat)
            else f"not positive definite: its leading block stops being so at core animal {ids[core[info - 1]]!r}"
        )
        raise refused(
            f"G of the core is {why}; raise ",
            argument("blend"),
            ", choose another core, or look for clones in G",
        )
    core_inverse = mirror(lapack.dpotri(factor, lower=True)[0])
    lifted = lapack.dpotrs(factor, across, lower=True)[0]
    left = kept - np.einsum("ij,ij->j", across, lifted)
    # A noncore animal with no variance left given the core, to the last bits: a clone of the core.
    lost = np.union1d(np.flatnonzero(~(left > 0.0)), singular(left, kept, len(ids)))
    if len(lost):
        raise refused(
            f"animal {ids[noncore[lost[0]]]!r} has no variance left given the core ({float(left[lost[0]])!r}): Gw is "
            "not positive definite; raise ",
            argument("blend"),
            ", or choose another core",
        )
    # Overflow shows as infinities, refused below.
    with np.errstate(over="ignore", divide="ignore", invalid="ignore"):
        noncore_diagonal = 1.0 / left
        diagonal = np.empty(len(ids))
        diagonal[core] = np.diag(core_inverse) + (lifted * lifted) @ noncore_diagonal
        diagonal[noncore] = noncore_diagonal
    if not (np.all(np.isfinite(core_inverse)) and np.all(np.isfinite(diagonal))):
        raise ValueError("the APY inverse of Gw is not finite: Gw holds values too small or too large to invert")
    return ApyInverse(ids, core, core_inverse, across, noncore_diagonal, diagonal)


def core_size(centring: Centring, animals: int, share: typing.Any) -> int:
    """The number of the largest eigenvalues of G that explain `share` of
    their sum: from G itself, or, with fewer markers than animals, from ZᵀZ
    (markers × markers), which has the same eigenvalues besides zeros.

    Parameters
    ----------
    centring : Centring
    animals : int
    share : float
        From 0 (excluded) to 1.

    Returns
    -------
    int
    """
    value = real(share)
    if value is None or not 0.0 < value <= 1.0:
        raise refused(argument("share"), f" must be a number above 0 and at most 1, got {share!r}")
    everyone = np.arange(animals)
    if centring.markers < animals:
        square = np.zeros((centring.markers, centring.markers))
        for start in range(0, animals, _ROWS_AT_ONCE):
            z = np.hstack([chunk for chunk, _ in centring.rows(everyone[start : start + _ROWS_AT_ONCE])])
            square += z.T @ z
    else:
        square = np.zeros((animals, animals))
        for z, _ in centring.rows(everyone):
            square += z @ z.T
    eigenvalues = np.clip(np.linalg.eigvalsh(mirror(square))[::-1], 0.0, None)
    explained = np.cumsum(eigenvalues) / np.sum(eigenvalues)
    # Rounding may leave the last sum a hair under 1: all the eigenvalues then.
    return min(len(eigenvalues), int(np.searchsorted(explained, value * (1.0 - 1e-12))) + 1)
