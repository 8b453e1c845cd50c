# Types of the native module zef._native: the engine's calls on threads of
# their own, with the interpreter lock released. Called through zef.mine,
# which checks the arguments and resolves the thread count.

from typing import Callable, List, Optional, Sequence

from _zef_cpp import Motif

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
    progress: Optional[Callable[[str, int, int], object]],
    max_patterns: Optional[int],
) -> List[Motif]:
    """What a new Miner with these settings returns from mine(series), computed on `threads` threads."""
