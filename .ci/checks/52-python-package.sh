#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The Python package as a user installs it: pip install --no-build-isolation
# from a clean copy of the tree, offline, into a venv that sees Debian's
# numpy and Dask; then the Python tests with no PYTHONPATH, no
# LD_LIBRARY_PATH and no installed C library, checked against the shared
# library of the main build (build/, from .ci/run).
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
ci_install cmake ninja-build g++ python3-dev python3-pip python3-setuptools python3-wheel \
  python3-venv python3-numpy python3-dask python3-distributed

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src="$work/src"
mkdir "$src"
git ls-files -z | xargs -0 cp --parents -t "$src"
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
(cd "$src" && "$work/venv/bin/python" -m pip install --no-build-isolation --no-index . >"$work/pip.log" 2>&1) \
  || { cat "$work/pip.log"; echo "FAIL: pip install"; exit 1; }
tail -1 "$work/pip.log"
reference=$(readlink -f build/libtrueanomaly.so)
cd "$work"
env -u PYTHONPATH -u LD_LIBRARY_PATH -u TRUEANOMALY_LIBRARY \
  "$work/venv/bin/python" -c 'import trueanomaly, sys; print("imported", trueanomaly.__version__, "from", trueanomaly.__file__); sys.exit(not trueanomaly.__file__.startswith(sys.argv[1]))' "$work/venv"
env -u PYTHONPATH -u LD_LIBRARY_PATH -u TRUEANOMALY_LIBRARY TRUEANOMALY_REFERENCE="$reference" \
  "$work/venv/bin/python" "$src/tests/python/test_trueanomaly.py"
env -u PYTHONPATH -u LD_LIBRARY_PATH -u TRUEANOMALY_LIBRARY \
  "$work/venv/bin/python" "$src/examples/python/dask_catalogue.py" 200000 --chunk 25000
echo "--- the example on a cluster started from the command line"
port=$((20000 + RANDOM % 20000))
"$work/venv/bin/python" /usr/bin/dask scheduler --host 127.0.0.1 --port "$port" --no-dashboard \
  >"$work/scheduler.log" 2>&1 &
scheduler=$!
"$work/venv/bin/python" /usr/bin/dask worker "tcp://127.0.0.1:$port" --nworkers 2 --no-dashboard \
  >"$work/worker.log" 2>&1 &
worker=$!
trap 'kill $worker $scheduler 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 30); do grep -q "Starting established connection\|Registered to" "$work/worker.log" && break; sleep 1; done
env -u PYTHONPATH -u LD_LIBRARY_PATH -u TRUEANOMALY_LIBRARY timeout 120 \
  "$work/venv/bin/python" "$src/examples/python/dask_catalogue.py" 1000000 --chunk 125000 \
  --scheduler "tcp://127.0.0.1:$port" || { tail -20 "$work/worker.log"; exit 1; }
echo "python package: OK"
