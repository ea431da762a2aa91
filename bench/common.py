"""What the benchmarks share: the literal transcriptions, loaded with ctypes,
a best-of-several timer, the clocks of one call, and the timing of a tolmkit
command."""

import ctypes
import json
import os
import resource
import subprocess
import sys
import tempfile
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


def relationship_lower_csr(sire, dam):
    """The additive relationship matrix of a pedigree coded -999 for unknown
    parents, by the tabular method over a dense matrix (fine up to a few tens of
    thousands of animals), as the lower-triangle CSR that cald and dijp read."""
    n = len(sire)
    a = np.zeros((n, n))
    rowstart = np.zeros(n + 1, np.int64)
    cols, vals = [], []
    for i in range(n):
        s, d = sire[i], dam[i]
        row = np.zeros(i)
        if s >= 0:
            row += 0.5 * a[s, :i]
        if d >= 0:
            row += 0.5 * a[d, :i]
        a[i, :i] = row
        a[:i, i] = row
        a[i, i] = 1.0 + (0.5 * a[s, d] if s >= 0 and d >= 0 else 0.0)
        stored = np.flatnonzero(a[i, : i + 1])
        cols.append(stored.astype(np.int32))
        vals.append(a[i, stored])
        rowstart[i + 1] = rowstart[i] + len(stored)
    return rowstart.astype(np.int32), np.concatenate(cols), np.concatenate(vals)


def run_sgkit(python, script, sire, dam):
    """The JSON answer of `script`, run by a Python that has sgkit, on the
    parents saved as .npy files whose paths it gets as arguments."""
    with tempfile.TemporaryDirectory() as folder:
        files = [os.path.join(folder, name) for name in ("sire.npy", "dam.npy")]
        np.save(files[0], sire)
        np.save(files[1], dam)
        done = subprocess.run([python, "-c", script, *files], capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(done.stderr.strip().splitlines()[-1])
    return json.loads(done.stdout)


def timed(run):
    """The result of run(), its wall and its processor seconds (summed over
    threads: pyarrow and BLAS work on several)."""
    wall, processor = time.perf_counter(), time.process_time()
    result = run()
    return result, time.perf_counter() - wall, time.process_time() - processor


def tolmkit_command(arguments):
    """Processor and wall seconds of `tolmkit ARGUMENTS` in a process of its own."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    wall = time.perf_counter()
    subprocess.run([sys.executable, "-m", "tolmkit", *arguments], check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - wall
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime, wall
