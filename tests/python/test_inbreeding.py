"""F on several threads, a generation at a time: the bits of TOLM.fcoeff for
any number of threads, on the benchmarks' shapes and on random pedigrees."""

import sys
from pathlib import Path

import numpy as np
import pytest

import TOLM
from tolmkit import Pedigree, inbreeding

from conftest import bits
from pedigrees import KINDS, random_pedigree

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))
from shapes import SHAPES, generate  # noqa: E402

# Large enough that a generation holds many batches of animals.
ANIMALS = 3000


def pedigree_of(name):
    if name in SHAPES:
        return generate(name, ANIMALS)
    options, _ = KINDS[name]
    return random_pedigree(np.random.default_rng(len(name)), ANIMALS // 2, **options)


@pytest.mark.parametrize("threads", [1, 2, 3])
@pytest.mark.parametrize("name", [*SHAPES, *KINDS])
def test_bits_of_fcoeff_for_any_threads(name, threads):
    sire, dam = (np.asarray(parents, dtype=np.int32) for parents in pedigree_of(name))
    n = len(sire)
    f, sampling_var = np.zeros(n + 1), np.empty(n)
    f[n] = -1.0
    TOLM.fcoeff(sire, dam, f, sampling_var, np.array([n], np.int32), np.array([1], np.int32))
    got = inbreeding(Pedigree.from_numbers(sire, dam, unknown=n), threads=threads)
    assert bits(got[0]) == bits(f[:n]) and bits(got[1]) == bits(sampling_var)
