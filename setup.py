# SPDX-License-Identifier: BSD-3-Clause
"""Builds the package's compiled core with the project's own CMake (and so
with its exact floating-point flags), then lets setuptools package it.
Metadata is in pyproject.toml; the version comes from include/trueanomaly.h.

Needs cmake and a C/C++ compiler; ninja is used where found. CMAKE_ARGS
adds options (for example CMAKE_ARGS="-DCMAKE_C_COMPILER=clang ...").
"""

import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def version():
    header = (ROOT / "include" / "trueanomaly.h").read_text()
    return ".".join(re.search(rf"#define TRUEANOMALY_VERSION_{part} (\d+)", header).group(1)
                    for part in ("MAJOR", "MINOR", "PATCH"))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        configure = ["cmake", "-S", str(ROOT), "-B", str(build),
                     "-DCMAKE_BUILD_TYPE=Release",
                     "-DTRUEANOMALY_BUILD_TESTS=OFF", "-DTRUEANOMALY_BUILD_EXAMPLES=OFF",
                     "-DTRUEANOMALY_INSTALL=OFF", "-DTRUEANOMALY_PACKAGE=OFF",
                     "-DTRUEANOMALY_FORTRAN=OFF", "-DTRUEANOMALY_PYTHON_MODULE=ON",
                     f"-DPython3_EXECUTABLE={sys.executable}",
                     f"-DTRUEANOMALY_PYTHON={sys.executable}"]
        if shutil.which("ninja") and not (build / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        configure += shlex.split(os.environ.get("CMAKE_ARGS", ""))
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "trueanomaly_python",
                        "--parallel", str(os.cpu_count() or 1)], check=True)
        built = next((build / "python" / "trueanomaly").glob("_core*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(version=version(),
      ext_modules=[Extension("trueanomaly._core", sources=[])],
      cmdclass={"build_ext": CMakeBuild})
