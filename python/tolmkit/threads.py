"""How many threads tolmkit's own computations use: one setting for the
whole process, which every function that computes on several threads, the
reader, the writer and the linear algebra follow."""

from __future__ import annotations

import contextlib
import contextvars
import functools
import os
import threading
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

# The setting of the process is that of the latest call of set_threads that
# is no with statement's: a chain of the calls, each with the one before it,
# whose calls that entered a block are passed over. A call is known for one
# of a block only when its block begins, after another thread may have
# called too: so the calls are kept, not their values. None: no call.
_latest: set_threads | None = None
_calls = threading.Lock()
# The setting of the innermost with statement of this thread (its context),
# _OUTSIDE outside any.
_OUTSIDE = -1
_within: contextvars.ContextVar[int | None] = contextvars.ContextVar("tolmkit_threads", default=_OUTSIDE)


class set_threads:  # noqa: N801 -- a function to the user, which is also a context manager
    """Sets the threads that tolmkit uses from now on, in this process.

    Called alone, the setting holds until the next call; used in a ``with``
    statement, it holds for the block in the thread that runs it (and for
    calls of tolmkit in it), and the setting before comes back after it:
    blocks of several threads at once each keep their own.

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
        global _latest
        self._value = None if threads is None else _positive(threads, "threads")
        self._entered = False
        self._thread = threading.get_ident()
        with _calls:
            _settle()
            self._before, _latest = _latest, self
        # Within a block, a call holds for this thread until the block ends.
        self._inside = _within.set(self._value) if _within.get() != _OUTSIDE else None
        self._token: contextvars.Token[int | None] | None = None

    def __enter__(self) -> None:
        with _calls:
            self._entered = True
        if self._inside is not None:
            _within.reset(self._inside)
        self._token = _within.set(self._value)
        return None

    def __exit__(
        self,
        kind: type[BaseException] | None,
        error: BaseException | None,
        traceback: types.TracebackType | None,
    ) -> None:
        if self._token is not None:
            _within.reset(self._token)


def _settle() -> None:
    """Passes over the calls that entered a block, and lets go of what no
    longer counts: the calls before one of this thread that has not entered
    a block, which was a call alone (a with statement enters at once)."""
    global _latest
    while _latest is not None and _latest._entered:
        _latest = _latest._before
    call = _latest
    while call is not None:
        if call._thread == threading.get_ident() and not call._entered:
            call._before = None
            return
        while call._before is not None and call._before._entered:
            call._before = call._before._before
        call = call._before


def _setting() -> int | None:
    with _calls:
        _settle()
        return None if _latest is None else _latest._value


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
    block = _within.get()
    setting = _setting() if block == _OUTSIDE else block
    if setting is not None:
        return setting
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
