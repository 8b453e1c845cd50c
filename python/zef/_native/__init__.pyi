"""Native code of the package zef: discovery's candidates refined at point
resolution (zef.discover), and the engine's calls on threads of their own with
the interpreter lock released (zef.mine, which checks the arguments and
resolves the thread count)."""

from collections.abc import Callable, Sequence
from typing import Any

import numpy as np
from numpy.typing import NDArray

from _zef_cpp import Motif

from . import partitioned as partitioned

class TooManyPatterns(RuntimeError):
    """Mining found more frequent patterns than max_patterns allows."""

def mine(
    series: Sequence[Sequence[float]],
    minsup: float,
    seglen: int,
    alphabet: int,
    min_len: int,
    max_len: int,
    max_overlap: float,
    k: int,
    threads: int,
    progress: Callable[[str, int, int], object] | None,
    max_patterns: int | None,
) -> list[Motif]:
    """What a new Miner with these settings returns from mine(series), computed on `threads` threads."""

def discover(
    series: Sequence[Sequence[float]] | Any,
    length: int,
    max_length: int,
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
    merge_apart: float,
    most_candidates: int,
    sample_points: int,
    sample_fewest: int,
    survivors: int,
    join_pairs: int,
    join_count: int,
    join_cells: int,
    same_place: float,
    place_overlap: float,
    k: int,
    threads: int,
    progress: Callable[[str, int, int], object] | None,
    max_patterns: int | None,
    chance_shapes: int,
    length_steps: int,
) -> dict[str, Any]: ...
def distance_profile(
    shape: Sequence[float] | NDArray[np.float64], values: Sequence[float] | NDArray[np.float64], flat_tol: float
) -> NDArray[np.float64]: ...
def detrend(values: Sequence[float] | NDArray[np.float64], window: int) -> NDArray[np.float64]: ...
