#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Converts a catalogue of mean anomalies to true anomalies on a Dask cluster.

The catalogue is a chunked dask array; each block goes through one call of
trueanomaly_array on a worker. The result is checked bit for bit against one
direct call over the whole catalogue, and a catalogue with an element that
reaches the iteration limit is shown to raise IterationLimitError here.

    PYTHONPATH=python TRUEANOMALY_LIBRARY=build/libtrueanomaly.so \
        /usr/bin/python3 examples/python/dask_catalogue.py 10000000

Without --scheduler it starts a LocalCluster of two worker processes; with
--scheduler tcp://host:8786 it runs on that cluster, whose workers need the
library and the trueanomaly package. Exits with 77 when Dask is missing.
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

from trueanomaly import IterationLimitError, trueanomaly_array


def convert(catalogue, eccentricity, max_iterations=100, tolerance=0):
    """True anomalies of a dask array of mean anomalies, block by block."""
    return catalogue.map_blocks(trueanomaly_array, eccentricity, max_iterations, tolerance,
                                dtype=np.float32)


def run(client, size, chunk, eccentricity):
    rng = da.random.RandomState(2024)
    catalogue = rng.uniform(-4 * np.pi, 4 * np.pi, size=size, chunks=chunk)
    catalogue = catalogue.astype(np.float32).persist()

    nu = convert(catalogue, eccentricity).compute()
    direct = trueanomaly_array(catalogue.compute(), eccentricity, 100, 0)
    identical = np.array_equal(nu.view(np.uint32), direct.view(np.uint32))
    print(f"{size} entries in {catalogue.numblocks[0]} blocks on "
          f"{len(client.scheduler_info()['workers'])} workers: "
          f"{'bit-identical to' if identical else 'DIFFERENT from'} one direct call")

    # e = 0.99 with a limit of 2: the element 0.2 needs a second step.
    hard = da.from_array(np.array([2.0, 2.5, 0.2, 1.0], dtype=np.float32), chunks=2)
    try:
        convert(hard, 0.99, max_iterations=2).compute()
        print("a failing element did NOT raise")
        return False
    except IterationLimitError as err:
        print(f"a failing element raises IterationLimitError: {err}")
    return identical


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("size", type=int, help="number of catalogue entries")
    parser.add_argument("--chunk", type=int, default=1_000_000, help="entries per block")
    parser.add_argument("--eccentricity", type=float, default=0.7)
    parser.add_argument("--scheduler", help="address of an existing Dask scheduler")
    args = parser.parse_args()

    if args.scheduler:
        with Client(args.scheduler) as client:
            ok = run(client, args.size, args.chunk, args.eccentricity)
    else:
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=None, silence_logs=logging.ERROR) as cluster, \
                Client(cluster) as client:
            ok = run(client, args.size, args.chunk, args.eccentricity)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
