"""Relationships among many candidates by blocks on a local Dask cluster, to Zarr.

    .venv/bin/python bench/blocks.py [--candidates 20000 30000] [--chunks 5000] [--store DIR]

The candidates are the youngest animals of `simulate_pedigree(10**6, 20)`.
For each count: the matrix goes to a Zarr store on a cluster of 2 worker
processes of 2 GiB each (time, each worker's peak memory as the scheduler
saw it, whether a worker was paused or restarted); then, where it fits in the memory
available with half of it to spare, the same matrix in one piece (time), and
every element of the store compared with it, to the bit.
"""

import argparse
import os
import shutil
import sys
import tempfile
import threading
import time

import distributed
import numpy as np
import psutil
import zarr

import tolmkit
from tolmkit.blocks import among_to_zarr

GIB = 1 << 30


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--animals", type=int, default=1_000_000)
    parser.add_argument("--generations", type=int, default=20)
    parser.add_argument("--candidates", type=int, nargs="+", default=[20_000, 30_000])
    parser.add_argument("--chunks", type=int, default=5_000)
    parser.add_argument("--store", default=tempfile.gettempdir(), help="directory of the Zarr stores")
    args = parser.parse_args()
    n = args.animals
    pedigree = tolmkit.Pedigree.from_numbers(*tolmkit.simulate_pedigree(n, args.generations), unknown=n)
    for m in args.candidates:
        ids = pedigree.ids[-m:]
        size = 8 * m * m
        free = shutil.disk_usage(args.store).free
        if free < 1.1 * size:
            print(
                f"{m:,} candidates: {size / GIB:.1f} GiB to write, {free / GIB:.1f} GiB free in {args.store}: skipped",
                flush=True,
            )
            continue
        store = os.path.join(args.store, f"among-{m}.zarr")
        shutil.rmtree(store, ignore_errors=True)
        try:
            seconds, peaks, trouble = on_cluster(pedigree, ids, store, args.chunks)
            print(
                f"{m:,} candidates ({len(tolmkit.prune(pedigree, ids)):,} animals in their ancestry), blocks of "
                f"{args.chunks:,}, 2 workers of 2 GiB: {seconds:.1f} s to Zarr, peak memory per worker "
                f"{', '.join(f'{peak / GIB:.2f}' for peak in peaks)} GiB, "
                f"{'; '.join(trouble) if trouble else 'no worker paused or restarted'}",
                flush=True,
            )
            if 1.5 * size > psutil.virtual_memory().available:
                print(
                    f"{m:,} candidates in one piece: {1.5 * size / GIB:.1f} GiB needed, "
                    f"{psutil.virtual_memory().available / GIB:.1f} GiB available: skipped",
                    flush=True,
                )
                continue
            start = time.perf_counter()
            whole = tolmkit.relationships_among(pedigree, ids)
            seconds = time.perf_counter() - start
            equal = same_bits(zarr.open_array(store, mode="r"), whole, args.chunks)
            print(
                f"{m:,} candidates in one piece: {seconds:.1f} s; every element of the store equal to it: {equal}",
                flush=True,
            )
            if not equal or trouble:
                sys.exit(1)
        finally:
            shutil.rmtree(store, ignore_errors=True)


def on_cluster(pedigree, ids, store, chunks):
    """Seconds to the store, each worker's peak memory, and the events of
    a worker paused or restarted."""
    with (
        distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, memory_limit="2GiB", dashboard_address=":0"
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        peaks = {}
        done = threading.Event()

        def watch():
            # The memory of each worker process, as its heartbeats report it.
            while not done.wait(0.5):
                for address, worker in client.scheduler_info()["workers"].items():
                    peaks[address] = max(peaks.get(address, 0), worker["metrics"]["memory"])

        watcher = threading.Thread(target=watch)
        watcher.start()
        start = time.perf_counter()
        try:
            among_to_zarr(pedigree, ids, store, chunks=chunks, scheduler=cluster.scheduler_address)
        finally:
            seconds = time.perf_counter() - start
            done.set()
            watcher.join()
        events = [event for log in client.get_events().values() for _, event in log if isinstance(event, dict)]
        trouble = [
            f"{event.get('action')} {event.get('status', '')}".strip()
            for event in events
            if event.get("status") == "paused" or event.get("action") in ("remove-worker", "worker-restart")
        ]
        return seconds, sorted(peaks.values()), trouble


def same_bits(stored, whole, chunks):
    """Whether every element of the store has the bits of the matrix, a
    stripe of rows at a time."""
    return stored.shape == whole.shape and all(
        np.array_equal(stored[start : start + chunks].view(np.uint64), whole[start : start + chunks].view(np.uint64))
        for start in range(0, whole.shape[0], chunks)
    )


if __name__ == "__main__":
    main()
