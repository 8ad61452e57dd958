# SPDX-License-Identifier: BSD-3-Clause
import numpy as np
import numpy.typing as npt

__version__: str
true_anomaly: np.ufunc

def convert(mean_anomalies: npt.NDArray[np.float32], eccentricities: npt.NDArray[np.float32],
            out: npt.NDArray[np.float32], max_iterations: int, tolerance: int,
            keep_going: bool, /) -> int: ...
def solve(mean_anomaly: float, eccentricity: float, max_iterations: int,
          tolerance: int, /) -> float | None: ...
def use_library(path: str, /) -> None: ...
