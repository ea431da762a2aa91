import copy
import glob
import os
import shutil
import subprocess

import dask
import numpy as np
import pytest

import TOLM
from tolmkit import MISSING_PARENT


@pytest.fixture(autouse=True, scope="module")
def dask_settings_of_its_own():
    """Each module starts from Dask's settings as they were: a distributed
    client that ends after its module may put back the scheduler it found,
    one that is gone by then."""
    settings = copy.deepcopy(dask.config.config)
    yield
    dask.config.config.clear()
    dask.config.config.update(settings)


@pytest.fixture(scope="session")
def tolm():
    return TOLM


def int32(values):
    return np.array(values, dtype=np.int32)


def float64(values):
    return np.array(values, dtype=np.float64)


def bits(values):
    """float64 values as their bit patterns, so that NaNs and signed zeros compare exactly."""
    return np.asarray(values, dtype=np.float64).view(np.uint64).tolist()


class Call:
    """The arguments of one module call, with the means to check that a refused
    call left every one of them as it was."""

    def __init__(self, function, arguments, watch=()):
        self.function = function
        self.arguments = list(arguments)
        self.watch = list(watch)  # memory behind views among the arguments
        self._before = self.snapshot()

    def snapshot(self):
        return [_contents(a) for a in self.arguments + self.watch]

    def replaced(self, position, value):
        """The same call with one argument replaced."""
        arguments = list(self.arguments)
        arguments[position] = value
        return Call(self.function, arguments, self.watch)

    def __call__(self):
        return self.function(*self.arguments)

    def unchanged(self):
        return self.snapshot() == self._before

    def assert_refused(self, error, message):
        """The call raises `error` with exactly `message` and writes nothing."""
        with pytest.raises(error) as raised:
            self()
        assert str(raised.value) == message
        assert self.unchanged()


def _contents(obj):
    try:
        return memoryview(obj).tobytes()
    except (TypeError, ValueError):  # not a buffer, or a released memoryview
        return repr(obj)


@pytest.fixture
def fcoeff_call(tolm):
    """Builds a call of fcoeff: parents coded with n for unknown, the
    coefficient of an unknown parent −1.0, outputs filled with sentinels."""

    def build(sire, dam, mode=1, inbreeding=None, sentinel=7.5):
        n = len(sire)
        if inbreeding is None:
            inbreeding = [sentinel] * n + [-1.0]
        return Call(
            tolm.fcoeff,
            [int32(sire), int32(dam), float64(inbreeding), float64([sentinel] * n), int32([n]), int32([mode])],
        )

    return build


WORKED_SIRE = [7, 7, 0, 0, 2, 4, 4]
WORKED_DAM = [7, 7, 1, 1, 3, 1, 4]


@pytest.fixture
def worked_call(fcoeff_call):
    return lambda mode=1: fcoeff_call(WORKED_SIRE, WORKED_DAM, mode, inbreeding=[0.0] * 7 + [-1.0])


def interpreter(version):
    """Path of a CPython of that minor version: on PATH, else pyenv's, else None."""
    for candidate in [shutil.which(f"python{version}")] + sorted(
        glob.glob(os.path.join(_pyenv_root(), "versions", f"{version}.*", "bin", f"python{version}")), reverse=True
    ):
        if candidate and _runs(candidate, version):
            return candidate
    return None


def _pyenv_root():
    try:
        return subprocess.run(["pyenv", "root"], capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return os.environ.get("PYENV_ROOT", os.path.expanduser("~/.pyenv"))


def _runs(python, version):
    probe = subprocess.run(
        [python, "-c", "import sys; print('%d.%d' % sys.version_info[:2])"], capture_output=True, text=True
    )
    return probe.returncode == 0 and probe.stdout.strip() == version


# Animals 0 and 1 without known parents, 2 and 3 their offspring, 4 the
# offspring of 2 and 3, and the lower triangle of their relationship matrix.
MISSING = MISSING_PARENT
FIVE_SIRE = [MISSING, MISSING, 0, 0, 2]
FIVE_DAM = [MISSING, MISSING, 1, 1, 3]
FIVE_ROWSTART = [0, 1, 2, 5, 9, 14]
FIVE_COL = [0, 1, 0, 1, 2, 0, 1, 2, 3, 0, 1, 2, 3, 4]
FIVE_VAL = [1.0, 1.0, 0.5, 0.5, 1.0, 0.5, 0.5, 0.5, 1.0, 0.5, 0.5, 0.75, 0.75, 1.25]


@pytest.fixture
def cald_call(tolm):
    """Builds a call of cald; outputs filled with sentinels, room for every candidate."""

    def build(
        sire=FIVE_SIRE,
        dam=FIVE_DAM,
        a_col=FIVE_COL,
        a_rowstart=FIVE_ROWSTART,
        a_val=FIVE_VAL,
        d_count=0,
        capacity=None,
        sentinel=-7.0,
    ):
        n = len(sire)
        capacity = d_count + len(a_col) if capacity is None else capacity
        return Call(
            tolm.cald,
            [
                int32(sire),
                int32(dam),
                int32(a_col),
                int32(a_rowstart),
                float64(a_val),
                int32([n]),
                np.full(capacity, sentinel),
                np.full(capacity, -7, dtype=np.int32),
                np.full(n + 1, -7, dtype=np.int32),
                int32([d_count]),
            ],
        )

    return build


FIVE_PAIRS = [(3, 2), (4, 2), (4, 4), (2, 3), (0, 4), (4, 3), (1, 0)]


@pytest.fixture
def dijp_call(tolm):
    """Builds a call of dijp; d_pair filled with a sentinel."""

    def build(
        pairs=FIVE_PAIRS,
        sire=FIVE_SIRE,
        dam=FIVE_DAM,
        a_col=FIVE_COL,
        a_rowstart=FIVE_ROWSTART,
        a_val=FIVE_VAL,
        sentinel=9.0,
    ):
        pair_i = [x for x, _ in pairs]
        pair_j = [y for _, y in pairs]
        return Call(
            tolm.dijp,
            [
                int32(sire),
                int32(dam),
                int32([len(pairs)]),
                int32(pair_i),
                int32(pair_j),
                int32(a_col),
                int32(a_rowstart),
                float64(a_val),
                np.full(len(pairs), sentinel),
            ],
        )

    return build


ARITY = {"fcoeff": 6, "cald": 10, "dijp": 9}


@pytest.fixture
def valid_call(worked_call, cald_call, dijp_call):
    """A valid call of the named module function."""
    builders = {"fcoeff": worked_call, "cald": cald_call, "dijp": dijp_call}
    return lambda name: builders[name]()
