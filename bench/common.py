"""What the benchmarks share: the literal transcriptions, loaded with ctypes,
and a best-of-several timer."""

import ctypes
import os
import time

import numpy as np

LITERAL = os.environ.get("TOLM_LITERAL", "build/bench/tests/literal/libtolm_literal.so")


def load_literal():
    library = ctypes.CDLL(LITERAL)
    library.literal_ancestors_processed.restype = ctypes.c_longlong
    library.literal_lookup.restype = ctypes.c_double
    return library


def pointers(*arrays):
    """The data pointers of numpy arrays, as the literal routines take them."""
    return [a.ctypes.data_as(ctypes.c_void_p) for a in arrays]


def best_of(repeat, prepare, run):
    """Seconds of the fastest of `repeat` runs; prepare() gives fresh arguments."""
    best = float("inf")
    for _ in range(repeat):
        arguments = prepare()
        start = time.perf_counter()
        run(*arguments)
        best = min(best, time.perf_counter() - start)
    return best


def scalar(value):
    return np.array([value], np.int32)

