"""Single-step products that never form A22 nor H⁻¹: A22 by pedigree passes
(Colleau 2002), A22⁻¹ from the sparse A⁻¹ and a factor of its block of the
animals not genotyped (Strandén and Mäntysaari 2014), and H⁻¹ as a linear
operator for conjugate gradients."""

from __future__ import annotations

from collections.abc import Iterable

import numpy as np
import scipy.sparse as sp
from numpy.typing import NDArray
from scipy.sparse.linalg import LinearOperator, splu

from .apy import ApyInverse
from .candidates import relationship_block
from .inverse import inverse_relationship_matrix
from .pedigree import Pedigree, ancestry, checked_pedigree

__all__ = ["A22Inverse", "HybridOperator", "a22_inverse_product", "relationship_parts"]

_Floats = NDArray[np.float64]
# Unit columns solved at once for the diagonal of A22⁻¹: each takes a dense
# column of the animals not genotyped.
_COLUMNS_AT_ONCE = 32


def relationship_parts(
    pedigree: Pedigree, positions: NDArray[np.int64], core: NDArray[np.intp] | None
) -> tuple[_Floats, float, _Floats]:
    """What APY takes of A22 without forming it: its diagonal (1 + F), the
    sum of all its elements, and its columns of the core animals (a 0-d zero
    when `core` is None), from the ancestry of the genotyped animals alone.

    The sum is 1ᵀ A22 1 from A x = T (B (Tᵀ x)) with x the indicator of the
    genotyped animals: one pass up the ancestry and one down (Colleau 2002).
    The columns are A X for unit columns X, by the same passes in blocks.

    Parameters
    ----------
    pedigree : Pedigree
    positions : numpy.ndarray of int64
        The numbers of the genotyped animals.
    core : numpy.ndarray of intp, optional
        The positions of the core among `positions`.

    Returns
    -------
    diagonal : numpy.ndarray of float64
    total : float
    columns : numpy.ndarray of float64
        m × c.
    """
    pruned, renumber = ancestry(pedigree, positions)
    chosen = renumber[positions]
    layers = pruned.layers
    n = len(pruned)
    values = np.zeros(n + 1)
    values[layers.rank[chosen]] = 1.0
    layers.up(values)
    values[:n] *= pruned.sampling_var[layers.order]
    layers.down(values)
    total = float(np.sum(values[layers.rank[chosen]]))
    diagonal = 1.0 + pruned.inbreeding[chosen]
    columns = np.zeros(()) if core is None else relationship_block(pruned, chosen, chosen[core])
    return diagonal, total, columns


class _Symmetric(LinearOperator):  # type: ignore[misc]
    """A linear operator that is its own transpose, its products by the
    subclass's `_matmat`."""

    def _matvec(self, x: _Floats) -> _Floats:
        product: _Floats = self._matmat(np.asarray(x).reshape(-1))
        return product

    def _rmatvec(self, x: _Floats) -> _Floats:
        return self._matvec(x)

    def _adjoint(self) -> _Symmetric:
        return self


class A22Inverse(_Symmetric):
    """A22⁻¹ = A²² − A²¹ (A¹¹)⁻¹ A¹² as a product, where A^ij are the blocks
    of A⁻¹ of the genotyped animals' ancestry (2 the genotyped, 1 their
    ancestors that are not), never forming A22 (Strandén and Mäntysaari
    2014). A¹¹ is factorised once by SuperLU, in symmetric mode with a
    minimum-degree ordering of its pattern and no pivoting, as for a
    positive definite matrix; each product is a sparse product, two
    triangular solves and another sparse product.

    Attributes
    ----------
    shape : tuple of int
        m × m, in the order of the genotyped animals given.
    """

    def __init__(self, pedigree: Pedigree, positions: NDArray[np.int64]) -> None:
        pruned, renumber = ancestry(pedigree, positions)
        chosen = renumber[positions]
        inverse = inverse_relationship_matrix(pruned)
        others = np.setdiff1d(np.arange(len(pruned)), chosen)
        rows = inverse[chosen]
        self._a22 = rows[:, chosen].tocsr()
        self._a21 = rows[:, others].tocsr()
        self._a12 = self._a21.T.tocsr()
        self._factor = (
            splu(
                inverse[others][:, others].tocsc(),
                permc_spec="MMD_AT_PLUS_A",
                diag_pivot_thresh=0.0,
                options=dict(SymmetricMode=True),
            )
            if len(others)
            else None
        )
        self._diagonal: _Floats | None = None
        super().__init__(np.float64, (len(chosen), len(chosen)))

    def _matmat(self, x: _Floats) -> _Floats:
        y: _Floats = self._a22 @ x
        if self._factor is not None:
            y -= self._a21 @ self._factor.solve(np.asarray(self._a12 @ x))
        return y

    def diagonal(self) -> _Floats:
        """The diagonal of A22⁻¹: that of A²² less, for each genotyped
        animal, bᵀ (A¹¹)⁻¹ b with b its column of A¹², by solves of
        blocks of those columns; computed at the first call, one solve per
        genotyped animal, and kept."""
        if self._diagonal is None:
            diagonal = self._a22.diagonal()
            if self._factor is not None:
                for start in range(0, self.shape[0], _COLUMNS_AT_ONCE):
                    columns = self._a12[:, start : start + _COLUMNS_AT_ONCE].toarray()
                    diagonal[start : start + columns.shape[1]] -= np.einsum(
                        "ij,ij->j", columns, self._factor.solve(columns)
                    )
            self._diagonal = diagonal
        return self._diagonal.copy()


