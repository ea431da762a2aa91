"""Matrices that callers pass, genotypes and relationships, read as numpy
arrays or refused naming what to pass; and the thresholds that filter
them, checked one way."""

from __future__ import annotations

import typing

import numpy as np
import scipy.sparse as sp
from numpy.typing import NDArray

from ._advice import argument, refused
from ._arguments import ordered, real

__all__ = [
    "as_array",
    "check_genotype_values",
    "check_genotypes",
    "genotype_array",
    "genotyped_names",
    "kind",
    "minor_allele_frequencies",
    "threshold",
]


def as_array(value: typing.Any, name: str) -> tuple[NDArray[typing.Any], NDArray[np.bool_] | None]:
    """`value` as a numpy array, and where it is masked (None if nowhere):
    numpy would take a scipy sparse matrix for a single object, and drop a
    mask without a word."""
    if sp.issparse(value):
        raise TypeError(f"{name} given as a scipy sparse matrix ({type(value).__name__}); pass {name}.toarray()")
    try:
        array = np.asarray(value)
    except ValueError as error:  # rows of different lengths
        raise TypeError(f"{name} cannot be read as a matrix: {error}") from None
    if isinstance(value, np.ma.MaskedArray):
        mask = np.broadcast_to(np.asarray(value.mask, dtype=bool), array.shape)
        if mask.any():
            return array, mask
    return array, None


def kind(value: typing.Any, array: typing.Any) -> str:
    """What a value that is not the matrix expected is, for a refusal."""
    return f"{array.ndim}-D {array.dtype}" if array.ndim else type(value).__name__


def check_genotypes(genotypes: typing.Any, array: typing.Any) -> None:
    """Refuses genotypes that are not a 2-D array of integers with an animal
    and a marker; `array` is `genotypes` as numpy (or dask) reads it."""
    if array.ndim != 2 or array.dtype.kind not in "iu":
        raise TypeError(f"genotypes must be a 2-D array of integers (animals × markers), got {kind(genotypes, array)}")
    if array.shape[0] == 0:
        raise ValueError("genotypes hold no animal")
    if array.shape[1] == 0:
        raise ValueError("genotypes hold no marker")


def genotype_array(genotypes: typing.Any) -> NDArray[np.integer[typing.Any]]:
    """Genotypes given as any matrix, as a numpy array of integers, refused
    as `check_genotypes` refuses them or where masked."""
    array, mask = as_array(genotypes, "genotypes")
    if mask is not None:
        animal, marker = np.argwhere(mask)[0]
        raise ValueError(
            f"genotypes[{animal}, {marker}] is masked; pass genotypes.filled(-1) if masked stands for missing"
        )
    check_genotypes(genotypes, array)
    return array


def check_genotype_values(genotypes: typing.Any, lowest: NDArray[typing.Any], highest: NDArray[typing.Any]) -> None:
    """Refuses a genotype outside −1 … 2, naming the first, from the smallest
    and largest value of each marker (which a dask array gives in its pass
    over the genotypes): only the marker named is read again."""
    bad = np.flatnonzero((lowest < -1) | (highest > 2))
    if len(bad):
        marker = int(bad[0])
        column = np.asarray(genotypes[:, marker])
        animal = int(np.argmax((column < -1) | (column > 2)))
        raise ValueError(
            f"genotypes[{animal}, {marker}] is {column[animal]}: a genotype is 0, 1 or 2 copies of "
            "the allele, or -1 for missing"
        )


def minor_allele_frequencies(alleles: NDArray[typing.Any], called: NDArray[typing.Any]) -> NDArray[np.float64]:
    """Per marker, the frequency of the rarer allele: of `alleles` counted
    among 2 · `called` genotypes, NaN where none is called. Taken from the
    counts, not as min(p, 1 − p), whose 1 − p rounds (1 − 0.9 < 0.1): so it
    is the same whichever allele a file counts."""
    with np.errstate(invalid="ignore", divide="ignore"):
        return np.asarray(np.minimum(alleles, 2 * called - alleles) / (2.0 * called), dtype=np.float64)


def genotyped_names(ids: typing.Any, n: int) -> NDArray[np.object_] | None:
    """The identifiers of the rows of genotypes that refusals name, if given."""
    if ids is None:
        return None
    names = np.asarray(ordered(ids, "ids"), dtype=object)
    if names.shape != (n,):
        raise ValueError(f"ids holds {names.size:,} identifiers for {n:,} animals (rows of genotypes)")
    return names


def threshold(name: str, value: object, top: float = 1.0) -> float:
    """A threshold of a filter as a float from 0 to `top`, or refused naming
    the argument in the caller's form."""
    number = real(value)
    if number is None or not 0.0 <= number <= top:
        raise refused(argument(name), f" must be a number from 0 to {top:g}, got {value!r}")
    return number
