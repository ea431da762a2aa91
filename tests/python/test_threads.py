import os
import threading

import numpy as np
import pandas as pd
import pyarrow as pa
import pytest
import threadpoolctl

import tolmkit
import tolmkit.threads
from tolmkit.cli import main
from tolmkit.writing import write_csv


def test_setting_order_call_then_environment_then_cores(monkeypatch):
    monkeypatch.delenv("TOLMKIT_THREADS", raising=False)
    cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    assert tolmkit.get_threads() == cores
    monkeypatch.setenv("TOLMKIT_THREADS", "3")
    assert tolmkit.get_threads() == 3
    with tolmkit.set_threads(1):
        assert tolmkit.get_threads() == 1
        with tolmkit.set_threads(None):
            assert tolmkit.get_threads() == 3
        assert tolmkit.get_threads() == 1
    assert tolmkit.get_threads() == 3
    assert tolmkit.threads.resolve(2) == 2


def test_blocks_of_several_threads_keep_their_own_setting(monkeypatch):
    monkeypatch.setenv("TOLMKIT_THREADS", "3")
    first_in, second_in, first_out = threading.Event(), threading.Event(), threading.Event()
    seen = {}

    def first():
        with tolmkit.set_threads(5):
            first_in.set()
            second_in.wait()
            seen["first"] = tolmkit.get_threads()
        first_out.set()

    def second():
        first_in.wait()
        with tolmkit.set_threads(7):
            second_in.set()
            first_out.wait()  # the first block ends within this one
            seen["second"] = tolmkit.get_threads()

    workers = [threading.Thread(target=first), threading.Thread(target=second)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    assert seen == {"first": 5, "second": 7} and tolmkit.get_threads() == 3
    # A call alone within a block holds there until the block ends, and for the process.
    with tolmkit.set_threads(2):
        tolmkit.set_threads(4)
        with tolmkit.set_threads(6):
            assert tolmkit.get_threads() == 6
        assert tolmkit.get_threads() == 4
    assert tolmkit.get_threads() == 4
    tolmkit.set_threads(None)
    assert tolmkit.get_threads() == 3


@pytest.mark.parametrize("given", [0, -1, True, 1.0, "2", 1025])
def test_threads_that_are_not_a_positive_integer_are_refused(given):
    with pytest.raises(ValueError, match="threads must be an integer from 1 to 1024"):
        tolmkit.set_threads(given)
    assert tolmkit.get_threads() >= 1


@pytest.mark.parametrize("given", ["0", "two", "-1", "\u00b2", "1025"])
def test_environment_that_is_not_a_positive_integer_is_named(monkeypatch, given):
    monkeypatch.setenv("TOLMKIT_THREADS", given)
    with pytest.raises(ValueError, match="TOLMKIT_THREADS is"):
        tolmkit.get_threads()


def test_command_line_sets_threads_for_the_command_only(monkeypatch, tmp_path, capsys):
    seen = []
    monkeypatch.setattr(tolmkit.cli, "_check", lambda args: seen.append(tolmkit.get_threads()))
    path = tmp_path / "herd.csv"
    path.write_text("animal,sire,dam\na,0,0\n")
    with tolmkit.set_threads(2):
        assert main(["check", str(path), "--threads", "1"]) == 0
        assert tolmkit.get_threads() == 2
    assert seen == [1]
    assert main(["check", str(path), "--threads", "0"]) == 2
    assert main(["check", str(path), "--threads", "1025"]) == 2
    assert capsys.readouterr().err.count("expected a number of threads from 1 to 1024") == 2


def test_limited_holds_arrow_and_blas_to_the_threads_and_restores_them():
    before = pa.cpu_count(), [pool["num_threads"] for pool in threadpoolctl.threadpool_info()]
    with tolmkit.set_threads(1), tolmkit.threads.limited() as count:
        assert count == pa.cpu_count() == 1
        assert all(pool["num_threads"] == 1 for pool in threadpoolctl.threadpool_info() if pool["user_api"] == "blas")
    # More than a BLAS library has are not asked of it: OpenBLAS would start them.
    with tolmkit.threads.limited(64):
        assert [pool["num_threads"] for pool in threadpoolctl.threadpool_info()] == before[1]
    with pytest.raises(KeyboardInterrupt), tolmkit.threads.limited(3):
        raise KeyboardInterrupt
    assert (pa.cpu_count(), [pool["num_threads"] for pool in threadpoolctl.threadpool_info()]) == before


def test_reading_and_writing_give_the_same_on_one_thread_as_on_several(tmp_path):
    n = 20_000  # lines that the writer writes in two halves
    sire, dam = tolmkit.simulate_pedigree(n, 10, seed=2)
    names = np.array([f"A{k}" for k in range(n)] + ["0"], dtype=object)
    frame = pd.DataFrame(
        {"sire": names[sire], "dam": names[dam], "f": np.arange(n) / 7}, index=pd.Index(names[:n], name="animal")
    )
    seen = []
    for threads in (1, 2):
        path = tmp_path / f"out{threads}.csv"
        write_csv(frame, str(path), threads=threads)
        with tolmkit.set_threads(threads):
            read = tolmkit.read_pedigree(str(path))
        seen.append((path.read_bytes(), read.ids.tolist(), read.sire.tolist(), read.dam.tolist()))
    assert seen[0] == seen[1]