def a22_inverse_product(pedigree: Pedigree, genotyped: Iterable[str]) -> A22Inverse:
    """A22⁻¹, the inverse of the relationships among the genotyped animals,
    as a linear operator that never forms A22: see `A22Inverse`.

    Parameters
    ----------
    pedigree : Pedigree
    genotyped : iterable of str
        The identifiers, in the order of the operator's rows.

    Returns
    -------
    A22Inverse
        A symmetric `scipy.sparse.linalg.LinearOperator` with `diagonal()`:
        ``product @ x`` for a vector or a block of columns.

    Raises
    ------
    PedigreeError
        An identifier not in the pedigree, or A singular.

    Examples
    --------
    >>> pedigree = Pedigree.from_records([("a", "0", "0"), ("b", "0", "0"), ("c", "a", "b"), ("d", "a", "c")])
    >>> product = a22_inverse_product(pedigree, ["b", "d"])
    >>> (product @ np.eye(2)).round(4)
    array([[ 1.0526, -0.2105],
           [-0.2105,  0.8421]])
    >>> np.linalg.inv(relationships_among(pedigree, ["b", "d"])).round(4)
    array([[ 1.0526, -0.2105],
           [-0.2105,  0.8421]])
    """
    checked_pedigree(pedigree)
    positions = pedigree.numbers(genotyped).astype(np.int64)
    if len(np.unique(positions)) < len(positions):
        raise ValueError("an animal is listed twice in genotyped")
    return A22Inverse(pedigree, positions)


class HybridOperator(_Symmetric):
    """H⁻¹ = A⁻¹ + [0, 0; 0, τ Gw⁻¹ − ω A22⁻¹] as a product: the sparse
    A⁻¹, Gw⁻¹ dense or by APY, and A22⁻¹ by `A22Inverse`, each applied to
    the vector in turn; symmetric.

    Attributes
    ----------
    a_inverse : scipy.sparse.csr_matrix
    positions : numpy.ndarray of int64
        The rows of the genotyped animals.
    genomic : numpy.ndarray or ApyInverse
        Gw⁻¹, in their order.
    a22_inverse : A22Inverse
    tau, omega : float
    """

    def __init__(
        self,
        a_inverse: sp.csr_matrix,
        positions: NDArray[np.int64],
        genomic: _Floats | ApyInverse,
        a22_inverse: A22Inverse,
        tau: float,
        omega: float,
    ) -> None:
        self.a_inverse = a_inverse
        self.positions = positions
        self.genomic = genomic
        self.a22_inverse = a22_inverse
        self.tau, self.omega = tau, omega
        super().__init__(np.float64, a_inverse.shape)

    def _matmat(self, x: _Floats) -> _Floats:
        y: _Floats = np.asarray(self.a_inverse @ x)
        genotyped = x[self.positions]
        y[self.positions] += self.tau * self.genomic.dot(genotyped) - self.omega * (self.a22_inverse @ genotyped)
        return y

    def diagonal(self) -> _Floats:
        """The diagonal of H⁻¹ (that of A22⁻¹ by `A22Inverse.diagonal`)."""
        diagonal: _Floats = self.a_inverse.diagonal()
        genomic = self.genomic.diagonal() if isinstance(self.genomic, ApyInverse) else np.diag(self.genomic)
        diagonal[self.positions] += self.tau * genomic - self.omega * self.a22_inverse.diagonal()
        return diagonal
