import os

import pytest

import tolmkit
import tolmkit.threads
from tolmkit.cli import main


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


@pytest.mark.parametrize("given", [0, -1, True, 1.0, "2"])
def test_threads_that_are_not_a_positive_integer_are_refused(given):
    with pytest.raises(ValueError, match="threads must be a positive integer"):
        tolmkit.set_threads(given)
    assert tolmkit.get_threads() >= 1


@pytest.mark.parametrize("given", ["0", "two", "-1"])
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
    assert "expected a positive integer" in capsys.readouterr().err
