#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""mypy --strict on the trueanomaly package as Python finds it (installed,
or on PYTHONPATH) and on every Python example in the README, each block
checked as a file of its own. Exits with 77 (skipped) when mypy is not
installed.

    PYTHONPATH=build/python python3 tests/python/check_types.py
"""

import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def main():
    try:
        import mypy  # noqa: F401
    except ImportError:
        print("mypy is not installed (python3-mypy): skipping the type checks")
        return 77
    blocks = re.findall(r"^```python\n(.*?)^```", (ROOT / "README.md").read_text(),
                        re.MULTILINE | re.DOTALL)
    if not blocks:
        print("no Python examples found in README.md")
        return 1
    with tempfile.TemporaryDirectory() as work:
        files = []
        for k, block in enumerate(blocks):
            path = Path(work, f"readme_example_{k}.py")
            path.write_text(block)
            files.append(str(path))
        env = dict(os.environ)
        # mypy finds a package through MYPYPATH or the interpreter's
        # site-packages, not through PYTHONPATH.
        if env.get("PYTHONPATH"):
            env["MYPYPATH"] = os.pathsep.join(os.path.abspath(p)
                                              for p in env["PYTHONPATH"].split(os.pathsep))
        failed = 0
        # Two runs (mypy takes a package or files), sharing a cache.
        for what in (["-p", "trueanomaly"], files):
            run = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--cache-dir",
                                  str(Path(work, "cache")), *what],
                                 env=env, cwd=work, capture_output=True, text=True)
            print(run.stdout, end="")
            print(run.stderr, end="", file=sys.stderr)
            failed |= run.returncode
        print(f"mypy --strict: the package and {len(files)} README examples")
        return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
