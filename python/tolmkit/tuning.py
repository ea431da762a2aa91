"""G brought to the pedigree's scale before it joins H: the comparison of G
with A22, the tunings of Chen et al. (2011) and Vitezica et al. (2011),
and the blends with A22 or with the identity, each by its formula."""

from __future__ import annotations

import dataclasses
import typing

import numpy as np
from numpy.typing import NDArray

from ._advice import argument, option, refused

__all__ = ["BLENDS", "ORDERS", "TUNINGS", "GenomicComparison", "adjusted", "check_adjustment", "elementwise"]

#: The tunings of G to A22: none, Chen et al.'s (2011) and Vitezica et al.'s (2011).
TUNINGS = (None, "mean", "base")
#: What G is blended with.
BLENDS = ("A22", "identity")
#: The orders of tuning and blending, the first the default.
ORDERS = ("tune-then-blend", "blend-then-tune")

# Rows of G and A22 whose deviations are held at once.
_ROWS_AT_ONCE = 256


@dataclasses.dataclass(frozen=True)
class GenomicComparison:
    """G against A22, the pedigree relationships of the same animals: what a
    breeder checks first, since G on another scale than A22 biases H.

    Attributes
    ----------
    animals : int
        Genotyped animals.
    mean_diagonal_g, mean_diagonal_a22 : float
        Means of the diagonals (1 + F on A22's scale).
    mean_off_diagonal_g, mean_off_diagonal_a22 : float
        Means of the elements off the diagonals (NaN for a single animal).
    diagonal_correlation : float
        Pearson correlation of the two diagonals (NaN where either is constant).
    correlation, off_diagonal_correlation : float
        Pearson correlations of all the elements, and of those off the
        diagonals.
    slope, intercept : float
        The least-squares regression of the elements of G on those of A22,
        G ≈ intercept + slope A22.
    """

    animals: int
    mean_diagonal_g: float
    mean_diagonal_a22: float
    mean_off_diagonal_g: float
    mean_off_diagonal_a22: float
    diagonal_correlation: float
    correlation: float
    off_diagonal_correlation: float
    slope: float
    intercept: float

    @classmethod
    def of(cls, g: NDArray[np.float64], a22: NDArray[np.float64]) -> GenomicComparison:
        """The comparison of a G with A22, both m × m in the same order.

        Parameters
        ----------
        g, a22 : numpy.ndarray of float64

        Returns
        -------
        GenomicComparison

        Examples
        --------
        >>> c = GenomicComparison.of(np.array([[1.2, 0.2], [0.2, 0.8]]), np.array([[1.0, 0.0], [0.0, 1.0]]))
        >>> round(c.slope, 6), round(c.intercept, 6), round(c.mean_off_diagonal_g, 6)
        (0.8, 0.2, 0.2)
        """
        m = len(g)
        means = []
        for matrix in (g, a22):
            diagonal = np.diag(matrix)
            # Row by row, so that a large diagonal does not swallow the bits of the rest.
            rows = matrix.sum(axis=1)
            off = np.sum(rows - diagonal) / (m * (m - 1)) if m > 1 else float("nan")
            means.append((np.sum(diagonal) / m, off, np.sum(rows) / (m * m)))
        (dg, og, ag), (da, oa, aa) = means
        diagonal = _moments(np.diag(g) - dg, np.diag(a22) - da)
        # Deviations from the means of all the elements, and from those off the
        # diagonal, whose sums lose the diagonal's terms after.
        whole = np.zeros(3)
        off = np.zeros(3)
        for start in range(0, m, _ROWS_AT_ONCE):
            rows_g, rows_a = g[start : start + _ROWS_AT_ONCE], a22[start : start + _ROWS_AT_ONCE]
            whole += _moments(rows_g - ag, rows_a - aa)
            if m > 1:
                off += _moments(rows_g - og, rows_a - oa)
        if m > 1:
            off -= _moments(np.diag(g) - og, np.diag(a22) - oa)
        slope = whole[2] / whole[1] if whole[1] > 0.0 else float("nan")
        return cls(
            m,
            float(dg),
            float(da),
            float(og),
            float(oa),
            _correlation(diagonal),
            _correlation(whole),
            _correlation(off) if m > 1 else float("nan"),
            float(slope),
            float(ag - slope * aa),
        )

    def summary(self, name: str = "G") -> str:
        """The figures as a small table, as ``tolmkit hinv`` prints them.

        Parameters
        ----------
        name : str, default "G"
            What G is called: "Gw" after tuning and blending.

        Returns
        -------
        str

        Examples
        --------
        >>> c = GenomicComparison(2, 1.0, 1.0, 0.1, 0.0, float("nan"), 0.9, 0.5, 1.1, -0.05)
        >>> print(c.summary())
        G against A22 (2 genotyped animals)
                                             G      A22
        mean diagonal                   1.0000   1.0000
        mean off-diagonal               0.1000   0.0000
        correlation of the diagonals       nan
        correlation off the diagonals   0.5000
        correlation of all elements     0.9000
        G on A22: slope, intercept      1.1000  -0.0500
        """
        return (
            f"{name} against A22 ({self.animals:,} genotyped animals)\n{'':<29}{name:>9}{'A22':>9}\n"
            f"{'mean diagonal':<29}{self.mean_diagonal_g:9.4f}{self.mean_diagonal_a22:9.4f}\n"
            f"{'mean off-diagonal':<29}{self.mean_off_diagonal_g:9.4f}{self.mean_off_diagonal_a22:9.4f}\n"
            f"{'correlation of the diagonals':<29}{self.diagonal_correlation:9.4f}\n"
            f"{'correlation off the diagonals':<29}{self.off_diagonal_correlation:9.4f}\n"
            f"{'correlation of all elements':<29}{self.correlation:9.4f}\n"
            f"{name + ' on A22: slope, intercept':<29}{self.slope:9.4f}{self.intercept:9.4f}"
        )


