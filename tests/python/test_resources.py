"""Out of memory, threads that cannot start and Ctrl-C: a one-line message
or KeyboardInterrupt, every file as it was; never an abort or a hang."""

import concurrent.futures
import io
import signal
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

from tolmkit import read_pedigree, simulate_pedigree

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"

# A command whose address space may grow by HEADROOM MiB past what the
# process holds once tolmkit is imported.
LIMITED = """
import resource, sys
from tolmkit.cli import main
with open("/proc/self/status") as status:
    held = next(int(line.split()[1]) for line in status if line.startswith("VmSize:")) * 1024
resource.setrlimit(resource.RLIMIT_AS, (held + int(sys.argv[1]) * 2**20, resource.RLIM_INFINITY))
sys.exit(main(sys.argv[2:]))
"""


@pytest.fixture(scope="module")
def national(tmp_path_factory):
    """A file of 40,000 animals with string identifiers, birth year and sex."""
    n = 40_000
    sire, dam = simulate_pedigree(n, 20, seed=3)
    names = np.array([f"DE{k:09d}" for k in range(n)] + ["0"], dtype=object)
    path = tmp_path_factory.mktemp("national") / "national.csv"
    pd.DataFrame(
        {
            "animal": names[:n],
            "sire": names[sire],
            "dam": names[dam],
            "birth_year": 2000 + np.arange(n) // 2000,
            "sex": np.where(np.isin(np.arange(n), sire), "M", "F"),
        }
    ).to_csv(path, index=False)
    return path


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="the address space read from /proc")
@pytest.mark.parametrize(
    "command",
    [
        ["inbreeding", "{ped}", "-o", "out"],
        ["ainv", "{ped}", "-o", "out"],
        ["stats", "{ped}", "--by", "birth_year"],
        ["hinv", str(EXAMPLES / "herd.csv"), "--genotypes", str(EXAMPLES / "herd-genotypes"), "-o", "out"],
    ],
    ids=lambda command: command[0],
)
def test_out_of_memory_is_one_line_and_leaves_every_file(national, tmp_path, command):
    for name in ("out", "out.ids"):
        (tmp_path / name).write_text("earlier\n")
    arguments = [argument.format(ped=national) for argument in command]
    for headroom in (0, 100, 300):
        run = subprocess.run(
            [sys.executable, "-c", LIMITED, str(headroom)] + arguments,
            cwd=tmp_path,
            capture_output=True,
            text=True,
            timeout=300,
        )
        if run.returncode != 0:
            assert (
                run.returncode == 1
                and run.stderr.startswith("tolmkit: out of memory (")
                and run.stderr.count("\n") == 1
            ), (headroom, run.returncode, run.stderr[-2000:])
            assert all((tmp_path / name).read_text() == "earlier\n" for name in ("out", "out.ids"))
        assert sorted(path.name for path in tmp_path.iterdir()) == ["out", "out.ids"]


# Many seconds of native work: the count of relationships of 80,000 related
# animals, and F of a million on two threads.
LONG_NATIVE_STEPS = {
    "relationships": """
from tolmkit import Pedigree, relationship_matrix, simulate_pedigree
sire, dam = simulate_pedigree(80_000, 40, seed=1)
pedigree = Pedigree.from_numbers(sire, dam, unknown=80_000)
print("computing", flush=True)
relationship_matrix(pedigree, lower=True, memory_limit=2**40)
""",
    "inbreeding": """
from tolmkit import Pedigree, inbreeding, simulate_pedigree
sire, dam = simulate_pedigree(1_000_000, 25, sires_per_generation=500, seed=1)
pedigree = Pedigree.from_numbers(sire, dam, unknown=1_000_000)
pedigree.layers
print("computing", flush=True)
inbreeding(pedigree, threads=2)
""",
}


@pytest.mark.parametrize("step", LONG_NATIVE_STEPS)
def test_ctrl_c_stops_a_long_native_step_within_a_moment(step):
    # A job started in the background of a shell ignores SIGINT, and so would
    # its child: the child answers it as an interactive Python does.
    answer = "import signal; signal.signal(signal.SIGINT, signal.default_int_handler)\n"
    child = subprocess.Popen(
        [sys.executable, "-c", answer + LONG_NATIVE_STEPS[step]],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        assert child.stdout.readline() == "computing\n"
        time.sleep(1.0)
        child.send_signal(signal.SIGINT)
        asked = time.monotonic()
        _, err = child.communicate(timeout=30)
        assert time.monotonic() - asked < 3.0 and err.rstrip().endswith("KeyboardInterrupt"), err
    finally:
        child.kill()


def test_the_reader_works_on_one_thread_where_no_other_can_start(monkeypatch):
    text = "animal,sire,dam,sex\nc,a,b,M\nd,c,b,F\n"
    expected = read_pedigree(io.StringIO(text))

    def no_thread(*arguments, **keywords):
        raise RuntimeError("can't start new thread")

    monkeypatch.setattr(concurrent.futures.ThreadPoolExecutor, "submit", no_thread)
    got = read_pedigree(io.StringIO(text))
    assert got.ids.tolist() == expected.ids.tolist() and got.sire.tolist() == expected.sire.tolist()
    assert got.attributes.equals(expected.attributes)
