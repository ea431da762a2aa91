"""Calls leave no reference and no memory behind on any path, and calls from
several threads on their own arrays give the results of one thread."""

import sys
import threading

import numpy as np
import pytest

from conftest import ARITY, float64, int32
from pedigrees import random_pedigree

CALLS = 3_000


def resident_kib():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))


def refused_as(kind, call):
    """The arguments of a valid call, spoiled so that the call raises `kind`."""
    arguments = list(call.arguments)
    if kind is TypeError:
        arguments[0] = arguments[0].astype(np.int64)
    elif kind is ValueError:
        arguments[0] = arguments[0][:0]
    else:
        arguments[4] = int32([-1])  # fcoeff only: the scratch for n = -1
    return arguments


PATHS = [(name, kind) for name in ARITY for kind in (None, TypeError, ValueError)] + [("fcoeff", MemoryError)]


@pytest.mark.parametrize("name,kind", PATHS, ids=[f"{n}-{k.__name__ if k else 'success'}" for n, k in PATHS])
def test_no_reference_or_memory_is_left_behind(valid_call, name, kind):
    call = valid_call(name)
    arguments = call.arguments if kind is None else refused_as(kind, call)

    first_count = np.array(arguments[9]) if name == "cald" else None

    def run():
        if first_count is not None:
            arguments[9][...] = first_count  # cald appends after d_count
        if kind is None:
            call.function(*arguments)
        else:
            with pytest.raises(kind):
                call.function(*arguments)

    run()
    references = [sys.getrefcount(a) for a in arguments]
    before = resident_kib()
    for _ in range(CALLS):
        run()
    # A view still held would hold a reference to its exporter.
    assert [sys.getrefcount(a) for a in arguments] == references
    assert resident_kib() - before < 4_096


def test_threads_on_their_own_arrays_get_the_results_of_one_thread(tolm):
    rng = np.random.default_rng(5)
    pedigrees = [random_pedigree(rng, 400, unknown=0.1) for _ in range(4)]

    def compute(sire, dam):
        n = len(sire)
        inbreeding = float64([0.0] * n + [-1.0])
        sampling_var = float64([0.0] * n)
        for _ in range(20):
            tolm.fcoeff(int32(sire), int32(dam), inbreeding, sampling_var, int32([n]), int32([1]))
        return inbreeding.tobytes() + sampling_var.tobytes()

    expected = [compute(*p) for p in pedigrees]
    results = [None] * len(pedigrees)

    def work(k):
        results[k] = compute(*pedigrees[k])

    threads = [threading.Thread(target=work, args=(k,)) for k in range(len(pedigrees))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == expected
