"""Native discovery for zef.discover: candidates from the engine, refined at point resolution."""

from collections.abc import Sequence
from typing import Any

import numpy as np
from numpy.typing import NDArray

def discover(
    series: Sequence[Sequence[float]] | Any,
    length: int,
    minsup: float,
    engine_minsup: float,
    seglen: int,
    alphabets: Sequence[int],
    min_len: int,
    max_len: int,
    max_overlap: float,
    detrend_window: int,
    flat_tol: float,
    radius: float,
    iterations: int,
    seeds_per_motif: int,
    pool: int,
    coarse: int,
    same_place: float,
    place_overlap: float,
    k: int,
) -> dict[str, Any]: ...
def distance_profile(
    shape: Sequence[float] | NDArray[np.float64], values: Sequence[float] | NDArray[np.float64], flat_tol: float
) -> NDArray[np.float64]: ...
def detrend(values: Sequence[float] | NDArray[np.float64], window: int) -> NDArray[np.float64]: ...