def _moments(x: NDArray[np.float64], y: NDArray[np.float64]) -> NDArray[np.float64]:
    """Σ x², Σ y² and Σ x y of deviations."""
    return np.array([np.sum(x * x), np.sum(y * y), np.sum(x * y)])


def _correlation(moments: NDArray[np.float64]) -> float:
    spread = float(np.sqrt(moments[0] * moments[1]))
    return float(moments[2]) / spread if spread > 0.0 else float("nan")


def check_adjustment(tune: str | None, blend_with: str, order: str) -> None:
    """Refuses a tuning, blend or order that is not one of those named.

    Parameters
    ----------
    tune : str or None
    blend_with, order : str

    Raises
    ------
    PedigreeError
        Naming the argument and the values it takes.
    """
    for name, value, values in (("tune", tune, TUNINGS), ("blend_with", blend_with, BLENDS), ("order", order, ORDERS)):
        if value not in values:
            raise refused(argument(name), f" must be one of {', '.join(map(repr, values))}; got {value!r}")


def adjusted(
    g: NDArray[np.float64],
    a22: NDArray[np.float64],
    *,
    blend: float,
    tune: str | None = None,
    blend_with: str = "A22",
    order: str = "tune-then-blend",
) -> tuple[NDArray[np.float64], GenomicComparison, GenomicComparison]:
    """Gw, the G that joins H, from G and A22, and the comparisons of G and
    of Gw with A22.

    The tunings, each of G against A22 (``tune``):

    - ``"mean"``, Chen et al. (2011): G* = a + b G, with a and b such that
      the mean diagonal and the mean off-diagonal element of G* are A22's:
      b = (d_A − o_A) / (d_G − o_G), a = o_A − b o_G;
    - ``"base"``, Vitezica et al. (2011): G* = a + G, with a such that the
      mean of all the elements of G* is A22's: a = mean(A22) − mean(G).

    The blends (``blend_with``): Gw = (1 − blend) G + blend A22, or
    Gw = (1 − blend) G + blend I. ``order="tune-then-blend"`` blends G*;
    ``"blend-then-tune"`` tunes the blended matrix.

    Parameters
    ----------
    g, a22 : numpy.ndarray of float64
        m × m, in the same order; left as they are.
    blend : float
        From 0 to 1.
    tune : {None, "mean", "base"}
    blend_with : {"A22", "identity"}
    order : {"tune-then-blend", "blend-then-tune"}

    Returns
    -------
    gw : numpy.ndarray of float64
    before, after : GenomicComparison
        G, and Gw, against A22.

    Raises
    ------
    PedigreeError
        ``tune="mean"`` where the mean diagonal of the matrix tuned is not
        above its mean off-diagonal element.

    Examples
    --------
    >>> gw, before, after = adjusted(np.array([[1.1, 0.1], [0.1, 0.9]]), np.eye(2), blend=0.0, tune="base")
    >>> gw
    array([[1.05, 0.05],
           [0.05, 0.85]])
    """
    before = GenomicComparison.of(g, a22)
    if order == "tune-then-blend":
        gw = _blended(_tuned(g, a22, tune, before), a22, blend, blend_with)
    else:
        blended = _blended(g, a22, blend, blend_with)
        gw = _tuned(blended, a22, tune, GenomicComparison.of(blended, a22) if tune else before)
    return gw, before, GenomicComparison.of(gw, a22)


