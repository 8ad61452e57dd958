#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Converts a catalogue of bodies, each on its own orbit, on a Dask cluster.

The catalogue is two chunked dask arrays, mean anomalies and
eccentricities, made block by block on the workers; the numpy ufunc
true_anomaly applied to them gives a lazy dask array. Nothing the size of
the catalogue comes back to the client: the workers check every block bit
for bit against trueanomaly_array and reduce the results to a few numbers
(or, with --output, write them as one .npy file per block). Then a few
bodies that reach the iteration limit are counted and located across the
cluster (errors="mask"), and errors="raise" names the first by its global
index.

    python -m pip install --no-build-isolation .     # once, in the venv
    python examples/python/dask_catalogue.py 10000000

Without --scheduler it starts a LocalCluster of two worker processes; with
--scheduler tcp://host:8786 it runs on that cluster, whose workers need the
trueanomaly package installed. Runs of 10^7 bodies or more (or --progress)
show a progress bar. Exits with 77 when Dask is missing.
"""

import argparse
import logging
import os
import sys

try:
    import numpy as np
    import dask
    import dask.array as da
    from dask.distributed import Client, LocalCluster, progress
except ImportError as missing:
    print(f"{missing}: needs numpy, dask and distributed "
          "(python3-numpy, python3-dask, python3-distributed)")
    sys.exit(77)

# The module, not its names: a ufunc is pickled by name, found by searching
# the loaded modules, and a name imported into this script would send the
# workers looking for it here (distributed's __mp_main__).
import trueanomaly as ta


def block_agrees(nu, mean, ecc):
    """On a worker: one block of the ufunc's results, bit for bit those of
    trueanomaly_array (one flag per block)."""
    direct = ta.trueanomaly_array(mean, ecc, 100, 0, errors="nan")
    return np.array([nu.dtype == direct.dtype
                     and np.array_equal(nu.view(np.uint32), direct.view(np.uint32))])


def write_block(nu, directory, block_info=None):
    """On a worker: one block of results as <directory>/<block number>.npy."""
    np.save(os.path.join(directory, f"{block_info[0]['chunk-location'][0]}.npy"), nu)
    return np.array([nu.size])


def run(client, size, chunk, output, show_progress):
    rng = da.random.RandomState(2024)
    mean = rng.uniform(-4 * np.pi, 4 * np.pi, size=size, chunks=chunk).astype(np.float32)
    ecc = rng.uniform(0.0, 0.9, size=size, chunks=chunk).astype(np.float32)

    nu = ta.true_anomaly(mean, ecc, 100, 0)
    assert isinstance(nu, da.Array), "the ufunc did not stay lazy"
    agree = da.map_blocks(block_agrees, nu, mean, ecc, chunks=((1,) * nu.numblocks[0],),
                          dtype=bool).all()
    wanted = [agree, nu.mean(), da.isnan(nu).sum()]
    if output:
        # One .npy file per block, written by the workers (a path they share),
        # in the same pass over the blocks as the reductions.
        os.makedirs(output, exist_ok=True)
        wanted.append(da.map_blocks(write_block, nu, directory=os.path.abspath(output),
                                    chunks=((1,) * nu.numblocks[0],), dtype=np.int64).sum())
    futures = client.compute(wanted)
    if show_progress:
        progress(futures)
        print()
    identical, mean_nu, nans = client.gather(futures[:3])
    if output:
        client.gather(futures[3])
    print(f"{size} bodies in {nu.numblocks[0]} blocks on "
          f"{len(client.scheduler_info()['workers'])} workers: every block "
          f"{'bit-identical to' if identical else 'DIFFERENT from'} trueanomaly_array; "
          f"mean true anomaly {mean_nu:.6f} rad, {nans} NaN"
          + (f"; written to {output}" if output else ""))

    # e = 0.99 with a limit of 2: the bodies at M = 0.2 and 1.0 need a second
    # step. errors="mask" marks exactly the failures, counted and located on
    # the cluster.
    hard_m = da.from_array(np.float32([2.0, 2.5, 0.2, 1.5, 2.0, 1.0]), chunks=2)
    hard_e = da.from_array(np.float32([0.99, 0.99, 0.99, 0.5, 0.99, 0.99]), chunks=2)
    failed = da.ma.getmaskarray(ta.trueanomaly_array(hard_m, hard_e, 2, 0, errors="mask"))
    count, where = dask.compute(failed.sum(), da.flatnonzero(failed))
    print(f"{count} bodies reached the iteration limit, at {where.tolist()}")
    try:
        ta.trueanomaly_array(hard_m, hard_e, 2, 0).compute()
        print("a failing body did NOT raise")
        return False
    except ta.IterationLimitError as err:
        # The first failure of whichever failing block the cluster finished first.
        print(f"errors='raise': {err} (index {err.index})")
        named = err.index
    return bool(identical) and nans == 0 and where.tolist() == [2, 5] and named in (2, 5)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("size", type=int, help="number of catalogue entries")
    parser.add_argument("--chunk", type=int, default=1_000_000, help="entries per block")
    parser.add_argument("--scheduler", help="address of an existing Dask scheduler")
    parser.add_argument("--output", help="directory for the results, one .npy file per block")
    parser.add_argument("--progress", action="store_true", help="show a progress bar")
    args = parser.parse_args()
    show_progress = args.progress or args.size >= 10_000_000

    if args.scheduler:
        with Client(args.scheduler) as client:
            ok = run(client, args.size, args.chunk, args.output, show_progress)
    else:
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=None, silence_logs=logging.ERROR) as cluster, \
                Client(cluster) as client:
            ok = run(client, args.size, args.chunk, args.output, show_progress)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
