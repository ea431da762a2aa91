"""How many threads tolmkit's own computations use: one setting for the
whole process, which every function that computes on several threads, the
reader, the writer and the linear algebra follow."""

from __future__ import annotations

import contextlib
import functools
import os
import types
import typing
from collections.abc import Callable, Iterator

import pyarrow as pa
import threadpoolctl

from ._arguments import integer

__all__ = [
    "ENVIRONMENT_VARIABLE",
    "MOST_THREADS",
    "follows_threads",
    "get_threads",
    "limited",
    "resolve",
    "set_threads",
]

_Function = typing.TypeVar("_Function", bound=Callable[..., typing.Any])

#: The environment variable that sets the threads when no call has.
ENVIRONMENT_VARIABLE = "TOLMKIT_THREADS"

#: The most threads that may be asked for: each takes its own scratch, as
#: large as a pedigree's bits, whether or not there are cores for it.
MOST_THREADS = 1024

# The setting of set_threads, None while no call has made one.
_setting: int | None = None


class set_threads:  # noqa: N801 -- a function to the user, which is also a context manager
    """Sets the threads that tolmkit uses from now on, in this process.

    Called alone, the setting holds until the next call; used in a ``with``
    statement, it holds for the block, and the setting before comes back
    after it.

    Parameters
    ----------
    threads : int or None
        A number of threads from 1 to `MOST_THREADS`; None goes back to the default: the
        environment variable ``TOLMKIT_THREADS``, else the cores that the
        process may run on.

    Raises
    ------
    ValueError
        `threads` is not an integer from 1 to `MOST_THREADS`, or None.

    Examples
    --------
    >>> with set_threads(1):
    ...     get_threads()
    1
    """

    def __init__(self, threads: int | None) -> None:
        global _setting
        self._before = _setting
        _setting = None if threads is None else _positive(threads, "threads")

    def __enter__(self) -> None:
        return None

    def __exit__(
        self,
        kind: type[BaseException] | None,
        error: BaseException | None,
        traceback: types.TracebackType | None,
    ) -> None:
        global _setting
        _setting = self._before


def get_threads() -> int:
    """The threads that tolmkit uses when a function is not told.

    Returns
    -------
    int
        The number that `set_threads` set; else that of the environment
        variable ``TOLMKIT_THREADS``; else the cores that the process may
        run on (its affinity, where the system tells it, else every core).

    Raises
    ------
    ValueError
        ``TOLMKIT_THREADS`` is set to other than an integer from 1 to
        `MOST_THREADS`.

    Examples
    --------
    >>> get_threads() >= 1
    True
    """
    if _setting is not None:
        return _setting
    given = os.environ.get(ENVIRONMENT_VARIABLE, "").strip()
    if given:
        number = int(given) if given.isascii() and given.isdigit() else 0
        if not 1 <= number <= MOST_THREADS:
            raise ValueError(
                f"{ENVIRONMENT_VARIABLE} is {given!r}; set it to a number of threads from 1 to {MOST_THREADS}, "
                "or unset it"
            )
        return number
    affinity: typing.Callable[[int], set[int]] | None = getattr(os, "sched_getaffinity", None)
    return len(affinity(0)) if affinity is not None else os.cpu_count() or 1


def resolve(threads: int | None) -> int:
    """The threads of one call: `threads` when given, else `get_threads()`.

    Parameters
    ----------
    threads : int or None
        The ``threads=`` argument of a function.

    Returns
    -------
    int

    Raises
    ------
    ValueError
        `threads` is not a positive integer or None.

    Examples
    --------
    >>> resolve(2), resolve(None) == get_threads()
    (2, True)
    """
    return get_threads() if threads is None else _positive(threads, "threads")


@contextlib.contextmanager
def limited(threads: int | None = None) -> Iterator[int]:
    """Holds pyarrow's pool of threads to the threads of one call for the
    length of a block, and the BLAS libraries' threads to at most as many.

    Both are settings of the whole process, which threadpoolctl and
    ``pyarrow.set_cpu_count`` change: the settings before come back after
    the block, and another thread that reads or multiplies meanwhile uses
    the same count.

    Parameters
    ----------
    threads : int or None
        As `resolve` takes it.

    Yields
    ------
    int
        The threads, ``resolve(threads)``.

    Raises
    ------
    ValueError
        `threads` is not a positive integer or None.

    Examples
    --------
    >>> import pyarrow as pa
    >>> from tolmkit.threads import limited
    >>> with limited(1) as count:
    ...     count, pa.cpu_count()
    (1, 1)
    """
    count = resolve(threads)
    before = pa.cpu_count()
    blas = threadpoolctl.ThreadpoolController().select(user_api="blas")
    # Only BLAS libraries that have more threads are asked for fewer: asked
    # for a count, OpenBLAS starts its threads if it has not yet, and where
    # it cannot (a process at its memory limit) it raises SIGINT, and may
    # then wait for ever on a thread that never came.
    more = [library.filepath for library in blas.lib_controllers if library.num_threads > count]
    with blas.select(filepath=more).limit(limits=count) if more else contextlib.nullcontext():
        # Resizing the pool starts or ends threads: only where it changes.
        if count != before:
            pa.set_cpu_count(count)
        try:
            yield count
        finally:
            if count != before:
                pa.set_cpu_count(before)


def follows_threads(function: _Function) -> _Function:
    """`function` run within `limited` (the threads of `get_threads`), for
    functions whose products and reading go through BLAS and pyarrow.

    Parameters
    ----------
    function : callable

    Returns
    -------
    callable
        The same function, its name and docstring kept.

    Examples
    --------
    >>> import pyarrow as pa
    >>> from tolmkit.threads import follows_threads, set_threads
    >>> with set_threads(1):
    ...     follows_threads(pa.cpu_count)()
    1
    """

    @functools.wraps(function)
    def within(*arguments: typing.Any, **keywords: typing.Any) -> typing.Any:
        with limited():
            return function(*arguments, **keywords)

    return typing.cast(_Function, within)


def _positive(value: object, name: str) -> int:
    number = integer(value)
    if number is None or not 1 <= number <= MOST_THREADS:
        raise ValueError(f"{name} must be an integer from 1 to {MOST_THREADS}, got {value!r}")
    return number