def _tuned(
    g: NDArray[np.float64], a22: NDArray[np.float64], tune: str | None, c: GenomicComparison
) -> NDArray[np.float64]:
    """G tuned to A22 as `tune` says, from their comparison `c`."""
    if tune is None:
        return g
    shift, slope = _coefficients(c, tune)
    if tune == "base":
        shifted: NDArray[np.float64] = g + shift
        return shifted
    scaled: NDArray[np.float64] = shift + slope * g
    return scaled


def _coefficients(c: GenomicComparison, tune: str) -> tuple[float, float]:
    """a and b of G* = a + b G, from the means that `c` compares."""
    if tune == "base":
        m = c.animals
        mean_a22 = (c.mean_diagonal_a22 + (m - 1) * c.mean_off_diagonal_a22) / m if m > 1 else c.mean_diagonal_a22
        mean_g = (c.mean_diagonal_g + (m - 1) * c.mean_off_diagonal_g) / m if m > 1 else c.mean_diagonal_g
        return mean_a22 - mean_g, 1.0
    spread = c.mean_diagonal_g - c.mean_off_diagonal_g
    if not spread > 0.0:
        raise refused(
            option("tune", "mean"),
            " needs a mean diagonal of G above its mean off-diagonal element "
            f"(they are {c.mean_diagonal_g!r} and {c.mean_off_diagonal_g!r}): leave out ",
            option("tune", "mean"),
        )
    slope = (c.mean_diagonal_a22 - c.mean_off_diagonal_a22) / spread
    return c.mean_off_diagonal_a22 - slope * c.mean_off_diagonal_g, slope


def elementwise(
    c: GenomicComparison, *, blend: float, tune: str | None, order: str
) -> typing.Callable[[NDArray[np.float64], NDArray[np.float64]], NDArray[np.float64]]:
    """Gw's elements from G's and A22's, for a G held in blocks (APY), with
    the tuning and blend with A22 of `adjusted`.

    Both are affine in the elements, so the means that a tuning needs after
    a blend follow from `c`'s: the mean of (1 − w) G + w A22 is
    (1 − w) mean(G) + w mean(A22).

    Parameters
    ----------
    c : GenomicComparison
        G against A22, from their means.
    blend : float
    tune : {None, "mean", "base"}
    order : {"tune-then-blend", "blend-then-tune"}

    Returns
    -------
    callable
        weigh(g, a22), elementwise, on blocks of any shape.

    Raises
    ------
    PedigreeError
        As `adjusted`.

    Examples
    --------
    >>> c = GenomicComparison(2, 1.0, 1.0, 0.1, 0.0, *[float("nan")] * 5)
    >>> weigh = elementwise(c, blend=0.5, tune="base", order="tune-then-blend")
    >>> float(weigh(np.array(1.0), np.array(1.0)))
    0.975
    """
    if order == "blend-then-tune" and tune is not None:
        c = dataclasses.replace(
            c,
            mean_diagonal_g=(1.0 - blend) * c.mean_diagonal_g + blend * c.mean_diagonal_a22,
            mean_off_diagonal_g=(1.0 - blend) * c.mean_off_diagonal_g + blend * c.mean_off_diagonal_a22,
        )
    shift, slope = (0.0, 1.0) if tune is None else _coefficients(c, tune)

    def weigh(g: NDArray[np.float64], a22: NDArray[np.float64]) -> NDArray[np.float64]:
        if order == "tune-then-blend":
            tuned: NDArray[np.float64] = (1.0 - blend) * (shift + slope * g) + blend * a22
            return tuned
        blended: NDArray[np.float64] = shift + slope * ((1.0 - blend) * g + blend * a22)
        return blended

    return weigh


def _blended(g: NDArray[np.float64], a22: NDArray[np.float64], blend: float, blend_with: str) -> NDArray[np.float64]:
    if blend_with == "A22":
        mixed: NDArray[np.float64] = (1.0 - blend) * g + blend * a22
        return mixed
    mixed = (1.0 - blend) * g
    mixed[np.diag_indices_from(mixed)] += blend
    return mixed
