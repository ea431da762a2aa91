"""Relationships by blocks on a real local Dask cluster: every element, to
the bit, that of the matrix computed in one piece."""

import os
import subprocess
import sys
import warnings

import distributed
import numpy as np
import pytest
import zarr

import tolmkit.candidates as candidates
from tolmkit import Pedigree, read_pedigree, relationship_pairs, relationships_among, simulate_pedigree
from tolmkit.blocks import among_in_blocks, among_to_zarr, pairs_in_blocks
from tolmkit.cli import main

from conftest import bits
from pedigrees import KINDS, random_pedigree

HERD = "examples/herd.csv"


@pytest.fixture(scope="module")
def client():
    with (
        distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, memory_limit="768MiB", dashboard_address=":0"
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        yield client


def names(numbers):
    return [str(k) for k in numbers]


def simulated():
    return Pedigree.from_numbers(*simulate_pedigree(10_000, 12, unknown=-1, seed=3), unknown=-1)


@pytest.mark.parametrize(
    "kind, m, chunks, sizes",
    [
        ("mixed", 60, 7, (7,) * 8 + (4,)),
        ("selfing", 50, 50, (50,)),
        ("deep", 40, 1000, (40,)),
        ("full_sib_families", 90, np.int64(16), (16,) * 5 + (10,)),
        ("simulated", 300, 64, (64,) * 4 + (44,)),
    ],
)
def test_blocks_are_the_matrix(client, kind, m, chunks, sizes, monkeypatch):
    rng = np.random.default_rng(m)
    if kind == "simulated":
        pedigree = simulated()
    else:
        keywords, n = KINDS[kind]
        pedigree = Pedigree(names(range(n)), *random_pedigree(rng, n, code=-1, **keywords))
    ids = list(rng.choice(pedigree.ids[len(pedigree) // 2 :], m))  # some twice
    lazy = relationships_among(pedigree, ids, chunks=chunks)
    assert lazy.chunks == (sizes, sizes)
    assert bits(lazy.compute()) == bits(relationships_among(pedigree, ids))
    assert bits(relationships_among(pedigree, ids, chunks=chunks, kinship=True).compute()) == bits(
        relationships_among(pedigree, ids, kinship=True)
    )
    first, second = rng.choice(pedigree.ids, m), rng.choice(pedigree.ids[-20:], m)
    for cost in (0, np.inf):  # by ancestors, by columns
        monkeypatch.setattr(candidates, "_ANCESTOR_COST", cost)
        assert bits(relationship_pairs(pedigree, first, second, chunks=chunks).compute()) == bits(
            relationship_pairs(pedigree, first, second)
        )


@pytest.mark.parametrize("chunks", [0, -5, 2.5, True, np.True_, "5"])
def test_bad_chunks(chunks):
    pedigree = read_pedigree(HERD)
    for call in (
        lambda: relationships_among(pedigree, pedigree.ids[:3], chunks=chunks),
        lambda: relationship_pairs(pedigree, pedigree.ids[:3], pedigree.ids[:3], chunks=chunks),
    ):
        with pytest.raises(ValueError, match=f"chunks must be a positive integer, got {chunks!r}"):
            call()


def test_kinship_is_a_bool():
    pedigree = read_pedigree(HERD)
    chosen = pedigree.numbers(pedigree.ids[:2])
    for call in (
        lambda: among_in_blocks(pedigree, chosen, chunks=1, kinship="no"),
        lambda: pairs_in_blocks(pedigree, chosen, chosen, chunks=1, kinship="no"),
    ):
        with pytest.raises(TypeError, match="kinship must be True or False, got 'no'"):
            call()


def test_empty_and_no_dask_on_import():
    pedigree = read_pedigree(HERD)
    for chunks in (3, 10**30):
        assert relationships_among(pedigree, [], chunks=chunks).compute().shape == (0, 0)
        assert relationship_pairs(pedigree, [], [], chunks=chunks).compute().shape == (0,)
    code = (
        "import sys, tolmkit; tolmkit.relationships_among(tolmkit.read_pedigree(sys.argv[1]), ['NL897015879']); "
        "print(sorted({m.split('.')[0] for m in sys.modules} & {'dask', 'distributed', 'zarr'}))"
    )
    run = subprocess.run([sys.executable, "-c", code, HERD], capture_output=True, text=True, check=True)
    assert run.stdout == "[]\n"


def test_cli_writes_the_matrix_to_zarr(client, tmp_path, capsys):
    pedigree = read_pedigree(HERD)
    ids = list(pedigree.ids[-70:])
    (tmp_path / "ids.txt").write_text("\n".join(ids) + "\n\n")
    (tmp_path / "bad.txt").write_text("NL897015879\nnobody\n")
    store = tmp_path / "among.zarr"
    command = ["among", HERD, "-o", str(store), "--chunks", "32", "--scheduler", client.scheduler.address]
    assert main(command + ["--ids", str(tmp_path / "bad.txt")]) == 1
    assert f"--ids {tmp_path / 'bad.txt'}, line 2: animal 'nobody' is not in the pedigree" in capsys.readouterr().err
    assert main(command[:2] + ["-o", HERD, "--ids", str(tmp_path / "ids.txt")]) == 2  # over its input
    assert main(command[:2] + ["-o", str(tmp_path / "no" / "a.zarr"), "--ids", str(tmp_path / "ids.txt")]) == 1
    assert "there is no folder" in capsys.readouterr().err
    assert main(command + ["--ids", str(tmp_path / "ids.txt")]) == 0
    written = zarr.open_array(str(store), mode="r")
    assert written.chunks == (32, 32) and written.attrs["ids"] == ids
    assert bits(written[:]) == bits(relationships_among(pedigree, ids))
    assert main(command + ["--ids", str(tmp_path / "ids.txt")]) == 1
    assert capsys.readouterr().err == f"tolmkit: {store} exists: remove it or name another store\n"
    assert main(command[:2] + ["-o", "-", "--ids", str(tmp_path / "ids.txt")]) == 2
    assert "among writes a Zarr store, which is a folder" in capsys.readouterr().err
    elsewhere = ["among", HERD, "-o", str(tmp_path / "b.zarr"), "--scheduler", "no address"]
    assert main(elsewhere + ["--ids", str(tmp_path / "ids.txt")]) == 1
    assert capsys.readouterr().err.startswith("tolmkit: no Dask scheduler at 'no address': ")
    # One identifier, as relationships_among takes it, not its letters.
    among_to_zarr(pedigree, ids[0], tmp_path / "one.zarr", chunks=4, scheduler=client.scheduler.address)
    assert zarr.open_array(str(tmp_path / "one.zarr"), mode="r").attrs["ids"] == ids[:1]
    assert sorted(os.listdir(tmp_path)) == ["among.zarr", "bad.txt", "ids.txt", "one.zarr"]


def test_an_array_built_on_a_client_since_closed_says_so():
    pedigree = read_pedigree(HERD)
    # The client current for the block alone, not Dask's default, whose settings it would change.
    with (
        distributed.Client(
            processes=False, n_workers=1, threads_per_worker=1, dashboard_address=":0", set_as_default=False
        ) as closed,
        closed.as_current(),
    ):
        lazy = relationships_among(pedigree, pedigree.ids[:2], chunks=1)
    # Newer Dask finds the closed client's key missing before the block runs, and says so itself.
    with (
        pytest.raises((RuntimeError, ValueError), match="built while a Dask client was open|Missing dependency"),
        warnings.catch_warnings(),
    ):
        warnings.simplefilter("ignore", UserWarning)  # the module's client, open or not by now
        lazy.compute(scheduler="sync")


def test_no_worker_paused_or_restarted(client):
    """Last: the scheduler's events of every computation of this module."""
    events = [event for log in client.get_events().values() for _, event in log if isinstance(event, dict)]
    assert [
        event
        for event in events
        if event.get("status") == "paused" or event.get("action") in ("remove-worker", "worker-restart")
    ] == []
    assert len(client.scheduler_info()["workers"]) == 2
