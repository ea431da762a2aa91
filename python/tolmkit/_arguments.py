"""Arguments of the public functions checked one way: an integer of any type
that holds one, a real number, and never a bool, which Python counts as the
integer 0 or 1; the seeds of the random draws; a switch, which is a bool
and nothing else; values whose order counts, which a set does not keep;
and a path to files named by a suffix, or their prefix."""

from __future__ import annotations

import operator
import os
import typing

import numpy as np

__all__ = ["beside", "checked_seed", "integer", "listed", "ordered", "real", "suffixed", "switch"]

_Values = typing.TypeVar("_Values")


def integer(value: object) -> int | None:
    """`value` as an int when it is an integer (Python's, numpy's, or any
    type that says so by ``__index__``) and not a bool; else None.

    The bools are refused first, as scipy's ``isintlike`` does:
    ``operator.index(True)`` is 1.

    Examples
    --------
    >>> integer(np.int64(3)), integer(True), integer(2.0)
    (3, None, None)
    """
    if isinstance(value, (bool, np.bool_)):
        return None
    try:
        return operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        return None


def real(value: object) -> float | None:
    """`value` as a float when it is a real number (an integer or a float,
    Python's or numpy's, not a bool) that a float holds; else None.

    Examples
    --------
    >>> real(np.float32(0.5)), real(np.True_), real("1")
    (0.5, None, None)
    """
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, float, np.integer, np.floating)):
        return None
    try:
        return float(value)
    except OverflowError:  # an int beyond any float
        return None


def checked_seed(value: object) -> int:
    """`value` as the seed of numpy's generators, which take a non-negative
    integer; anything else is refused here, naming `seed`, rather than by
    numpy's own message.

    Examples
    --------
    >>> checked_seed(np.uint8(7))
    7
    """
    number = integer(value)
    if number is None or number < 0:
        raise ValueError(f"seed must be a non-negative integer, got {value!r}")
    return number


def listed(values: typing.Any) -> list[typing.Any]:
    """Identifiers given as one string, or as many, as a list; numpy's
    scalars as Python's, which messages show as they were written.

    Raises
    ------
    TypeError
        `values` that are not iterable.

    Examples
    --------
    >>> listed(np.array(["a", "b"])), listed("ab")
    (['a', 'b'], ['ab'])
    """
    if isinstance(values, str):
        return [values]
    return values.tolist() if isinstance(values, np.ndarray) else list(values)


def ordered(values: _Values, name: str) -> _Values:
    """`values` of the argument `name`, whose order counts: a set, whose
    order changes from one run to the next, is refused.

    Examples
    --------
    >>> ordered(["b", "a"], "ids")
    ['b', 'a']
    """
    if isinstance(values, (set, frozenset)):
        raise TypeError(
            f"{name} given as a set, whose order changes from one run to the next: pass a list, in the order meant"
        )
    return values


def switch(value: object, name: str) -> bool:
    """`value` of the argument `name` as a bool: Python's or numpy's alone,
    where the text "no" would be true.

    Examples
    --------
    >>> switch(np.True_, "lower")
    True
    """
    if not isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be True or False, got {value!r}")
    return bool(value)


def suffixed(path: str | os.PathLike[str], suffix: str) -> str | None:
    """The file of `path` that ends in `suffix` (in any case): `path` itself,
    or the prefix `path` with `suffix` when no file is named `path` and that
    one is; None for a path of another file.

    Examples
    --------
    >>> suffixed("herd.bed", ".bed"), suffixed("HERD.BED", ".bed"), suffixed("chip.txt", ".bed")
    ('herd.bed', 'HERD.BED', None)
    """
    name = os.fspath(path)
    if name.lower().endswith(suffix):
        return name
    if os.path.exists(name):
        return None
    return next((name + form for form in (suffix, suffix.upper()) if os.path.exists(name + form)), None)


def beside(found: str, suffix: str, other: str) -> str:
    """The file beside `found` (a path of `suffixed`) with `other` in place of
    `suffix`, in the case in which `found` writes its suffix.

    Examples
    --------
    >>> beside("herd.bed", ".bed", ".fam"), beside("HERD.BED", ".bed", ".fam")
    ('herd.fam', 'HERD.FAM')
    """
    written = found[-len(suffix) :]
    return found[: -len(suffix)] + (other.upper() if written.isupper() else other)
