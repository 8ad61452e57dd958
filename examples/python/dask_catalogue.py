#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Converts a catalogue of bodies, each on its own orbit, on a Dask cluster.

The catalogue is two chunked dask arrays, mean anomalies and
eccentricities; the numpy ufunc true_anomaly applied to them gives a lazy
dask array, computed block by block on the workers. The result is checked
bit for bit against one direct call over the whole catalogue, and a body
that reaches the iteration limit is shown to come back as NaN, found by
trueanomaly_array's errors="raise" with its index.

    python3 -m pip install --no-build-isolation .     # once
    python3 examples/python/dask_catalogue.py 10000000

Without --scheduler it starts a LocalCluster of two worker processes; with
--scheduler tcp://host:8786 it runs on that cluster, whose workers need the
trueanomaly package installed. Exits with 77 when Dask is missing.
"""

import argparse
import logging
import sys

try:
    import numpy as np
    import dask.array as da
    from dask.distributed import Client, LocalCluster
except ImportError as missing:
    print(f"{missing}: needs numpy, dask and distributed "
          "(python3-numpy, python3-dask, python3-distributed)")
    sys.exit(77)

# The module, not its names: a ufunc is pickled by name, found by searching
# the loaded modules, and a name imported into this script would send the
# workers looking for it here (distributed's __mp_main__).
import trueanomaly as ta


def quietly(*args):
    """The ufunc with its "invalid" flag for failures silenced, on the worker."""
    with np.errstate(invalid="ignore"):
        return ta.true_anomaly(*args)


def run(client, size, chunk):
    rng = da.random.RandomState(2024)
    mean = rng.uniform(-4 * np.pi, 4 * np.pi, size=size, chunks=chunk).astype(np.float32)
    ecc = rng.uniform(0.0, 0.9, size=size, chunks=chunk).astype(np.float32)
    mean, ecc = client.persist([mean, ecc])

    lazy = ta.true_anomaly(mean, ecc, 100, 0)
    assert isinstance(lazy, da.Array), "the ufunc did not stay lazy"
    nu = lazy.compute()
    direct = ta.trueanomaly_array(mean.compute(), ecc.compute(), 100, 0)
    identical = np.array_equal(nu.view(np.uint32), direct.view(np.uint32))
    print(f"{size} bodies in {mean.numblocks[0]} blocks on "
          f"{len(client.scheduler_info()['workers'])} workers: "
          f"{'bit-identical to' if identical else 'DIFFERENT from'} one direct call")

    # e = 0.99 with a limit of 2: the body at M = 0.2 needs a second step.
    hard_m = da.from_array(np.float32([2.0, 2.5, 0.2, 1.5]), chunks=2)
    hard_e = da.from_array(np.float32([0.99, 0.99, 0.99, 0.5]), chunks=2)
    marked = da.map_blocks(quietly, hard_m, hard_e, 2, 0, dtype=np.float32).compute()
    print(f"a failing body comes back as NaN: {marked}")
    try:
        ta.trueanomaly_array(hard_m.compute(), hard_e.compute(), 2, 0)
        print("a failing body did NOT raise")
        return False
    except ta.IterationLimitError as err:
        print(f"errors='raise' names it: {err} (index {err.index})")
        return identical and bool(np.isnan(marked[2])) and err.index == 2


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("size", type=int, help="number of catalogue entries")
    parser.add_argument("--chunk", type=int, default=1_000_000, help="entries per block")
    parser.add_argument("--scheduler", help="address of an existing Dask scheduler")
    args = parser.parse_args()

    if args.scheduler:
        with Client(args.scheduler) as client:
            ok = run(client, args.size, args.chunk)
    else:
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=None, silence_logs=logging.ERROR) as cluster, \
                Client(cluster) as client:
            ok = run(client, args.size, args.chunk)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
