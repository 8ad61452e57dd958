#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The Python package as a user installs it: pip install --no-build-isolation
# from a clean copy of the tree, offline, into a venv that sees Debian's
# numpy, astropy, pandas, xarray and Dask; then the Python tests with no
# PYTHONPATH, no LD_LIBRARY_PATH and no installed C library, checked against
# the shared library of the main build (build/, from .ci/run); mypy --strict
# on the package and the README's examples; the call-overhead benchmark; and
# the README's Dask cluster recipe, its lines run as written.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
ci_install cmake ninja-build g++ python3-dev python3-pip python3-setuptools python3-wheel \
  python3-venv python3-numpy python3-dask python3-distributed python3-astropy python3-pandas \
  python3-xarray python3-mypy

work=$(mktemp -d)
pids=()  # process groups of the cluster, the scheduler first
cleanup() {
  local k pid
  for ((k = ${#pids[@]} - 1; k >= 0; k--)); do  # the workers first, then the scheduler
    pid=${pids[k]}
    kill -TERM -- "-$pid" 2>/dev/null || continue
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -KILL -- "-$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
src="$work/src"
mkdir "$src"
git ls-files -z | xargs -0 cp --parents -t "$src"
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
(cd "$src" && "$work/venv/bin/python" -m pip install --no-build-isolation --no-index . >"$work/pip.log" 2>&1) \
  || { cat "$work/pip.log"; echo "FAIL: pip install"; exit 1; }
tail -1 "$work/pip.log"
reference=$(readlink -f build/libtrueanomaly.so)
cd "$work"
unset PYTHONPATH LD_LIBRARY_PATH TRUEANOMALY_LIBRARY
"$work/venv/bin/python" -c 'import trueanomaly, sys; print("imported", trueanomaly.__version__, "from", trueanomaly.__file__); sys.exit(not trueanomaly.__file__.startswith(sys.argv[1]))' "$work/venv"
TRUEANOMALY_REFERENCE="$reference" "$work/venv/bin/python" "$src/tests/python/test_trueanomaly.py"
"$work/venv/bin/python" "$src/tests/python/check_types.py"
"$work/venv/bin/python" "$src/bench/python_overhead.py" --repeat 3 --number 5000
"$work/venv/bin/python" "$src/examples/python/dask_catalogue.py" 200000 --chunk 25000

echo "--- the README's Dask cluster recipe, in the venv, SCHEDULER=127.0.0.1"
mapfile -t recipe < <(awk '/^### Dask/ {dask = 1} dask && /^```sh/ {block = 1; next}
                           block && /^```/ {exit} block && NF' "$src/README.md" |
                      sed 's/SCHEDULER/127.0.0.1/g')
printf '  %s\n' "${recipe[@]}"
[[ ${#recipe[@]} -eq 3 && ${recipe[0]} == *" scheduler "* && ${recipe[1]} == *" worker "* ]] ||
  { echo "FAIL: the README's recipe is not scheduler, worker, example"; exit 1; }
source "$work/venv/bin/activate"
cd "$src"
# Each in a process group of its own, so that its worker processes stop with it.
setsid bash -c "exec ${recipe[0]}" >"$work/scheduler.log" 2>&1 &
pids+=($!)
for _ in $(seq 60); do grep -q "Scheduler at" "$work/scheduler.log" && break; sleep 0.5; done
setsid bash -c "exec ${recipe[1]}" >"$work/worker.log" 2>&1 &
pids+=($!)
for _ in $(seq 60); do
  [ "$(grep -c "Registered to" "$work/worker.log")" -ge 2 ] && break
  sleep 0.5
done
timeout 300 bash -c "${recipe[2]}" ||
  { tail -20 "$work/scheduler.log" "$work/worker.log"; echo "FAIL: the README's recipe"; exit 1; }
echo "python package: OK"
